// The history as users meet it, with the real program on real folders: periods of two
// users on two PCs, each version made again from the History window; the window opened
// from the title window and by "/history"; and the events another user needs to
// understand what happened: locks deleted, work set aside, a period ended by a lost lock.
#include "app/Workspace.h"

#include "shell/Wintools.h"
#include "shell/transfer/Transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace e2e;
using namespace testsupport;

namespace {

const std::string kShared = "shared v1\r\n";

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The program's History window, seen and acted on from outside as a user would.
class HistoryWindowOf {
public:
    explicit HistoryWindowOf(const ProgramRun& run) : run_(run), window(run.Window("THistory", "History")) {
        if (!window) return;
        list = FindChild(window, "ListBox", nullptr);
        memo = FindChild(window, "Edit", nullptr);
        restore = FindChild(window, "Button", "Restore a Copy...");
        close = FindChild(window, "Button", "Close");
    }

    int Count() const { return static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)); }
    int Selected() const { return static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0)); }
    // Asked in wide characters: Wine hands another process a list line in them even when
    // asked with LB_GETTEXT's 8-bit form.
    std::string Line(int index) const {
        wchar_t text[1024] = L"";
        const LRESULT n = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        return n == LB_ERR ? "" : Narrow(std::wstring(text, static_cast<size_t>(n)));
    }
    bool Listed() const { return AwaitCondition([&] { return Count() > 0 && Selected() >= 0; }); }
    // Clicks line `index`, the list scrolled to its top.
    bool Select(int index) const {
        const int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
        ClickAt(list, 40, index * height + height / 2);
        return AwaitCondition([&] { return Selected() == index; });
    }
    // "Restore a Copy..." of the selected period: where the box says the copy is, empty
    // (with the box's text in `said`) when it says none was made.
    std::string RestoreSelected(std::string& said) const {
        Click(restore);
        const MessageBoxSeen box = run_.Box("Restore a Copy");
        said = box.text;
        const std::string before = "was copied to\n";
        const size_t at = box.text.find(before);
        if (at == std::string::npos) return "";
        const size_t from = at + before.size();
        return box.text.substr(from, box.text.find('\n', from) - from);
    }

private:
    const ProgramRun& run_;

public:
    HWND window = nullptr, list = nullptr, memo = nullptr, restore = nullptr, close = nullptr;
};

class History : public ::testing::Test {
protected:
    TempDir root;
    Share share{root};
    Pc pcA{root, share, "pcA"};
    Pc pcB{root, share, "pcB"};

    // A whole period of `user` on `pc`, the application doing `options` to the local data
    // and ending; the share is kept as it was left, and its copy returned.
    std::string PeriodOn(const Pc& pc, const std::string& user, const std::string& options) {
        pc.WriteSetting("RunCommandOptions", options);
        ProgramRun run(pc.program, "\"" + user + "\"");
        EXPECT_TRUE(run.Ended()) << run.Shown();
        EXPECT_EQ(run.ExitCode(), 0u);
        const std::string kept = root / ("kept\\" + std::to_string(++periods_));
        CopyTree(share.data, kept);
        return kept;
    }

    std::vector<HistoryRecord> Records() const {
        std::vector<HistoryRecord> records;
        std::string problem;
        EXPECT_TRUE(ReadHistory(share.data, records, problem)) << problem;
        return records;
    }
    std::vector<HistoryRecord> Events() const {
        std::vector<HistoryRecord> events;
        for (const auto& record : Records())
            if (record.kind == HistoryKind::Event) events.push_back(record);
        return events;
    }
    std::string Record(const Pc& pc) const { return pc.local + ".unsaved"; }

private:
    int periods_ = 0;
};

// ---- Every version back -------------------------------------------------------------

// Ann on one PC, Bob on another, Ann again; then, in the History window of Bob's PC,
// "Restore a Copy..." of each: every copy is byte for byte the shared tree as its period
// left it, beside Bob's local data, and the share is as it was.
TEST_F(History, ThreeVersionsByTwoUsersOnTwoPcsComeBackByteForByte) {
    // Data larger than its changes, as real data is: the history keeps the increments of
    // at most the tree's size, and a tree of a few bytes would lose them.
    WriteFile(share.data + "\\big.dat", std::string(200000, 'D'));
    const std::vector<std::string> kept = {
        PeriodOn(pcA, "Ann", "--append-line " + pcA.local + "\\notes.txt \"Ann's first\" --write " + pcA.local +
                                 "\\ann.txt \"from Ann\""),
        PeriodOn(pcB, "Bob Lee", "--append-line " + pcB.local + "\\notes.txt \"Bob's turn\" --delete " + pcB.local +
                                     "\\sub\\table.dat --write " + pcB.local + "\\sub\\bob.txt \"from Bob\""),
        PeriodOn(pcA, "Ann", "--append-line " + pcA.local + "\\notes.txt \"Ann again\" --delete " + pcA.local +
                                 "\\ann.txt --mkdir " + pcA.local + "\\empty"),
    };
    EXPECT_TRUE(Contains(ReadFile(share.data + "\\notes.txt"), "Ann again"));
    const std::vector<HistoryRecord> records = Records();
    ASSERT_EQ(records.size(), 3u);
    CopyTree(root / "share", root / "share before the restores");

    ProgramRun run(pcB.program, "/history");
    HistoryWindowOf history(run);
    ASSERT_NE(history.window, nullptr) << run.Shown();
    ASSERT_TRUE(history.Listed()) << WindowText(history.memo);
    ASSERT_TRUE(AwaitCondition([&] { return StartsWith(WindowText(history.memo), "Ann on PC "); }));
    SaveScreenshot(history.window, "history-window-three-periods");
    EXPECT_EQ(history.Count(), 3);
    EXPECT_EQ(history.Selected(), 0) << "the newest is selected when the window opens";
    const char* users[] = {"Ann", "Bob Lee", "Ann"};  // newest first
    const char* counts[] = {"0\t1\t1", "1\t1\t1", "1\t1\t0"};  // added, changed, removed
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::string line = history.Line(i);
        EXPECT_TRUE(Contains(line, std::string("\t") + users[i] + "\t" + ComputerName() + "\t" + counts[i])) << line;
    }

    std::vector<std::string> copies;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(history.Select(i));
        ASSERT_TRUE(AwaitCondition([&] { return StartsWith(WindowText(history.memo), users[i]); }))
            << WindowText(history.memo);
        std::string said;
        const std::string copy = history.RestoreSelected(said);
        ASSERT_FALSE(copy.empty()) << said;
        EXPECT_TRUE(StartsWith(copy, pcB.local + ".version-")) << copy;
        EXPECT_FALSE(Exists(copy + ".incoming"));
        std::string difference;
        EXPECT_TRUE(SameTreeExactly(kept[static_cast<size_t>(2 - i)], copy, &difference)) << difference;
        copies.push_back(copy);
    }
    EXPECT_NE(copies[0], copies[1]);
    EXPECT_NE(copies[1], copies[2]);
    std::string difference;
    EXPECT_TRUE(SameTreeExactly(root / "share before the restores", root / "share", &difference)) << difference;
    EXPECT_EQ(ReadFile(pcB.local + "\\notes.txt"), ReadFile(kept[1] + "\\notes.txt")) << "the local data is untouched";

    Click(history.close);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(run.ExitCode(), 0u);
}

// ---- Where the window opens from -----------------------------------------------------

// The title window's menu opens the History window while the application runs; the
// period goes on underneath, and when it ends while the window is open it lets go of the
// lock and the program waits for the window to close.
TEST_F(History, TheTitleWindowsMenuOpensTheHistoryWhileThePeriodGoesOn) {
    PeriodOn(pcA, "Ann", "--append-line " + pcA.local + "\\notes.txt first");
    pcA.AppendsThenWaits("second");
    ProgramRun run(pcA.program, "Ann");
    ASSERT_TRUE(WaitFor([&] { return Contains(ReadFileOr(pcA.local + "\\notes.txt", ""), "second"); })) << run.Shown();
    HWND title = run.Window("TLogo");
    ASSERT_NE(title, nullptr);
    HWND label = FindChild(title, "Static", "Carvelund");
    ASSERT_NE(label, nullptr);
    PostMessageA(label, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(30, 10));
    PostMessageA(label, WM_RBUTTONUP, 0, MAKELPARAM(30, 10));
    HWND menu = AwaitTopWindow("#32768", nullptr, run.Pid());
    ASSERT_NE(menu, nullptr) << run.Shown();
    PressKey(menu, VK_DOWN);
    PressKey(menu, VK_RETURN);
    HistoryWindowOf history(run);
    ASSERT_NE(history.window, nullptr) << run.Shown();
    ASSERT_TRUE(history.Listed());
    EXPECT_EQ(history.Count(), 1);
    EXPECT_TRUE(Contains(WindowText(FindChild(history.window, "Static", nullptr)), "Shared data folder: "));

    pcA.AppEnds();
    ASSERT_TRUE(WaitFor([&] { return !Exists(pcA.Token("Ann")); })) << run.Shown();
    EXPECT_TRUE(Contains(ReadFile(share.data + "\\notes.txt"), "second"));
    EXPECT_FALSE(run.Ended(0)) << "gone under the open History window";
    EXPECT_TRUE(IsWindowVisible(history.window));
    Click(history.close);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(Records().size(), 2u);
}

// "/history" needs both folders from the settings file: without them a box says which
// file and how to set them up, and the program ends having shown no window else.
TEST_F(History, SlashHistoryWithoutItsSettingsSaysSoAndEnds) {
    struct Case {
        const char* what;
        bool noIni;
        const char* says;
    } cases[] = {
        {"no settings file", true, "cannot be read"},
        {"no shared data folder set", false, "does not name both"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.noIni) DeleteFileA(pcA.ini.c_str());
        else pcA.WriteSetting("RemoteSharedDataFolder", "");
        ProgramRun run(pcA.program, "/history");
        const MessageBoxSeen box = run.Box("History");
        ASSERT_NE(box.window, nullptr) << run.Shown();
        EXPECT_TRUE(Contains(box.text, pcA.ini)) << box.text;
        EXPECT_TRUE(Contains(box.text, c.says)) << box.text;
        EXPECT_TRUE(Contains(box.text, "Start Carvelund without arguments")) << box.text;
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(FindTopWindow("THistory", nullptr, run.Pid()), nullptr);
        EXPECT_TRUE(ListTree(share.lock).empty());
        EXPECT_FALSE(Exists(HistoryFolder(share.data)));
    }
}

// ---- Events ----------------------------------------------------------------------------

// A lock deleted with "Delete Lock && Proceed" at the start, or "Delete Lock && Save" at the
// end: the history says whose lock, by whom, from which PC, once the deleter holds the lock.
TEST_F(History, ADeletedLockIsRecordedByWhoeverDeletedIt) {
    WriteFile(pcA.Token("Bob"), "1");
    pcA.WriteSetting("RunCommandOptions", "--append-line " + pcA.local + "\\notes.txt edited");
    {
        ProgramRun run(pcA.program, "Ann");
        run.Choose("TStartLock", "Delete Lock && Proceed");
        ASSERT_TRUE(run.Ended()) << run.Shown();
    }
    // During the next period another PC's token takes the place of Ann's.
    pcA.WriteSetting("RunCommandOptions", "--append-line " + pcA.local + "\\notes.txt again --delete " +
                                              pcA.Token("Ann") + " --write " + pcA.Token("Carl") + " 1");
    {
        ProgramRun run(pcA.program, "Ann");
        run.Choose("TFinishLockStolen", "Delete Lock && Save");
        ASSERT_TRUE(run.Ended()) << run.Shown();
    }
    const std::vector<HistoryRecord> records = Records();
    ASSERT_EQ(records.size(), 4u);
    const struct {
        const char* holder;
        const char* choice;
        const HistoryRecord& event;
    } expected[] = {{"Carl", "\"Delete Lock & Save\"", records[1]}, {"Bob", "\"Delete Lock & Proceed\"", records[3]}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.choice);
        ASSERT_EQ(e.event.kind, HistoryKind::Event);
        EXPECT_EQ(e.event.user, "Ann");
        EXPECT_EQ(e.event.pc, ComputerName());
        EXPECT_TRUE(StartsWith(e.event.text, std::string("Lock deleted: Ann deleted the lock of ") + e.holder + " ("))
            << e.event.text;
        EXPECT_TRUE(Contains(e.event.text, e.choice)) << e.event.text;
    }
    EXPECT_EQ(records[0].kind, HistoryKind::Period);
    EXPECT_EQ(records[2].kind, HistoryKind::Period);
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// A history that cannot be written (here a file has its name) costs the period nothing:
// the work reaches the share, no box is shown, and the file is left as it was.
TEST_F(History, AHistoryThatCannotBeWrittenNeverStopsAPeriod) {
    WriteFile(HistoryFolder(share.data), "not a folder");
    WriteFile(pcA.Token("Bob"), "1");
    pcA.WriteSetting("RunCommandOptions", "--append-line " + pcA.local + "\\notes.txt edited");
    ProgramRun run(pcA.program, "Ann");
    run.Choose("TStartLock", "Delete Lock && Proceed");
    ASSERT_TRUE(run.Ended()) << run.Shown();
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(ReadFile(share.data + "\\notes.txt"), kShared + "edited\r\n");
    EXPECT_EQ(ReadFile(HistoryFolder(share.data)), "not a folder");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// "Shared Data Changed", Yes: the other PC's save is set aside on the share, and the history
// says where, before the period that replaced it.
TEST_F(History, AnotherPcsSaveSetAsideIsRecordedWithWhereItWent) {
    pcA.WriteSetting("RunCommandOptions", "--append-line " + pcA.local + "\\notes.txt edited --delete " +
                                              pcA.Token("Ann") + " --write " + share.data + "\\other.txt bob");
    ProgramRun run(pcA.program, "Ann");
    run.Choose("TFinishLockGone", "Save Anyway");
    const MessageBoxSeen box = run.Box("Shared Data Changed", "&Yes");
    const size_t at = box.text.find(share.data + ".setaside-");
    ASSERT_NE(at, std::string::npos) << box.text;
    const std::string aside = box.text.substr(at, box.text.find(',', at) - at);
    ASSERT_TRUE(run.Ended());
    const std::vector<HistoryRecord> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, HistoryKind::Period);
    ASSERT_EQ(records[1].kind, HistoryKind::Event);
    EXPECT_EQ(records[1].user, "Ann");
    EXPECT_TRUE(StartsWith(records[1].text, "Shared Data Changed: ")) << records[1].text;
    EXPECT_TRUE(Contains(records[1].text, "set aside in " + aside + ",")) << records[1].text;
    EXPECT_EQ(ReadFileOr(aside + "\\other.txt", "<none>"), "bob");
}

// "Unsaved Local Data", No: the work of a killed period is set aside on its PC; the
// history says where, and that the next period deleted the killed one's lock.
TEST_F(History, UnsavedWorkSetAsideIsRecordedWithWhereItWent) {
    pcA.AppendsThenWaits("first");
    {
        ProgramRun run(pcA.program, "Ann");
        ASSERT_TRUE(WaitFor([&] { return Contains(ReadFileOr(pcA.local + "\\notes.txt", ""), "first"); }));
        run.Kill();
    }
    pcA.AppEnds();
    ASSERT_TRUE(Exists(Record(pcA)));
    pcA.WriteSetting("RunCommandOptions", "--append-line " + pcA.local + "\\notes.txt second");
    std::string aside;
    {
        ProgramRun run(pcA.program, "Ann");
        run.Choose("TStartLock", "Delete Lock && Proceed");
        run.Box("Unsaved Local Data", "&No");
        const MessageBoxSeen told = run.Box("Unsaved Local Data", "OK");
        const size_t at = told.text.find(pcA.local + ".setaside-");
        ASSERT_NE(at, std::string::npos) << told.text;
        aside = told.text.substr(at, told.text.find('\n', at) - at);
        ASSERT_TRUE(run.Ended()) << run.Shown();
    }
    const std::vector<HistoryRecord> events = Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(StartsWith(events[0].text, "Unsaved Local Data: work begun ")) << events[0].text;
    EXPECT_TRUE(Contains(events[0].text, " on PC " + ComputerName() + " ")) << events[0].text;
    EXPECT_TRUE(Contains(events[0].text, "set aside on that PC in " + aside + ".")) << events[0].text;
    EXPECT_TRUE(StartsWith(events[1].text, "Lock deleted: Ann deleted the lock of Ann (")) << events[1].text;
    EXPECT_TRUE(Contains(ReadFileOr(aside + "\\notes.txt", ""), "first"));
}

// A period whose lock another PC took ends with "Keep Work for Later": that PC cannot
// write the history then, so its record of unsaved work keeps the note, and its next
// period writes it once it holds the lock, once.
TEST_F(History, APeriodEndedByALostLockIsRecordedAtThatPcsNextPeriod) {
    pcA.WriteSetting("RunCommandOptions", "--append-line " + pcA.local + "\\notes.txt kept --delete " +
                                              pcA.Token("Ann") + " --write " + pcA.Token("Bob") + " 1");
    {
        ProgramRun run(pcA.program, "Ann");
        run.Choose("TFinishLockStolen", "Keep Work for Later");
        ASSERT_TRUE(run.Ended()) << run.Shown();
    }
    ASSERT_TRUE(Exists(Record(pcA)));
    EXPECT_TRUE(Contains(ReadFile(Record(pcA)), "LostLock=Ann\t"));
    EXPECT_TRUE(Events().empty()) << "written without the lock";
    EXPECT_EQ(ReadFile(share.data + "\\notes.txt"), kShared);

    DeleteFileA(pcA.Token("Bob").c_str());
    pcA.WriteSetting("RunCommandOptions", "--append-line " + pcA.local + "\\notes.txt next");
    {
        ProgramRun run(pcA.program, "Ann");
        run.Box("Unsaved Local Data", "&Yes");
        ASSERT_TRUE(run.Ended()) << run.Shown();
    }
    PeriodOn(pcA, "Ann", "--append-line " + pcA.local + "\\notes.txt last");
    const std::vector<HistoryRecord> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].user, "Ann");
    EXPECT_EQ(events[0].pc, ComputerName());
    EXPECT_TRUE(StartsWith(events[0].text, "Lock lost: Ann on PC " + ComputerName() + " lost the lock on "))
        << events[0].text;
    EXPECT_TRUE(Contains(events[0].text, "(Bob held it then)")) << events[0].text;
    EXPECT_FALSE(Exists(Record(pcA)));
    EXPECT_TRUE(Contains(ReadFile(share.data + "\\notes.txt"), "kept\r\nnext\r\nlast"));
}

}  // namespace
