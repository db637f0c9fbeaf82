// The History window on real windows and a real share's history: the list, the selected
// record in full, what it says when there is nothing to show, a copy that cannot be made,
// and a thousand records.
#include "app/Chistory.h"
#include "app/UnsavedWork.h"
#include "support/Gui.h"
#include "support/MessageBoxes.h"
#include "support/PausingCalls.h"
#include "support/Stopwatch.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

using namespace testsupport;

namespace {

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

std::string Text(const forms::Control& control) { return WindowText(control.Handle()); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class HistoryWindow : public ::testing::Test {
protected:
    void SetUp() override {
        MakeFolder(share + "\\sub");
        WriteFile(share + "\\notes.txt", "page one");
        WriteFile(share + "\\sub\\table.dat", "table");
        MakeFolder(local);
        ASSERT_TRUE(TransferTree(share, local).ok);
    }

    // A period of `user` on "<user>-PC": `change` to the local data, copied back with its history.
    void Period(const std::string& user, const std::function<void()>& change) {
        change();
        HistoryAuthor author;
        author.user = user;
        author.pc = user + "-PC";
        GetSystemTimeAsFileTime(&author.began);
        TransferOptions options;
        options.history = &author;
        ASSERT_TRUE(TransferTree(local, share, nullptr, options).ok);
    }

    void Event(const std::string& user, const std::string& text) {
        HistoryRecord event;
        event.user = user;
        event.pc = user + "-PC";
        event.text = text;
        std::string problem;
        ASSERT_TRUE(RecordHistoryEvent(share, event, problem)) << problem;
    }

    std::vector<HistoryRecord> Records() const {
        std::vector<HistoryRecord> records;
        std::string problem;
        EXPECT_TRUE(ReadHistory(share, records, problem)) << problem;
        return records;
    }

    // Runs the window modally while `user` acts on it from a thread of its own.
    static void ShowWhile(THistory& window, const std::function<void(HWND)>& user) {
        std::thread person([&] {
            HWND w = AwaitTopWindow("THistory", "History", GetCurrentProcessId());
            if (w) user(w);
            else ADD_FAILURE() << "the History window did not appear";
            if (w && IsWindowVisible(w)) PostMessageA(w, WM_CLOSE, 0, 0);
        });
        window.ShowModal();
        person.join();
    }

    TempDir dir;
    const std::string share = dir / "Share\\Data";
    const std::string local = dir / "PC\\Data";
};

TEST_F(HistoryWindow, OpensOnTheNewestAndShowsWhoWhenWhereAndWhatEachRecordSays) {
    Period("Ann", [&] {
        WriteFile(local + "\\notes.txt", "page one, by Ann");
        WriteFile(local + "\\added.txt", "Ann's new file");
    });
    Event("Bob", "Lock deleted: Bob deleted the lock of Ann (PC Ann-PC, held since 5/12/2026 9:00).");
    Period("Bob", [&] {
        WriteFile(local + "\\notes.txt", "page one, by Bob");
        DeleteFileA((local + "\\sub\\table.dat").c_str());
    });
    const std::vector<HistoryRecord> records = Records();
    ASSERT_EQ(records.size(), 3u);

    THistory window(nullptr, share, local);
    std::string firstShown, eventShown, oldestShown;
    int selectedAtOpen = -2;
    bool restoreForPeriod = false, restoreForEvent = true, escapeClosed = false;
    ShowWhile(window, [&](HWND w) {
        HWND list = window.ls_Periods.Handle();
        ASSERT_TRUE(AwaitCondition([&] { return Contains(Text(window.m_Changes), "Bob on PC Bob-PC"); }))
            << Text(window.lb_Status);
        selectedAtOpen = window.ls_Periods.Selected();
        firstShown = Text(window.m_Changes);
        restoreForPeriod = IsWindowEnabled(window.bt_Restore.Handle()) != FALSE;
        SaveScreenshot(w, "history-window");
        ASSERT_TRUE(AwaitFocus(list));
        PressKey(list, VK_DOWN);
        ASSERT_TRUE(AwaitCondition([&] { return Contains(Text(window.m_Changes), "Lock deleted"); }));
        eventShown = Text(window.m_Changes);
        restoreForEvent = IsWindowEnabled(window.bt_Restore.Handle()) != FALSE;
        PressKey(list, VK_DOWN);
        ASSERT_TRUE(AwaitCondition([&] { return Contains(Text(window.m_Changes), "Ann on PC Ann-PC"); }));
        oldestShown = Text(window.m_Changes);
        PressKey(list, VK_ESCAPE);
        escapeClosed = AwaitGone(w);
    });
    EXPECT_TRUE(escapeClosed);
    EXPECT_EQ(selectedAtOpen, 0);
    EXPECT_TRUE(restoreForPeriod);
    EXPECT_FALSE(restoreForEvent);

    // One line per record, newest first: when, who, PC, and the files added, changed and
    // removed; an event's text instead of the counts.
    ASSERT_EQ(window.ls_Periods.Count(), 3);
    const std::vector<std::vector<std::string>> expected = {
        {LocalTimeText(records[0].ended, MonthWidth::AsIs, ""), "Bob", "Bob-PC", "0", "1", "1"},
        {LocalTimeText(records[1].ended, MonthWidth::AsIs, ""), "Bob", "Bob-PC", records[1].text},
        {LocalTimeText(records[2].ended, MonthWidth::AsIs, ""), "Ann", "Ann-PC", "1", "1", "0"},
    };
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Fields(window.ls_Periods.Line(i)), expected[static_cast<size_t>(i)]) << i;
    std::vector<std::string> heads;
    for (const forms::Label* head : window.columnHeads) heads.push_back(Text(*head));
    EXPECT_EQ(heads, (std::vector<std::string>{"When", "Who", "PC", "Added", "Changed", "Removed"}));
    EXPECT_TRUE(Contains(Text(window.lb_Folder), share)) << Text(window.lb_Folder);

    // The selected record in full: a period's files by name, an event's text.
    EXPECT_TRUE(Contains(firstShown, "Changed: notes.txt (16 bytes)")) << firstShown;
    EXPECT_TRUE(Contains(firstShown, "Removed: sub\\table.dat (5 bytes)")) << firstShown;
    EXPECT_FALSE(Contains(firstShown, "added.txt")) << firstShown;
    EXPECT_TRUE(Contains(eventShown, records[1].text)) << eventShown;
    EXPECT_TRUE(Contains(oldestShown, "Added: added.txt (14 bytes)")) << oldestShown;
    EXPECT_TRUE(Contains(oldestShown, "Changed: notes.txt")) << oldestShown;
}

// No history, a shared folder that cannot be reached, a history that cannot be read: each
// is said in words, with nothing listed and nothing to restore.
TEST_F(HistoryWindow, SaysPlainlyWhenThereIsNothingToShow) {
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "by Ann"); });
    const std::string log = HistoryFolder(share) + "\\periods.log";
    ASSERT_TRUE(Exists(log));
    const std::string fresh = dir / "Fresh\\Data";
    MakeFolder(fresh);
    struct Case {
        const char* what;
        std::string shared;
        bool holdLog;
        const char* says;
    } cases[] = {
        {"a share without history", fresh, false, "No history is kept for "},
        {"a shared folder that is gone", dir / "Gone\\Data", false, "cannot be reached"},
        {"a history that cannot be read", share, true, "cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE held = c.holdLog ? CreateFileA(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                : INVALID_HANDLE_VALUE;
        THistory window(nullptr, c.shared, local);
        window.Show();
        EXPECT_FALSE(window.Reload());
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(window.ls_Periods.Count(), 0);
        EXPECT_TRUE(Contains(Text(window.lb_Status), c.says)) << Text(window.lb_Status);
        EXPECT_TRUE(Contains(Text(window.lb_Status), c.shared)) << Text(window.lb_Status);
        EXPECT_EQ(Text(window.m_Changes), Text(window.lb_Status));
        EXPECT_FALSE(IsWindowEnabled(window.bt_Restore.Handle()));
    }
    // Once the log can be read again, the same window lists it.
    THistory window(nullptr, share, local);
    window.Show();
    EXPECT_TRUE(window.Reload());
    EXPECT_EQ(window.ls_Periods.Count(), 1);
}

// A version the share can no longer give (its backup was changed by hand) is told in the
// program's boxes; no folder is left beside the local data, and the share is as it was.
TEST_F(HistoryWindow, ACopyThatCannotBeMadeIsToldAndLeavesNothingBehind) {
    for (const char* page : {"page two", "page three", "page four"})
        Period("Ann", [&] { WriteFile(local + "\\notes.txt", page); });
    WriteFile(share + ".saved\\notes.txt", "page three, changed by hand");
    CopyTree(dir / "Share", dir / "share before");
    THistory window(nullptr, share, local);
    MessageBoxWatcher boxes;
    bool told = false;
    ShowWhile(window, [&](HWND) {
        ASSERT_TRUE(AwaitCondition([&] { return window.ls_Periods.Count() == 3; }));
        HWND list = window.ls_Periods.Handle();
        ASSERT_TRUE(AwaitFocus(list));
        PressKey(list, VK_DOWN);
        ASSERT_TRUE(AwaitCondition([&] { return window.ls_Periods.Selected() == 1; }));
        Click(window.bt_Restore.Handle());
        told = boxes.WaitForCount(1) &&
               AwaitCondition([&] { return Text(window.lb_Status) == "No copy was made."; });
    });
    EXPECT_TRUE(told);
    ASSERT_GE(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Seen()[0].caption, "Restore a Copy");
    EXPECT_TRUE(Contains(boxes.Seen()[0].text, "can no longer be made again")) << boxes.Seen()[0].text;
    for (const auto& entry : ListTree(dir / "PC"))
        EXPECT_EQ(entry.relative.find(".version-"), std::string::npos) << entry.relative;
    std::string difference;
    EXPECT_TRUE(SameTreeExactly(dir / "share before", dir / "Share", &difference)) << difference;
}

// Cancel in the restore's progress display, while files are copied or once the last one is
// (before the copy takes its name), makes no copy: the box says so, nothing is left.
TEST_F(HistoryWindow, CancelInTheRestoresProgressMakesNoCopy) {
    Period("Ann", [&] {
        for (int i = 0; i < 8; ++i) WriteFile(local + "\\f" + std::to_string(i) + ".txt", std::string(100 + i, 'f'));
    });
    Period("Bob", [&] { WriteFile(local + "\\notes.txt", "by Bob"); });
    for (const bool afterTheLastFile : {false, true}) {
        SCOPED_TRACE(afterTheLastFile ? "after the last file" : "while files are copied");
        std::unique_ptr<PausingCopy> copy;
        std::unique_ptr<PausingFlush> flush;
        if (afterTheLastFile) flush = std::make_unique<PausingFlush>();
        else {
            copy = std::make_unique<PausingCopy>();
            copy->PauseBefore(1, 0);
        }
        THistory window(nullptr, share, local);
        MessageBoxWatcher boxes;
        bool told = false;
        ShowWhile(window, [&](HWND) {
            ASSERT_TRUE(AwaitCondition([&] { return window.ls_Periods.Count() == 2; }));
            Click(window.bt_Restore.Handle());
            ASSERT_TRUE(afterTheLastFile ? flush->AwaitPause() : copy->AwaitPause(1));
            HWND progress = AwaitTopWindow("TProgress", "Restore a Copy", GetCurrentProcessId());
            ASSERT_NE(progress, nullptr);
            HWND cancel = FindChild(progress, "Button", "Cancel");
            Click(cancel);
            ASSERT_TRUE(AwaitCondition([&] { return !IsWindowEnabled(cancel); }));
            if (flush) flush->GoOn();
            if (copy) copy->GoOn();
            told = boxes.WaitForCount(1) &&
                   AwaitCondition([&] { return Text(window.lb_Status) == "No copy was made."; });
        });
        EXPECT_TRUE(told);
        ASSERT_GE(boxes.Count(), 1u);
        EXPECT_EQ(boxes.CaptionsAndTexts()[0], (std::pair<std::string, std::string>{"Restore a Copy", "User aborted copy"}));
        for (const auto& entry : ListTree(dir / "PC"))
            EXPECT_EQ(entry.relative.find(".version-"), std::string::npos) << entry.relative;
    }
}

// A thousand records are listed whole, newest first, the newest selected with its files
// shown. The time it takes is printed, not judged.
TEST_F(HistoryWindow, AThousandRecordsAreListedWhole) {
    for (int i = 1; i < 1000; ++i) Event(i % 2 ? "Ann" : "Bob", "Lock deleted: record " + std::to_string(i) + ".");
    Period("Carl", [&] { WriteFile(local + "\\notes.txt", "by Carl"); });
    THistory window(nullptr, share, local);
    window.Show();
    const double start = SecondsNow();
    ASSERT_TRUE(window.Reload());
    UpdateWindow(window.Handle());
    const double seconds = SecondsNow() - start;
    std::printf("[ FIGURE   ] 1,000 records read, listed and the newest shown in %.0f ms\n", seconds * 1000);
    ASSERT_EQ(window.ls_Periods.Count(), 1000);
    EXPECT_EQ(window.ls_Periods.Selected(), 0);
    EXPECT_EQ(Fields(window.ls_Periods.Line(0))[1], "Carl");
    EXPECT_EQ(Fields(window.ls_Periods.Line(999)).back(), "Lock deleted: record 1.");
    EXPECT_TRUE(Contains(Text(window.m_Changes), "Changed: notes.txt")) << Text(window.m_Changes);
}

// The notes of lost locks a PC keeps for the history survive the record's write and read,
// with whatever their texts hold, and a record without them reads as before.
TEST(UnsavedWorkRecord, KeepsItsLostLockNotesForTheNextPeriod) {
    TempDir dir;
    const std::string local = dir / "Data";
    UnsavedWork work;
    GetSystemTimeAsFileTime(&work.began);
    work.sharedFingerprint = 0x1234;
    ASSERT_TRUE(WriteUnsavedWork(local.c_str(), work));
    UnsavedWork read;
    ASSERT_TRUE(ReadUnsavedWork(local.c_str(), read));
    EXPECT_TRUE(read.lostLocks.empty());

    work.lostLocks = {{"Ann", "Lock lost: the first"}, {"Ann Lee", "a tab\there and a\r\nline end = kept apart"}};
    ASSERT_TRUE(WriteUnsavedWork(local.c_str(), work));
    ASSERT_TRUE(ReadUnsavedWork(local.c_str(), read));
    ASSERT_EQ(read.lostLocks.size(), 2u);
    EXPECT_EQ(read.lostLocks[0].user, "Ann");
    EXPECT_EQ(read.lostLocks[0].text, "Lock lost: the first");
    EXPECT_EQ(read.lostLocks[1].user, "Ann Lee");
    EXPECT_EQ(read.lostLocks[1].text, "a tab here and a  line end = kept apart");
    EXPECT_EQ(read.sharedFingerprint, 0x1234u);
}

}  // namespace
