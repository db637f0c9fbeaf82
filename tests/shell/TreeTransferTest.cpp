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

const TreeContents kSharedTree = {{"shared.txt", "from the share"},
                              {"same.txt", "never changes"},
                              {"sub\\x.txt", "x"},
                              {"sub\\deeper\\y.txt", "yy"},
                              {"empty\\", ""}};
const TreeContents kLocalTree = {{"local.txt", "local data"}, {"sub\\z.txt", "zzz"}, {"nothing\\", ""}};
const TreeContents kOlderTree = {{"older.txt", "older"}};

class TreeTransfer : public ::testing::Test {
public:
    // A tree at `root`, and the same tree under reference\<name> to compare with later.
    void Put(const std::string& root, const TreeContents& tree, const std::string& name) {
        MakeTree(root, tree);
        Keep(root, name);
    }
    // The tree at `root` as it is now, kept as reference\<name>.
    void Keep(const std::string& root, const std::string& name) {
        RemoveTree(Reference(name));
        CopyTree(root, Reference(name));
    }
    std::string Reference(const std::string& name) const { return dir / ("reference\\" + name); }
    bool Holds(const std::string& where, const std::string& name) const {
        return IsFolder(where) && SameTree(Reference(name), where);
    }
    // Byte for byte, with the same attributes and times.
    bool HoldsExactly(const std::string& where, const std::string& name) const {
        std::string difference;
        const bool same = IsFolder(where) && SameTreeExactly(Reference(name), where, &difference);
        if (!same) ADD_FAILURE() << where << " is not " << name << ": " << difference;
        return same;
    }
    bool Transfer() { return TransferShown(source, destination); }

    // Two transfers: the destination holds "v2" (the source with x changed, a file added
    // and y removed), its save "v1" (the first source), which shares same.txt with it.
    void Prepare() {
        RemoveTree(dir / "Shared");
        RemoveTree(dir / "Work");
        RemoveTree(dir / "reference");
        Put(source, kSharedTree, "v1");
        Put(destination, kLocalTree, "local");
        ASSERT_TRUE(Transfer());
        WriteFile(source + "\\sub\\x.txt", "x, second");
        WriteFile(source + "\\added.txt", "added");
        DeleteFileA((source + "\\sub\\deeper\\y.txt").c_str());
        ASSERT_TRUE(Transfer());
        Keep(destination, "v2");
        Keep(save, "v1 as saved");
        // The third source: only shared.txt changes.
        WriteFile(source + "\\shared.txt", "from the share, third");
        Keep(source, "v3");
        sameId = IdentityOf(save + "\\same.txt").id;
    }
    // The save is "v1" again, as it was, its unchanged files the very same files.
    void ExpectSaveAsItWas() {
        EXPECT_TRUE(HoldsExactly(save, "v1 as saved"));
        EXPECT_EQ(IdentityOf(save + "\\same.txt").id, sameId);
    }

    TempDir dir;
    const std::string source = dir / "Shared\\Data";
    const std::string destination = dir / "Work\\Data";
    const std::string save = destination + ".saved";
    const std::string next = destination + ".next";
    const std::string undo = next + ".undo";
    const std::string journal = next + ".journal";
    const std::string check = next + ".check";
    uint64_t sameId = 0;

    bool NoTraceLeft() const {
        for (const std::string& trace : {next, undo, journal, check, next + ".manifest", journal + ".new", check + ".new",
                                         destination + ".incoming", destination + ".complete", destination + ".2delete"})
            if (Exists(trace)) {
                ADD_FAILURE() << "left: " << trace;
                return false;
            }
        return true;
    }
};

TEST_F(TreeTransfer, FirstTransferKeepsTheDestinationAsSave) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    MessageBoxWatcher boxes;
    ShellCalls shell;
    FileCopies copies;
    FileMoves moves;

    EXPECT_TRUE(Transfer());
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(HoldsExactly(save, "local"));
    EXPECT_TRUE(NoTraceLeft());
    EXPECT_EQ(boxes.Count(), 0u);
    // Without a save the next tree starts empty: every file crosses from the source, then
    // two renames switch it in.
    EXPECT_EQ(copies.Copies().size(), 4u);
    for (const auto& copy : copies.Copies()) EXPECT_EQ(copy.from.rfind(source + "\\", 0), 0u) << copy.from;
    EXPECT_TRUE(moves.Moves().empty());
    const auto calls = shell.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(std::make_pair(calls[0].from, calls[0].to), std::make_pair(destination, save));
    EXPECT_EQ(std::make_pair(calls[1].from, calls[1].to), std::make_pair(next, destination));
}

// The save before last becomes the next tree: what it holds of the source stays, the
// very same files; what differs is taken out into the undo folder and written anew, from
// the destination's own tree where that holds it, else from the source.
TEST_F(TreeTransfer, TheSaveBecomesTheNextTreeAndOnlyWhatDiffersIsWritten) {
    Prepare();
    MessageBoxWatcher boxes;
    ShellCalls shell;
    FileCopies copies;
    FileMoves moves;

    ASSERT_TRUE(Transfer());
    EXPECT_TRUE(SameTreeExactly(source, destination));
    EXPECT_TRUE(HoldsExactly(save, "v2"));
    EXPECT_TRUE(NoTraceLeft());
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(IdentityOf(destination + "\\same.txt").id, sameId) << "an unchanged file is left where it was";

    std::vector<std::pair<std::string, std::string>> made;
    for (const auto& copy : copies.Copies()) made.push_back({copy.from, copy.to});
    std::sort(made.begin(), made.end());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {source + "\\shared.txt", next + "\\shared.txt"},   // changed now: from the source
        {destination + "\\added.txt", next + "\\added.txt"},  // changed the last time: on the own side
        {destination + "\\sub\\x.txt", next + "\\sub\\x.txt"},
    };
    EXPECT_EQ(made, expected);
    std::vector<std::string> taken = moves.Moves();
    std::sort(taken.begin(), taken.end());
    const std::vector<std::string> expectedMoves = {
        next + "\\shared.txt -> " + undo + "\\shared.txt",
        next + "\\sub\\deeper\\y.txt -> " + undo + "\\sub\\deeper\\y.txt",
        next + "\\sub\\x.txt -> " + undo + "\\sub\\x.txt",
    };
    EXPECT_EQ(taken, expectedMoves);
    const auto calls = shell.Calls();
    const std::vector<std::pair<std::string, std::string>> renames = {
        {save, next}, {destination, save}, {next, destination}};
    ASSERT_EQ(calls.size(), renames.size());
    for (size_t i = 0; i < renames.size(); ++i) {
        EXPECT_EQ(calls[i].function, static_cast<UINT>(FO_RENAME)) << i;
        EXPECT_EQ(std::make_pair(calls[i].from, calls[i].to), renames[i]) << i;
    }
}

// Only a file deep in the tree differs: it is taken out under its own folders, which the
// undo folder does not have yet, and written back.
TEST_F(TreeTransfer, ADeepChangeIsTakenOutUnderItsOwnFolders) {
    Put(source, kSharedTree, "v1");
    Put(destination, kLocalTree, "local");
    for (const char* content : {"yy, second", "yy, third"}) {
        WriteFile(source + "\\sub\\deeper\\y.txt", content);
        ASSERT_TRUE(Transfer());
    }
    FileMoves moves;
    WriteFile(source + "\\sub\\deeper\\y.txt", "yy, fourth");
    ASSERT_TRUE(Transfer());
    EXPECT_TRUE(SameTreeExactly(source, destination));
    EXPECT_EQ(moves.Moves(), std::vector<std::string>{next + "\\sub\\deeper\\y.txt -> " + undo + "\\sub\\deeper\\y.txt"});
    EXPECT_TRUE(NoTraceLeft());
}

// Whatever fails, the destination is as it was and its save too, exactly, its unchanged
// files the same files; the boxes name the failing operation and step; once the cause is
// gone the next transfer succeeds.
TEST_F(TreeTransfer, AFailureAtAnyStepPutsTheSaveBackExactly) {
    struct Case {
        const char* what;
        int refusedRename;      // 1 to 3: the rename the shell refuses; 0 for none
        int refusedMove;        // 1 and up: the move into the undo folder refused; 0 for none
        bool unreadableSource;  // a source file held open by another program
        bool cancelCopy;        // the user cancels the copy (its progress display)
        Boxes boxes;
    };
    const std::pair<std::string, std::string> copyBox{"Copying", "Error occuried during filecopy"};
    const std::string denied = "ERROR ACCESS DENIED";
    const Case cases[] = {
        {"save to next", 1, 0, false, false, {{"renaming", denied}, {"Renaming save to old save", "Error occuried during rename"}}},
        {"destination to save", 2, 0, false, false, {{"renaming", denied}, {"Renaming folder to save", "Error occuried during rename"}}},
        {"next to destination", 3, 0, false, false,
         {{"renaming", denied}, {"Renaming new copy to folder", "Error occuried during rename"}}},
        {"a file taken out", 0, 2, false, false,
         {{"Copying", "Cannot take out of the backup: " + next + "\\sub\\x.txt (ERROR SHARING VIOLATION)"}, copyBox}},
        {"unreadable source file", 0, 0, true, false,
         {{"Copying", "Cannot copy file: " + source + "\\shared.txt (ERROR SHARING VIOLATION)"}, copyBox}},
        {"user cancels the copy", 0, 0, false, true, {{"Copying", "User aborted copy"}, copyBox}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Prepare();
        std::unique_ptr<HeldOpen> holder;
        if (c.unreadableSource) holder = std::make_unique<HeldOpen>(source + "\\shared.txt");
        {
            MessageBoxWatcher boxes;
            ShellCalls shell;
            FileCopies copies;
            FileMoves moves;
            int renames = 0, taken = 0;
            shell.SetHandler([&](SHFILEOPSTRUCTA* op) {
                if (op->wFunc == FO_RENAME && ++renames == c.refusedRename) return RefuseWith(ERROR_ACCESS_DENIED);
                return ShellCalls::Real(op);
            });
            // The moves go in the save's listing order: shared.txt, then sub\x.txt.
            moves.SetHandler([&](const FileMoves::Call& call) {
                if (std::wstring(call.to).find(L".undo") != std::wstring::npos && ++taken == c.refusedMove) {
                    SetLastError(ERROR_SHARING_VIOLATION);
                    return FALSE;
                }
                return FileMoves::Real(call);
            });
            copies.SetHandler([&](const FileCopies::Call& call) {
                return c.cancelCopy ? CancelCopy() : FileCopies::Real(call);
            });
            EXPECT_FALSE(Transfer());
            EXPECT_EQ(boxes.CaptionsAndTexts(), c.boxes);
        }
        EXPECT_TRUE(HoldsExactly(destination, "v2"));
        ExpectSaveAsItWas();
        EXPECT_TRUE(NoTraceLeft());

        holder.reset();
        MessageBoxWatcher boxes;
        EXPECT_TRUE(Transfer());
        EXPECT_TRUE(SameTree(source, destination));
        EXPECT_TRUE(HoldsExactly(save, "v2"));
        EXPECT_TRUE(NoTraceLeft());
        EXPECT_EQ(boxes.Count(), 0u);
    }
}

// The last word before the switch (the period's look at its lock): no means nothing
// changes, and the caller is told so apart from any failure.
TEST_F(TreeTransfer, ANoJustBeforeTheSwitchPutsTheSaveBack) {
    Prepare();
    MessageBoxWatcher boxes;
    uint64_t told = 0;
    TransferOptions options;
    options.beforeSwitch = [&](uint64_t fingerprint) {
        told = fingerprint;
        EXPECT_TRUE(Exists(check)) << "asked once the next tree is whole and recorded";
        return false;
    };
    const TransferResult result = TransferTree(source, destination, nullptr, options);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.stoppedBeforeSwitch);
    EXPECT_TRUE(result.messages.empty());
    uint64_t sourceFingerprint = 0;
    ASSERT_TRUE(FingerprintFolder(source, sourceFingerprint));
    EXPECT_EQ(told, sourceFingerprint);
    EXPECT_TRUE(HoldsExactly(destination, "v2"));
    ExpectSaveAsItWas();
    EXPECT_TRUE(NoTraceLeft());
}

// ---- Killed at any point ---------------------------------------------------------------
// A transfer runs in this process, so a kill is shown by what it leaves on disk: the work
// folder is copied at each moment a kill could strike (before each rename, each move and
// each copy, and in the middle of a copy), then each copy is put back and repaired, or
// taken by the next transfer.

class KilledTransfer : public TreeTransfer {
public:
    // Runs `work` with a copy of the work folder taken at each moment a kill could strike.
    std::vector<std::string> Moments(const std::function<void()>& work) { return kills.Take(work); }
    void PutBack(const std::string& moment) { kills.PutBack(moment); }
    // The new tree when it got as far as its record (or further), else the last whole one;
    // the one before it as the save, as it was.
    void ExpectWhole(bool newTreeReached) {
        if (newTreeReached) {
            EXPECT_TRUE(HoldsExactly(destination, "v3"));
            EXPECT_TRUE(HoldsExactly(save, "v2"));
        } else {
            EXPECT_TRUE(HoldsExactly(destination, "v2"));
            EXPECT_TRUE(HoldsExactly(save, "v1 as saved"));
        }
        EXPECT_TRUE(NoTraceLeft());
    }
    bool NewTreeReached() const { return Exists(check) || (IsFolder(destination) && SameTree(Reference("v3"), destination)); }
    // Each moment put back, then repaired at start or taken over by the next transfer.
    void ExpectEachMomentRepaired(const std::vector<std::string>& moments) {
        for (const auto& moment : moments) {
            for (const bool byTransfer : {false, true}) {
                SCOPED_TRACE(moment + (byTransfer ? ", then the next transfer" : ", then the repair"));
                PutBack(moment);
                const bool reached = NewTreeReached();
                MessageBoxWatcher boxes;
                if (!byTransfer) {
                    EXPECT_TRUE(RepairShown(destination));
                    ExpectWhole(reached);
                } else {
                    RemoveTree(dir / "Next");
                    MakeTree(dir / "Next", {{"next.txt", "the next tree"}});
                    EXPECT_TRUE(TransferShown(dir / "Next", destination));
                    EXPECT_TRUE(SameTree(dir / "Next", destination));
                    EXPECT_TRUE(HoldsExactly(save, reached ? "v3" : "v2"));
                    EXPECT_TRUE(NoTraceLeft());
                }
                EXPECT_EQ(boxes.Count(), 0u);
            }
        }
    }
    KillMoments kills{dir / "Work", dir / "moments"};
};

TEST_F(KilledTransfer, AtAnyPointTheNextStartHasWholeTreesAndTheSaveAsItWas) {
    Prepare();
    const auto moments = Moments([&] { EXPECT_TRUE(Transfer()); });
    // 3 renames, 3 moves, 3 copies with a moment inside each, and the end.
    ASSERT_EQ(moments.size(), 13u);
    ExpectEachMomentRepaired(moments);
}

TEST_F(KilledTransfer, AtAnyPointOfAFirstTransferTheNextStartHasWholeTrees) {
    Put(source, kSharedTree, "v3");
    Put(destination, kLocalTree, "v2");
    const auto moments = Moments([&] { EXPECT_TRUE(Transfer()); });
    for (const auto& moment : moments) {
        SCOPED_TRACE(moment);
        PutBack(moment);
        const bool reached = NewTreeReached();
        MessageBoxWatcher boxes;
        EXPECT_TRUE(RepairShown(destination));
        EXPECT_TRUE(HoldsExactly(destination, reached ? "v3" : "v2"));
        if (reached) EXPECT_TRUE(HoldsExactly(save, "v2"));
        else EXPECT_FALSE(Exists(save)) << "no save is made up out of a fresh next tree";
        EXPECT_TRUE(NoTraceLeft());
        EXPECT_EQ(boxes.Count(), 0u);
    }
}

// A failed switch and the putting back after it, killed at any point.
TEST_F(KilledTransfer, InThePuttingBackAfterAFailureTheNextStartHasWholeTrees) {
    Prepare();
    const auto moments = Moments([&] {
        TransferOptions options;
        options.beforeSwitch = [](uint64_t) { return false; };
        EXPECT_FALSE(TransferTree(source, destination, nullptr, options).ok);
    });
    // The build (a rename, 3 moves, 3 copies and their middles), the 3 moves back, the
    // rename back, and the end.
    ASSERT_EQ(moments.size(), 15u);
    PutBack(moments.back());
    EXPECT_TRUE(HoldsExactly(destination, "v2"));
    EXPECT_TRUE(HoldsExactly(save, "v1 as saved"));
    for (const auto& moment : moments) {
        SCOPED_TRACE(moment);
        PutBack(moment);
        const bool reached = NewTreeReached();
        MessageBoxWatcher boxes;
        EXPECT_TRUE(RepairShown(destination));
        ExpectWhole(reached);
        EXPECT_EQ(boxes.Count(), 0u);
    }
}

// The repair is killed too: whatever it leaves, the next one ends with whole trees.
TEST_F(KilledTransfer, AKilledRepairLeavesWorkForTheNext) {
    Prepare();
    const auto transferMoments = Moments([&] { EXPECT_TRUE(Transfer()); });
    // Killed while the save was being made the next tree (taken back), and just before the
    // next tree took the destination's name (finished).
    for (const size_t at : {size_t(4), size_t(11)}) {
        PutBack(transferMoments[at]);
        const bool reached = NewTreeReached();
        ASSERT_EQ(reached, at == 11u);
        const auto repairMoments = Moments([&] { EXPECT_TRUE(RepairShown(destination)); });
        ExpectWhole(reached);
        for (size_t i = 0; i + 1 < repairMoments.size(); ++i) {
            SCOPED_TRACE(repairMoments[i]);
            PutBack(repairMoments[i]);
            EXPECT_TRUE(TransferInterrupted(destination)) << "a repair cut short leaves its traces";
            MessageBoxWatcher boxes;
            EXPECT_TRUE(RepairShown(destination));
            ExpectWhole(reached);
            EXPECT_EQ(boxes.Count(), 0u);
        }
    }
}

// A next tree whose record no longer matches it (a delete cut short, a crash) is never
// switched in: the save comes back as it was.
TEST_F(KilledTransfer, APartialNextTreeIsNeverSwitchedIn) {
    Prepare();
    const auto moments = Moments([&] { EXPECT_TRUE(Transfer()); });
    const struct {
        const char* what;
        std::function<void()> damage;
    } damages[] = {
        {"a written file missing", [&] { DeleteFileA((next + "\\shared.txt").c_str()); }},
        {"a written file cut short", [&] { WriteFile(next + "\\sub\\x.txt", "x"); }},
        {"a file too many", [&] { WriteFile(next + "\\stray.txt", "stray"); }},
    };
    // Killed after the record, and after the destination was renamed to the save.
    for (const size_t moment : {size_t(10), size_t(11)}) {
        for (const auto& d : damages) {
            SCOPED_TRACE(std::string(d.what) + ", moment " + std::to_string(moment));
            PutBack(moments[moment]);
            ASSERT_TRUE(Exists(check));
            d.damage();
            MessageBoxWatcher boxes;
            EXPECT_TRUE(RepairShown(destination));
            EXPECT_TRUE(HoldsExactly(destination, "v2"));
            if (std::string(d.what) != "a file too many") EXPECT_TRUE(HoldsExactly(save, "v1 as saved"));
            EXPECT_EQ(boxes.Count(), 0u);
            EXPECT_TRUE(Transfer());
            EXPECT_TRUE(SameTree(source, destination));
            EXPECT_TRUE(HoldsExactly(save, "v2"));
        }
    }
}

// Killed between the save's rename and its journal: nothing had changed, and the next
// tree is the save again.
TEST_F(TreeTransfer, ANextTreeWithoutItsJournalIsTheUntouchedSave) {
    Prepare();
    ASSERT_TRUE(MoveFileExA(save.c_str(), next.c_str(), 0));
    EXPECT_TRUE(TransferInterrupted(destination));
    MessageBoxWatcher boxes;
    EXPECT_TRUE(RepairShown(destination));
    EXPECT_TRUE(HoldsExactly(destination, "v2"));
    ExpectSaveAsItWas();
    EXPECT_TRUE(NoTraceLeft());
    EXPECT_EQ(boxes.Count(), 0u);
}

// What an earlier version of the program left when it was killed is put right as it
// would have done: a checked copy is switched in, anything else goes back to the last
// whole tree.
TEST_F(TreeTransfer, WhatAnEarlierVersionLeftIsRepaired) {
    const TreeContents partial = {{"shared.txt", "from the sh"}};
    struct Case {
        const char* moment;
        std::vector<std::pair<const char*, const char*>> left;  // suffix of the destination's name, tree
        const char* destinationAfter;
        const char* saveAfter;  // null: no save
    };
    const Case cases[] = {
        {"while copying", {{"", "local"}, {".saved", "older"}, {".incoming", "partial"}}, "local", "older"},
        {"complete copy without its record", {{"", "local"}, {".saved", "older"}, {".complete", "shared"}}, "local", "older"},
        {"while the old save goes", {{"", "shared"}, {".saved", "local"}, {".2delete", "partial"}}, "shared", "local"},
        {"old save left alone", {{"", "local"}, {".2delete", "older"}}, "local", "older"},
        {"destination missing", {{".saved", "local"}, {".2delete", "older"}}, "local", "older"},
        {"a let-go tree", {{"", "local"}, {".saved", "older"}, {".deleting-01d9a1b2c3d4e5f6-1a2b3", "partial"}}, "local", "older"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.moment);
        RemoveTree(dir / "Work");
        RemoveTree(dir / "reference");
        const std::map<std::string, TreeContents> trees = {
            {"shared", kSharedTree}, {"local", kLocalTree}, {"older", kOlderTree}, {"partial", partial}};
        for (const auto& [name, tree] : trees) MakeTree(Reference(name), tree);
        for (const auto& folder : c.left) MakeTree(destination + folder.first, trees.at(folder.second));
        EXPECT_TRUE(TransferInterrupted(destination));
        MessageBoxWatcher boxes;
        EXPECT_TRUE(RepairShown(destination));
        EXPECT_TRUE(Holds(destination, c.destinationAfter));
        if (c.saveAfter) EXPECT_TRUE(Holds(save, c.saveAfter));
        else EXPECT_FALSE(Exists(save));
        EXPECT_TRUE(NoTraceLeft());
        EXPECT_FALSE(TransferInterrupted(destination));
        EXPECT_EQ(boxes.Count(), 0u);
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
    EXPECT_TRUE(NoTraceLeft());
}

// Every file written is on disk, and the folders that name them, before the record calls
// the next tree whole; the files the save kept are not flushed again; the renames are on
// disk once the switch is done.
TEST_F(TreeTransfer, WhatWasWrittenIsOnDiskBeforeTheRecordCallsTheTreeWhole) {
    Prepare();
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
    const auto record = std::find(seen.begin(), seen.end(), FlushedName(check + ".new"));
    ASSERT_NE(record, seen.end());
    const auto flushedBefore = [&](const std::string& path) {
        return std::find(seen.begin(), record, FlushedName(path)) != record;
    };
    for (const auto& file : {"shared.txt", "added.txt", "sub\\x.txt"}) EXPECT_TRUE(flushedBefore(next + "\\" + file)) << file;
    for (const auto& folder : {"", "\\sub", "\\sub\\deeper"}) EXPECT_TRUE(flushedBefore(next + folder)) << folder;
    EXPECT_FALSE(std::count(seen.begin(), seen.end(), FlushedName(next + "\\same.txt"))) << "kept, on disk already";
    const auto lastRename = std::find(seen.rbegin(), seen.rend(), "rename");
    EXPECT_NE(std::find(seen.rbegin(), lastRename, FlushedName(dir / "Work")), lastRename);
    EXPECT_TRUE(SameTree(source, destination));
}

// A set-aside folder takes its name only once it is whole and on disk, and its files are
// its own: opening and changing one changes nothing else.
TEST_F(TreeTransfer, ASetAsideIsAWholeCopyNamedOnlyWhenWholeAndOnDisk) {
    Put(source, kSharedTree, "shared");
    const std::string aside = FreeAsideFolder(source);
    SetAsideResult made;
    std::vector<std::string> seen;
    {
        FlushedFiles flushes;
        made = SetTreeAside(source, aside);
        seen = flushes.Log();
    }
    ASSERT_TRUE(made.ok);
    EXPECT_EQ(made.folder, aside);
    EXPECT_TRUE(SameTreeExactly(source, aside));
    EXPECT_FALSE(Exists(aside + ".incoming"));
    for (const auto& file : {"shared.txt", "sub\\x.txt", "sub\\deeper\\y.txt"}) {
        EXPECT_NE(std::find(seen.begin(), seen.end(), FlushedName(aside + ".incoming\\" + file)), seen.end()) << file;
        EXPECT_NE(IdentityOf(aside + "\\" + file).id, IdentityOf(source + "\\" + file).id) << file;
    }
    WriteFile(aside + "\\shared.txt", "changed in the set-aside");
    EXPECT_TRUE(Holds(source, "shared"));

    // A copy cut short left its ".incoming"; a second set-aside in the same second takes
    // another name, and one that cannot read a file leaves nothing of either name.
    const std::string second = FreeAsideFolder(source);
    EXPECT_NE(second, aside);
    MakeTree(second + ".incoming", {{"half.txt", "half"}});
    const std::string third = FreeAsideFolder(source);
    EXPECT_NE(third, second);
    HeldOpen holder(source + "\\sub\\x.txt");
    const SetAsideResult failed = SetTreeAside(source, third);
    EXPECT_FALSE(failed.ok);
    ASSERT_FALSE(failed.messages.empty());
    EXPECT_NE(failed.messages[0].text.find("x.txt"), std::string::npos) << failed.messages[0].text;
    EXPECT_FALSE(Exists(third));
    EXPECT_FALSE(Exists(third + ".incoming"));
}

// No two trees share a file: a program that opens the backup and writes into it changes
// the backup only, and the next tree made out of that backup does not keep the change.
TEST_F(TreeTransfer, WritingIntoTheSaveChangesNeitherTheDataNorTheNextTree) {
    Prepare();
    for (const auto& file : {"same.txt", "empty\\new in the save.txt"}) {
        const std::string path = save + "\\" + file;
        WriteFile(path, ReadFileOr(path, "") + "written into the save");
    }
    EXPECT_TRUE(HoldsExactly(destination, "v2"));
    EXPECT_TRUE(Holds(source, "v3"));

    ASSERT_TRUE(Transfer());
    EXPECT_TRUE(SameTreeExactly(source, destination));
    EXPECT_TRUE(HoldsExactly(save, "v2"));
}

// A link in the save (a junction or symbolic link someone put there) is never worked
// in: the save stays whole, the next tree is made anew, and at the switch the save goes
// as a whole tree. Nothing is written into, or deleted from, what the link points to.
TEST_F(TreeTransfer, ASaveHoldingALinkIsNeverWorkedIn) {
    Prepare();
    MakeTree(dir / "Elsewhere", {{"keep.txt", "keep"}, {"inner\\keep too.txt", "keep too"}});
    Keep(dir / "Elsewhere", "elsewhere");
    // In place of a folder the source has too, and under a name of its own.
    RemoveTree(save + "\\empty");
    if (!MakeLink(save + "\\empty", dir / "Elsewhere", true) || !MakeLink(save + "\\linked", dir / "Elsewhere", true))
        GTEST_SKIP() << "no symbolic link can be made";
    const std::string aside = destination + ".2delete-2";
    for (int i = 0; i < 2; ++i) {
        MakeTree(source, {{"round " + std::to_string(i) + ".txt", "more"}});
        EXPECT_TRUE(Transfer()) << i;
        EXPECT_TRUE(SameTreeExactly(source, destination)) << i;
        EXPECT_TRUE(HoldsExactly(dir / "Elsewhere", "elsewhere")) << i;
        EXPECT_TRUE(NoTraceLeft());
    }
    // Windows deletes the old save, removing its links as links. Wine 8 has no call that
    // removes a link to a folder (each one reaches what it points to instead): there the
    // delete stops at the link, and the old save stays under its own name.
    if (Exists(aside)) {
        for (const char* link : {"\\empty", "\\linked"})
            if (Exists(aside + link)) RemoveLink(aside + link);
        EXPECT_TRUE(HoldsExactly(dir / "Elsewhere", "elsewhere"));
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
    EXPECT_TRUE(NoTraceLeft());
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
    EXPECT_TRUE(HoldsExactly(destination, "local"));
    EXPECT_TRUE(HoldsExactly(save, "older"));
    EXPECT_TRUE(NoTraceLeft());
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
    EXPECT_TRUE(HoldsExactly(destination, "local"));
    EXPECT_TRUE(HoldsExactly(save, "older"));

    // Empty over empty is no loss, and no change: the save stays the older tree.
    RemoveTree(destination);
    MakeFolder(destination);
    MessageBoxWatcher boxes;
    EXPECT_TRUE(Transfer());
    EXPECT_TRUE(ListTree(destination).empty());
    EXPECT_TRUE(HoldsExactly(save, "older"));
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(TreeTransfer, ATrailingSeparatorIsRefusedBeforeAnythingIsTouched) {
    Put(source, kSharedTree, "shared");
    // Folders of the user's own that a transfer to "Data\" would take for its siblings.
    TreeContents withLookalikes = kLocalTree;
    withLookalikes.push_back({".saved\\mine.txt", "mine"});
    withLookalikes.push_back({".next\\mine.txt", "mine"});
    Put(destination, withLookalikes, "local");
    MessageBoxWatcher boxes;
    ShellCalls shell;

    EXPECT_FALSE(TransferShown(source, destination + "\\"));
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"renaming", SystemErrorName(ERROR_INVALID_NAME)},
                                              {"Renaming folder to save", "Error occuried during rename"}}));
    EXPECT_TRUE(HoldsExactly(destination, "local"));
    EXPECT_FALSE(Exists(save));
    EXPECT_FALSE(TransferInterrupted((destination + "\\").c_str()));
    EXPECT_TRUE(RepairShown(destination + "\\"));
    EXPECT_TRUE(HoldsExactly(destination, "local"));
}

// Greek, CJK and an emoji: copied, checked and kept by their own names.
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
    // And back again, over the same names, twice, so that the save with those names is
    // made into the next tree.
    for (const char* content : {"CJK, changed", "CJK, changed again"}) {
        WriteFileUtf8(destination, files[0].first, content);
        ASSERT_TRUE(TransferShown(destination, source));
        EXPECT_TRUE(SameTreeExactly(destination, source, &difference)) << difference;
    }
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
    EXPECT_TRUE(SameTreeExactly(source, destination, &difference)) << difference;
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

// A 4 MB disk that scripts/test.sh mounts for this test (Linux tmpfs, as root). A copy
// onto a full disk can be reported as done with the last file cut short.
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

// The disk fills up while the save is being made the next tree: the save comes back as
// it was, byte for byte.
TEST_F(FullDisk, ADestinationThatFillsUpKeepsItsDataAndItsSave) {
    const std::string source = dir / "Shared";
    const std::string destination = root + "\\Data";
    MakeTree(source, {{"small.txt", "small"}, {"big.bin", std::string(6u << 20, 'B')}});
    MakeTree(destination, {{"local.txt", "local data"}});
    MakeTree(destination + ".saved", {{"older.txt", "older"}, {"small.txt", "older small"}});
    CopyTree(destination, dir / "local");
    CopyTree(destination + ".saved", dir / "older");
    {
        MessageBoxWatcher boxes;
        EXPECT_FALSE(TransferShown(source, destination));
        // The copy call itself names the failure: no "NO ERROR" from a shell that said nothing.
        const std::string text = ExpectCopyStepFailed(boxes.CaptionsAndTexts());
        EXPECT_NE(text.find("ERROR DISK FULL"), std::string::npos) << text;
        EXPECT_NE(text.find(source + "\\big.bin"), std::string::npos) << text;
    }
    std::string difference;
    EXPECT_TRUE(SameTreeExactly(dir / "local", destination, &difference)) << difference;
    EXPECT_TRUE(SameTreeExactly(dir / "older", destination + ".saved", &difference)) << difference;
    EXPECT_FALSE(Exists(destination + ".next"));

    // Room enough once the big file is gone: the next transfer goes through.
    DeleteFileA((source + "\\big.bin").c_str());
    MessageBoxWatcher boxes;
    EXPECT_TRUE(TransferShown(source, destination));
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(SameTree(dir / "local", destination + ".saved"));
}

}  // namespace
