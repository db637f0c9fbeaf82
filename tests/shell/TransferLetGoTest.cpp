// The save before last let go in the background: renamed to a name of its own, deleted on
// a thread while the caller goes on, and, when a kill cuts that short, deleted by the next
// transfer. Such a name is never taken for a tree in use.
#include "ShellTestKit.h"
#include "shell/TreeListing.h"
#include "shell/Wintools.h"
#include "support/MessageBoxes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace testsupport;
using namespace shelltest;

namespace {

constexpr DWORD kDeletePatienceMs = 60000;

class LetGo : public ::testing::Test {
protected:
    TransferResult TransferLater() {
        TransferOptions options;
        options.deleteOldSaveLater = true;
        TransferResult result = TransferTree(source, destination, nullptr, options);
        for (const Message& m : result.messages) ADD_FAILURE() << m.title << ": " << m.text;
        return result;
    }

    // The folders beside the destination, by name.
    std::vector<std::string> Siblings() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir / "Work\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<std::string> LetGoLeft() const {
        std::vector<std::string> left;
        for (const std::string& name : Siblings())
            if (name.rfind("Data.deleting-", 0) == 0) left.push_back(name);
        return left;
    }

    // A tree of many files, so that deleting it takes a while.
    static TreeSpec ManyFiles(const std::string& tag, int count) {
        TreeSpec tree;
        for (int i = 0; i < count; ++i) tree.push_back({"f\\" + std::to_string(i) + ".txt", tag + std::to_string(i)});
        return tree;
    }

    TempDir dir;
    const std::string source = dir / "Shared\\Data";
    const std::string destination = dir / "Work\\Data";
    const std::string save = destination + ".saved";
};

TEST_F(LetGo, TheOldSaveIsRenamedAtOnceAndDeletedInTheBackground) {
    MakeTree(source, {{"new.txt", "new"}});
    MakeTree(destination, {{"now.txt", "now"}});
    MakeTree(save, ManyFiles("older", 300));
    ASSERT_TRUE(TransferLater().ok);
    // Whatever the delete thread has done so far, no name of the rotation holds the old save.
    EXPECT_EQ(ReadFileOr(destination + "\\new.txt", "<none>"), "new");
    EXPECT_EQ(ReadFileOr(save + "\\now.txt", "<none>"), "now");
    EXPECT_FALSE(Exists(destination + ".2delete"));
    EXPECT_FALSE(TransferInterrupted(destination));
    ASSERT_TRUE(WaitForBackgroundDeletes(kDeletePatienceMs));
    EXPECT_EQ(Siblings(), (std::vector<std::string>{"Data", "Data.manifest", "Data.saved"}));
}

// A kill while the old save was being deleted leaves a part of it under its let-go name:
// no repair is due, no folder of the rotation is touched, and the next transfer deletes it.
// Names that only look alike stay.
TEST_F(LetGo, AKillDuringTheDeleteLeavesANameTheNextTransferDeletes) {
    MakeTree(source, {{"new.txt", "new"}});
    MakeTree(destination, {{"now.txt", "now"}});
    MakeTree(save, {{"older.txt", "older"}});
    MakeTree(destination + ".deleting-01dc2a3b4c5d6e7f-1a2b3", ManyFiles("cut short", 40));
    MakeTree(destination + ".deleting-01dc2a3b4c5d6e80-77", {{"ro\\x.txt", "x"}, {"empty\\", ""}});
    SetFileAttributesA((destination + ".deleting-01dc2a3b4c5d6e80-77\\ro\\x.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const TreeSpec keep = {{"mine.txt", "the user's"}};
    for (const char* lookalike : {".deleting-notes", ".deleting-", ".deletingabc", ".saved.deleting-0a", "2.deleting-0a"})
        MakeTree(destination + lookalike, keep);
    WriteFile(destination + ".deleting-0b", "a file, not a tree");

    EXPECT_FALSE(TransferInterrupted(destination));
    Message lost;
    EXPECT_FALSE(DataFolderLost(destination, lost));
    EXPECT_TRUE(RepairShown(destination));
    EXPECT_TRUE(Exists(destination + ".deleting-01dc2a3b4c5d6e7f-1a2b3")) << "the repair has nothing to do with it";

    ASSERT_TRUE(TransferLater().ok);
    ASSERT_TRUE(WaitForBackgroundDeletes(kDeletePatienceMs));
    EXPECT_EQ(LetGoLeft(), (std::vector<std::string>{"Data.deleting-", "Data.deleting-0b", "Data.deleting-notes"}));
    for (const char* lookalike : {".deleting-notes", ".deleting-", ".deletingabc", ".saved.deleting-0a", "2.deleting-0a"})
        EXPECT_EQ(ReadFileOr(destination + lookalike + "\\mine.txt", "<gone>"), "the user's") << lookalike;
    EXPECT_EQ(ReadFileOr(destination + "\\new.txt", "<none>"), "new");
    EXPECT_EQ(ReadFileOr(save + "\\now.txt", "<none>"), "now");
}

// Two PCs meet the same leftover on the share and both delete it: what the other deleted
// first is no failure, and between them nothing is left.
TEST_F(LetGo, TwoDeletingTheSameLeftoverAtOnceBothFinish) {
    const std::string leftover = destination + ".deleting-01dc2a3b4c5d6e7f-2";
    MakeTree(source, {{"new.txt", "new"}});
    MakeTree(destination, {{"now.txt", "now"}});
    MakeTree(leftover, ManyFiles("left", 400));
    std::vector<::TreeEntry> entries;
    std::string problem;
    ASSERT_TRUE(::ListTree(Widen(leftover), entries, problem)) << problem;

    // The other PC deletes the same files, from the last, while this one does.
    std::atomic<int> othersDeleted{0};
    std::thread otherPc([&] {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            const std::wstring path = JoinPath(Widen(leftover), it->relative);
            if (it->folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) ++othersDeleted;
        }
        RemoveDirectoryW(Widen(leftover).c_str());
    });
    ASSERT_TRUE(TransferLater().ok);
    otherPc.join();
    ASSERT_TRUE(WaitForBackgroundDeletes(kDeletePatienceMs));
    EXPECT_FALSE(Exists(leftover));
    EXPECT_TRUE(LetGoLeft().empty());
}

// A file of the old save held open by another program: the transfer does not wait for it
// and does not fail; the rest goes, and what is left goes at a later transfer.
TEST_F(LetGo, AHeldFileNeverStopsATransferAndGoesLater) {
    MakeTree(source, {{"new.txt", "new"}});
    MakeTree(destination, {{"now.txt", "now"}});
    MakeTree(save, {{"held.txt", "held"}, {"free.txt", "free"}});
    std::unique_ptr<HeldOpen> holder;
    {
        ShellCalls shell;
        shell.SetHandler([&](SHFILEOPSTRUCTA* op) {
            const int result = ShellCalls::Real(op);
            // A program opens a file of the old save just after it was let go.
            if (op->wFunc == FO_RENAME && !holder && !LetGoLeft().empty())
                holder = std::make_unique<HeldOpen>(dir / ("Work\\" + LetGoLeft().front() + "\\held.txt"));
            return result;
        });
        ASSERT_TRUE(TransferLater().ok);
        ASSERT_TRUE(WaitForBackgroundDeletes(kDeletePatienceMs));
    }
    ASSERT_TRUE(holder && holder->Held());
    ASSERT_EQ(LetGoLeft().size(), 1u);
    const std::string left = dir / ("Work\\" + LetGoLeft().front());
    EXPECT_TRUE(Exists(left + "\\held.txt"));
    EXPECT_FALSE(Exists(left + "\\free.txt"));
    EXPECT_FALSE(TransferInterrupted(destination));

    holder.reset();
    MakeTree(source, {{"more.txt", "more"}});
    ASSERT_TRUE(TransferLater().ok);
    ASSERT_TRUE(WaitForBackgroundDeletes(kDeletePatienceMs));
    EXPECT_TRUE(LetGoLeft().empty());
    EXPECT_EQ(ReadFileOr(destination + "\\more.txt", "<none>"), "more");
}

}  // namespace

namespace {

// Deleting the old save on the share drops links to the files of the trees kept, which
// moves their change times: the manifest is written after that, so the next copy back
// still links every unchanged file instead of copying it.
TEST_F(LetGo, UnchangedFilesAreStillLinkedAfterTheOldSaveWentInTheBackground) {
    MakeTree(source, ManyFiles("v1 ", 600));
    MakeTree(destination, {{"now.txt", "now"}});
    TransferOptions options;
    options.deleteOldSaveLater = true;
    options.linkUnchanged = true;
    for (int round = 1; round <= 4; ++round) {
        SCOPED_TRACE(round);
        WriteFile(source + "\\changed.txt", "round " + std::to_string(round));
        const TransferResult result = TransferTree(source, destination, nullptr, options);
        ASSERT_TRUE(result.ok);
        ASSERT_TRUE(WaitForBackgroundDeletes(kDeletePatienceMs));
        if (round >= 2) EXPECT_EQ(result.figures.filesLinked, 600u) << "the manifest missed the files kept";
        EXPECT_EQ(ReadFileOr(destination + "\\changed.txt", "<none>"), "round " + std::to_string(round));
    }
    EXPECT_TRUE(LetGoLeft().empty());
}

}  // namespace
