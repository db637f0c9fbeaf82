// A transfer moves only what changed: the rest of the new tree is copied from the
// previous destination tree on the destination's own side. The result must be what a
// full copy gives, byte for byte, names, attributes and times included.
#include "ShellTestKit.h"
#include "shell/Wintools.h"
#include "support/MessageBoxes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace testsupport;
using namespace shelltest;

namespace {

const TreeSpec kTree = {
    {"a.txt", "alpha"},          {"b.txt", "bravo bravo"}, {"sub\\c.txt", "charlie"},
    {"sub\\deep\\d.txt", "delta"}, {"empty\\", ""},          {"e.dat", std::string(3000, 'e')},
    {"f.dat", std::string(1000, 'f')}, {"sub\\g.txt", "golf"},  {"h.txt", "hotel"},
    {"i.txt", "india"},
};

// Pushes a file's last-write time on, as an edit that keeps the size would.
void Touch(const std::string& path, int seconds) {
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME t;
    GetFileTime(h, nullptr, nullptr, &t);
    ULARGE_INTEGER n{{t.dwLowDateTime, t.dwHighDateTime}};
    n.QuadPart += static_cast<ULONGLONG>(seconds) * 10000000ull;
    t.dwLowDateTime = n.LowPart;
    t.dwHighDateTime = n.HighPart;
    SetFileTime(h, nullptr, nullptr, &t);
    CloseHandle(h);
}

class Incremental : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTree(source, kTree);
        MakeFolder(destination);
        MessageBoxWatcher boxes;
        // The destination as a period leaves it: a transfer of the source, then a save.
        ASSERT_TRUE(TransferTree(source.c_str(), destination.c_str()));
        ASSERT_TRUE(TransferTree(source.c_str(), destination.c_str()));
        ASSERT_EQ(LastTransferFigures().bytesFromSource, 0u) << "nothing changed, nothing crosses";
        ASSERT_EQ(boxes.Count(), 0u);
    }

    // The incremental result equals the source and a full copy of it, exactly.
    void ExpectSameAsAFullCopy() {
        const TransferFigures incremental = LastTransferFigures();
        RemoveTree(dir / "Full");
        MakeFolder(fullCopy);
        MessageBoxWatcher boxes;
        ASSERT_TRUE(TransferTree(source.c_str(), fullCopy.c_str()));
        EXPECT_EQ(LastTransferFigures().filesFromBackup, 0u);
        std::string difference;
        EXPECT_TRUE(SameTreeExactly(fullCopy, destination, &difference)) << difference;
        EXPECT_TRUE(SameTreeExactly(source, destination, &difference)) << difference;
        EXPECT_EQ(boxes.Count(), 0u);
        LastTransferFigures() = incremental;
    }

    uint64_t TransferAgain() {
        MessageBoxWatcher boxes;
        EXPECT_TRUE(TransferTree(source.c_str(), destination.c_str()));
        EXPECT_EQ(boxes.Count(), 0u) << (boxes.Count() ? boxes.Seen()[0].text : "");
        return LastTransferFigures().bytesFromSource;
    }

    TempDir dir;
    const std::string source = dir / "Shared\\Data";
    const std::string destination = dir / "Work\\Data";
    const std::string fullCopy = dir / "Full\\Data";
};

// What changed decides what crosses; everything else comes from the previous tree.
TEST_F(Incremental, OnlyChangedFilesCrossAndTheResultIsAFullCopy) {
    struct Case {
        const char* change;
        std::function<void(const std::string&)> apply;
        uint64_t crossing;  // bytes read from the source
    };
    const Case cases[] = {
        {"nothing", [](const std::string&) {}, 0},
        {"one file", [](const std::string& s) { WriteFile(s + "\\sub\\c.txt", "charlie, edited"); }, 15},
        {"one new, one deleted",
         [](const std::string& s) {
             WriteFile(s + "\\sub\\new.txt", "new");
             DeleteFileA((s + "\\h.txt").c_str());
         },
         3},
        {"every file",
         [](const std::string& s) {
             for (const auto& e : ListTree(s))
                 if (!e.folder) WriteFile(s + "\\" + e.relative, "every file " + e.relative);
         },
         0 /* counted below */},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        c.apply(source);
        uint64_t expected = c.crossing;
        if (std::string(c.change) == "every file")
            for (const auto& e : ListTree(source)) expected += e.size;
        EXPECT_EQ(TransferAgain(), expected);
        ExpectSameAsAFullCopy();
    }
}

// A size kept is no proof: a different time means a different file.
TEST_F(Incremental, AFileEditedInPlaceWithItsSizeKeptIsCopiedWhenItsTimeDiffers) {
    WriteFile(source + "\\b.txt", "BRAVO BRAVO");  // same length
    Touch(source + "\\b.txt", 60);
    EXPECT_EQ(TransferAgain(), 11u);
    EXPECT_EQ(ReadFile(destination + "\\b.txt"), "BRAVO BRAVO");
    ExpectSameAsAFullCopy();

    // Only the time moved on: still copied from the source.
    Touch(source + "\\i.txt", 60);
    EXPECT_EQ(TransferAgain(), 5u);
    ExpectSameAsAFullCopy();
}

TEST_F(Incremental, FilesAndFoldersThatTradePlaces) {
    // A file becomes a folder of the same name, and a folder becomes a file.
    DeleteFileA((source + "\\a.txt").c_str());
    MakeTree(source, {{"a.txt\\inside.txt", "now a folder"}});
    RemoveTree(source + "\\sub\\deep");
    WriteFile(source + "\\sub\\deep", "now a file");
    TransferAgain();
    EXPECT_TRUE(IsFolder(destination + "\\a.txt"));
    EXPECT_EQ(ReadFile(destination + "\\sub\\deep"), "now a file");
    ExpectSameAsAFullCopy();
}

TEST_F(Incremental, ChangedAttributesAreCarried) {
    SetFileAttributesA((source + "\\e.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((source + "\\f.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA((source + "\\empty").c_str(), FILE_ATTRIBUTE_HIDDEN);
    TransferAgain();
    EXPECT_EQ(Attributes(destination + "\\e.dat") & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    ExpectSameAsAFullCopy();
}

TEST_F(Incremental, NamesOutsideTheCodePage) {
    WriteFileUtf8(source, "\xE6\x95\xB0\xE6\x8D\xAE.txt", "CJK");                      // 数据.txt
    WriteFileUtf8(source, "\xCE\x94\xCE\xB5\xCE\xB4\\\xF0\x9F\x98\x80.txt", "emoji");  // Δεδ\😀.txt
    EXPECT_EQ(TransferAgain(), 8u);
    ExpectSameAsAFullCopy();
    // Unchanged, they are taken from the previous tree like any other name.
    EXPECT_EQ(TransferAgain(), 0u);
    EXPECT_GE(LastTransferFigures().filesFromBackup, 2u);
    ExpectSameAsAFullCopy();
}

// An unreadable changed file fails the transfer as a full copy fails: nothing switched.
TEST_F(Incremental, ASourceFileThatCannotBeReadFailsAndTouchesNothing) {
    WriteFile(source + "\\sub\\g.txt", "golf, changed");
    HeldOpen held(source + "\\sub\\g.txt");
    ASSERT_TRUE(held.Held());
    const auto before = ListTree(destination);
    {
        MessageBoxWatcher boxes;
        EXPECT_FALSE(TransferTree(source.c_str(), destination.c_str()));
        ExpectCopyStepFailed(boxes.CaptionsAndTexts());
    }
    // A full copy of the same source fails the same way.
    MakeFolder(fullCopy);
    {
        MessageBoxWatcher boxes;
        EXPECT_FALSE(TransferTree(source.c_str(), fullCopy.c_str()));
    }
    EXPECT_EQ(ListTree(destination), before);
    EXPECT_EQ(ReadFile(destination + "\\sub\\g.txt"), "golf");
    EXPECT_FALSE(Exists(destination + ".incoming"));
}

// Changed files cross in one shell operation, so the user can still cancel it.
TEST_F(Incremental, TheUserCanCancelTheCopyOfChangedFiles) {
    WriteFile(source + "\\a.txt", "alpha, changed");
    WriteFile(source + "\\sub\\c.txt", "charlie, changed");
    MessageBoxWatcher boxes;
    ShellCalls shell;
    shell.SetHandlerW(CancelAtOnceW);
    EXPECT_FALSE(TransferTree(source.c_str(), destination.c_str()));
    EXPECT_EQ(boxes.CaptionsAndTexts(),
              (Boxes{{"Copying", "User aborted copy"}, {"Copying", "Error occuried during filecopy"}}));
    const auto calls = shell.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_TRUE(calls[0].wide);
    EXPECT_EQ(calls[0].entries, 2u);
    EXPECT_EQ(ReadFile(destination + "\\a.txt"), "alpha");
    EXPECT_FALSE(Exists(destination + ".incoming"));
}

// The previous tree is read, never written: the save is exactly the old destination.
TEST_F(Incremental, ThePreviousTreeBecomesTheSaveUntouched) {
    MakeTree(dir / "before", {});
    ASSERT_TRUE(CopyTreeContents(destination.c_str(), (dir / "before").c_str()));
    WriteFile(source + "\\a.txt", "alpha, changed");
    TransferAgain();
    std::string difference;
    EXPECT_TRUE(SameTree(dir / "before", destination + ".saved", &difference)) << difference;
}

}  // namespace
