// Whole working periods of the real program, on real folders, with the helper program
// as the application, acted on as a user would.
#include "app/Workspace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace e2e;
using namespace testsupport;

namespace {

// The since text of a token, worked out here from the file's time.
std::string SinceOf(const std::string& token) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(token.c_str(), GetFileExInfoStandard, &data)) return "";
    FILETIME local;
    SYSTEMTIME t;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &t);
    char text[32];
    snprintf(text, sizeof text, "%2u/%02u/%04u %u:%02u", t.wMonth, t.wDay, t.wYear, t.wHour, t.wMinute);
    return text;
}

DWORD LinkCount(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file == INVALID_HANDLE_VALUE) return 0;
    GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return info.nNumberOfLinks;
}

const char* kSharedBefore = "shared v1\r\n";
const char* kLocalBefore = "local before\r\n";

class Period : public ::testing::Test {
protected:
    TempDir root;
    Share share{root};
    Pc pc{root, share, "pcA"};

    std::string SharedNotes() const { return ReadFile(share.data + "\\notes.txt"); }
    std::string LocalNotes() const { return ReadFile(pc.local + "\\notes.txt"); }
    bool Holds(const std::string& user) const { return Exists(pc.Token(user)); }
    bool AppStarted() const {
        return WaitFor([&] {
            const std::string notes = ReadFileOr(pc.local + "\\notes.txt", kLocalBefore);
            return notes != kLocalBefore && notes != kSharedBefore;
        });
    }
};

TEST_F(Period, TakesTheLockCopiesInRunsCopiesBackAndReleases) {
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    // While the application runs: the lock is Ann's, the local copy is the shared data.
    EXPECT_TRUE(Holds("Ann"));
    EXPECT_EQ(LocalNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_EQ(ReadFile(pc.local + ".saved\\notes.txt"), kLocalBefore);
    EXPECT_EQ(ReadFile(pc.local + "\\sub\\table.dat"), std::string(5000, 'T'));
    EXPECT_EQ(SharedNotes(), kSharedBefore);
    HWND title = run.Window("TLogo", "Carvelund");
    EXPECT_NE(title, nullptr);
    SaveScreenshot(title, "title-window-during-period");

    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_EQ(ReadFile(share.data + ".saved\\notes.txt"), kSharedBefore);
    EXPECT_FALSE(Exists(share.data + ".2delete"));
    EXPECT_FALSE(Exists(pc.local + ".2delete"));
    EXPECT_FALSE(Holds("Ann"));
}

// ---- Settings ----------------------------------------------------------------

// A period in which the application only looks changes nothing: the saves still hold the
// trees before the last real change. No two trees share a file, on either side.
TEST_F(Period, APeriodThatOnlyLooksKeepsTheSavesOfTheLastChange) {
    {
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(AppStarted()) << run.Shown();
        pc.AppEnds();
        ASSERT_TRUE(run.Ended());
    }
    EXPECT_EQ(ReadFile(share.data + ".saved\\notes.txt"), kSharedBefore);
    for (const std::string& tree : {share.data, share.data + ".saved", pc.local})
        EXPECT_EQ(LinkCount(tree + "\\sub\\table.dat"), 1u) << tree;

    DeleteFileA(pc.go.c_str());
    pc.WriteSetting("RunCommandOptions", "--wait-for " + pc.go + " 120000");
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(WaitFor([&] { return Holds("Ann"); }));
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_EQ(ReadFile(share.data + ".saved\\notes.txt"), kSharedBefore);
    EXPECT_EQ(ReadFile(pc.local + ".saved\\notes.txt"), kLocalBefore);
    EXPECT_FALSE(Holds("Ann"));
}

TEST_F(Period, WithoutAUserNameOnlyTheConfigurationIsShown) {
    for (const char* button : {"Cancel", "Save"}) {
        ProgramRun run(pc.program, "");
        run.Choose("TCarvelund", button);
        ASSERT_TRUE(run.Ended()) << button;
        EXPECT_TRUE(ListTree(share.lock).empty()) << button;
        EXPECT_EQ(LocalNotes(), kLocalBefore) << button;
        EXPECT_FALSE(Exists(pc.local + ".saved")) << button;
    }
}

// Finish deletes the token named for the user: without a name that must be none at all.
TEST_F(Period, WithoutAUserNameNoTokenOfAnotherUserIsDeleted) {
    for (const char* user : {"Bob", "Carl"}) WriteFile(pc.Token(user), "1");
    WriteFile(share.lock + "\\.tokenlockforcarvelund", "1");  // the token an empty name would have
    const auto before = ListTree(share.lock);
    for (const char* button : {"Cancel", "Save"}) {
        ProgramRun run(pc.program, "");
        run.Choose("TCarvelund", button);
        ASSERT_TRUE(run.Ended()) << button;
        EXPECT_EQ(ListTree(share.lock), before) << button;
        EXPECT_EQ(LocalNotes(), kLocalBefore) << button;
    }
}

TEST_F(Period, WithoutASettingsFileTheProgramEndsAfterTheDialogEvenWhenSaved) {
    DeleteFileA(pc.ini.c_str());
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TCarvelund");
    ASSERT_NE(dialog, nullptr);
    // Fill in the four paths as the user would, then save.
    const std::string values[] = {share.lock, share.data, pc.local, pc.helper};
    HWND box = nullptr;
    for (const auto& value : values) {
        box = FindWindowExA(dialog, box, "Edit", nullptr);
        ASSERT_NE(box, nullptr);
        PostMessageA(box, EM_SETSEL, 0, -1);
        TypeText(box, value);
    }
    Click(FindChild(dialog, "Button", "Save"));
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_EQ(LocalNotes(), kLocalBefore);
    char stored[1024];
    GetPrivateProfileStringA("RunTime", "RunCommand", "", stored, sizeof stored, pc.ini.c_str());
    EXPECT_EQ(std::string(stored), pc.helper);
}

class InvalidSettings : public Period {
protected:
    void SetUp() override { pc.WriteSetting("RunCommand", pc.folder + "\\missing.exe"); }
};

TEST_F(InvalidSettings, CancelEndsWithoutTouchingAnything) {
    ProgramRun run(pc.program, "Ann");
    run.Choose("TCarvelund", "Cancel");
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_EQ(LocalNotes(), kLocalBefore);
}

TEST_F(InvalidSettings, SaveAfterCorrectingGoesOnWithThePeriod) {
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TCarvelund");
    ASSERT_NE(dialog, nullptr);
    HWND label = FindChild(dialog, "Static", "Run Command NOT found!");
    EXPECT_NE(label, nullptr);
    HWND runCommand = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (runCommand = FocusOf(dialog)) != nullptr && runCommand != FindChild(dialog, "Button", "Cancel"); }));
    PostMessageA(runCommand, EM_SETSEL, 0, -1);
    TypeText(runCommand, pc.helper);
    Click(FindChild(dialog, "Button", "Save"));
    ASSERT_TRUE(AppStarted()) << run.Shown();
    EXPECT_TRUE(Holds("Ann"));
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_FALSE(Holds("Ann"));
}

// Escape and closing the dialog save nothing: a period whose settings the dialog refused
// ends there, touching nothing, as Cancel does.
TEST_F(InvalidSettings, EscapeOrClosingTheDialogEndsThePeriodAndTouchesNothing) {
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "closed");
        ProgramRun run(pc.program, "Ann");
        HWND dialog = run.Window("TCarvelund");
        ASSERT_NE(dialog, nullptr);
        // The check on showing puts the focus into the run-command box.
        HWND focused = nullptr;
        ASSERT_TRUE(WaitFor([&] {
            focused = FocusOf(dialog);
            char cls[16] = "";
            if (focused) GetClassNameA(focused, cls, sizeof cls);
            return lstrcmpiA(cls, "Edit") == 0;
        }));
        if (escape)
            PressKey(focused, VK_ESCAPE);
        else
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(FindTopWindow(nullptr, "Lanuching Application", run.Pid()), nullptr);
        EXPECT_TRUE(ListTree(share.lock).empty());
        EXPECT_EQ(LocalNotes(), kLocalBefore);
        EXPECT_FALSE(Exists(pc.local + ".saved"));
        EXPECT_EQ(SharedNotes(), kSharedBefore);
    }
}

// The dialog refuses a lock folder inside the shared data: its token and life sign would
// become part of the data, copied to every PC and back. Escape must not go on with it.
TEST_F(Period, EscapeOverALockFolderInsideTheDataEndsThePeriod) {
    const std::string inside = share.data + "\\locks";
    MakeFolder(inside);
    pc.WriteSetting("RemoteLockFolder", inside);
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TCarvelund");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitFor([&] {
        return FindChild(dialog, "Static", "Remote Lock Folder and Remote Shared Data Folder overlap!") != nullptr;
    }));
    HWND focused = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (focused = FocusOf(dialog)) != nullptr; }));
    PressKey(focused, VK_ESCAPE);
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(ListTree(inside).empty()) << "a token in the data";
    EXPECT_EQ(LocalNotes(), kLocalBefore);
    EXPECT_FALSE(Exists(pc.local + ".saved"));
    EXPECT_FALSE(Exists(pc.local + "\\locks"));
    EXPECT_EQ(SharedNotes(), kSharedBefore);
}

// ---- The lock at the start ----------------------------------------------------

class HeldByBob : public Period {
protected:
    void SetUp() override { WriteFile(pc.Token("Bob"), "1"); }
};

TEST_F(HeldByBob, TheDialogShowsTheHolderAndCancelCopiesNothing) {
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TStartLock", "Caution - Already Locked");
    ASSERT_NE(dialog, nullptr);
    HWND name = FindWindowExA(dialog, nullptr, "Edit", nullptr);
    HWND since = FindWindowExA(dialog, name, "Edit", nullptr);
    EXPECT_EQ(WindowText(name), "Bob");
    EXPECT_EQ(WindowText(since), SinceOf(pc.Token("Bob")));
    run.Choose("TStartLock", "Cancel");
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_FALSE(Holds("Ann"));
    EXPECT_EQ(LocalNotes(), kLocalBefore);
    EXPECT_FALSE(Exists(pc.local + ".saved"));
}

TEST_F(HeldByBob, DeleteLockAndProceedTakesTheLockOver) {
    ProgramRun run(pc.program, "Ann");
    run.Choose("TStartLock", "Delete Lock && Proceed");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    EXPECT_FALSE(Holds("Bob"));
    EXPECT_TRUE(Holds("Ann"));
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

TEST_F(HeldByBob, ProceedReadOnlyWorksLocallyAndNeverCopiesBack) {
    ProgramRun run(pc.program, "Ann");
    run.Choose("TStartLock", "Proceed Read Only");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    EXPECT_FALSE(Holds("Ann"));
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kSharedBefore);
    EXPECT_FALSE(Exists(share.data + ".saved"));
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_EQ(VisibleWindows(run.Pid()), 0);
}

// A token in the user's own name may be another PC's (one office account): the dialog
// says so, and Cancel deletes nothing.
TEST_F(Period, ATokenInTheOwnNameIsExplainedAndCancelDeletesNothing) {
    WriteFile(pc.Token("Ann"), "1");
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TStartLock");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(FindWindowExA(dialog, nullptr, "Edit", nullptr)), "Ann");
    HWND notice = nullptr;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (WindowText(child).rfind("Your own name", 0) == 0) notice = child;
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(IsWindowVisible(notice));
    run.Choose("TStartLock", "Cancel");
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(Holds("Ann"));
    EXPECT_EQ(LocalNotes(), kLocalBefore);
}

// No button chosen: the take is simply tried again, and the dialog comes back while
// the holder stays.
TEST_F(HeldByBob, TheDialogClosedWithoutAButtonTriesTheTakeAgain) {
    ProgramRun run(pc.program, "Ann");
    HWND first = run.Window("TStartLock");
    ASSERT_NE(first, nullptr);
    PostMessageA(first, WM_CLOSE, 0, 0);
    ASSERT_TRUE(AwaitGone(first));
    HWND again = run.Window("TStartLock");
    ASSERT_NE(again, nullptr) << "the take was not tried again";
    EXPECT_EQ(WindowText(FindWindowExA(again, nullptr, "Edit", nullptr)), "Bob");
    EXPECT_EQ(LocalNotes(), kLocalBefore) << "copied in without the lock";
    // Bob's PC ends its period; closed once more, the next take succeeds.
    ASSERT_TRUE(DeleteFileA(pc.Token("Bob").c_str()));
    PostMessageA(again, WM_CLOSE, 0, 0);
    ASSERT_TRUE(AppStarted()) << run.Shown();
    EXPECT_TRUE(Holds("Ann"));
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// Read-only over a token of the user's own name left from an earlier period: the token
// is the user's, so Finish deletes it even though this period never held the lock.
TEST_F(Period, ReadOnlyOverATokenInTheOwnNameLeavesIt) {
    WriteFile(pc.Token("Ann"), "1");
    WriteFile(pc.Token("Bob"), "1");
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TStartLock");
    ASSERT_NE(dialog, nullptr);
    run.Choose("TStartLock", "Proceed Read Only");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    EXPECT_TRUE(Holds("Ann"));
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(Holds("Ann"));
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_EQ(SharedNotes(), kSharedBefore);
    EXPECT_FALSE(Exists(share.data + ".saved"));
}

// ---- The lock never deletes another PC's token ---------------------------------------

// The same user name on a second PC, also in another letter case: the second start meets
// the first's token, and its Cancel leaves it; the first period then ends as ever.
TEST_F(Period, TheSameNameOnAnotherPcNeverDeletesTheFirstPcsToken) {
    for (const char* second : {"Ann", "ann"}) {
        SCOPED_TRACE(second);
        Pc other(root, share, std::string("pcB-") + second);
        DeleteFileA(pc.go.c_str());
        ProgramRun first(pc.program, "Ann");
        ASSERT_TRUE(AppStarted()) << first.Shown();
        {
            ProgramRun run(other.program, second);
            run.Choose("TStartLock", "Cancel");
            ASSERT_TRUE(run.Ended());
        }
        EXPECT_TRUE(Holds("Ann"));
        pc.AppEnds();
        ASSERT_TRUE(first.Ended());
        EXPECT_TRUE(ListTree(share.lock).empty());
        WriteFile(pc.local + "\\notes.txt", kLocalBefore);
    }
}

// "Ann Smith" without quotes: refused, with the quoting shown, before any lock is taken.
TEST_F(Period, ANameOfTwoWordsWithoutQuotesIsRefused) {
    ProgramRun run(pc.program, "Ann Smith");
    MessageBoxSeen box = run.Box("User Name");
    EXPECT_NE(box.text.find("\"Ann Smith\""), std::string::npos) << box.text;
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_EQ(LocalNotes(), kLocalBefore);
}

// Carl takes the lock while the dialog shows Bob: "Delete Lock && Proceed" deletes
// nothing, and the dialog shows Carl.
TEST_F(Period, DeleteLockDeletesOnlyTheHolderShown) {
    WriteFile(pc.Token("Bob"), "1");
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TStartLock");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(FindWindowExA(dialog, nullptr, "Edit", nullptr)), "Bob");
    ASSERT_TRUE(DeleteFileA(pc.Token("Bob").c_str()));
    WriteFile(pc.Token("Carl"), "1");
    run.Choose("TStartLock", "Delete Lock && Proceed");
    ASSERT_TRUE(AwaitCondition([&] {
        HWND again = FindTopWindow("TStartLock", nullptr, run.Pid());
        return again && WindowText(FindWindowExA(again, nullptr, "Edit", nullptr)) == "Carl";
    }));
    EXPECT_TRUE(Holds("Carl"));
    run.Choose("TStartLock", "Cancel");
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(Holds("Carl"));
    EXPECT_FALSE(Holds("Ann"));
}

// Closing the title window ("Close window" on the taskbar) before the application starts
// ends the period through Finish; while the application runs it is refused.
TEST_F(Period, ClosingTheTitleWindowNeverSkipsTheEndOfThePeriod) {
    WriteFile(pc.Token("Bob"), "1");
    {
        ProgramRun run(pc.program, "Ann");
        HWND title = run.Window("TLogo");
        ASSERT_NE(run.Window("TStartLock"), nullptr);
        PostMessageA(title, WM_CLOSE, 0, 0);
        run.Choose("TStartLock", "Proceed Read Only");
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(LocalNotes(), kLocalBefore);  // nothing copied in, nothing started
        EXPECT_TRUE(Holds("Bob"));
    }
    DeleteFileA(pc.Token("Bob").c_str());
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    HWND title = run.Window("TLogo");
    PostMessageA(title, WM_CLOSE, 0, 0);
    EXPECT_FALSE(run.Ended(1000));
    EXPECT_TRUE(IsWindowVisible(title));
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// Closed at any moment of the period's end (here: a close asked again and again from the
// application's end to the program's), the period still copies back and lets go of its
// token and life sign: even the moment between the copy back and the last step is part of
// the period.
TEST_F(Period, ClosingAtAnyMomentOfTheEndStillCopiesBackAndLetsGo) {
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    const HWND title = run.Window("TLogo");
    ASSERT_NE(title, nullptr);
    std::atomic<bool> stop{false};
    std::thread closer([&] {
        while (!stop && IsWindow(title)) {
            PostMessageA(title, WM_CLOSE, 0, 0);
            Sleep(1);
        }
    });
    pc.AppEnds();
    const bool ended = run.Ended();
    stop = true;
    closer.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty()) << "a token or life sign outlived the program";
}

// A quit posted by another program is a request to close, not an end: the period goes on
// and ends through its last step, copying back and letting go.
TEST_F(Period, AQuitFromAnotherProgramEndsThePeriodThroughItsLastStep) {
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    const HWND title = run.Window("TLogo");
    ASSERT_NE(title, nullptr);
    ASSERT_TRUE(PostThreadMessageA(GetWindowThreadProcessId(title, nullptr), WM_QUIT, 0, 0));
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_FALSE(Exists(pc.local + ".unsaved"));
}

// Asked at logoff or shutdown, the title window refuses while the application holds work
// that has not reached the share. Should Windows end the session anyway, the lock goes
// with the program and the work stays recorded, and the next start offers it. Before the
// application starts nothing is at stake and the session may end.
TEST_F(Period, TheSessionWaitsForTheWorkAndAnEndForcedAnywayKeepsIt) {
    const auto ask = [](HWND window, UINT message, WPARAM wp) {
        DWORD_PTR answer = 0xBAD;
        const bool answered =
            SendMessageTimeoutA(window, message, wp, ENDSESSION_LOGOFF, SMTO_NORMAL, kPatience, &answer) != 0;
        return answered ? answer : DWORD_PTR(0xBAD);
    };
    {
        WriteFile(pc.Token("Bob"), "1");
        ProgramRun run(pc.program, "Ann");
        ASSERT_NE(run.Window("TStartLock"), nullptr);
        EXPECT_EQ(ask(run.Window("TLogo"), WM_QUERYENDSESSION, 0), DWORD_PTR(TRUE)) << "nothing is at stake yet";
        DeleteFileA(pc.Token("Bob").c_str());
    }
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    const HWND title = run.Window("TLogo");
    EXPECT_EQ(ask(title, WM_QUERYENDSESSION, 0), DWORD_PTR(FALSE)) << "the application holds the work";
    EXPECT_TRUE(IsWindowVisible(title));
    ask(title, WM_ENDSESSION, TRUE);  // Windows ends it anyway
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(ListTree(share.lock).empty()) << "the token outlived the program";
    EXPECT_EQ(SharedNotes(), kSharedBefore);
    EXPECT_TRUE(Exists(pc.local + ".unsaved"));
    pc.AppEnds();  // the session's end would have ended the application too

    ProgramRun next(pc.program, "Ann");
    MessageBoxSeen offered = next.Box("Unsaved Local Data", "&Yes");
    EXPECT_NE(offered.text.find("has not changed"), std::string::npos) << offered.text;
    ASSERT_TRUE(next.Ended());  // the application of this period finds its go file at once
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\nedited on pcA\r\n");
    EXPECT_FALSE(Exists(pc.local + ".unsaved"));
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// A batch file as the run command runs in the command interpreter: the period waits for
// what the batch started, not for every command prompt on the PC. An unrelated one, running
// before and after, is no copy of the application.
TEST_F(Period, ABatchFileIsWaitedForAloneNotForAnUnrelatedCommandPrompt) {
    const std::string batch = pc.folder + "\\work.bat";
    WriteFile(batch, "@" + pc.helper + " --append-line " + pc.local + "\\notes.txt batch --wait-for " + pc.go +
                         " 120000\r\n");
    pc.WriteSetting("RunCommand", batch);
    pc.WriteSetting("RunCommandOptions", "");
    const std::string otherGo = root / "other-go";
    std::string prompt = "C:\\windows\\system32\\cmd.exe /c " + pc.helper + " --wait-for " + otherGo + " 120000";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION unrelated{};
    ASSERT_TRUE(CreateProcessA(nullptr, &prompt[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &unrelated));
    {
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(WaitFor([&] { return ReadFileOr(pc.local + "\\notes.txt", "") == std::string(kSharedBefore) + "batch\r\n"; }));
        pc.AppEnds();
        EXPECT_TRUE(run.Ended());
        EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "batch\r\n");
        EXPECT_TRUE(ListTree(share.lock).empty());
        EXPECT_EQ(WaitForSingleObject(unrelated.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the unrelated prompt ended: the test shows nothing";
    }
    WriteFile(otherGo, "go");
    WaitForSingleObject(unrelated.hProcess, kPatience);
    CloseHandle(unrelated.hThread);
    CloseHandle(unrelated.hProcess);
}

// A take that fails with no token in the way: no start-lock dialog, but a box that says
// why; the period ends without copying, and no token is left anywhere.
TEST_F(Period, ATakeThatFailsWithoutAHolderIsExplainedAndCopiesNothing) {
    const std::string lockFile = root / "share\\locks.txt";
    WriteFile(lockFile, "not a folder");
    struct Case {
        std::string user;
        std::string lockFolder;
        const char* caption;
        std::string text, textEnd;  // the reason between them: the system names it its own way
    } cases[] = {
        {"..\\evil", share.lock, "Lock Create",
         "Can't create lock : user name holds a character not allowed in a file name : ..\\evil", ""},
        {"\"COM1\"", share.lock, "Lock Create", "Can't create lock : user name is a device name : COM1", ""},
        {"Ann", lockFile, "Lock Folder Unreadable", "The lock folder " + lockFile + " cannot be read (ERROR ",
         "). Nothing was changed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user + " in " + c.lockFolder);
        pc.WriteSetting("RemoteLockFolder", c.lockFolder);
        ProgramRun run(pc.program, c.user);
        MessageBoxSeen box = run.Box(c.caption);
        if (c.textEnd.empty()) {
            EXPECT_EQ(box.text, c.text);
        } else {
            EXPECT_EQ(box.text.rfind(c.text, 0), 0u) << box.text;
            EXPECT_EQ(box.text.substr(box.text.size() - std::min(box.text.size(), c.textEnd.size())), c.textEnd);
        }
        EXPECT_EQ(box.owner, FindTopWindow("TLogo", nullptr, run.Pid()));
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(run.ExitCode(), 0u);
        EXPECT_EQ(FindTopWindow("TStartLock", nullptr, run.Pid()), nullptr);
        EXPECT_TRUE(ListTree(share.lock).empty());
        EXPECT_EQ(ReadFile(lockFile), "not a folder");
        EXPECT_EQ(LocalNotes(), kLocalBefore);
        EXPECT_FALSE(Exists(pc.local + ".saved"));
        EXPECT_EQ(SharedNotes(), kSharedBefore);
    }
    EXPECT_FALSE(Exists(root / "share\\evil.tokenlockforcarvelund"));
}

// ---- The lock at the end --------------------------------------------------------

class LockLost : public Period {
protected:
    // The application itself takes the lock away while it runs.
    void AppDeletesToken() const {
        pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt edited --delete " + pc.Token("Ann"));
    }
    void AppHandsTokenToBob() const {
        pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt edited --rename " +
                                                 pc.Token("Ann") + " " + pc.Token("Bob"));
    }
    void ExpectCopiedBack() const { EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited\r\n"); }
    void ExpectNotCopiedBack() const {
        EXPECT_EQ(SharedNotes(), kSharedBefore);
        EXPECT_FALSE(Exists(share.data + ".saved"));
    }
};

// A lock folder that cannot be read (a share that dropped) says nothing about the lock:
// the period asks to retry instead of calling the lock lost, and Cancel keeps the work.
TEST_F(LockLost, AnUnreadableLockFolderAsksToRetryAndLosesNothing) {
    const std::string away = share.lock + ".away";
    pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt edited --rename " + share.lock +
                                             " " + away);
    for (const char* answer : {"&Retry", "Cancel"}) {
        SCOPED_TRACE(answer);
        const bool retry = answer[0] == '&';
        WriteFile(pc.local + "\\notes.txt", kLocalBefore);
        ProgramRun run(pc.program, "Ann");
        const MessageBoxSeen box = AwaitMessageBox("Lock Folder Unreadable", run.Pid());
        ASSERT_NE(box.window, nullptr);
        EXPECT_NE(box.text.find(share.lock), std::string::npos) << box.text;
        EXPECT_EQ(FindTopWindow("TFinishLockGone", nullptr, run.Pid()), nullptr);
        if (retry) ASSERT_TRUE(MoveFileA(away.c_str(), share.lock.c_str()));
        PressButton(box.window, answer);
        ASSERT_TRUE(run.Ended());
        if (retry) {
            ExpectCopiedBack();
            EXPECT_TRUE(ListTree(share.lock).empty());
            EXPECT_FALSE(Exists(pc.local + ".unsaved"));
        } else {
            EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited\r\n");  // from the first round
            EXPECT_TRUE(Exists(pc.local + ".unsaved"));
            ASSERT_TRUE(MoveFileA(away.c_str(), share.lock.c_str()));
        }
    }
}

TEST_F(LockLost, GoneThenSaveAnywayCopiesBack) {
    AppDeletesToken();
    ProgramRun run(pc.program, "Ann");
    run.Choose("TFinishLockGone", "Save Anyway");
    ASSERT_TRUE(run.Ended());
    ExpectCopiedBack();
    EXPECT_TRUE(ListTree(share.lock).empty());
}

TEST_F(LockLost, GoneThenCancelLosesTheChanges) {
    AppDeletesToken();
    ProgramRun run(pc.program, "Ann");
    run.Choose("TFinishLockGone", "Cancel - Lose Changes");
    ASSERT_TRUE(run.Ended());
    ExpectNotCopiedBack();
}

// Closed without a choice is no confirmation: nothing goes back over the shared data.
TEST_F(LockLost, ADialogClosedWithoutAChoiceCopiesNothingBack) {
    AppDeletesToken();
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TFinishLockGone");
    ASSERT_NE(dialog, nullptr);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(run.Ended());
    ExpectNotCopiedBack();
}

TEST_F(LockLost, StolenThenDeleteLockAndSaveCopiesBack) {
    AppHandsTokenToBob();
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TFinishLockStolen", "Caution - Lock Lost");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(FindWindowExA(dialog, nullptr, "Edit", nullptr)), "Bob");
    run.Choose("TFinishLockStolen", "Delete Lock && Save");
    ASSERT_TRUE(run.Ended());
    ExpectCopiedBack();
    EXPECT_TRUE(ListTree(share.lock).empty());
}

TEST_F(LockLost, StolenAndTheHoldersTokenCannotBeDeleted) {
    AppHandsTokenToBob();
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TFinishLockStolen");
    ASSERT_NE(dialog, nullptr);
    // Another PC keeps Bob's token open: the share refuses the deletion.
    HANDLE held = CreateFileA(pc.Token("Bob").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    run.Choose("TFinishLockStolen", "Delete Lock && Save");
    MessageBoxSeen box = run.Box("Lock Delete");
    CloseHandle(held);
    EXPECT_EQ(box.text, "Can't delete existing lock : Bob");
    ASSERT_TRUE(run.Ended());
    ExpectNotCopiedBack();
    EXPECT_TRUE(Holds("Bob"));
}

// As with the lock gone: closed without a choice, nothing goes back, and Bob's token
// stays untouched.
TEST_F(LockLost, StolenAndTheDialogClosedWithoutAChoiceCopiesNothingBack) {
    AppHandsTokenToBob();
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TFinishLockStolen");
    ASSERT_NE(dialog, nullptr);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(run.ExitCode(), 0u);
    ExpectNotCopiedBack();
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_FALSE(Holds("Ann"));
}

TEST_F(LockLost, StolenThenCancelLosesTheChanges) {
    AppHandsTokenToBob();
    ProgramRun run(pc.program, "Ann");
    run.Choose("TFinishLockStolen", "Cancel - Lose Changes");
    ASSERT_TRUE(run.Ended());
    ExpectNotCopiedBack();
    EXPECT_TRUE(Holds("Bob"));
}

// ---- Failures -----------------------------------------------------------------------

// The tree was never handed to the application: the failed start takes back the record
// of unsaved work it wrote, so the next period, started normally, asks nothing (and its
// "Yes" could never set another PC's save aside for work that never was).
TEST_F(Period, ARunCommandThatCannotStartLeavesNoWorkForTheNextPeriod) {
    const std::string notAProgram = pc.folder + "\\notes.exe";
    WriteFile(notAProgram, "this is text, not a program");
    pc.WriteSetting("RunCommand", notAProgram);
    {
        ProgramRun run(pc.program, "Ann");
        MessageBoxSeen box = run.Box("Lanuching Application");
        EXPECT_EQ(box.text.rfind("Unable to run command : ERROR ", 0), 0u) << box.text;
        ASSERT_TRUE(run.Ended());
    }
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_EQ(SharedNotes(), kSharedBefore);
    EXPECT_FALSE(Exists(share.data + ".saved"));
    EXPECT_FALSE(Exists(pc.local + ".unsaved"));

    pc.WriteSetting("RunCommand", pc.helper);
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    EXPECT_EQ(FindTopWindow(nullptr, "Unsaved Local Data", run.Pid()), nullptr);
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

TEST_F(Period, AFailedCopyInKeepsTheLocalDataAndStartsNothing) {
    // A file of the shared data that another PC holds open cannot be copied.
    HANDLE held = CreateFileA((share.data + "\\notes.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ProgramRun run(pc.program, "Ann");
    MessageBoxSeen check = run.Box("Copying");
    MessageBoxSeen step = run.Box("Copying");
    MessageBoxSeen period = run.Box("Copy Remote Data");
    CloseHandle(held);
    EXPECT_NE(check.text.find("notes.txt"), std::string::npos) << check.text;
    EXPECT_EQ(step.text, "Error occuried during filecopy");
    EXPECT_EQ(period.text, "Error copying remote shared data");
    ASSERT_TRUE(run.Ended());
    // The local data is as it was: a failed copy touches neither it nor its save.
    EXPECT_EQ(LocalNotes(), kLocalBefore);
    EXPECT_FALSE(Exists(pc.local + ".saved"));
    EXPECT_FALSE(Exists(pc.go));
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_EQ(SharedNotes(), kSharedBefore);
}

TEST_F(Period, AFailedCopyBackKeepsTheSharedDataRecoverable) {
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    // A folder of the local data that cannot be listed: the copy back cannot take it.
    // (A file held open would make the period wait for it instead.)
    HANDLE held = CreateFileA((pc.local + "\\sub").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    pc.AppEnds();
    run.Box("Copying");
    MessageBoxSeen step = run.Box("Copying");
    MessageBoxSeen period = run.Box("Copy Local Data");
    CloseHandle(held);
    EXPECT_EQ(step.text, "Error occuried during filecopy");
    EXPECT_EQ(period.text, "Error copying local data back to Shared Data Folder");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kSharedBefore);
    EXPECT_FALSE(Exists(share.data + ".saved"));
    // The work is kept as unsaved: the next period offers it.
    EXPECT_TRUE(Exists(pc.local + ".unsaved"));
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// ---- Two PCs, one share ------------------------------------------------------------

TEST_F(Period, ASecondPcSeesTheHolderWorksReadOnlyAndCopiesNothingBack) {
    Pc pcB(root, share, "pcB");
    ProgramRun runA(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << runA.Shown();
    ProgramRun runB(pcB.program, "Bea");
    HWND dialog = runB.Window("TStartLock");
    ASSERT_NE(dialog, nullptr);
    HWND name = FindWindowExA(dialog, nullptr, "Edit", nullptr);
    HWND since = FindWindowExA(dialog, name, "Edit", nullptr);
    EXPECT_EQ(WindowText(name), "Ann");
    EXPECT_EQ(WindowText(since), SinceOf(pc.Token("Ann")));
    runB.Choose("TStartLock", "Proceed Read Only");
    ASSERT_TRUE(WaitFor([&] { return ReadFileOr(pcB.local + "\\notes.txt", "").find("edited on pcB") != std::string::npos; }));
    pcB.AppEnds();
    ASSERT_TRUE(runB.Ended());
    EXPECT_TRUE(Holds("Ann"));
    EXPECT_EQ(SharedNotes(), kSharedBefore);
    pc.AppEnds();
    ASSERT_TRUE(runA.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// ---- The window itself ---------------------------------------------------------------

TEST_F(Period, TheInformationWindowOpensWhileTheApplicationRunsAndThePeriodGoesOn) {
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted()) << run.Shown();
    HWND title = run.Window("TLogo");
    ASSERT_NE(title, nullptr);
    HWND label = FindWindowExA(title, nullptr, "Static", nullptr);
    Click(label);
    HWND info = run.Window("TRegInfo");
    ASSERT_NE(info, nullptr);
    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// ---- Identity -----------------------------------------------------------------------

TEST(Identity, TitleAndSettingsFileFollowTheProgramsName) {
    struct Case {
        const char* exeName;
        const char* title;
    } cases[] = {{"CARVELUND.EXE", "Carvelund"}, {"office.exe", "Office"}, {".exe", "Carvelund"}};
    for (const auto& c : cases) {
        TempDir root;
        Share share(root);
        Pc pc(root, share, "pc", c.exeName);
        ProgramRun run(pc.program, "\"Ann Lee\"");
        EXPECT_NE(run.Window("TLogo", c.title), nullptr) << c.exeName;
        EXPECT_TRUE(WaitFor([&] { return Exists(pc.Token("Ann Lee")); })) << c.exeName;
        pc.AppEnds();
        ASSERT_TRUE(run.Ended()) << c.exeName;
        EXPECT_NE(ReadFile(share.data + "\\notes.txt").find("edited on pc"), std::string::npos) << c.exeName;
    }
}

}  // namespace
