#include "ShellTestKit.h"
#include "shell/FileSystem.h"
#include "shell/ParallelWork.h"
#include "shell/Wintools.h"
#include "support/MessageBoxes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace testsupport;
using namespace shelltest;

namespace {

// The trees below are passed as made texts, as the program does.
OwnedText Made(const std::string& path) { return OwnedText(ConcatText(path.c_str())); }

TEST(DeleteTree, RemovesTheWholeTreeWhateverTheAttributes) {
    TempDir dir;
    const std::string root = dir / "Data.2delete";
    MakeTree(root, {{"a.txt", "a"}, {"sub\\b.txt", "b"}, {"sub\\deeper\\c.txt", "c"}, {"empty\\", ""}});
    SetFileAttributesA((root + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((root + "\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesA((root + "\\sub").c_str(), FILE_ATTRIBUTE_READONLY);

    MessageBoxWatcher boxes;
    ShellCalls shell;
    EXPECT_TRUE(DeleteTree(Made(root).Get()));
    EXPECT_FALSE(Exists(root));
    EXPECT_TRUE(IsFolder(dir.Path()));
    EXPECT_EQ(boxes.Count(), 0u);

    ASSERT_EQ(shell.Calls().size(), 1u);
    const ShellCall call = shell.Calls()[0];
    EXPECT_EQ(call.function, static_cast<UINT>(FO_DELETE));
    EXPECT_EQ(call.from, root);
    EXPECT_TRUE(call.fromIsList);
    EXPECT_EQ(call.to, "");
    EXPECT_EQ(call.flags, 0x494);  // no confirmation, files only; no error box and no progress display
    EXPECT_EQ(call.progressTitle, "Deleting old tree");
    EXPECT_EQ(call.owner, nullptr);
}

TEST(DeleteTree, OfAMissingFolderFailsWithoutAWord) {
    TempDir dir;
    MessageBoxWatcher boxes;
    ShellCalls shell;
    EXPECT_FALSE(DeleteTree(Made(dir / "nothing here").Get()));
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST(DeleteTree, AFileInUseFailsTheDelete) {
    TempDir dir;
    const std::string root = dir / "Data.2delete";
    MakeTree(root, {{"open.dat", "in use"}, {"other.dat", "x"}});
    HeldOpen holder(root + "\\open.dat");
    ASSERT_TRUE(holder.Held());

    MessageBoxWatcher boxes;
    ShellCalls shell;
    EXPECT_FALSE(DeleteTree(Made(root).Get()));
    EXPECT_TRUE(Exists(root + "\\open.dat"));
    ASSERT_EQ(shell.Calls().size(), 1u);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Seen()[0].caption, "Deleting");
    EXPECT_TRUE(NamesTheFailure(boxes.Seen()[0].text, shell.Calls()[0])) << boxes.Seen()[0].text;
    EXPECT_EQ(boxes.Seen()[0].owner, nullptr);
}

// Each operation names its failure after the thread's last error, or the shell's own result
// when the system gave none, and reports a cancelled progress display in its own words.
TEST(ShellOperations, ReportFailuresAndCancelsUnderTheirOwnTitles) {
    TempDir dir;
    MakeTree(dir / "Data", {{"a.txt", "a"}});
    const OwnedText data = Made(dir / "Data"), other = Made(dir / "Other");
    const struct {
        const char* name;
        std::function<bool()> run;
        const char* title;
        const char* abortedText;
    } operations[] = {
        {"delete", [&] { return DeleteTree(data.Get()); }, "Deleting", "User aborted delete"},
        {"copy", [&] { return CopyTreeContents(data.Get(), other.Get()); }, "Copying", "User aborted copy"},
        {"rename", [&] { return RenameTree(data.Get(), other.Get()); }, "renaming", "User aborted copy"},
    };
    for (const auto& op : operations) {
        {
            MessageBoxWatcher boxes;
            ShellCalls shell;
            shell.SetHandler([](SHFILEOPSTRUCTA*) {
                SetLastError(ERROR_ACCESS_DENIED);
                return 0x7C;  // DE_INVALIDFILES
            });
            EXPECT_FALSE(op.run()) << op.name;
            EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{op.title, "ERROR ACCESS DENIED"}})) << op.name;
        }
        {
            MessageBoxWatcher boxes;
            ShellCalls shell;
            shell.SetHandler(CancelAtOnce);
            EXPECT_FALSE(op.run()) << op.name;
            EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{op.title, op.abortedText}})) << op.name;
        }
        EXPECT_EQ(ReadFile(dir / "Data\\a.txt"), "a") << op.name;
        EXPECT_FALSE(Exists(dir / "Other")) << op.name << ": a cancelled copy leaves no empty folder";
    }
}

// The platform creates a missing destination differently depending on what the source
// holds; the result must be a folder holding the entries in every case.
TEST(CopyTreeContents, IntoAMissingDestinationGivesAFolderHoldingTheEntries) {
    const struct {
        const char* name;
        TreeContents source;
    } cases[] = {
        {"one file", {{"only.txt", "only"}}},
        {"one subfolder", {{"sub\\inner.txt", "inner"}}},
        {"one empty subfolder", {{"sub\\", ""}}},
        {"several entries", {{"a.txt", "a"}, {"b.txt", "bb"}, {"sub\\c.txt", "ccc"}, {"sub\\deep\\d.txt", "d"}}},
        {"nothing", {}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        MakeTree(dir / "Shared\\Data", c.source);
        const std::string destination = dir / "Work\\Local\\Data";  // parents missing too

        MessageBoxWatcher boxes;
        ShellCalls shell;
        EXPECT_TRUE(CopyTreeContents(Made(dir / "Shared\\Data").Get(), Made(destination).Get())) << c.name;
        EXPECT_TRUE(IsFolder(destination)) << c.name;
        std::string difference;
        EXPECT_TRUE(SameTree(dir / "Shared\\Data", destination, &difference)) << c.name << ": " << difference;
        EXPECT_EQ(boxes.Count(), 0u) << c.name;

        ASSERT_EQ(shell.Calls().size(), 1u);
        const ShellCall call = shell.Calls()[0];
        EXPECT_EQ(call.function, static_cast<UINT>(FO_COPY));
        EXPECT_EQ(call.from, dir / "Shared\\Data\\*.*");
        EXPECT_TRUE(call.fromIsList);
        EXPECT_EQ(call.to, destination);
        EXPECT_TRUE(call.toIsList);
        EXPECT_EQ(call.flags, 0x614);  // no confirmation; no error box and no progress display
        EXPECT_EQ(call.progressTitle, "Copying share data");
    }
}

TEST(CopyTreeContents, ASourceWithATrailingSeparatorDoublesIt) {
    TempDir dir;
    MakeTree(dir / "Shared", {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
    ShellCalls shell;
    EXPECT_TRUE(CopyTreeContents(Made(dir / "Shared\\").Get(), Made(dir / "Local").Get()));
    ASSERT_EQ(shell.Calls().size(), 1u);
    EXPECT_EQ(shell.Calls()[0].from, dir / "Shared\\\\*.*");
    EXPECT_TRUE(SameTree(dir / "Shared", dir / "Local"));
}

TEST(CopyTreeContents, OverwritesAnExistingDestinationAndKeepsItsOtherEntries) {
    TempDir dir;
    MakeTree(dir / "Shared", {{"a.txt", "new a"}, {"sub\\b.txt", "new b"}});
    MakeTree(dir / "Local", {{"a.txt", "old"}, {"sub\\b.txt", "old b, longer"}, {"mine.txt", "mine"}});
    MessageBoxWatcher boxes;
    EXPECT_TRUE(CopyTreeContents(Made(dir / "Shared").Get(), Made(dir / "Local").Get()));
    EXPECT_EQ(ReadFile(dir / "Local\\a.txt"), "new a");
    EXPECT_EQ(ReadFile(dir / "Local\\sub\\b.txt"), "new b");
    EXPECT_EQ(ReadFile(dir / "Local\\mine.txt"), "mine");
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST(CopyTreeContents, AMissingSourceFailsAndLeavesNoDestination) {
    TempDir dir;
    const std::string source = dir / "Shared\\Data";
    MessageBoxWatcher boxes;
    ShellCalls shell;
    EXPECT_FALSE(CopyTreeContents(Made(source).Get(), Made(dir / "Work\\Data").Get()));
    EXPECT_FALSE(Exists(dir / "Work\\Data"));
    EXPECT_FALSE(Exists(dir / "Work")) << "a parent made for the copy is removed too";
    ASSERT_EQ(shell.Calls().size(), 1u);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Seen()[0].caption, "Copying");
    EXPECT_TRUE(IsFailureText(boxes.Seen()[0].text, shell.Calls()[0], source)) << boxes.Seen()[0].text;
}

// An empty source names no folder; the shell would read "\*.*" as the drive's root.
TEST(CopyTreeContents, AnEmptySourceCopiesNothingAtAll) {
    TempDir dir;
    MessageBoxWatcher boxes;
    ShellCalls shell;
    EXPECT_FALSE(CopyTreeContents(Made("").Get(), Made(dir / "Work\\Data").Get()));
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_FALSE(Exists(dir / "Work"));
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"Copying", "No source folder given"}}));
}

// The platform may skip what it cannot copy and still report success.
TEST(CopyTreeContents, ASkippedFileFailsTheCopyAndIsNamed) {
    struct Case {
        const char* name;
        const char* held;  // relative to the folder
        const char* named;
    } cases[] = {
        {"source file in use", "Shared\\sub\\open.dat", "Shared\\sub\\open.dat"},
        {"destination file in use", "Local\\sub\\open.dat", "Shared\\sub\\open.dat"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        MakeTree(dir / "Shared", {{"a.txt", "a"}, {"sub\\open.dat", "twelve bytes"}, {"z.txt", "z"}});
        MakeTree(dir / "Local", {{"sub\\open.dat", "old"}});
        HeldOpen holder(dir / c.held);
        ASSERT_TRUE(holder.Held()) << c.name;

        MessageBoxWatcher boxes;
        ShellCalls shell;
        EXPECT_FALSE(CopyTreeContents(Made(dir / "Shared").Get(), Made(dir / "Local").Get())) << c.name;
        ASSERT_EQ(shell.Calls().size(), 1u);
        ASSERT_EQ(boxes.Count(), 1u) << c.name;
        EXPECT_EQ(boxes.Seen()[0].caption, "Copying");
        EXPECT_TRUE(IsFailureText(boxes.Seen()[0].text, shell.Calls()[0], dir / c.named))
            << c.name << ": " << boxes.Seen()[0].text;
    }
}

TEST(CopyTreeContents, ADestinationThatIsAFileFails) {
    TempDir dir;
    MakeTree(dir / "Shared", {{"a.txt", "a"}});
    WriteFile(dir / "Local", "a file");
    MessageBoxWatcher boxes;
    ShellCalls shell;
    EXPECT_FALSE(CopyTreeContents(Made(dir / "Shared").Get(), Made(dir / "Local").Get()));
    EXPECT_EQ(ReadFile(dir / "Local"), "a file");
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"Copying", "Not a folder: " + dir / "Local"}}));
}

TEST(CopyTreeContents, ADestinationUnderAFileFailsEvenForAnEmptySource) {
    TempDir dir;
    MakeFolder(dir / "Shared");
    WriteFile(dir / "Work", "a file");
    MessageBoxWatcher boxes;
    ShellCalls shell;
    EXPECT_FALSE(CopyTreeContents(Made(dir / "Shared").Get(), Made(dir / "Work\\Data").Get()));
    EXPECT_EQ(ReadFile(dir / "Work"), "a file");
    ASSERT_EQ(shell.Calls().size(), 1u);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Seen()[0].caption, "Copying");
    EXPECT_TRUE(IsFailureText(boxes.Seen()[0].text, shell.Calls()[0], dir / "Work\\Data")) << boxes.Seen()[0].text;
}

struct CurrentFolder {
    explicit CurrentFolder(const std::string& folder) {
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryA(previous); }
    char previous[MAX_PATH];
};

TEST(RenameTree, RenamesWithFullPaths) {
    TempDir dir;
    MakeTree(dir / "Data", {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
    MakeTree(dir / "reference", {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
    CurrentFolder here(dir.Path());
    MessageBoxWatcher boxes;
    ShellCalls shell;
    EXPECT_TRUE(RenameTree(Made("Data").Get(), Made("Data.saved").Get()));
    EXPECT_FALSE(Exists(dir / "Data"));
    EXPECT_TRUE(SameTree(dir / "reference", dir / "Data.saved"));
    EXPECT_EQ(boxes.Count(), 0u);

    ASSERT_EQ(shell.Calls().size(), 1u);
    const ShellCall call = shell.Calls()[0];
    EXPECT_EQ(call.function, static_cast<UINT>(FO_RENAME));
    EXPECT_EQ(lstrcmpiA(call.from.c_str(), (dir / "Data").c_str()), 0) << call.from;
    EXPECT_EQ(lstrcmpiA(call.to.c_str(), (dir / "Data.saved").c_str()), 0) << call.to;
    EXPECT_TRUE(call.fromIsList && call.toIsList);
    EXPECT_EQ(call.flags, 0x614);  // no confirmation; no error box and no progress display
    EXPECT_EQ(call.progressTitle, "Copying share data");
}

TEST(RenameTree, FailsOnAMissingSourceOrATakenName) {
    TempDir dir;
    MakeTree(dir / "Data", {{"a.txt", "a"}});
    MakeTree(dir / "Data.saved", {{"b.txt", "b"}});
    const struct {
        const char* name;
        std::string from, to;
    } cases[] = {
        {"missing source", dir / "Missing", dir / "Elsewhere"},
        {"taken name", dir / "Data", dir / "Data.saved"},
        {"into itself", dir / "Data\\", dir / "Data\\.saved"},
    };
    for (const auto& c : cases) {
        MessageBoxWatcher boxes;
        ShellCalls shell;
        EXPECT_FALSE(RenameTree(Made(c.from).Get(), Made(c.to).Get())) << c.name;
        ASSERT_EQ(boxes.Count(), 1u) << c.name;
        EXPECT_EQ(boxes.Seen()[0].caption, "renaming") << c.name;
        EXPECT_TRUE(NamesTheFailure(boxes.Seen()[0].text, shell.Calls()[0])) << c.name << ": " << boxes.Seen()[0].text;
        EXPECT_EQ(ReadFile(dir / "Data\\a.txt"), "a") << c.name;
        EXPECT_EQ(ReadFile(dir / "Data.saved\\b.txt"), "b") << c.name;
        EXPECT_FALSE(Exists(dir / "Elsewhere")) << c.name;
    }
}

// The wrappers beneath the shell services and the transfer: errors as values, no box.
TEST(FileSystem, WrappersReturnTheirErrorsAndShowNothing) {
    TempDir dir;
    MakeTree(dir / "Data", {{"open.dat", "in use"}});
    MakeTree(dir / "Other", {{"b.txt", "b"}});
    MessageBoxWatcher boxes;
    {
        HeldOpen holder(dir / "Data\\open.dat");
        ASSERT_TRUE(holder.Held());
        const FileOpResult removed = RemoveTreeDirect(Widen(dir / "Data"));
        EXPECT_FALSE(removed.ok);
        EXPECT_FALSE(removed.cancelled);
        EXPECT_EQ(removed.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        const Message told = FailureMessage(kDeleteWording, removed);
        EXPECT_EQ(told.title, "Deleting");
        EXPECT_EQ(told.text, "ERROR SHARING VIOLATION");
    }
    EXPECT_TRUE(RemoveTreeDirect(Widen(dir / "nothing here")).ok);

    const FileOpResult again = MakeFolder(Widen(dir / "Data"));
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    const FileOpResult over = CopyOneFile(Widen(dir / "Other\\b.txt"), Widen(dir / "Data\\open.dat"), nullptr,
                                          nullptr);
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.error, static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadFile(dir / "Data\\open.dat"), "in use") << "never over an existing file";
    EXPECT_TRUE(CopyOneFile(Widen(dir / "Other\\b.txt"), Widen(dir / "Data\\c.txt"), nullptr, nullptr).ok);
    EXPECT_EQ(ReadFile(dir / "Data\\c.txt"), "b");
    {
        FileCopies copies;
        copies.SetHandler([](const FileCopies::Call&) { return CancelCopy(); });
        const FileOpResult cancelled = CopyOneFile(Widen(dir / "Data\\c.txt"), Widen(dir / "d.txt"), nullptr, nullptr);
        EXPECT_FALSE(cancelled.ok);
        EXPECT_TRUE(cancelled.cancelled);
        EXPECT_EQ(FailureMessage(kCopyWording, cancelled).text, "User aborted copy");
    }
    {
        ShellCalls shell;
        shell.SetHandler([](SHFILEOPSTRUCTA*) { return RefuseWith(ERROR_ACCESS_DENIED); });
        const FileOpResult renamed = ShellRenameTree((dir / "Data").c_str(), (dir / "Elsewhere").c_str());
        EXPECT_FALSE(renamed.ok);
        EXPECT_EQ(renamed.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(FailureMessage(kRenameWording, renamed).title, "renaming");
        EXPECT_EQ(FailureMessage(kRenameWording, renamed).text, "ERROR ACCESS DENIED");
    }
    {
        // The shell fails but the system names nothing (Wine leaves the last error 0): the
        // shell's own result names the failure.
        const struct {
            int shellResult;
            const char* text;
        } silent[] = {
            {0x7C, "The source or destination path is not valid"},
            {0x402, "The source or destination path is not valid"},
            {ERROR_DISK_FULL, "The disk is full"},
            {ERROR_ALREADY_EXISTS, "ERROR ALREADY EXISTS"},
            {0x7654321, "The operation failed without a reason from the system (result 124076833)"},
        };
        for (const auto& c : silent) {
            ShellCalls shell;
            shell.SetHandler([&](SHFILEOPSTRUCTA*) {
                SetLastError(ERROR_SUCCESS);
                return c.shellResult;
            });
            const FileOpResult renamed = ShellRenameTree((dir / "Data").c_str(), (dir / "Elsewhere").c_str());
            EXPECT_FALSE(renamed.ok);
            EXPECT_EQ(FailureMessage(kRenameWording, renamed).text, c.text);
        }
    }
    {
        ShellCalls shell;
        shell.SetHandler(CancelAtOnce);
        const FileOpResult deleted = ShellDeleteTree((dir / "Data").c_str());
        EXPECT_TRUE(deleted.cancelled);
        EXPECT_EQ(FailureMessage(kDeleteWording, deleted).text, "User aborted delete");
    }
    EXPECT_TRUE(IsFolder(dir / "Data"));
    EXPECT_EQ(boxes.Count(), 0u);
}

}  // namespace

namespace {

DWORD AttributesOf(const std::string& path) { return GetFileAttributesW(Widen(path).c_str()); }

}  // namespace

// A tree let go may share files (hard links) with a live tree, whose program may have made
// one read-only meanwhile: deleting the old names must leave the live file as it is.
TEST(FileSystem, DeletingATreeLeavesItsFilesOtherNamesAsTheyWere) {
    for (const bool bestEffort : {false, true}) {
        TempDir dir;
        MakeTree(dir / "Live", {{"kept.dat", "live work"}, {"plain.dat", "plain"}});
        MakeTree(dir / "Old", {{"own.txt", "own"}});
        ASSERT_TRUE(CreateHardLinkA((dir / "Old\\kept.dat").c_str(), (dir / "Live\\kept.dat").c_str(), nullptr));
        ASSERT_TRUE(CreateHardLinkA((dir / "Old\\plain.dat").c_str(), (dir / "Live\\plain.dat").c_str(), nullptr));
        const DWORD readOnlyHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
        ASSERT_TRUE(SetFileAttributesA((dir / "Live\\kept.dat").c_str(), readOnlyHidden));
        SetFileAttributesA((dir / "Old\\own.txt").c_str(), FILE_ATTRIBUTE_READONLY);

        const bool removed = bestEffort ? RemoveTreeBestEffort(Widen(dir / "Old"))
                                        : RemoveTreeDirect(Widen(dir / "Old")).ok;
        EXPECT_TRUE(removed) << bestEffort;
        EXPECT_FALSE(Exists(dir / "Old")) << bestEffort;
        EXPECT_EQ(ReadFile(dir / "Live\\kept.dat"), "live work") << bestEffort;
        EXPECT_EQ(AttributesOf(dir / "Live\\kept.dat") & (readOnlyHidden | FILE_ATTRIBUTE_DIRECTORY), readOnlyHidden)
            << bestEffort;
        EXPECT_EQ(AttributesOf(dir / "Live\\plain.dat") & FILE_ATTRIBUTE_READONLY, 0u) << bestEffort;
        EXPECT_EQ(ReadFile(dir / "Live\\plain.dat"), "plain") << bestEffort;
    }
}

// Going on past a held file: everything else goes, the held file and its folders stay,
// and a tree already gone (another PC deleting it too) counts as deleted.
TEST(FileSystem, BestEffortDeleteGoesOnPastAHeldFile) {
    TempDir dir;
    MakeTree(dir / "Old", {{"a.txt", "a"}, {"sub\\held.dat", "held"}, {"sub\\b.txt", "b"}, {"z\\c.txt", "c"}});
    {
        HeldOpen holder(dir / "Old\\sub\\held.dat");
        ASSERT_TRUE(holder.Held());
        EXPECT_FALSE(RemoveTreeBestEffort(Widen(dir / "Old")));
    }
    EXPECT_EQ(ReadFile(dir / "Old\\sub\\held.dat"), "held");
    EXPECT_FALSE(Exists(dir / "Old\\a.txt"));
    EXPECT_FALSE(Exists(dir / "Old\\sub\\b.txt"));
    EXPECT_FALSE(Exists(dir / "Old\\z"));
    EXPECT_TRUE(RemoveTreeBestEffort(Widen(dir / "Old")));
    EXPECT_FALSE(Exists(dir / "Old"));
    EXPECT_TRUE(RemoveTreeBestEffort(Widen(dir / "Old")));
}

// File work run several at a time: each item once, and after a failure the first failing
// item in order is named, with everything before it done.
TEST(ParallelWork, EachItemOnceAndTheFirstFailureInOrder) {
    for (const size_t count : {size_t(0), size_t(1), size_t(63), size_t(5000)}) {
        std::vector<std::atomic<int>> calls(count);
        EXPECT_EQ(ForEachInParallel(count, kFileWorkThreads, [&](size_t i) { return ++calls[i] > 0; }), count);
        for (size_t i = 0; i < count; ++i) ASSERT_EQ(calls[i], 1) << count << " " << i;
    }
    const size_t count = 5000;
    std::vector<std::atomic<int>> calls(count);
    // Items 1234 and 3000 fail; the later one may or may not have been reached.
    const size_t first = ForEachInParallel(count, kFileWorkThreads, [&](size_t i) {
        ++calls[i];
        return i != 1234 && i != 3000;
    });
    EXPECT_EQ(first, 1234u);
    for (size_t i = 0; i <= 1234; ++i) ASSERT_EQ(calls[i], 1) << i;
}
