#include "ShellTestKit.h"
#include "shell/Wintools.h"
#include "support/MessageBoxes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
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
    bool Transfer() { return TransferTree(source.c_str(), destination.c_str()); }

    TempDir dir;
    const std::string source = dir / "Shared\\Data";
    const std::string destination = dir / "Work\\Data";
    const std::string save = destination + ".saved";
    const std::string oldSave = destination + ".2delete";
};

TEST_F(TreeTransfer, FirstTransferKeepsTheDestinationAsSave) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    MessageBoxWatcher boxes;
    ShellCalls shell;

    EXPECT_TRUE(Transfer());
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(Holds(save, "local"));
    EXPECT_FALSE(Exists(oldSave));
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(shell.Functions(), (std::vector<UINT>{FO_RENAME, FO_COPY}));
}

TEST_F(TreeTransfer, RotatesAnExistingSave) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    Put(save, kOlderTree, "older");
    MessageBoxWatcher boxes;
    ShellCalls shell;

    EXPECT_TRUE(Transfer());
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(Holds(save, "local"));
    EXPECT_FALSE(Exists(oldSave));
    EXPECT_EQ(boxes.Count(), 0u);

    const auto calls = shell.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].function, static_cast<UINT>(FO_RENAME));
    EXPECT_EQ(calls[0].to, oldSave);
    EXPECT_EQ(calls[1].function, static_cast<UINT>(FO_RENAME));
    EXPECT_EQ(calls[1].from, destination);
    EXPECT_EQ(calls[1].to, save);
    EXPECT_EQ(calls[2].function, static_cast<UINT>(FO_COPY));
    EXPECT_EQ(calls[2].from, source + "\\*.*");
    EXPECT_EQ(calls[2].to, destination);
    EXPECT_EQ(calls[3].function, static_cast<UINT>(FO_DELETE));
    EXPECT_EQ(calls[3].from, oldSave);
}

TEST_F(TreeTransfer, RemovesALeftOverOldSaveBeforeAnythingElse) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    Put(save, kOlderTree, "older");
    MakeTree(oldSave, {{"stale.txt", "stale"}, {"sub\\ro.txt", "read-only"}});
    SetFileAttributesA((oldSave + "\\sub\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ShellCalls shell;

    EXPECT_TRUE(Transfer());
    ASSERT_FALSE(shell.Calls().empty());
    EXPECT_EQ(shell.Calls()[0].function, static_cast<UINT>(FO_DELETE));
    EXPECT_EQ(shell.Calls()[0].from, oldSave);
    EXPECT_EQ(shell.Functions(), (std::vector<UINT>{FO_DELETE, FO_RENAME, FO_RENAME, FO_COPY, FO_DELETE}));
    EXPECT_TRUE(SameTree(source, destination));
    EXPECT_TRUE(Holds(save, "local"));
    EXPECT_FALSE(Exists(oldSave));
}

TEST_F(TreeTransfer, AMissingDestinationFailsTheRenameAfterMovingTheSave) {
    Put(source, kSharedTree, "shared");
    Put(save, kOlderTree, "older");
    MessageBoxWatcher boxes;
    ShellCalls shell;

    EXPECT_FALSE(Transfer());
    const auto calls = shell.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(boxes.CaptionsAndTexts(),
              (Boxes{{"renaming", SystemErrorName(static_cast<int32_t>(calls[1].lastError))},
                     {"Renaming folder to save", "Error occuried during rename"}}));
    EXPECT_TRUE(Holds(oldSave, "older"));
    EXPECT_FALSE(Exists(save));
    EXPECT_FALSE(Exists(destination));
}

// After the call above the old save is the only tree left; a further call must not
// delete it.
TEST_F(TreeTransfer, ARepeatedFailureKeepsTheOnlySurvivingTree) {
    Put(source, kSharedTree, "shared");
    Put(save, kOlderTree, "older");
    MessageBoxWatcher boxes;
    EXPECT_FALSE(Transfer());
    EXPECT_FALSE(Transfer());
    EXPECT_FALSE(Transfer());
    EXPECT_EQ(Holders("older"), std::vector<std::string>{oldSave});
    EXPECT_EQ(boxes.Count(), 6u);
    EXPECT_EQ(boxes.Seen().back().caption, "Renaming folder to save");
}

TEST_F(TreeTransfer, AMissingSourceStillMovesTheDestinationToSave) {
    Put(destination, kLocalTree, "local");
    MessageBoxWatcher boxes;
    ShellCalls shell;

    EXPECT_FALSE(Transfer());
    const auto seen = boxes.CaptionsAndTexts();
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(shell.Calls().size(), 2u);
    EXPECT_EQ(seen[0].first, "Copying");
    EXPECT_TRUE(IsFailureText(seen[0].second, shell.Calls()[1], source)) << seen[0].second;
    EXPECT_EQ(seen[1], std::make_pair(std::string("Copying"), std::string("Error occuried during filecopy")));
    EXPECT_FALSE(Exists(destination));
    EXPECT_TRUE(Holds(save, "local"));
}

TEST_F(TreeTransfer, ATrailingSeparatorPutsTheNamesInsideTheDestination) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    MessageBoxWatcher boxes;
    ShellCalls shell;

    EXPECT_FALSE(TransferTree(source.c_str(), (destination + "\\").c_str()));
    const auto calls = shell.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].from, destination + "\\");
    EXPECT_EQ(calls[0].to, destination + "\\.saved");
    EXPECT_EQ(boxes.CaptionsAndTexts(),
              (Boxes{{"renaming", SystemErrorName(static_cast<int32_t>(calls[0].lastError))},
                     {"Renaming folder to save", "Error occuried during rename"}}));
    EXPECT_TRUE(Holds(destination, "local"));
    EXPECT_FALSE(Exists(save));
}

TEST_F(TreeTransfer, AUserCancelOfTheCopyFailsTheTransfer) {
    Put(source, kSharedTree, "shared");
    Put(destination, kLocalTree, "local");
    MessageBoxWatcher boxes;
    ShellCalls shell;
    shell.SetHandler([](SHFILEOPSTRUCTA* op) { return op->wFunc == FO_COPY ? CancelAtOnce(op) : ShellCalls::Real(op); });

    EXPECT_FALSE(Transfer());
    EXPECT_EQ(boxes.CaptionsAndTexts(),
              (Boxes{{"Copying", "User aborted copy"}, {"Copying", "Error occuried during filecopy"}}));
    EXPECT_TRUE(Holds(save, "local"));
    EXPECT_FALSE(Exists(destination));
}

// Whichever step fails, the destination as it was is whole under one of the rotation's
// names, and once the cause is gone the next transfer succeeds.
TEST_F(TreeTransfer, AFailureAtAnyStepLeavesThePreviousTreeWhole) {
    struct Case {
        const char* step;
        const char* operationTitle;
        std::pair<std::string, std::string> stepBox;
        std::function<std::string(TreeTransfer&)> holdOpen;  // what to hold, "" for nothing
        bool failInFinalDelete;
    };
    const std::pair<std::string, std::string> deleteBox{"Deleting old save folder", "Error occured during delete"};
    const Case cases[] = {
        {"2", "Deleting", deleteBox, [](TreeTransfer& t) { return t.oldSave + "\\open.dat"; }, false},
        {"3", "renaming", {"Renaming save to old save", "Error occuried during rename"},
         [](TreeTransfer& t) { return t.save; }, false},
        {"4", "renaming", {"Renaming folder to save", "Error occuried during rename"},
         [](TreeTransfer& t) { return t.destination; }, false},
        {"5", "Copying", {"Copying", "Error occuried during filecopy"},
         [](TreeTransfer& t) { return t.source + "\\sub\\x.txt"; }, false},
        {"6", "Deleting", deleteBox, [](TreeTransfer&) { return std::string(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("failing step ") + c.step);
        RemoveTree(dir / "Shared");
        RemoveTree(dir / "Work");
        RemoveTree(dir / "reference");
        Put(source, kSharedTree, "shared");
        Put(destination, kLocalTree, "local");
        Put(save, kOlderTree, "older");
        if (c.step == std::string("2")) MakeTree(oldSave, {{"open.dat", "in use"}});

        std::unique_ptr<HeldOpen> holder;
        const std::string held = c.holdOpen(*this);
        if (!held.empty()) {
            holder = std::make_unique<HeldOpen>(held);
            ASSERT_TRUE(holder->Held()) << held;
        }
        {
            MessageBoxWatcher boxes;
            ShellCalls shell;
            if (c.failInFinalDelete) {
                // A program opens a file of the old save just before it is deleted.
                shell.SetHandler([&](SHFILEOPSTRUCTA* op) {
                    if (op->wFunc == FO_DELETE) holder = std::make_unique<HeldOpen>(oldSave + "\\older.txt");
                    return ShellCalls::Real(op);
                });
            }
            EXPECT_FALSE(Transfer());
            const auto seen = boxes.CaptionsAndTexts();
            const auto calls = shell.Calls();
            ASSERT_EQ(seen.size(), 2u);
            ASSERT_FALSE(calls.empty());
            EXPECT_EQ(seen[0].first, c.operationTitle);
            EXPECT_TRUE(IsFailureText(seen[0].second, calls.back(), held)) << seen[0].second;
            EXPECT_EQ(seen[1], c.stepBox);
        }
        holder.reset();  // a folder held open cannot be listed
        EXPECT_EQ(Holders("local").size(), 1u) << "the previous destination is whole under one name";

        MessageBoxWatcher boxes;
        EXPECT_TRUE(Transfer());
        EXPECT_TRUE(SameTree(source, destination));
        EXPECT_EQ(boxes.Count(), 0u);
    }
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

    ASSERT_TRUE(TransferTree(source.c_str(), destination.c_str()));
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
