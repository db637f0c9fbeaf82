// The one progress display of a transfer, used as a user uses it: it counts the files as
// they are placed, and its Cancel ends the transfer with both trees as they were.
#include "app/Cprogress.h"

#include "support/Gui.h"
#include "support/PausingCalls.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

using namespace testsupport;

namespace {

constexpr int kFiles = 100;

forms::FormLayout OwnerLayout() {
    forms::FormLayout params;
    params.className = "TProgressOwner";
    params.caption = "owner";
    return params;
}

// The display's line that counts files, read as a user reads it.
std::string FilesLine(HWND display) {
    for (HWND child = GetWindow(display, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::string text = WindowText(child);
        if (text.rfind("Files:", 0) == 0) return text;
    }
    return "";
}

TEST(ProgressDisplay, CountsRiseAndCancelLeavesBothTreesAsTheyWere) {
    TempDir dir;
    const std::string source = dir / "Shared", destination = dir / "Work";
    MakeFolder(source + "\\sub");
    MakeFolder(destination);
    for (int i = 0; i < kFiles; ++i)
        WriteFile(source + (i % 2 ? "\\sub" : "") + "\\f" + std::to_string(i) + ".txt", std::string(1000 + i, 's'));
    WriteFile(destination + "\\mine.txt", "my work");
    MakeFolder(destination + ".saved");
    WriteFile(destination + ".saved\\older.txt", "older");
    const auto destinationBefore = ListTree(destination);

    forms::Form owner(OwnerLayout(), nullptr);
    owner.Show();
    PausingCopy copy;
    copy.PauseBefore(21, 61);
    std::string atTwenty, atSixty, caption;
    bool cancelled = false;
    std::thread user([&] {
        HWND display = AwaitTopWindow("TProgress", nullptr, GetCurrentProcessId());
        if (!display) return;
        caption = WindowText(display);
        if (copy.AwaitPause(21)) {
            AwaitCondition([&] { return FilesLine(display) == "Files: 20 of 100"; });
            atTwenty = FilesLine(display);
            copy.GoOn();
        }
        if (copy.AwaitPause(61)) {
            AwaitCondition([&] { return FilesLine(display) == "Files: 60 of 100"; });
            atSixty = FilesLine(display);
            HWND cancel = FindChild(display, "Button", "Cancel");
            if (cancel) {
                Click(cancel);
                cancelled = AwaitCondition([&] { return !IsWindowEnabled(cancel); });
            }
            copy.GoOn();
        }
    });
    const TransferResult result = RunWithProgress(
        owner, [&](TransferProgress& progress) { return TransferTree(source, destination, &progress); });
    user.join();

    EXPECT_EQ(caption, "Copying share data");
    EXPECT_EQ(atTwenty, "Files: 20 of 100");
    EXPECT_EQ(atSixty, "Files: 60 of 100");
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(result.messages.size(), 2u);
    EXPECT_EQ(result.messages[0].title, "Copying");
    EXPECT_EQ(result.messages[0].text, "User aborted copy");
    EXPECT_EQ(result.messages[1].text, "Error occuried during filecopy");
    EXPECT_EQ(ListTree(destination), destinationBefore);
    EXPECT_EQ(ReadFile(destination + "\\mine.txt"), "my work");
    EXPECT_EQ(ReadFile(destination + ".saved\\older.txt"), "older");
    EXPECT_FALSE(Exists(destination + ".next"));
    EXPECT_EQ(ListTree(source).size(), static_cast<size_t>(kFiles + 1));
    // The display is gone once the transfer has ended.
    EXPECT_EQ(FindTopWindow("TProgress", nullptr, GetCurrentProcessId()), nullptr);
}

// A small pair of trees for the tests of the last moments of a transfer.
struct SmallTrees {
    SmallTrees() {
        MakeFolder(source);
        MakeFolder(destination);
        for (int i = 0; i < 10; ++i) WriteFile(source + "\\f" + std::to_string(i) + ".txt", "new " + std::to_string(i));
        WriteFile(destination + "\\mine.txt", "my work");
    }
    TempDir dir;
    const std::string source = dir / "Shared", destination = dir / "Work";
};

// The display's second line, as a user reads it.
std::string StatusLine(HWND display) {
    HWND files = nullptr;
    for (HWND child = GetWindow(display, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (WindowText(child).rfind("Files:", 0) == 0) files = child;
    return files ? WindowText(GetWindow(files, GW_HWNDNEXT)) : "";
}

// Every file is copied, and the new tree not yet switched in: a Cancel now still counts,
// and the transfer ends with both trees as they were.
TEST(ProgressDisplay, CancelAfterTheLastFileStillCountsUntilTheSwitch) {
    SmallTrees trees;
    const auto before = ListTree(trees.destination);
    forms::Form owner(OwnerLayout(), nullptr);
    owner.Show();
    PausingFlush flush;
    std::string shown;
    std::thread user([&] {
        HWND display = AwaitTopWindow("TProgress", nullptr, GetCurrentProcessId());
        if (!display || !flush.AwaitPause()) {
            flush.GoOn();
            return;
        }
        HWND cancel = FindChild(display, "Button", "Cancel");
        if (cancel) Click(cancel);
        AwaitCondition([&] { return StatusLine(display).rfind("Cancelling", 0) == 0; });
        shown = StatusLine(display);
        flush.GoOn();
    });
    const TransferResult result = RunWithProgress(owner, [&](TransferProgress& progress) {
        return TransferTree(trees.source, trees.destination, &progress);
    });
    user.join();
    EXPECT_EQ(shown, "Cancelling: nothing will be changed.");
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.cancelled);
    ASSERT_FALSE(result.messages.empty());
    EXPECT_EQ(result.messages[0].text, "User aborted copy");
    EXPECT_EQ(ListTree(trees.destination), before);
    EXPECT_FALSE(Exists(trees.destination + ".saved"));
    EXPECT_FALSE(Exists(trees.destination + ".next"));
}

// Once the switch has begun the transfer finishes: Cancel is refused, and the display
// says that it is too late to cancel rather than promising that nothing will change.
TEST(ProgressDisplay, OnceTheSwitchBeganTheDisplaySaysItIsTooLateToCancel) {
    SmallTrees trees;
    forms::Form owner(OwnerLayout(), nullptr);
    owner.Show();
    std::atomic<bool> atSwitch{false}, goOn{false};
    TransferOptions options;
    options.beforeSwitch = [&](uint64_t) {
        atSwitch = true;
        AwaitCondition([&] { return goOn.load(); });
        return true;
    };
    std::string shown;
    bool cancelEnabled = true;
    std::thread user([&] {
        HWND display = AwaitTopWindow("TProgress", nullptr, GetCurrentProcessId());
        if (display && AwaitCondition([&] { return atSwitch.load(); })) {
            HWND cancel = FindChild(display, "Button", "Cancel");
            if (cancel) Click(cancel);  // as soon as the switch began: refused
            AwaitCondition([&] { return StatusLine(display).rfind("Too late", 0) == 0; });
            shown = StatusLine(display);
            cancelEnabled = cancel && IsWindowEnabled(cancel);
        }
        goOn = true;
    });
    const TransferResult result = RunWithProgress(owner, [&](TransferProgress& progress) {
        return TransferTree(trees.source, trees.destination, &progress, options);
    });
    user.join();
    EXPECT_EQ(shown, "Too late to cancel: the copy is being put in place.");
    EXPECT_FALSE(cancelEnabled);
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.cancelled);
    std::string difference;
    EXPECT_TRUE(SameTree(trees.source, trees.destination, &difference)) << difference;
    EXPECT_EQ(ReadFile(trees.destination + ".saved\\mine.txt"), "my work");
}

// A copy that finds nothing changed has nothing to switch, and ends at once: a cancel that
// came before its end still counts, so that the period does not go on as if it were done.
TEST(ProgressDisplay, ACancelBeforeACopyOfNothingChangedEndsStillCounts) {
    SmallTrees trees;
    ASSERT_TRUE(TransferTree(trees.source, trees.destination).ok);
    TransferProgress cancelledFirst;
    ASSERT_TRUE(cancelledFirst.Cancel());
    const TransferResult result = TransferTree(trees.source, trees.destination, &cancelledFirst);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.changedNothing);
    TransferProgress uncancelled;
    const TransferResult again = TransferTree(trees.source, trees.destination, &uncancelled);
    EXPECT_TRUE(again.ok);
    EXPECT_TRUE(again.changedNothing);
    EXPECT_FALSE(uncancelled.Cancel()) << "a cancel after the end is refused";
}

}  // namespace
