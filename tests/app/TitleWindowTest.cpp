// The title window as a window and as a record, and the command-line rules.
#include "app/Clogo.h"
#include "support/Gui.h"
#include "settings/Persistentdata.h"
#include "support/MessageBoxes.h"
#include "support/TempDir.h"
#include "support/TokenRival.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>

using namespace testsupport;

namespace {

std::string Argument(const char* commandLine, int index) {
    OwnedText a(CommandLineArgument(commandLine, index));
    return a.Str();
}

TEST(CommandLine, SplitsByThePlatformsRules) {
    struct Case {
        const char* line;
        int index;
        const char* expected;
    } cases[] = {
        {"Carvelund.exe Ann", 1, "Ann"},
        {"Carvelund.exe", 1, ""},
        {"Carvelund.exe   ", 1, ""},
        {"\"C:\\Program Files\\Carvelund.exe\" Ann", 1, "Ann"},
        {"Carvelund.exe \"Ann Lee\" extra", 1, "Ann Lee"},
        {"Carvelund.exe \"Ann Lee\" extra", 2, "extra"},
        {"Carvelund.exe\tAnn\tBob", 1, "Ann"},
        {"Carvelund.exe \x01 Ann", 1, "Ann"},  // control characters separate too
        {"Carvelund.exe \"\" Ann", 1, "Ann"},  // an empty quoted stretch is skipped
        {"Carvelund.exe An\"n L\"ee", 1, "Ann Lee"},
        {"Carvelund.exe \"Ann", 1, "Ann"},  // an unclosed quote runs to the end
        {"Carvelund.exe J.Smith", 1, "J.Smith"},
        {"Carvelund.exe \xC5sa", 1, "\xC5sa"},
        {"", 1, ""},
        {nullptr, 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Argument(c.line, c.index), c.expected) << (c.line ? c.line : "(null)") << " #" << c.index;
}

TEST(TitleWindow, StartsWithAnEmptyRecord) {
    TLogo logo;
    EXPECT_EQ(logo.State, Initialise);
    EXPECT_FALSE(logo.UserName);
    EXPECT_EQ(logo.LockFolder, nullptr);
    EXPECT_FALSE(logo.TitlePath);
    EXPECT_EQ(logo.Launcher, nullptr);
    EXPECT_FALSE(logo.ErrorTitle);
    EXPECT_FALSE(logo.ErrorMessage);
    EXPECT_FALSE(logo.Title);
    EXPECT_FALSE(logo.CancelFlag || logo.ReadOnlyFlag || logo.DeleteLockFlag);
    EXPECT_FALSE(logo.zTimer.Enabled());
    EXPECT_EQ(logo.zTimer.Interval(), 100u);
}

TEST(TitleWindow, SettersOnlySetAndResetClearsAll) {
    TLogo logo;
    logo.SetDeleteLock();
    logo.SetDeleteLock();
    EXPECT_TRUE(logo.DeleteLockFlag);
    EXPECT_FALSE(logo.CancelFlag || logo.ReadOnlyFlag);
    logo.SetCancel();
    logo.SetReadOnly();
    EXPECT_TRUE(logo.CancelFlag && logo.ReadOnlyFlag && logo.DeleteLockFlag);
    logo.ResetFlags();
    EXPECT_FALSE(logo.CancelFlag || logo.ReadOnlyFlag || logo.DeleteLockFlag);
}

TEST(TitleWindow, SetErrorKeepsCopiesAndSelectsShowError) {
    TLogo logo;
    logo.State = Watch;
    std::string title = "Lock Delete";
    std::string holder = "Bob";
    logo.SetError(title.c_str(), "Can't delete existing lock : ", holder.c_str());
    title = "changed";
    holder = "changed";
    EXPECT_STREQ(logo.ErrorTitle.Str(), "Lock Delete");
    EXPECT_STREQ(logo.ErrorMessage.Str(), "Can't delete existing lock : Bob");
    EXPECT_EQ(logo.State, ShowError);
    logo.SetError("Copy Local Data", "Error copying local data back to Shared Data Folder", nullptr);
    EXPECT_STREQ(logo.ErrorTitle.Str(), "Copy Local Data");
    EXPECT_STREQ(logo.ErrorMessage.Str(), "Error copying local data back to Shared Data Folder");
}

TEST(TitleWindow, IdentityComesFromTheRunningExecutable) {
    TLogo logo;
    OwnedText path(logo.IdentityStep());
    char real[MAX_PATH];
    GetModuleFileNameA(nullptr, real, MAX_PATH);
    EXPECT_STREQ(path.Str(), real);
    OwnedText title(BaseTitle(real));
    OwnedText titlePath(BaseTitlePath(real));
    EXPECT_STREQ(logo.Title.Str(), title.Str());
    EXPECT_STREQ(logo.TitlePath.Str(), titlePath.Str());
    EXPECT_EQ(WindowText(logo.Handle()), title.Str());
    EXPECT_EQ(WindowText(logo.lb_Title.Handle()), title.Str());
    EXPECT_TRUE(logo.UserName);  // the test runs without arguments: empty, not absent
    EXPECT_STREQ(logo.UserName.Str(), "");
}

HFONT FontOf(HWND window) { return reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)); }

TEST(TitleWindow, LooksAsDesignedAndIsSavedAsAPicture) {
    TLogo logo;
    const LONG style = GetWindowLongA(logo.Handle(), GWL_STYLE);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_BORDER | WS_VSCROLL | WS_HSCROLL));
    RECT client, window;
    GetClientRect(logo.Handle(), &client);
    GetWindowRect(logo.Handle(), &window);
    EXPECT_EQ(client.right, 232);
    EXPECT_EQ(client.bottom, 60);
    EXPECT_NEAR((window.left + window.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

    RECT label;
    GetWindowRect(logo.lb_Title.Handle(), &label);
    MapWindowPoints(nullptr, logo.Handle(), reinterpret_cast<POINT*>(&label), 2);
    EXPECT_EQ(label.left, 0);
    EXPECT_EQ(label.top, 11);
    EXPECT_EQ(label.right, 232);
    EXPECT_EQ(label.bottom, 48);
    EXPECT_TRUE(GetWindowLongA(logo.lb_Title.Handle(), GWL_STYLE) & SS_CENTER);

    LOGFONTA font{};
    ASSERT_TRUE(GetObjectA(FontOf(logo.lb_Title.Handle()), sizeof font, &font));
    EXPECT_STREQ(font.lfFaceName, "Arial");
    EXPECT_EQ(font.lfHeight, -32);
    EXPECT_EQ(font.lfWeight, FW_BOLD);

    EXPECT_EQ(HintOf(logo.Handle(), logo.lb_Title.Handle()), "Click for donation information");

    logo.lb_Title.SetText("Carvelund");
    ShowWindow(logo.Handle(), SW_SHOW);
    UpdateWindow(logo.Handle());
    HDC dc = GetDC(logo.Handle());
    const COLORREF corner = GetPixel(dc, 2, 2);  // above the label: the form's own surface
    const COLORREF underTitle = GetPixel(dc, 2, 30);  // the label's background
    ReleaseDC(logo.Handle(), dc);
    EXPECT_EQ(corner, GetSysColor(COLOR_INFOBK));
    EXPECT_EQ(underTitle, GetSysColor(COLOR_INFOBK));
    EXPECT_TRUE(SaveScreenshot(logo.Handle(), "title-window"));
    ShowWindow(logo.Handle(), SW_HIDE);
}

// A Watch step without a launcher object: the error is shown over the title window,
// then the period finishes and the window closes, deleting nothing.
TEST(TitleWindow, AWatchWithoutLauncherShowsAnInternalErrorAndFinishes) {
    MessageBoxCalls calls;
    MessageBoxWatcher boxes;
    TLogo logo;
    logo.State = Watch;
    forms::application::Run(logo);
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"Internal Error", "Lost application handle"}}));
    const auto made = calls.Calls();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].style, static_cast<UINT>(MB_OK | MB_ICONHAND | MB_TASKMODAL));
    EXPECT_NE(made[0].owner, nullptr);  // the title window, gone now
    EXPECT_FALSE(logo.Alive());
    EXPECT_EQ(logo.State, Finish);
}

// Backing off from a rival that took the lock in the same instant, the own token could
// not be taken away again: it would lock everyone out, so the user is told which token
// it is, and the period ends without copying anything.
TEST(TitleWindow, AnOwnTokenThatCannotBeTakenAwayIsNamedAndThePeriodEnds) {
    TempDir locks;
    SetRemoteLockFolder(locks.Path().c_str());
    const std::string token = locks / "Ann.tokenlockforcarvelund";
    MessageBoxWatcher boxes;
    {
        RivalAtTheCreate rival(locks / "Bob.tokenlockforcarvelund");
        rival.AlsoHoldOurs();
        TLogo logo;
        logo.UserName.Reset(ConcatText("Ann"));
        logo.State = TakeLock;
        forms::application::Run(logo);
        EXPECT_FALSE(logo.Alive());
        EXPECT_EQ(logo.State, Finish);
        EXPECT_EQ(logo.Launcher, nullptr);
    }
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"Lock Delete", "Can't delete own lock : " + token}}));
    EXPECT_EQ(boxes.Seen().size(), 1u);
}

// A share that keeps the token's create waiting (a slow network, a server that does not
// answer): the create stands until the test lets it go, and is then refused.
class StandingCreate {
public:
    StandingCreate() : previous_(Platform().createFile) { Platform().createFile = Create; }
    ~StandingCreate() {
        Release();
        Platform().createFile = previous_;
    }
    bool AwaitStanding() const { return AwaitCondition([] { return standing_.load(); }); }
    void Release() { released_ = true; }

private:
    static HANDLE WINAPI Create(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
        standing_ = true;
        AwaitCondition([] { return released_.load(); });
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    static inline std::atomic<bool> standing_{false};
    static inline std::atomic<bool> released_{false};
    decltype(PlatformCalls::createFile) previous_;
};

// The take, with its look at the share and its back-off from rivals, runs on a worker:
// while the share keeps it waiting, the title window answers, or Windows would call the
// program hung and offer to end it with the lock half taken.
TEST(TitleWindow, TheWindowAnswersWhileTheLockIsTaken) {
    TempDir locks;
    SetRemoteLockFolder(locks.Path().c_str());
    MessageBoxWatcher boxes;
    StandingCreate share;
    TLogo logo;
    logo.UserName.Reset(ConcatText("Ann"));
    logo.State = TakeLock;
    const HWND window = logo.Handle();
    std::atomic<bool> answered{false};
    std::thread user([&] {
        if (share.AwaitStanding()) {
            DWORD_PTR result = 0;
            answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kPatience, &result) != 0;
        }
        share.Release();
    });
    forms::application::Run(logo);
    user.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"Lock Create", "Can't create lock : ERROR ACCESS DENIED"}}));
    EXPECT_EQ(logo.State, Finish);
    EXPECT_TRUE(ListTree(locks.Path()).empty());
}

// The error box fails once for want of memory, as a step may under load.
int throwsLeft = 0;
int WINAPI BoxOutOfMemoryOnce(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    if (throwsLeft-- > 0) throw std::bad_alloc();
    return MessageBoxA(owner, text, caption, style);
}

// A step that throws must not leave the period standing with its timer off: the failure
// becomes the period's error, is shown, and the period finishes.
TEST(TitleWindow, AStepThatThrowsIsShownAsAnInternalErrorAndThePeriodFinishes) {
    MessageBoxWatcher boxes;
    const auto previous = Platform().messageBox;
    Platform().messageBox = BoxOutOfMemoryOnce;
    throwsLeft = 1;
    TLogo logo;
    logo.State = Watch;  // no launcher: its error box is the one that fails
    const HWND window = logo.Handle();
    std::thread watchdog([window] {
        if (AwaitTopWindow("TLogo", nullptr, GetCurrentProcessId()) != window || !AwaitGone(window))
            PostMessageA(window, WM_CLOSE, 0, 0);
    });
    forms::application::Run(logo);
    watchdog.join();
    Platform().messageBox = previous;
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"Internal Error", "std::bad_alloc"}}));
    EXPECT_EQ(logo.State, Finish);
}

}  // namespace
