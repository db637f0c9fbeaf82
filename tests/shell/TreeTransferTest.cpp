#include "ShellTestKit.h"
#include "shell/FileSystem.h"
#include "shell/Wintools.h"
#include "support/MessageBoxes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

using namespace testsupport;
using namespace shelltest;

namespace {

const TreeSpec kSharedTree = {
    {"shared.txt", "from the share"}, {"sub\\x.txt", "x"}, {"sub\\deeper\\y.txt", "yy"}, {"empty\\", ""}};
const TreeSpec kLocalTree = {{"local.txt", "local data"}, {"sub\\z.txt", "zzz"}, {"nothing\\", ""}};
const TreeSpec kOlderTree = {{"older.txt", "older"}};

class TreeTransfer : public ::testing::Test {
public:
    // A tree at `root`, and the same tree under reference\<name> to compare with later.
    void Put(const std::string& root, const TreeSpec& tree, const std::string& name) {
        MakeTree(root, tree);
        MakeTree(Reference(name), tree);
    }
    std::string Reference(const std::string& name) const { return dir / ("reference\\" + name); }
    bool Holds(const std::string& where, const std::string& name) const {
        return IsFolder(where) && SameTree(Reference(name), where);
    }
    // The rotation's names that hold the tree as it was.
    std::vector<std::string> Holders(const std::string& name) const {
        std::vector<std::string> found;
        for (const auto& where : {destination, save, oldSave})
            if (Holds(where, name)) found.push_back(where);
        return found;
    }
    bool Transfer() { return TransferShown(source, destination); }

    TempDir dir;
    const std::string source = dir / "Shared\\Data";
    const std::string destination = dir / "Work\\Data";
    const std::string save = destination + ".saved";
    const std::string oldSave = destination + ".2delete";
    const std::string incoming = destination + ".incoming";
    const std::string complete = destination + ".complete";
    const std::string check = complete + ".check";

    bool NoTransientLeft() const {
        return !Exists(oldSave) && !Exists(incoming) && !Exists(complete) && !Exists(check) && !Exists(check + ".new");
    }
};

TEST_F(TreeTransfer, FirstTransferKeepsTheDestinationAsSave) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    MessageBoxWatcher boxes;
    ShellCalls shell;
    FileCopies copies;

    EXPECT_TRUE(Transfer());
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(Holds(save, "local"));
    EXPECT_TRUE(NoTransientLeft());
    EXPECT_EQ(boxes.Count(), 0u);
    // Nothing of the old tree matches: every file of the source is copied, then the new
    // tree is switched in.
    EXPECT_EQ(copies.Copies().size(), 3u);
    for (const auto& copy : copies.Copies()) EXPECT_EQ(copy.from.rfind(source + "\\", 0), 0u) << copy.from;
    EXPECT_EQ(shell.Functions(), (std::vector<UINT>{FO_RENAME, FO_RENAME, FO_RENAME}));
}

TEST_F(TreeTransfer, BuildsBesideTheDestinationAndSwitchesByRenames) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    Put(save, kOlderTree, "older");
    MessageBoxWatcher boxes;
    ShellCalls shell;
    FileCopies copies;

    EXPECT_TRUE(Transfer());
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(Holds(save, "local"));
    EXPECT_TRUE(NoTransientLeft());
    EXPECT_EQ(boxes.Count(), 0u);

    // Every file crosses from the source into the new tree beside the destination...
    const std::vector<std::string> files = {"shared.txt", "sub\\x.txt", "sub\\deeper\\y.txt"};
    std::vector<std::pair<std::string, std::string>> expected, made;
    for (const auto& file : files) expected.push_back({source + "\\" + file, incoming + "\\" + file});
    for (const auto& copy : copies.Copies()) made.push_back({copy.from, copy.to});
    std::sort(expected.begin(), expected.end());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, expected);
    // ...and renames switch it in.
    const auto calls = shell.Calls();
    const std::vector<std::pair<std::string, std::string>> renames = {
        {incoming, complete}, {save, oldSave}, {destination, save}, {complete, destination}};
    ASSERT_EQ(calls.size(), renames.size());
    for (size_t i = 0; i < renames.size(); ++i) {
        EXPECT_EQ(calls[i].function, static_cast<UINT>(FO_RENAME)) << i;
        EXPECT_EQ(std::make_pair(calls[i].from, calls[i].to), renames[i]) << i;
    }
}

// Whatever fails, the destination and its save are as they were before the call, the
// boxes name the failing operation and step, and once the cause is gone the next
// transfer succeeds.
TEST_F(TreeTransfer, AFailureAtAnyStepLeavesDestinationAndSaveAsTheyWere) {
    struct Case {
        const char* what;
        int refusedRename;         // 1 to 4: the rename the shell refuses; 0 for none
        bool unreadableSource;     // a source file held open by another program
        bool cancelCopy;           // the user cancels the copy (its progress display)
        bool leftOverInUse;        // an earlier attempt's copy still has a file open
        std::pair<std::string, std::string> stepBox;
        std::string operationTitle;
    };
    const std::pair<std::string, std::string> copyBox{"Copying", "Error occuried during filecopy"};
    const Case cases[] = {
        {"new copy to complete", 1, false, false, false, {"Renaming new copy to folder", "Error occuried during rename"}, "renaming"},
        {"save to old save", 2, false, false, false, {"Renaming save to old save", "Error occuried during rename"}, "renaming"},
        {"destination to save", 3, false, false, false, {"Renaming folder to save", "Error occuried during rename"}, "renaming"},
        {"complete to destination", 4, false, false, false, {"Renaming new copy to folder", "Error occuried during rename"}, "renaming"},
        {"unreadable source file", 0, true, false, false, copyBox, "Copying"},
        {"user cancels the copy", 0, false, true, false, copyBox, "Copying"},
        {"left-over copy in use", 0, false, false, true,
         {"Repairing interrupted transfer", "Could not put right an interrupted transfer to " + destination}, "Deleting"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(dir / "Shared");
        RemoveTree(dir / "Work");
        RemoveTree(dir / "reference");
        Put(source, kSharedTree, "shared");
        Put(destination, kLocalTree, "local");
        Put(save, kOlderTree, "older");
        if (c.leftOverInUse) MakeTree(incoming, {{"open.dat", "half"}});

        std::unique_ptr<HeldOpen> holder;
        if (c.unreadableSource) holder = std::make_unique<HeldOpen>(source + "\\sub\\x.txt");
        if (c.leftOverInUse) holder = std::make_unique<HeldOpen>(incoming + "\\open.dat");
        {
            MessageBoxWatcher boxes;
            ShellCalls shell;
            FileCopies copies;
            int renames = 0;
            shell.SetHandler([&](SHFILEOPSTRUCTA* op) {
                if (op->wFunc == FO_RENAME && ++renames == c.refusedRename) return RefuseWith(ERROR_ACCESS_DENIED);
                return ShellCalls::Real(op);
            });
            copies.SetHandler([&](const FileCopies::Call& call) {
                return c.cancelCopy ? CancelCopy() : FileCopies::Real(call);
            });
            EXPECT_FALSE(Transfer());
            const auto seen = boxes.CaptionsAndTexts();
            ASSERT_EQ(seen.size(), 2u);
            EXPECT_EQ(seen[0].first, c.operationTitle);
            if (c.refusedRename) EXPECT_EQ(seen[0].second, "ERROR ACCESS DENIED");
            if (c.cancelCopy) EXPECT_EQ(seen[0].second, "User aborted copy");
            if (c.leftOverInUse) EXPECT_EQ(seen[0].second, "ERROR SHARING VIOLATION");
            if (c.unreadableSource) EXPECT_NE(seen[0].second.find(source + "\\sub\\x.txt"), std::string::npos) << seen[0].second;
            EXPECT_EQ(seen[1], c.stepBox);
        }
        EXPECT_TRUE(Holds(destination, "local"));
        EXPECT_TRUE(Holds(save, "older"));
        EXPECT_FALSE(Exists(oldSave));
        EXPECT_FALSE(Exists(complete));
        EXPECT_EQ(Exists(incoming), c.leftOverInUse);

        holder.reset();
        MessageBoxWatcher boxes;
        EXPECT_TRUE(Transfer());
        EXPECT_TRUE(SameTree(source, destination));
        EXPECT_TRUE(Holds(save, "local"));
        EXPECT_TRUE(NoTransientLeft());
        EXPECT_EQ(boxes.Count(), 0u);
    }
}

// The save before last is let go after the switch; when that fails the transfer has
// still succeeded, and the next one clears it away before anything else.
TEST_F(TreeTransfer, AnOldSaveThatCannotBeDeletedGoesAtTheNextTransfer) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    Put(save, kOlderTree, "older");
    std::unique_ptr<HeldOpen> holder;
    {
        MessageBoxWatcher boxes;
        ShellCalls shell;
        shell.SetHandler([&](SHFILEOPSTRUCTA* op) {
            const int result = ShellCalls::Real(op);
            // A program opens a file of the old save just after it got that name.
            if (op->wFunc == FO_RENAME && Exists(oldSave) && !holder)
                holder = std::make_unique<HeldOpen>(oldSave + "\\older.txt");
            return result;
        });
        EXPECT_TRUE(Transfer());
        EXPECT_EQ(boxes.Count(), 0u);
    }
    ASSERT_TRUE(holder && holder->Held());
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(Holds(save, "local"));
    EXPECT_TRUE(Exists(oldSave));
    EXPECT_TRUE(TransferInterrupted(destination.c_str()));

    holder.reset();
    MakeTree(source, {{"more.txt", "more"}});
    MessageBoxWatcher boxes;
    EXPECT_TRUE(Transfer());
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(NoTransientLeft());
    EXPECT_EQ(boxes.Count(), 0u);
}

// A transfer killed at any moment leaves one of these sets of folders. The repair, at the
// next start or the next transfer, puts the last whole tree under the destination's
// name and the one before under ".saved"; a copy that was not verified is never used.
TEST_F(TreeTransfer, AnInterruptedTransferIsRepairedFromWhatItLeft) {
    const TreeSpec partial = {{"shared.txt", "from the sh"}};
    struct Case {
        const char* moment;
        std::vector<std::pair<const char*, const char*>> left;  // suffix of the destination's name, tree
        const char* destinationAfter;
        const char* saveAfter;  // null: no save
    };
    const Case cases[] = {
        {"while copying", {{"", "local"}, {".saved", "older"}, {".incoming", "partial"}}, "local", "older"},
        // A copy named complete without the record of what it held is not trusted.
        {"complete copy without its record", {{"", "local"}, {".saved", "older"}, {".complete", "shared"}}, "local", "older"},
        {"first transfer, complete copy without its record", {{".saved", "local"}, {".complete", "shared"}}, "local", nullptr},
        {"while the old save goes", {{"", "shared"}, {".saved", "local"}, {".2delete", "partial"}}, "shared", "local"},
        {"old save left alone", {{"", "local"}, {".2delete", "older"}}, "local", "older"},
        {"destination missing", {{".saved", "local"}, {".2delete", "older"}}, "local", "older"},
        {"only the old save", {{".2delete", "older"}}, "older", nullptr},
    };
    for (const auto& c : cases) {
        for (const bool byTransfer : {false, true}) {
            SCOPED_TRACE(std::string(c.moment) + (byTransfer ? ", repaired by the next transfer" : ", repaired at start"));
            RemoveTree(dir / "Work");
            RemoveTree(dir / "reference");
            MakeTree(Reference("shared"), kSharedTree);
            MakeTree(Reference("local"), kLocalTree);
            MakeTree(Reference("older"), kOlderTree);
            MakeTree(Reference("partial"), partial);
            const std::map<std::string, TreeSpec> trees = {
                {"shared", kSharedTree}, {"local", kLocalTree}, {"older", kOlderTree}, {"partial", partial}};
            for (const auto& folder : c.left) MakeTree(destination + folder.first, trees.at(folder.second));
            EXPECT_TRUE(TransferInterrupted(destination.c_str()));
            MessageBoxWatcher boxes;
            if (!byTransfer) {
                EXPECT_TRUE(RepairShown(destination));
                EXPECT_TRUE(Holds(destination, c.destinationAfter));
                if (c.saveAfter) EXPECT_TRUE(Holds(save, c.saveAfter));
                else EXPECT_FALSE(Exists(save));
            } else {
                RemoveTree(dir / "Shared");
                MakeTree(source, {{"next.txt", "the next tree"}});
                EXPECT_TRUE(Transfer());
                EXPECT_TRUE(SameTree(source, destination));
                EXPECT_TRUE(Holds(save, c.destinationAfter));
            }
            EXPECT_TRUE(NoTransientLeft());
            EXPECT_FALSE(TransferInterrupted(destination.c_str()));
            EXPECT_EQ(boxes.Count(), 0u);
        }
    }
}

// ---- Killed between two renames -------------------------------------------------------
// A transfer runs in this process, so a kill is shown by what it leaves on disk: the work
// folder is copied at each moment a kill could strike, then each copy is put back and
// repaired, or taken by the next transfer.

class KilledTransfer : public TreeTransfer {
public:
    // Runs `work` with a copy of the work folder taken before each rename and after the
    // last one; `refused` (1-based, 0 for none) is a rename the shell refuses.
    std::vector<std::string> Moments(const std::function<void()>& work, int refused = 0) {
        std::vector<std::string> moments;
        const auto take = [&] {
            moments.push_back(dir / ("moments\\" + std::to_string(taken++)));
            CopyTree(dir / "Work", moments.back());
        };
        {
            ShellCalls shell;
            int renames = 0;
            shell.SetHandler([&](SHFILEOPSTRUCTA* op) {
                if (op->wFunc != FO_RENAME) return ShellCalls::Real(op);
                take();
                if (++renames == refused) return RefuseWith(ERROR_ACCESS_DENIED);
                return ShellCalls::Real(op);
            });
            work();
        }
        take();
        return moments;
    }
    void PutBack(const std::string& moment) {
        RemoveTree(dir / "Work");
        CopyTree(moment, dir / "Work");
    }
    // The trees as they stand before the transfer: the new one "shared", the last whole
    // "local", and the one before that "older" (absent at a first transfer).
    void Start(bool withSave) {
        RemoveTree(dir / "Shared");
        RemoveTree(dir / "Work");
        RemoveTree(dir / "reference");
        Put(source, kSharedTree, "shared");
        Put(destination, kLocalTree, "local");
        if (withSave) Put(save, kOlderTree, "older");
    }
    // After the repair of a moment: the new tree when it got as far as its verified name
    // (or further), else the last whole one; the one before it as the save.
    void ExpectWhole(bool newTreeReached, bool withSave) {
        if (newTreeReached) {
            EXPECT_TRUE(Holds(destination, "shared"));
            EXPECT_TRUE(Holds(save, "local"));
        } else {
            EXPECT_TRUE(Holds(destination, "local"));
            if (withSave) EXPECT_TRUE(Holds(save, "older"));
            else EXPECT_FALSE(Exists(save));
        }
        EXPECT_TRUE(NoTransientLeft());
    }
    // Each moment put back, then repaired at start or taken over by the next transfer.
    void ExpectEachMomentRepaired(const std::vector<std::string>& moments, bool withSave) {
        for (const auto& moment : moments) {
            PutBack(moment);
            const bool newTreeReached = Exists(complete) || Holds(destination, "shared");
            for (const bool byTransfer : {false, true}) {
                SCOPED_TRACE(moment + (byTransfer ? ", then the next transfer" : ", then the repair"));
                PutBack(moment);
                MessageBoxWatcher boxes;
                if (!byTransfer) {
                    EXPECT_TRUE(RepairShown(destination));
                    ExpectWhole(newTreeReached, withSave);
                } else {
                    RemoveTree(dir / "Next");
                    MakeTree(dir / "Next", {{"next.txt", "the next tree"}});
                    EXPECT_TRUE(TransferShown(dir / "Next", destination));
                    EXPECT_TRUE(SameTree(dir / "Next", destination));
                    EXPECT_TRUE(Holds(save, newTreeReached ? "shared" : "local"));
                    EXPECT_TRUE(NoTransientLeft());
                }
                EXPECT_EQ(boxes.Count(), 0u);
            }
        }
    }
    int taken = 0;
};

TEST_F(KilledTransfer, AtAnyPointOfTheSwitchTheNextStartHasWholeTrees) {
    for (const bool withSave : {true, false}) {
        SCOPED_TRACE(withSave ? "with a save" : "first transfer");
        Start(withSave);
        const auto moments = Moments([&] { EXPECT_TRUE(Transfer()); });
        ASSERT_EQ(moments.size(), withSave ? 5u : 4u);
        // Before the first rename the new copy is not yet verified; from then on it is.
        PutBack(moments[0]);
        EXPECT_TRUE(Exists(incoming) && Exists(check));
        PutBack(moments[1]);
        EXPECT_TRUE(Exists(complete) && Exists(check));
        ExpectEachMomentRepaired(moments, withSave);
    }
}

// A rename of the switch fails and the clean-up after it is killed at any point.
TEST_F(KilledTransfer, InTheCleanUpOfAFailedSwitchTheNextStartHasWholeTrees) {
    Start(true);
    MessageBoxWatcher boxes;
    // The fourth rename (the new copy to the destination's name) is refused: the undo and
    // the copy's loss of its verified name follow.
    const auto moments = Moments([&] { EXPECT_FALSE(Transfer()); }, 4);
    ASSERT_EQ(moments.size(), 8u);
    EXPECT_TRUE(Holds(destination, "local"));
    EXPECT_TRUE(Holds(save, "older"));
    EXPECT_TRUE(NoTransientLeft());
    ExpectEachMomentRepaired(moments, true);
}

// The repair is killed too: whatever it leaves, the next one ends with whole trees.
TEST_F(KilledTransfer, AKilledRepairLeavesWorkForTheNext) {
    Start(true);
    const auto switchMoments = Moments([&] { EXPECT_TRUE(Transfer()); });
    for (const bool damaged : {false, true}) {
        // Killed after the destination moved away: the switch is finished by the repair,
        // or, with the copy cut short, taken back.
        PutBack(switchMoments[3]);
        ASSERT_TRUE(Exists(complete) && !Exists(destination));
        if (damaged) RemoveTree(complete + "\\sub");
        const auto repairMoments = Moments([&] { EXPECT_TRUE(RepairShown(destination)); });
        ASSERT_GE(repairMoments.size(), 2u);
        ExpectWhole(!damaged, true);
        // Every moment but the last, when the repair was done.
        for (size_t i = 0; i + 1 < repairMoments.size(); ++i) {
            const std::string& moment = repairMoments[i];
            SCOPED_TRACE(moment);
            PutBack(moment);
            EXPECT_TRUE(TransferInterrupted(destination)) << "a repair cut short leaves its traces";
            MessageBoxWatcher boxes;
            EXPECT_TRUE(RepairShown(destination));
            ExpectWhole(!damaged, true);
            EXPECT_EQ(boxes.Count(), 0u);
        }
    }
}

// A copy named complete that is no longer whole (a delete cut short, a crash) is never
// switched in: the destination and its save stay the last whole trees.
TEST_F(KilledTransfer, APartialCompleteCopyIsNeverSwitchedIn) {
    Start(true);
    const auto moments = Moments([&] { EXPECT_TRUE(Transfer()); });
    const struct {
        const char* what;
        std::function<void()> damage;
    } damages[] = {
        {"a subfolder missing", [&] { RemoveTree(complete + "\\sub"); }},
        {"a file missing", [&] { DeleteFileA((complete + "\\shared.txt").c_str()); }},
        {"a file cut short", [&] { WriteFile(complete + "\\sub\\deeper\\y.txt", "y"); }},
        {"an empty folder missing", [&] { RemoveTree(complete + "\\empty"); }},
    };
    // Killed after the check, and after the destination was renamed away.
    for (const size_t moment : {size_t(1), size_t(3)}) {
        for (const auto& d : damages) {
            SCOPED_TRACE(std::string(d.what) + ", moment " + std::to_string(moment));
            PutBack(moments[moment]);
            d.damage();
            EXPECT_TRUE(TransferInterrupted(destination));
            MessageBoxWatcher boxes;
            EXPECT_TRUE(RepairShown(destination));
            ExpectWhole(false, true);
            EXPECT_EQ(boxes.Count(), 0u);
            EXPECT_TRUE(Transfer());
            EXPECT_TRUE(SameTree(source, destination));
            EXPECT_TRUE(Holds(save, "local"));
        }
    }
}

// A data folder deleted or moved by mistake is no interrupted switch: its save, one
// generation old, does not quietly become the data.
TEST_F(TreeTransfer, AMissingDataFolderIsNotReplacedByItsSave) {
    Put(source, kSharedTree, "shared");
    Put(save, kLocalTree, "local");
    EXPECT_FALSE(TransferInterrupted(destination));
    const Boxes told{{"Repairing interrupted transfer", "The data folder " + destination +
                                                            " is missing. Its last backup is " + save +
                                                            "; nothing was replaced."}};
    {
        MessageBoxWatcher boxes;
        EXPECT_FALSE(RepairShown(destination));
        EXPECT_EQ(boxes.CaptionsAndTexts(), told);
    }
    {
        MessageBoxWatcher boxes;
        ShellCalls shell;
        EXPECT_FALSE(Transfer());
        EXPECT_EQ(boxes.CaptionsAndTexts(), told);
        EXPECT_TRUE(shell.Calls().empty());
    }
    EXPECT_FALSE(Exists(destination));
    EXPECT_TRUE(Holds(save, "local"));
    EXPECT_TRUE(NoTransientLeft());
}

// Every file of the new tree is on disk before the first rename names it verified, and
// the renames are on disk once the switch is done.
TEST_F(TreeTransfer, TheNewTreeIsFlushedBeforeItIsNamedVerified) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    Put(save, kOlderTree, "older");
    std::vector<std::string> seen;
    {
        FlushedFiles flushes;
        ShellCalls shell;
        shell.SetHandler([&](SHFILEOPSTRUCTA* op) {
            if (op->wFunc == FO_RENAME) flushes.Note("rename");
            return ShellCalls::Real(op);
        });
        EXPECT_TRUE(Transfer());
        seen = flushes.Log();
    }

    const auto firstRename = std::find(seen.begin(), seen.end(), "rename");
    ASSERT_NE(firstRename, seen.end());
    const auto flushedBefore = [&](const std::string& path) {
        return std::find(seen.begin(), firstRename, FlushedName(path)) != firstRename;
    };
    for (const auto& file : {"shared.txt", "sub\\x.txt", "sub\\deeper\\y.txt"})
        EXPECT_TRUE(flushedBefore(incoming + "\\" + file)) << file;
    for (const auto& folder : {"sub", "sub\\deeper", "empty"})
        EXPECT_TRUE(flushedBefore(incoming + "\\" + folder)) << folder;
    EXPECT_TRUE(flushedBefore(incoming));
    // The folder that holds the renamed trees, after the last rename.
    const auto lastRename = std::find(seen.rbegin(), seen.rend(), "rename");
    EXPECT_NE(std::find(seen.rbegin(), lastRename, FlushedName(dir / "Work")), lastRename);
    EXPECT_TRUE(SameTree(source, destination));
}

// On the share unchanged files are links to the kept tree's files, whose data is on disk
// already: only the files that crossed are flushed, and the folders that name the links.
TEST_F(TreeTransfer, OnlyFilesWithNewDataAreFlushedWhereTheRestIsLinked) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    TransferOptions options;
    options.linkUnchanged = true;
    ASSERT_TRUE(TransferTree(source, destination, nullptr, options).ok);
    WriteFile(source + "\\sub\\x.txt", "x changed");

    FlushedFiles flushes;
    const TransferResult result = TransferTree(source, destination, nullptr, options);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.figures.filesLinked, 2u);
    EXPECT_TRUE(flushes.Has(incoming + "\\sub\\x.txt")) << "the changed file";
    for (const char* linked : {"shared.txt", "sub\\deeper\\y.txt"}) EXPECT_FALSE(flushes.Has(incoming + "\\" + linked)) << linked;
    for (const char* folder : {"", "\\sub", "\\sub\\deeper"}) EXPECT_TRUE(flushes.Has(incoming + folder)) << folder;
    EXPECT_TRUE(SameTree(source, destination));
}

// A set-aside folder takes its name only once it is whole and on disk: every file is
// flushed while it still carries the ".incoming" name, and a set-aside that fails, or a
// left-over from one cut short, never stands under the whole name.
TEST_F(TreeTransfer, ASetAsideIsNamedOnlyWhenWholeAndOnDisk) {
    Put(source, kSharedTree, "shared");
    const std::string aside = FreeAsideFolder(source);
    SetAsideResult made;
    std::vector<std::string> seen;
    {
        FlushedFiles flushes;
        made = SetTreeAside(source, aside, false);
        seen = flushes.Log();
    }
    ASSERT_TRUE(made.ok);
    EXPECT_EQ(made.folder, aside);
    EXPECT_TRUE(SameTree(source, aside));
    EXPECT_FALSE(Exists(aside + ".incoming"));
    for (const auto& file : {"shared.txt", "sub\\x.txt", "sub\\deeper\\y.txt"})
        EXPECT_NE(std::find(seen.begin(), seen.end(), FlushedName(aside + ".incoming\\" + file)), seen.end()) << file;

    // A copy cut short left its ".incoming"; a second set-aside in the same second takes
    // another name, and one that cannot read a file leaves nothing of either name.
    const std::string next = FreeAsideFolder(source);
    EXPECT_NE(next, aside);
    MakeTree(next + ".incoming", {{"half.txt", "half"}});
    const std::string third = FreeAsideFolder(source);
    EXPECT_NE(third, next);
    HeldOpen holder(source + "\\sub\\x.txt");
    const SetAsideResult failed = SetTreeAside(source, third, false);
    EXPECT_FALSE(failed.ok);
    ASSERT_FALSE(failed.messages.empty());
    EXPECT_NE(failed.messages[0].text.find("x.txt"), std::string::npos) << failed.messages[0].text;
    EXPECT_FALSE(Exists(third));
    EXPECT_FALSE(Exists(third + ".incoming"));
}

// A link in the data points at a folder outside it: deleting the old tree takes the
// link, never what it points to.
TEST_F(TreeTransfer, DeletingAnOldTreeNeverFollowsALink) {
    MakeTree(dir / "Elsewhere", {{"keep.txt", "keep"}, {"inner\\keep too.txt", "keep too"}});
    MakeTree(Reference("elsewhere"), {{"keep.txt", "keep"}, {"inner\\keep too.txt", "keep too"}});
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    if (!MakeLink(destination + "\\linked", dir / "Elsewhere", true)) GTEST_SKIP() << "no symbolic link can be made";
    for (int i = 0; i < 3; ++i) {
        // The tree with the link becomes the save, then the save before last, and goes.
        // No later transfer is stopped by it either.
        MakeTree(source, {{"round " + std::to_string(i) + ".txt", "more"}});
        EXPECT_TRUE(TransferShown(source, destination)) << i;
        EXPECT_TRUE(Holds(dir / "Elsewhere", "elsewhere")) << i;
    }
    // Windows removes the link itself. Wine 8 has no call that does (each one deletes the
    // target instead): there the delete stops at the link, and the old save is moved out
    // of the way, whole but for what it could not delete.
    EXPECT_FALSE(Exists(oldSave));
    if (Exists(oldSave + "-2")) {
        const FileOpResult removed = RemoveTreeDirect(Widen(oldSave + "-2"));
        EXPECT_FALSE(removed.ok);
        EXPECT_NE(FailureMessage(kDeleteWording, removed).text, SystemErrorName(0));
        EXPECT_TRUE(Holds(dir / "Elsewhere", "elsewhere"));
        RemoveLink(oldSave + "-2\\linked");
    }
}

TEST_F(TreeTransfer, AMissingDestinationFailsBeforeAnythingIsTouched) {
    Put(source, kSharedTree, "shared");
    MessageBoxWatcher boxes;
    ShellCalls shell;
    FileCopies copies;

    EXPECT_FALSE(Transfer());
    // Not even its parent folder is there.
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"renaming", SystemErrorName(ERROR_PATH_NOT_FOUND)},
                                              {"Renaming folder to save", "Error occuried during rename"}}));
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_TRUE(copies.Copies().empty());
    EXPECT_FALSE(Exists(destination));
    EXPECT_TRUE(NoTransientLeft());
}

TEST_F(TreeTransfer, AMissingOrUnreadableSourceTouchesNothing) {
    Put(destination, kLocalTree, "local");
    Put(save, kOlderTree, "older");
    {
        MessageBoxWatcher boxes;
        EXPECT_FALSE(Transfer());
        const std::string text = ExpectCopyStepFailed(boxes.CaptionsAndTexts());
        EXPECT_EQ(text.rfind("Cannot read folder: " + source, 0), 0u) << text;
    }
    // A folder that cannot be listed to its end is no source either.
    Put(source, kSharedTree, "shared");
    HeldOpen folderInUse(source + "\\sub");
    ASSERT_TRUE(folderInUse.Held());
    {
        MessageBoxWatcher boxes;
        EXPECT_FALSE(Transfer());
        const std::string text = ExpectCopyStepFailed(boxes.CaptionsAndTexts());
        EXPECT_EQ(text.rfind("Cannot read folder: " + source + "\\sub", 0), 0u) << text;
    }
    EXPECT_TRUE(Holds(destination, "local"));
    EXPECT_TRUE(Holds(save, "older"));
    EXPECT_TRUE(NoTransientLeft());
}

TEST_F(TreeTransfer, AnEmptySourceNeverReplacesData) {
    MakeFolder(source);
    Put(destination, kLocalTree, "local");
    Put(save, kOlderTree, "older");
    {
        MessageBoxWatcher boxes;
        ShellCalls shell;
        FileCopies copies;
        EXPECT_FALSE(Transfer());
        EXPECT_EQ(boxes.CaptionsAndTexts(),
                  (Boxes{{"Copying", "The source folder is empty: " + source + "\nNothing was copied, so that " +
                                         destination + " keeps its data."},
                         {"Copying", "Error occuried during filecopy"}}));
        EXPECT_TRUE(shell.Calls().empty());
        EXPECT_TRUE(copies.Copies().empty());
    }
    EXPECT_TRUE(Holds(destination, "local"));
    EXPECT_TRUE(Holds(save, "older"));

    // Empty over empty is no loss, and no change: the save stays the older tree.
    RemoveTree(destination);
    MakeFolder(destination);
    MessageBoxWatcher boxes;
    EXPECT_TRUE(Transfer());
    EXPECT_TRUE(ListTree(destination).empty());
    EXPECT_TRUE(Holds(save, "older"));
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(TreeTransfer, ATrailingSeparatorIsRefusedBeforeAnythingIsTouched) {
    Put(source, kSharedTree, "shared");
    // Folders of the user's own that a transfer to "Data\" would take for its siblings.
    TreeSpec withLookalikes = kLocalTree;
    withLookalikes.push_back({".saved\\mine.txt", "mine"});
    withLookalikes.push_back({".2delete\\mine.txt", "mine"});
    Put(destination, withLookalikes, "local");
    MessageBoxWatcher boxes;
    ShellCalls shell;

    EXPECT_FALSE(TransferShown(source, destination + "\\"));
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"renaming", SystemErrorName(ERROR_INVALID_NAME)},
                                              {"Renaming folder to save", "Error occuried during rename"}}));
    EXPECT_TRUE(Holds(destination, "local"));
    EXPECT_FALSE(Exists(save));
    EXPECT_FALSE(Exists(destination + "\\.incoming"));
    EXPECT_FALSE(TransferInterrupted((destination + "\\").c_str()));
    EXPECT_TRUE(RepairShown(destination + "\\"));
    EXPECT_TRUE(Holds(destination, "local"));
}

// Greek, CJK and an emoji: the shell copies them, and the check must see them too.
TEST_F(TreeTransfer, NamesOutsideTheCodePageGoInAndBackByteForByte) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"\xE6\x95\xB0\xE6\x8D\xAE.txt", "CJK"},                                      // 数据.txt
        {"\xCE\x94\xCE\xB5\xCE\xB4\xCE\xBF\xCE\xBC\xCE\xAD\xCE\xBD\xCE\xB1\\a.txt", "Greek folder"},  // Δεδομένα
        {"smile \xF0\x9F\x98\x80.dat", std::string("emoji\0bytes", 11)},            // 😀
    };
    MakeTree(source, {{"plain.txt", "plain"}});
    for (const auto& f : files) WriteFileUtf8(source, f.first, f.second);
    Put(destination, kLocalTree, "local");
    MessageBoxWatcher boxes;

    ASSERT_TRUE(Transfer()) << (boxes.Count() ? boxes.Seen()[0].text : "");
    std::string difference;
    EXPECT_TRUE(SameTreeExactly(source, destination, &difference)) << difference;
    // And back again, over the same names.
    WriteFileUtf8(destination, files[0].first, "CJK, changed");
    ASSERT_TRUE(TransferShown(destination, source));
    EXPECT_TRUE(SameTreeExactly(destination, source, &difference)) << difference;
    EXPECT_EQ(boxes.Count(), 0u);
}

// ---- A realistic tree, byte for byte --------------------------------------------------

class RealisticTransfer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new TempDir;
        const std::string root = *folder / "Shared Data";
        const std::string longName(150, 'L');
        MakeTree(root, {
                           {"Palm.ini", "[RunTime]\r\nUser=anna\r\n"},
                           {"Report 2021 final version.txt", "blanks in the name"},
                           {"Caf\xE9 \xDC" "berweisung \xA7 1.dat", "8-bit name"},
                           {longName + ".txt", "a long name"},
                           {"read only.txt", "do not touch"},
                           {"hidden.txt", "not shown"},
                           {"system.sys", "system file"},
                           {"Nested\\Level 2\\Level 3\\deep.txt", "deep"},
                           {"Nested\\Level 2\\sibling.bin", std::string("\0\1\2\3\xFF", 5)},
                           {"Nested\\Empty Inside\\", ""},
                           {"Empty\\", ""},
                           {"\xC4rger\\\xF6l.txt", "umlauts in folder and file"},
                       });
        SetFileAttributesA((root + "\\read only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA((root + "\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
        SetFileAttributesA((root + "\\system.sys").c_str(), FILE_ATTRIBUTE_SYSTEM);
        WriteBigFile(root + "\\Nested\\Palm database.pdb");
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }

    // 100 MiB + 12345 bytes, every block different, written (not sparse).
    static void WriteBigFile(const std::string& path) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::vector<uint32_t> block(1 << 18);  // 1 MiB
        uint32_t x = 2463534242u;
        for (uint32_t i = 0; i <= 100; ++i) {
            for (auto& word : block) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                word = x;
            }
            const DWORD size = i < 100 ? (1u << 20) : 12345u;
            DWORD written = 0;
            ASSERT_TRUE(::WriteFile(h, block.data(), size, &written, nullptr));
            ASSERT_EQ(written, size);
        }
        CloseHandle(h);
    }

    static TempDir* folder;
};

TempDir* RealisticTransfer::folder = nullptr;

TEST_F(RealisticTransfer, CopiesEveryByteAndAttribute) {
    const std::string source = *folder / "Shared Data";
    TempDir work;
    const std::string destination = work / "Local Data";
    MakeTree(destination, {{"old.txt", "old"}, {"Nested\\old.txt", "old"}});
    MakeTree(work / "previous", {{"old.txt", "old"}, {"Nested\\old.txt", "old"}});
    MessageBoxWatcher boxes;

    ASSERT_TRUE(TransferShown(source, destination));
    std::string difference;
    EXPECT_TRUE(SameTree(source, destination, &difference)) << difference;
    EXPECT_TRUE(SameTree(work / "previous", destination + ".saved", &difference)) << difference;
    EXPECT_EQ(boxes.Count(), 0u);

    const DWORD mask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const char* name : {"read only.txt", "hidden.txt", "system.sys", "Palm.ini"}) {
        EXPECT_EQ(Attributes(destination + "\\" + name) & mask, Attributes(source + "\\" + name) & mask) << name;
    }
    EXPECT_EQ(Attributes(destination + "\\read only.txt") & mask, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

}  // namespace

namespace {

// A 4 MB disk that scripts/test.sh mounts for this test (Linux tmpfs, as root). The shell
// reports a copy onto a full disk as done and leaves the last file cut short.
class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        const char* build = std::getenv("CARVELUND_BUILD_DIR");
        if (!build) GTEST_SKIP() << "no CARVELUND_BUILD_DIR";
        root = std::string("Z:") + build + "/tests/shell/small-disk";
        for (char& c : root)
            if (c == '/') c = '\\';
        ULARGE_INTEGER total{};
        if (!GetDiskFreeSpaceExA(root.c_str(), nullptr, &total, nullptr) || total.QuadPart > (16u << 20))
            GTEST_SKIP() << "no small disk mounted at " << root;
        root += "\\transfer";
        RemoveTree(root);
    }
    void TearDown() override {
        if (!root.empty()) RemoveTree(root);
    }
    std::string root;
    TempDir dir;
};

TEST_F(FullDisk, ADestinationThatFillsUpKeepsItsDataAndItsSave) {
    const std::string source = dir / "Shared";
    const std::string destination = root + "\\Data";
    MakeTree(source, {{"small.txt", "small"}, {"big.bin", std::string(6u << 20, 'B')}});
    MakeTree(destination, {{"local.txt", "local data"}});
    MakeTree(destination + ".saved", {{"older.txt", "older"}});
    MakeTree(dir / "local", {{"local.txt", "local data"}});
    {
        MessageBoxWatcher boxes;
        EXPECT_FALSE(TransferShown(source, destination));
        // The copy call itself names the failure: no "NO ERROR" from a shell that said nothing.
        const std::string text = ExpectCopyStepFailed(boxes.CaptionsAndTexts());
        EXPECT_NE(text.find("ERROR DISK FULL"), std::string::npos) << text;
        EXPECT_NE(text.find(source + "\\big.bin"), std::string::npos) << text;
    }
    EXPECT_TRUE(SameTree(dir / "local", destination));
    EXPECT_EQ(ReadFile(destination + ".saved\\older.txt"), "older");
    EXPECT_FALSE(Exists(destination + ".incoming"));

    // Room enough once the big file is gone: the next transfer goes through.
    DeleteFileA((source + "\\big.bin").c_str());
    MessageBoxWatcher boxes;
    EXPECT_TRUE(TransferShown(source, destination));
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(SameTree(dir / "local", destination + ".saved"));
}

}  // namespace
