// A transfer moves only what changed: the save it makes into the next tree keeps what it
// holds of the source, and the rest is copied from the destination's present tree on its
// own side where that holds it. The result must be what a full copy gives, byte for byte,
// names, attributes and times included.
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

const TreeContents kTree = {
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
        // The destination as periods leave it: the source's tree, and as its save the tree
        // before, which differs in one file.
        ASSERT_TRUE(TransferTree(source, destination).ok);
        WriteFile(source + "\\i.txt", "india, the second");
        ASSERT_TRUE(TransferTree(source, destination).ok);
        const TransferResult again = TransferTree(source, destination);
        ASSERT_TRUE(again.ok);
        ASSERT_TRUE(again.changedNothing);
        ASSERT_EQ(again.figures.bytesFromSource, 0u) << "nothing changed, nothing crosses";
    }

    // The incremental result equals the source and a full copy of it, exactly.
    void ExpectSameAsAFullCopy() {
        RemoveTree(dir / "Full");
        MakeFolder(fullCopy);
        const TransferResult full = TransferTree(source, fullCopy);
        ASSERT_TRUE(full.ok);
        EXPECT_EQ(full.figures.filesOnOwnSide + full.figures.filesKept, 0u);
        std::string difference;
        EXPECT_TRUE(SameTreeExactly(fullCopy, destination, &difference)) << difference;
        EXPECT_TRUE(SameTreeExactly(source, destination, &difference)) << difference;
    }

    // Bytes read from the source.
    uint64_t TransferAgain() {
        last = TransferTree(source, destination);
        EXPECT_TRUE(last.ok) << (last.messages.empty() ? "" : last.messages[0].text);
        return last.figures.bytesFromSource;
    }

    // Source files and bytes, as the progress record's totals must give them.
    TransferProgress::Counts SourceTotals() const {
        TransferProgress::Counts totals;
        for (const auto& e : ListTree(source)) {
            if (e.folder) continue;
            ++totals.filesTotal;
            totals.bytesTotal += e.size;
        }
        return totals;
    }

    TransferResult last;

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
    EXPECT_EQ(TransferAgain(), 17u);
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
    WriteFile(source + "\\a.txt", "alpha, changed");
    EXPECT_EQ(TransferAgain(), 14u);
    EXPECT_GE(last.figures.filesOnOwnSide, 2u);
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
        EXPECT_FALSE(TransferShown(source, destination));
        const std::string text = ExpectCopyStepFailed(boxes.CaptionsAndTexts());
        EXPECT_NE(text.find(source + "\\sub\\g.txt"), std::string::npos) << text;
    }
    // A full copy of the same source fails the same way.
    MakeFolder(fullCopy);
    {
        MessageBoxWatcher boxes;
        EXPECT_FALSE(TransferShown(source, fullCopy));
    }
    EXPECT_EQ(ListTree(destination), before);
    EXPECT_EQ(ReadFile(destination + "\\sub\\g.txt"), "golf");
    EXPECT_FALSE(Exists(destination + ".next"));
}

// The user's cancel reaches the copy of changed files: from the copy itself (the
// progress routine's PROGRESS_CANCEL) as well as between files.
TEST_F(Incremental, TheUserCanCancelTheCopyOfChangedFiles) {
    WriteFile(source + "\\a.txt", "alpha, changed");
    WriteFile(source + "\\sub\\c.txt", "charlie, changed");
    const auto before = ListTree(destination);
    const auto saveBefore = ListTree(destination + ".saved");
    MessageBoxWatcher boxes;
    FileCopies copies;
    // Files of the previous tree are copied as ever; the first that crosses is cancelled.
    copies.SetHandler([&](const FileCopies::Call& call) {
        return ShownPath(call.from).rfind(source, 0) == 0 ? CancelCopy() : FileCopies::Real(call);
    });
    EXPECT_FALSE(TransferShown(source, destination));
    EXPECT_EQ(boxes.CaptionsAndTexts(),
              (Boxes{{"Copying", "User aborted copy"}, {"Copying", "Error occuried during filecopy"}}));
    const auto made = copies.Copies();
    ASSERT_FALSE(made.empty());
    EXPECT_EQ(made.back().from.rfind(source, 0), 0u) << made.back().from;
    EXPECT_EQ(made.back().lastError, static_cast<DWORD>(ERROR_REQUEST_ABORTED));
    EXPECT_EQ(ListTree(destination), before);
    EXPECT_EQ(ListTree(destination + ".saved"), saveBefore);
    EXPECT_EQ(ReadFile(destination + "\\a.txt"), "alpha");
    EXPECT_FALSE(Exists(destination + ".next"));
}

// The progress record: the files and bytes to be written as totals once they are known,
// and every file counted as it is written, whether it crossed or was copied on the own
// side; the files the save kept are written by nobody.
TEST_F(Incremental, ProgressCountsEveryFileWritten) {
    WriteFile(source + "\\a.txt", "alpha, changed");
    WriteFile(source + "\\sub\\new.txt", "new");
    TransferProgress progress;
    const TransferResult result = TransferTree(source, destination, &progress);
    ASSERT_TRUE(result.ok);
    const TransferProgress::Counts totals = SourceTotals();
    const TransferProgress::Counts counts = progress.Read();
    EXPECT_EQ(result.figures.filesFromSource, 2u);
    EXPECT_EQ(result.figures.filesOnOwnSide, 1u) << "i.txt, changed the time before";
    EXPECT_EQ(result.figures.filesKept, totals.filesTotal - 3);
    EXPECT_EQ(counts.filesTotal, 3u);
    EXPECT_EQ(counts.bytesTotal, result.figures.bytesFromSource + result.figures.bytesOnOwnSide);
    EXPECT_EQ(counts.filesDone, counts.filesTotal);
    EXPECT_EQ(counts.bytesDone, counts.bytesTotal);
    EXPECT_EQ(result.figures.bytesFromSource + result.figures.bytesOnOwnSide + result.figures.bytesKept,
              totals.bytesTotal);
    EXPECT_FALSE(progress.Cancelled());

    // A full copy counts the same, every file from the source.
    MakeFolder(fullCopy);
    TransferProgress fullProgress;
    const TransferResult full = TransferTree(source, fullCopy, &fullProgress);
    ASSERT_TRUE(full.ok);
    EXPECT_EQ(fullProgress.Read().filesDone, totals.filesTotal);
    EXPECT_EQ(fullProgress.Read().bytesDone, totals.bytesTotal);
    EXPECT_EQ(full.figures.filesFromSource, totals.filesTotal);
}

// A cancel through the progress record in the middle of the copy (here just after the
// first file was placed) ends the transfer through its usual failure path.
TEST_F(Incremental, ACancelThroughTheProgressRecordLeavesDestinationAndSaveUntouched) {
    for (const auto& e : ListTree(source))
        if (!e.folder) WriteFile(source + "\\" + e.relative, "changed " + e.relative);
    const auto before = ListTree(destination);
    const auto saveBefore = ListTree(destination + ".saved");
    TransferProgress progress;
    FileCopies copies;
    copies.SetHandler([&](const FileCopies::Call& call) {
        const BOOL copied = FileCopies::Real(call);
        progress.Cancel();  // the user presses Cancel while the first file is copied
        return copied;
    });
    const TransferResult result = TransferTree(source, destination, &progress);
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(result.messages.size(), 2u);
    EXPECT_EQ(result.messages[0].title, "Copying");
    EXPECT_EQ(result.messages[0].text, "User aborted copy");
    EXPECT_EQ(result.messages[1].title, "Copying");
    EXPECT_EQ(result.messages[1].text, "Error occuried during filecopy");
    EXPECT_EQ(copies.Copies().size(), 1u) << "no file after the cancel";
    EXPECT_EQ(result.figures.filesFromSource, 1u);
    EXPECT_EQ(progress.Read().filesDone, 1u);
    EXPECT_EQ(ListTree(destination), before);
    EXPECT_EQ(ListTree(destination + ".saved"), saveBefore);
    EXPECT_FALSE(Exists(destination + ".next"));
    EXPECT_FALSE(TransferInterrupted(destination));

    // Shown, they are the boxes of a cancelled copy.
    MessageBoxWatcher boxes;
    ShowMessages(nullptr, result.messages);
    EXPECT_EQ(boxes.CaptionsAndTexts(),
              (Boxes{{"Copying", "User aborted copy"}, {"Copying", "Error occuried during filecopy"}}));
}

// Inside one file's copy the cancel reaches the copy through its progress routine, which
// also counts the bytes as they go. (Windows calls the routine as a file is copied; Wine 8
// never does, so there the cancel takes effect between files: the seam plays Windows.)
TEST_F(Incremental, ACancelInsideAFileReachesItsCopyThroughTheProgressRoutine) {
    WriteFile(source + "\\e.dat", std::string(4000, 'E'));
    const auto before = ListTree(destination);
    TransferProgress progress;
    DWORD answer = PROGRESS_CONTINUE;
    FileCopies copies;
    copies.SetHandler([&](const FileCopies::Call& call) {
        if (ShownPath(call.from).rfind(source, 0) != 0) return FileCopies::Real(call);
        LARGE_INTEGER size, half;
        size.QuadPart = 4000;
        half.QuadPart = 1000;
        answer = call.progress(size, half, size, half, 1, CALLBACK_CHUNK_FINISHED, nullptr, nullptr, call.context);
        progress.Cancel();  // the user presses Cancel with a quarter of the file copied
        half.QuadPart = 2000;
        answer = call.progress(size, half, size, half, 1, CALLBACK_CHUNK_FINISHED, nullptr, nullptr, call.context);
        return answer == PROGRESS_CANCEL ? CancelCopy() : FileCopies::Real(call);
    });
    const TransferResult result = TransferTree(source, destination, &progress);
    EXPECT_EQ(answer, static_cast<DWORD>(PROGRESS_CANCEL));
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(result.messages.size(), 2u);
    EXPECT_EQ(result.messages[0].text, "User aborted copy");
    EXPECT_EQ(result.messages[1].text, "Error occuried during filecopy");
    EXPECT_EQ(result.figures.filesFromSource, 0u);
    const TransferProgress::Counts counts = progress.Read();
    EXPECT_EQ(counts.bytesDone - result.figures.bytesOnOwnSide, 2000u) << "the bytes copied before the cancel";
    EXPECT_EQ(counts.filesDone, result.figures.filesOnOwnSide);
    EXPECT_EQ(ListTree(destination), before);
    EXPECT_FALSE(Exists(destination + ".next"));
}

// A copy that fails for a real reason names it: the error of the copy call and the file.
TEST_F(Incremental, AFailedCopyNamesItsErrorAndTheFile) {
    WriteFile(source + "\\b.txt", "bravo, changed");
    const auto before = ListTree(destination);
    FileCopies copies;
    copies.SetHandler([&](const FileCopies::Call& call) {
        return ShownPath(call.from).rfind(source, 0) == 0 ? FailCopyWith(ERROR_DISK_FULL) : FileCopies::Real(call);
    });
    MessageBoxWatcher boxes;
    EXPECT_FALSE(TransferShown(source, destination));
    const std::string text = ExpectCopyStepFailed(boxes.CaptionsAndTexts());
    EXPECT_EQ(text, "Cannot copy file: " + source + "\\b.txt (ERROR DISK FULL)");
    EXPECT_EQ(ListTree(destination), before);
    EXPECT_FALSE(Exists(destination + ".next"));
}

// A file of the destination's present tree that is written while it is copied on the own
// side is not taken: the file comes from the source after all.
TEST_F(Incremental, AnOwnSideFileWrittenDuringItsCopyIsTakenFromTheSource) {
    WriteFile(source + "\\a.txt", "alpha, changed");
    FileCopies copies;
    copies.SetHandler([&](const FileCopies::Call& call) {
        const BOOL copied = FileCopies::Real(call);
        if (ShownPath(call.from) == destination + "\\i.txt") WriteFile(destination + "\\i.txt", "india, edited");
        return copied;
    });
    EXPECT_EQ(TransferAgain(), 14u + 17u) << "a.txt and i.txt from the source";
    EXPECT_EQ(last.figures.filesOnOwnSide, 0u);
    EXPECT_EQ(ReadFile(destination + "\\i.txt"), "india, the second");
    EXPECT_EQ(ReadFile(destination + ".saved\\i.txt"), "india, edited");
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
