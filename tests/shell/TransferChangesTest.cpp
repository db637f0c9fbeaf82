// What counts as a change between the source and the destination's trees: a file written
// since the last transfer is changed whatever its size and times say, an equal tree is
// left alone, no two trees share a file, and the litter that Explorer and macOS leave
// behind is no change to the shared data.
#include "ShellTestKit.h"
#include "shell/Wintools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>

using namespace testsupport;
using namespace shelltest;

namespace {

const TreeContents kData = {
    {"data.txt", "Ledger of Marrowkeep, page one"},
    {"b.txt", "bravo"},
    {"sub\\c.txt", "charlie"},
    {"sub\\deep\\d.txt", "delta"},
    {"empty\\", ""},
};

FILETIME LastWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// Edits a file in place as some programs do: the letters change case, then the file's
// times are put back, so that name, size, last-write time and attributes say nothing.
void EditKeepingSizeAndTimes(const std::string& path) {
    std::string text = ReadFile(path);
    for (char& c : text) c = std::isupper(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c))
                                                                           : static_cast<char>(std::toupper(c));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    FILETIME created, accessed, written;
    GetFileTime(file, &created, &accessed, &written);
    DWORD done = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    SetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    const FILETIME after = LastWriteTime(path);
    ASSERT_EQ(CompareFileTime(&written, &after), 0);
}

// A shared data folder and the local data folders of two PCs.
class Changes : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTree(share, kData);
        MakeFolder(local);
        MakeFolder(otherLocal);
    }

    TransferResult Move(const std::string& from, const std::string& to, const TransferOptions& options = {}) {
        TransferResult result = TransferTree(from, to, nullptr, options);
        EXPECT_TRUE(result.ok) << (result.messages.empty() ? "" : result.messages[0].text);
        return result;
    }
    TransferResult CopyIn(const std::string& pc) { return Move(share, pc); }
    TransferResult CopyBack(const std::string& pc) { return Move(pc, share); }

    TempDir dir;
    const std::string share = dir / "Shared\\Data";
    const std::string local = dir / "pcA\\Data";
    const std::string otherLocal = dir / "pcB\\Data";
};

TEST_F(Changes, AnEditThatPutsSizeAndTimesBackIsCarriedBack) {
    CopyIn(local);
    const auto before = ListTree(local);
    EditKeepingSizeAndTimes(local + "\\data.txt");
    ASSERT_EQ(ListTree(local), before);
    ASSERT_EQ(LastWriteTime(local + "\\data.txt").dwLowDateTime, LastWriteTime(share + "\\data.txt").dwLowDateTime);

    const TransferResult back = CopyBack(local);
    EXPECT_FALSE(back.changedNothing);
    EXPECT_EQ(back.figures.filesFromSource, 1u);
    EXPECT_EQ(ReadFile(share + "\\data.txt"), "lEDGER OF mARROWKEEP, PAGE ONE");
    ExpectSameTree(local, share);
    EXPECT_EQ(ReadFile(share + ".saved\\data.txt"), "Ledger of Marrowkeep, page one");
}

TEST_F(Changes, ALocalFileChangedThatWayIsReplacedAtTheCopyIn) {
    CopyIn(local);
    EditKeepingSizeAndTimes(local + "\\sub\\c.txt");
    EditKeepingSizeAndTimes(local + "\\data.txt");

    const TransferResult in = CopyIn(local);
    EXPECT_FALSE(in.changedNothing);
    EXPECT_EQ(in.figures.filesFromSource, 2u);
    EXPECT_EQ(in.figures.filesOnOwnSide, FilesIn(share) - 2);
    // The local data is the shared tree, byte for byte.
    ExpectSameTree(share, local);
    EXPECT_EQ(ReadFile(local + ".saved\\sub\\c.txt"), "CHARLIE");
}

// Each PC's copy carries what it was made from, so only what another PC changed crosses,
// and a tree that went back and forth unchanged is left alone.
TEST_F(Changes, OnlyWhatAnotherPcChangedCrossesAndAnUnchangedTreeStays) {
    CopyIn(local);
    CopyIn(otherLocal);
    WriteFile(local + "\\sub\\c.txt", "charlie, edited on pcA");
    const TransferResult back = CopyBack(local);
    EXPECT_EQ(back.figures.filesFromSource, 1u);
    EXPECT_EQ(back.figures.filesOnOwnSide, FilesIn(share) - 1) << "the share's own copies, nothing crossed";

    const TransferResult in = CopyIn(otherLocal);
    EXPECT_FALSE(in.changedNothing);
    EXPECT_EQ(in.figures.filesFromSource, 1u);
    EXPECT_EQ(in.figures.bytesFromSource, 22u);
    ExpectSameTree(share, otherLocal);

    // pcB saves without having changed anything, and pcA comes back: nothing to do.
    EXPECT_TRUE(CopyBack(otherLocal).changedNothing);
    EXPECT_TRUE(CopyIn(local).changedNothing);
    EXPECT_EQ(ReadFile(share + ".saved\\sub\\c.txt"), "charlie");
}

// A source file written while the transfer ran (after it was listed, before it was
// copied) leaves a copy that must not pass for the file as it was listed, which another
// PC still holds.
TEST_F(Changes, ASourceFileWrittenDuringTheCopyIsNotTakenForItsOlderSelf) {
    CopyIn(otherLocal);
    {
        FileCopies copies;
        bool edited = false;
        copies.SetHandler([&](const FileCopies::Call& call) {
            if (!edited && ShownPath(call.from) == share + "\\data.txt") {
                edited = true;
                EditKeepingSizeAndTimes(share + "\\data.txt");
            }
            return FileCopies::Real(call);
        });
        CopyIn(local);
        ASSERT_TRUE(edited);
    }
    EXPECT_EQ(ReadFile(local + "\\data.txt"), "lEDGER OF mARROWKEEP, PAGE ONE");
    // pcB, which holds the older page, saves; pcA must then get that page back.
    WriteFile(otherLocal + "\\b.txt", "bravo from pcB");
    CopyBack(otherLocal);
    EXPECT_EQ(ReadFile(share + "\\data.txt"), "Ledger of Marrowkeep, page one");
    CopyIn(local);
    ExpectSameTree(share, local);
}

// A source file that is written during every copy of it is never taken as it was
// listed: the transfer gives up and says so, and changes nothing.
TEST_F(Changes, ASourceFileThatKeepsChangingFailsTheTransferAndChangesNothing) {
    CopyIn(local);
    WriteFile(local + "\\data.txt", "page two");
    CopyBack(local);
    WriteFile(local + "\\data.txt", "page three");
    CopyTree(share, dir / "share before");
    CopyTree(share + ".saved", dir / "save before");
    FileCopies copies;
    int writes = 0;
    copies.SetHandler([&](const FileCopies::Call& call) {
        const BOOL copied = FileCopies::Real(call);
        if (ShownPath(call.from) == local + "\\data.txt") WriteFile(local + "\\data.txt", "page " + std::to_string(++writes));
        return copied;
    });
    const TransferResult back = TransferTree(local, share);
    EXPECT_FALSE(back.ok);
    ASSERT_FALSE(back.messages.empty());
    EXPECT_EQ(back.messages[0].text, "The file kept changing while it was being copied: " + local + "\\data.txt");
    EXPECT_EQ(writes, 3);
    ExpectSameTree(dir / "share before", share);
    ExpectSameTree(dir / "save before", share + ".saved");
}

// No tree shares a file with another: a program that opens a backup or a set-aside, on
// either side, and writes into it changes that copy alone, now and in later periods.
TEST_F(Changes, WritingIntoASaveOrASetAsideNeverReachesTheData) {
    CopyIn(local);
    for (const char* page : {"page two", "page three"}) {
        WriteFile(local + "\\data.txt", page);
        CopyBack(local);
    }
    CopyIn(otherLocal);
    const std::string localAside = SetTreeAside(local, FreeAsideFolder(local)).folder;
    const std::string sharedAside = SetTreeAside(share, FreeAsideFolder(share)).folder;
    ASSERT_FALSE(localAside.empty());
    ASSERT_FALSE(sharedAside.empty());
    CopyTree(local, dir / "the data");
    for (const std::string& copy : {share + ".saved", local + ".saved", otherLocal + ".saved", localAside, sharedAside})
        for (const char* file : {"\\data.txt", "\\b.txt", "\\sub\\deep\\d.txt"})
            if (Exists(copy + file)) WriteFile(copy + file, "written into " + copy);
    ExpectSameTree(dir / "the data", share);
    ExpectSameTree(dir / "the data", local);
    ExpectSameTree(dir / "the data", otherLocal);

    // The backups written into become the next trees: what was written is not carried.
    for (int period = 4; period <= 5; ++period) {
        SCOPED_TRACE(period);
        WriteFile(local + "\\data.txt", "page " + std::to_string(period));
        CopyBack(local);
        ExpectSameTree(local, share);
        CopyIn(otherLocal);
        ExpectSameTree(share, otherLocal);
    }
}

// What a copy in saw of the share stands for the share at the copy back as long as the
// share holds that very tree; any tree switched in since, even one that took the same
// folder back, is another.
TEST_F(Changes, TheShareAsTheCopyInSawItIsTakenOnlyWhileItIsThatTree) {
    CopyIn(local);
    WriteFile(local + "\\data.txt", "page two");
    CopyBack(local);  // the share's tree is now one of ours, with its manifest
    const TransferResult in = CopyIn(local);
    EXPECT_EQ(LookAgain(share, in.source), SeenAgain::Same);
    // Another PC saves twice: the second save brings the first folder back as the data.
    for (int save = 1; save <= 2; ++save) {
        CopyIn(otherLocal);
        WriteFile(otherLocal + "\\b.txt", "bravo from pcB, save " + std::to_string(save));
        CopyBack(otherLocal);
        EXPECT_EQ(LookAgain(share, in.source), SeenAgain::Changed) << save;
    }
    // pcA copies back with what it saw (the period asks first): the transfer does not
    // take that listing for the share, which ends up exactly as pcA's tree.
    WriteFile(local + "\\data.txt", "a page from pcA");
    TransferOptions options;
    options.destinationSeen = &in.source;
    Move(local, share, options);
    EXPECT_EQ(ReadFile(share + "\\data.txt"), "a page from pcA");
    ExpectSameTree(local, share);

    EXPECT_EQ(LookAgain(dir / "no such folder", in.source), SeenAgain::Unreadable);
}

// A manifest binds to its tree: one that describes another tree, or was cut short, vouches
// for no file, and everything comes from the source.
TEST_F(Changes, AManifestOfAnotherTreeOrCutShortVouchesForNothing) {
    const TreeContents inFolder = {{"docs\\a.txt", "alpha"}, {"docs\\b.txt", "bravo"}, {"docs\\c.txt", "charlie"}};
    const std::string source = dir / "Docs\\Data";
    MakeTree(source, inFolder);
    struct Case {
        const char* name;
        std::function<std::string(const std::string& built)> makeDestination;
    };
    const Case cases[] = {
        {"another tree holding the same files",
         [&](const std::string& built) {
             // The files move with their folder into a new tree: IDs and change times stay.
             const std::string other = dir / "Other\\Data";
             MakeFolder(other);
             EXPECT_TRUE(MoveFileA((built + "\\docs").c_str(), (other + "\\docs").c_str()));
             EXPECT_TRUE(CopyFileA((built + ".manifest").c_str(), (other + ".manifest").c_str(), FALSE));
             return other;
         }},
        {"cut short",
         [&](const std::string& built) {
             std::string manifest = ReadFile(built + ".manifest");
             manifest.erase(manifest.rfind("end "));
             WriteFile(built + ".manifest", manifest);
             return built;
         }},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string built = dir / ("Built" + std::to_string(++n) + "\\Data");
        MakeFolder(built);
        Move(source, built);
        ASSERT_TRUE(Exists(built + ".manifest"));
        const std::string destination = c.makeDestination(built);
        const TransferResult again = Move(source, destination);
        EXPECT_FALSE(again.changedNothing);
        EXPECT_EQ(again.figures.filesFromSource, 3u);
        ExpectSameTree(source, destination);
    }
}

TEST_F(Changes, TwoTransfersOfTheSameSourceLeaveTheSaveAsTheFirstLeftIt) {
    MakeTree(local, {{"older.txt", "the tree before"}});
    CopyIn(local);
    const auto saved = ListTree(local + ".saved");
    const FileIdentity tree = IdentityOf(local);
    uint64_t fingerprint = 0;
    ASSERT_TRUE(FingerprintFolder(share, fingerprint));

    FileCopies copies;
    TransferProgress progress;
    const TransferResult again = TransferTree(share, local, &progress);
    EXPECT_TRUE(again.ok);
    EXPECT_TRUE(again.changedNothing);
    EXPECT_EQ(again.sourceFingerprint, fingerprint);
    EXPECT_TRUE(copies.Copies().empty());
    EXPECT_EQ(again.figures.filesFromSource + again.figures.filesOnOwnSide + again.figures.filesKept, 0u);
    EXPECT_EQ(ListTree(local + ".saved"), saved);
    EXPECT_EQ(ReadFile(local + ".saved\\older.txt"), "the tree before");
    EXPECT_EQ(IdentityOf(local).id, tree.id) << "not rotated";
    ExpectSameTree(share, local);
}

// Any difference but the content makes a transfer too.
TEST_F(Changes, AnyOtherDifferenceIsTransferred) {
    CopyIn(local);
    struct Case {
        const char* change;
        std::function<void()> apply;
    };
    const Case cases[] = {
        {"a file only in the destination", [&] { WriteFile(local + "\\extra.txt", "extra"); }},
        {"a new empty folder", [&] { MakeFolder(share + "\\new folder"); }},
        {"a folder's attributes", [&] { SetFileAttributesA((share + "\\empty").c_str(), FILE_ATTRIBUTE_HIDDEN); }},
        {"a file's attributes", [&] { SetFileAttributesA((share + "\\data.txt").c_str(), FILE_ATTRIBUTE_READONLY); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        c.apply();
        EXPECT_FALSE(CopyIn(local).changedNothing);
        ExpectSameTree(share, local);
        EXPECT_TRUE(CopyIn(local).changedNothing);
    }
}

// After periods on both sides, each tree is made of files of its own: the data, its
// save and the share's trees share no file, and a period writes only what changed.
TEST_F(Changes, TreesShareNoFileAndAPeriodWritesOnlyWhatChanged) {
    CopyIn(local);
    for (int period = 1; period <= 3; ++period) {
        SCOPED_TRACE(period);
        CopyIn(local);
        WriteFile(local + "\\data.txt", "page " + std::to_string(period));
        TransferProgress progress;
        const TransferResult back = TransferTree(local, share, &progress);
        ASSERT_TRUE(back.ok);
        EXPECT_EQ(back.figures.filesFromSource, 1u);
        EXPECT_EQ(progress.Read().filesTotal, back.figures.filesFromSource + back.figures.filesOnOwnSide);
        EXPECT_EQ(progress.Read().filesDone, progress.Read().filesTotal);
        EXPECT_EQ(progress.Read().bytesDone, progress.Read().bytesTotal);
        EXPECT_EQ(back.figures.filesFromSource + back.figures.filesOnOwnSide + back.figures.filesKept, FilesIn(share));
        if (period > 1) EXPECT_LE(back.figures.filesOnOwnSide, 1u) << "the last period's change, at most";
        ExpectSameTree(local, share);
    }
    for (const std::string& tree : {share, share + ".saved", local, local + ".saved"})
        for (const auto& entry : ListTree(tree))
            if (!entry.folder) EXPECT_EQ(IdentityOf(tree + "\\" + entry.relative).links, 1u) << tree << "\\" << entry.relative;
}

// Read-only and hidden files keep their attributes from one generation to the next, as
// the save they stay in becomes the data again.
TEST_F(Changes, FilesWithAttributesKeepThemThroughGenerations) {
    MakeTree(share, {{"ro.txt", "read only"}, {"hidden.txt", "hidden"}});
    SetFileAttributesA((share + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((share + "\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    CopyIn(local);
    for (int period = 1; period <= 3; ++period) {
        SCOPED_TRACE(period);
        WriteFile(local + "\\data.txt", "page " + std::to_string(period));
        CopyBack(local);
        EXPECT_EQ(Attributes(share + "\\ro.txt") & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(Attributes(share + "\\hidden.txt") & FILE_ATTRIBUTE_HIDDEN, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
        ExpectSameTree(local, share);
    }
}

TEST_F(Changes, ExplorersAndMacOsLitterIsNoChangeToTheFingerprintButIsCopied) {
    uint64_t clean = 0;
    ASSERT_TRUE(FingerprintFolder(share, clean));
    for (const char* litter : {"Thumbs.db", "desktop.ini", "sub\\DESKTOP.INI", "sub\\deep\\thumbs.DB", ".DS_Store",
                               "sub\\.ds_store", "._data.txt", "._notes.txt"}) {
        SCOPED_TRACE(litter);
        WriteFile(share + "\\" + litter, "litter");
        uint64_t now = 0;
        ASSERT_TRUE(FingerprintFolder(share, now));
        EXPECT_EQ(now, clean);
    }
    // Still data: it is copied like any file.
    const TransferResult in = CopyIn(local);
    EXPECT_EQ(in.sourceFingerprint, clean);
    ExpectSameTree(share, local);

    for (const char* real : {"notes.txt", "sub\\Thumbs.db.txt", "empty\\desktop.ini\\inside.txt", "b.txt"}) {
        SCOPED_TRACE(real);
        MakeTree(share, {{real, std::string("real data: ") + real}});
        uint64_t now = 0;
        ASSERT_TRUE(FingerprintFolder(share, now));
        EXPECT_NE(now, clean);
        clean = now;
    }
}

}  // namespace
