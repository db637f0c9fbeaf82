// What counts as a change between the source and the destination's tree: a file written
// since the last transfer is changed whatever its size and times say, an equal tree is
// left alone, unchanged files may be links into the shared folder, and the litter that
// Explorer and macOS leave behind is no change to the shared data.
#include "ShellTestKit.h"
#include "shell/Wintools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>

using namespace testsupport;
using namespace shelltest;

namespace {

const TreeSpec kData = {
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

TransferOptions Linking() {
    TransferOptions options;
    options.linkUnchanged = true;
    return options;
}

// Puts another hard-link call in place for the life of the object, as a file system
// that refuses links would answer.
class LinkCalls {
public:
    explicit LinkCalls(BOOL(WINAPI* replacement)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES))
        : previous_(Platform().createHardLink) {
        Platform().createHardLink = replacement;
    }
    ~LinkCalls() { Platform().createHardLink = previous_; }
    LinkCalls(const LinkCalls&) = delete;
    LinkCalls& operator=(const LinkCalls&) = delete;

private:
    BOOL(WINAPI* previous_)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES);
};

BOOL WINAPI RefuseLink(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES) {
    SetLastError(ERROR_INVALID_FUNCTION);  // what FAT answers
    return FALSE;
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
    TransferResult CopyBack(const std::string& pc) { return Move(pc, share, Linking()); }

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
    EXPECT_EQ(in.figures.filesFromBackup, FilesIn(share) - 2);
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
    EXPECT_EQ(back.figures.filesLinked, FilesIn(share) - 1);

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

// A manifest binds to its tree: one that describes another tree, or was cut short, vouches
// for no file, and everything comes from the source.
TEST_F(Changes, AManifestOfAnotherTreeOrCutShortVouchesForNothing) {
    const TreeSpec inFolder = {{"docs\\a.txt", "alpha"}, {"docs\\b.txt", "bravo"}, {"docs\\c.txt", "charlie"}};
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
    EXPECT_EQ(again.figures.filesFromSource + again.figures.filesFromBackup + again.figures.filesLinked, 0u);
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

TEST_F(Changes, UnchangedFilesAreLinkedOnlyWhenAsked) {
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "linked" : "copied");
        CopyIn(local);
        WriteFile(local + "\\data.txt", link ? "a new page" : "page three");
        TransferOptions options;
        options.linkUnchanged = link;
        TransferProgress progress;
        const TransferResult back = TransferTree(local, share, &progress, options);
        ASSERT_TRUE(back.ok);
        const uint64_t files = FilesIn(share);
        EXPECT_EQ(back.figures.filesFromSource, 1u);
        EXPECT_EQ(back.figures.filesLinked, link ? files - 1 : 0);
        EXPECT_EQ(back.figures.filesFromBackup, link ? 0 : files - 1);
        EXPECT_EQ(back.figures.bytesFromSource + back.figures.bytesFromBackup + back.figures.bytesLinked,
                  progress.Read().bytesTotal);
        EXPECT_EQ(progress.Read().filesDone, files);
        EXPECT_EQ(progress.Read().bytesDone, progress.Read().bytesTotal);

        const FileIdentity unchanged = IdentityOf(share + "\\sub\\deep\\d.txt");
        const FileIdentity before = IdentityOf(share + ".saved\\sub\\deep\\d.txt");
        EXPECT_EQ(unchanged.id == before.id, link);
        EXPECT_EQ(unchanged.links, link ? 2u : 1u);
        EXPECT_NE(IdentityOf(share + "\\data.txt").id, IdentityOf(share + ".saved\\data.txt").id);
        EXPECT_EQ(IdentityOf(share + "\\data.txt").links, 1u);
        ExpectSameTree(local, share);
    }
}

TEST_F(Changes, ALinkRefusedFallsBackToACopy) {
    CopyIn(local);
    WriteFile(local + "\\data.txt", "a new page");
    LinkCalls refused(RefuseLink);
    const TransferResult back = CopyBack(local);
    EXPECT_EQ(back.figures.filesLinked, 0u);
    EXPECT_EQ(back.figures.filesFromBackup, FilesIn(share) - 1);
    EXPECT_EQ(IdentityOf(share + "\\b.txt").links, 1u);
    ExpectSameTree(local, share);
}

// Attributes belong to the file that all its links share, and deleting the save before
// last clears them on its way: a linked read-only or hidden file would lose them.
TEST_F(Changes, FilesWithAttributesKeepThemThroughGenerationsOfLinks) {
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
