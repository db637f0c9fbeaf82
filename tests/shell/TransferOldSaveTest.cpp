// The local side takes from its old save what the share's tree still holds: the save
// before last is deleted at the switch anyway, so its files, linked into the new tree,
// are written nowhere again. The new tree must still be independent of the save the
// user keeps, a failure must leave that save as it was, and a file of the old save that
// anybody wrote since a transfer made it is taken only with the share's content.
#include "ShellTestKit.h"
#include "shell/Wintools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>


using namespace testsupport;
using namespace shelltest;

namespace {

class OldSave : public ::testing::Test {
protected:
    void SetUp() override {
        TreeSpec tree;
        for (int i = 0; i < 8; ++i) tree.push_back({"f\\" + std::to_string(i) + ".txt", "file " + std::to_string(i)});
        tree.push_back({"notes.txt", "notes v1"});
        MakeTree(share, tree);
        MakeTree(local, {{"mine.txt", "the local data before any copy"}});
        MakeFolder(dir / "pcB\\Data");
    }

    TransferResult CopyIn(TransferOptions options = {}) {
        options.linkFromOldSave = true;
        TransferResult result = TransferTree(share, local, nullptr, options);
        EXPECT_TRUE(result.ok) << (result.messages.empty() ? "" : result.messages[0].text);
        return result;
    }
    // Another PC saves a change to the share: a new file there, as a transfer makes it.
    void AnotherPcSaves(const std::string& name, const std::string& text) {
        const std::string other = dir / "pcB\\Data";
        ASSERT_TRUE(TransferTree(share, other).ok);
        WriteFile(other + "\\" + name, text);
        TransferOptions linking;
        linking.linkUnchanged = true;
        ASSERT_TRUE(TransferTree(other, share, nullptr, linking).ok);
    }
    // Two copies in after the first: then the old save holds the share's tree of two
    // saves ago, with the manifest it was made with.
    void LocalWithAnOldSave() {
        CopyIn();
        AnotherPcSaves("notes.txt", "notes v2");
        CopyIn();
        AnotherPcSaves("notes.txt", "notes v3");
    }

    TempDir dir;
    const std::string share = dir / "Shared\\Data";
    const std::string local = dir / "pcA\\Data";
    const std::string save = local + ".saved";
};

TEST_F(OldSave, ItsFilesAreLinkedAndTheNewTreeStaysIndependentOfTheSave) {
    LocalWithAnOldSave();
    const TransferResult in = CopyIn();
    // The notes changed twice: the old save's are two saves old, the save's one.
    EXPECT_EQ(in.figures.filesLinked, FilesIn(share) - 1);
    EXPECT_EQ(in.figures.filesFromBackup, 0u);
    EXPECT_EQ(in.figures.filesFromSource, 1u);
    ExpectSameTree(share, local);
    EXPECT_EQ(ReadFile(save + "\\notes.txt"), "notes v2");
    EXPECT_FALSE(Exists(local + ".2delete"));
    // The old save is gone: every file of the new tree has one name only.
    for (const auto& entry : ListTree(local))
        if (!entry.folder) EXPECT_EQ(IdentityOf(local + "\\" + entry.relative).links, 1u) << entry.relative;

    // The program writes in place; the save keeps what it had.
    WriteFile(local + "\\f\\3.txt", "file 3, edited");
    EXPECT_EQ(ReadFile(save + "\\f\\3.txt"), "file 3");

    // The next copy in after another save takes from the save, the tree of one save ago.
    AnotherPcSaves("f\\5.txt", "file 5, from pcB");
    const TransferResult next = CopyIn();
    EXPECT_EQ(ReadFile(local + "\\f\\3.txt"), "file 3");
    EXPECT_EQ(ReadFile(local + "\\f\\5.txt"), "file 5, from pcB");
    EXPECT_EQ(ReadFile(save + "\\f\\3.txt"), "file 3, edited");
    EXPECT_EQ(next.figures.filesFromSource, 1u);  // f\5.txt
    ExpectSameTree(share, local);
}

// The old save's file written since a transfer made it: written again with other content
// and its times put back, it must not pass for the share's file; written by the program
// and carried to the share unchanged since, it is taken, and put on disk with the tree.
TEST_F(OldSave, AFileWrittenSinceATransferMadeItIsTakenOnlyWithTheSharesContent) {
    CopyIn();
    WriteFile(local + "\\f\\1.txt", "file 1, the program's");
    TransferOptions linking;
    linking.linkUnchanged = true;
    ASSERT_TRUE(TransferTree(local, share, nullptr, linking).ok);
    CopyIn();  // nothing changed: no switch
    AnotherPcSaves("notes.txt", "notes v2");
    CopyIn();
    AnotherPcSaves("notes.txt", "notes v3");
    // The old save now holds the program's f\1.txt. Someone edits f\2.txt there, keeping
    // its size and times.
    const std::string oldSave = save;
    const auto listed = ListTree(oldSave);
    {
        HANDLE file = CreateFileA((oldSave + "\\f\\2.txt").c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILETIME created, accessed, written;
        GetFileTime(file, &created, &accessed, &written);
        DWORD done = 0;
        ::WriteFile(file, "FILE 2", 6, &done, nullptr);
        SetFileTime(file, &created, &accessed, &written);
        CloseHandle(file);
    }
    ASSERT_EQ(ListTree(oldSave), listed);
    FlushedFiles flushed;
    const TransferResult in = CopyIn();
    EXPECT_EQ(ReadFile(local + "\\f\\2.txt"), "file 2");
    EXPECT_EQ(ReadFile(local + "\\f\\1.txt"), "file 1, the program's");
    ExpectSameTree(share, local);
    EXPECT_EQ(in.figures.filesLinked, FilesIn(share) - 2);  // not f\2.txt, not the notes
    EXPECT_TRUE(flushed.Has(local + ".incoming\\f\\1.txt"))
        << "a file the program wrote is put on disk before the tree is switched in";
    EXPECT_FALSE(flushed.Has(local + ".incoming\\f\\4.txt")) << "a file a transfer made is on disk already";
}

// A transfer that fails after it linked leaves the save and its files as they were: the
// links go, and the save's files keep their content, times and attributes.
TEST_F(OldSave, AFailureAfterTheLinksLeavesTheSaveAsItWas) {
    LocalWithAnOldSave();
    const auto saveBefore = ListTree(save);
    const auto localBefore = ListTree(local);
    {
        // The disk refuses the flush: the links are made by then.
        const auto previous = Platform().flushFile;
        Platform().flushFile = [](HANDLE) -> BOOL {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        };
        TransferOptions options;
        options.linkFromOldSave = true;
        const TransferResult failed = TransferTree(share, local, nullptr, options);
        Platform().flushFile = previous;
        EXPECT_FALSE(failed.ok);
    }
    EXPECT_FALSE(Exists(local + ".incoming"));
    EXPECT_EQ(ListTree(save), saveBefore);
    EXPECT_EQ(ListTree(local), localBefore);
    EXPECT_EQ(ReadFile(save + "\\f\\0.txt"), "file 0");
    EXPECT_EQ(IdentityOf(save + "\\f\\0.txt").links, 1u);

    // Making and deleting the links moved the save's change times: its files vouch for
    // nothing now and are copied, the tree is the share's all the same.
    const TransferResult in = CopyIn();
    EXPECT_EQ(in.figures.filesLinked, 0u);
    ExpectSameTree(share, local);
    EXPECT_EQ(ReadFile(save + "\\notes.txt"), "notes v2");
}

// A kill while the new tree was built leaves links to the save's files under the
// incoming name, and a kill while the old save went leaves its rest under a name of its
// own, sharing files with the live tree. Neither changes a file of the save or of the
// live tree when the next transfer clears it away, read-only files included.
TEST_F(OldSave, WhatAKillLeftIsClearedWithoutTouchingTheTreesItSharesFilesWith) {
    LocalWithAnOldSave();
    // Left by a kill during the build: some of the save's files linked.
    MakeFolder(local + ".incoming\\f");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(CreateHardLinkA((local + ".incoming\\f\\" + std::to_string(i) + ".txt").c_str(),
                                    (save + "\\f\\" + std::to_string(i) + ".txt").c_str(), nullptr));
    // Left by a kill while the old save went: names of live files, one made read-only by
    // the program since.
    const std::string leftover = local + ".deleting-01dc0123456789ab-4d2";
    MakeFolder(leftover + "\\f");
    ASSERT_TRUE(CreateHardLinkA((leftover + "\\f\\6.txt").c_str(), (local + "\\f\\6.txt").c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesA((local + "\\f\\6.txt").c_str(), FILE_ATTRIBUTE_READONLY));

    TransferOptions options;
    options.deleteOldSaveLater = true;
    const TransferResult in = CopyIn(options);
    ASSERT_TRUE(WaitForBackgroundDeletes(60000));
    EXPECT_FALSE(Exists(local + ".incoming"));
    EXPECT_FALSE(Exists(leftover));
    ExpectSameTree(share, local);
    // The live file that became the save keeps its attribute; the save has the tree it had.
    EXPECT_NE(GetFileAttributesA((save + "\\f\\6.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(ReadFile(save + "\\f\\6.txt"), "file 6");
    EXPECT_EQ(ReadFile(save + "\\notes.txt"), "notes v2");
    // The three the killed build had linked vouch for nothing any more (their change
    // times moved): they are copied.
    EXPECT_EQ(in.figures.filesLinked, FilesIn(share) - 1 - 3);
}

// Killed between the switch and the move of the manifest: the new tree's name holds the
// manifest of the tree that became the save, and the save's name the manifest of the tree
// let go. Each names its tree's root and each file's ID and change time, so neither
// vouches for a file of another tree: the next copy in takes nothing on their word and
// still makes the share's tree.
TEST_F(OldSave, ManifestsLeftInTheWrongPlaceByAKillVouchForNothing) {
    LocalWithAnOldSave();
    const std::string manifest = local + ".manifest", savedManifest = save + ".manifest";
    const std::string letGoManifest = ReadFile(savedManifest);
    CopyIn();
    MoveFileExA(savedManifest.c_str(), manifest.c_str(), MOVEFILE_REPLACE_EXISTING);
    WriteFile(savedManifest, letGoManifest);

    AnotherPcSaves("f\\5.txt", "file 5, from pcB");
    const TransferResult in = CopyIn();
    EXPECT_EQ(in.figures.filesLinked, 0u);
    ExpectSameTree(share, local);
    EXPECT_EQ(ReadFile(save + "\\notes.txt"), "notes v3");
    EXPECT_EQ(ReadFile(save + "\\f\\5.txt"), "file 5");
}

}  // namespace
