// The lock conflict dialogs, shown modally and used as a person would: clicks, keys,
// focus; the choice is read from the flags left on a real title window.
#include "lock/Cfinishlockgone.h"
#include "lock/Cfinishlockstolen.h"
#include "lock/Cstartlock.h"

#include "app/Clogo.h"
#include "support/Gui.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

struct Flags {
    bool cancel = false;
    bool readOnly = false;
    bool deleteLock = false;
    bool wait = false;
    bool keepWork = false;
    bool operator==(const Flags& o) const {
        return cancel == o.cancel && readOnly == o.readOnly && deleteLock == o.deleteLock && wait == o.wait &&
               keepWork == o.keepWork;
    }
};

std::ostream& operator<<(std::ostream& out, const Flags& f) {
    return out << "{cancel " << f.cancel << ", readOnly " << f.readOnly << ", deleteLock " << f.deleteLock
               << ", wait " << f.wait << ", keepWork " << f.keepWork << "}";
}

Flags FlagsOf(const TLogo& logo) {
    return {logo.CancelFlag, logo.ReadOnlyFlag, logo.DeleteLockFlag, logo.WaitFlag, logo.KeepWorkFlag};
}

constexpr Flags kNone{};
constexpr Flags kCancel{true, false, false, false, false};
constexpr Flags kReadOnly{false, true, false, false, false};
constexpr Flags kDeleteLock{false, false, true, false, false};
constexpr Flags kWait{false, false, false, true, false};
constexpr Flags kKeepWork{false, false, false, false, true};

// Polls from the user's thread, which owns no window.
bool Await(const std::function<bool()>& condition) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > kPatience) return false;
        Sleep(10);
    }
    return true;
}

// The title window on the screen, as during a working period, but without starting
// the period: showing it through the form layer would start its timer.
struct TitleWindow : TLogo {
    TitleWindow() { ShowWindow(Handle(), SW_SHOWNOACTIVATE); }
};

// Shows `dialog` modally on this thread while `user` acts on it from a second thread,
// as the person at the keyboard. Should the user's actions leave it open, it is closed
// from outside afterwards, so that a failing test ends instead of hanging.
template <typename Dialog>
void ShowAndAct(Dialog& dialog, const char* className, const std::function<void(HWND)>& user) {
    const HWND window = dialog.Handle();
    std::thread person([&] {
        if (AwaitTopWindow(className, nullptr, GetCurrentProcessId())) {
            // Answered only once the dialog's own loop runs: its opening focus is set by then.
            DWORD_PTR answer = 0;
            SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kPatience, &answer);
            user(window);
        }
        if (!AwaitGone(window)) PostMessageA(window, WM_CLOSE, 0, 0);
    });
    dialog.ShowModal();
    person.join();
}

// The user's key or click on a button.
enum class Act { Click, Enter, Space };

// Moves the focus with Tab, as a person would, until it rests on `target`.
bool TabTo(HWND form, HWND target) {
    for (int presses = 0; presses < 8; ++presses) {
        HWND focus = FocusOf(form);
        if (focus == target) return true;
        if (!focus || !IsChild(form, focus)) {
            Await([&] { return FocusOf(form) && IsChild(form, FocusOf(form)); });
            continue;
        }
        const HWND next = GetNextDlgTabItem(form, focus, FALSE);
        PressKey(focus, VK_TAB);
        if (!AwaitFocus(next)) return false;
    }
    return false;
}

void Perform(Act act, HWND form, HWND button) {
    switch (act) {
        case Act::Click: Click(button); break;
        case Act::Enter:
            if (TabTo(form, button)) PressKey(button, VK_RETURN);
            break;
        case Act::Space:
            if (TabTo(form, button)) PressKey(button, VK_SPACE);
            break;
    }
}

const char* Name(Act act) { return act == Act::Click ? "click" : act == Act::Enter ? "Enter" : "Space"; }

// ---- What the dialogs look like ----------------------------------------------

std::vector<HWND> ChildrenInOrder(HWND form) {
    std::vector<HWND> children;
    for (HWND c = GetWindow(form, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    return children;
}

// The tab stops reached from `first` by Tab, until the cycle closes.
std::vector<HWND> TabCycle(HWND form, HWND first) {
    std::vector<HWND> cycle{first};
    for (HWND next = GetNextDlgTabItem(form, first, FALSE); next && next != first && cycle.size() < 20;
         next = GetNextDlgTabItem(form, next, FALSE))
        cycle.push_back(next);
    return cycle;
}

SIZE SizeOf(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

RECT RectOf(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return r;
}

LOGFONTA FontOf(HWND window) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

void ExpectDialogFont(HWND control) {
    const LOGFONTA font = FontOf(control);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif") << WindowText(control);
    EXPECT_EQ(font.lfHeight, -11) << WindowText(control);
    EXPECT_EQ(font.lfWeight, FW_NORMAL) << WindowText(control);
}

void ExpectButton(HWND button, const char* caption, int width, int height) {
    SCOPED_TRACE(caption);
    EXPECT_EQ(WindowText(button), caption);
    EXPECT_EQ(SizeOf(button).cx, width);
    EXPECT_EQ(SizeOf(button).cy, height);
    EXPECT_TRUE(GetWindowLongA(button, GWL_STYLE) & WS_TABSTOP);
    // No default role of its own: only the focus decides what Enter presses.
    EXPECT_EQ(GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_PUSHBUTTON));
}

// Shows text only: cannot be focused, tabbed to or edited.
void ExpectShownText(HWND box) {
    char cls[32];
    GetClassNameA(box, cls, sizeof cls);
    EXPECT_STREQ(cls, "Edit");
    const LONG style = GetWindowLongA(box, GWL_STYLE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_FALSE(style & WS_TABSTOP);
    EXPECT_FALSE(IsWindowEnabled(box));
}

bool HasHint(HWND form, HWND tool) {
    const std::string hint = HintOf(form, tool);
    return hint != "<no hint>" && hint != "<no tooltips>";
}

// Without any title-bar button, centred, with the given caption and class.
void ExpectFrame(HWND form, const char* className, const char* caption, bool sizeable) {
    char cls[64];
    GetClassNameA(form, cls, sizeof cls);
    EXPECT_STREQ(cls, className);
    EXPECT_EQ(WindowText(form), caption);
    const LONG style = GetWindowLongA(form, GWL_STYLE);
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ((style & WS_THICKFRAME) != 0, sizeable);
    const RECT r = RectOf(form);
    EXPECT_NEAR((r.left + r.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
}

SIZE ClientSize(HWND form) {
    RECT r;
    GetClientRect(form, &r);
    return {r.right, r.bottom};
}

// Wholly within the form's client area.
bool Inside(HWND form, HWND control) {
    RECT client;
    GetClientRect(form, &client);
    MapWindowPoints(form, nullptr, reinterpret_cast<POINT*>(&client), 2);
    const RECT r = RectOf(control);
    return r.left >= client.left && r.right <= client.right && r.top >= client.top && r.bottom <= client.bottom;
}

bool Above(HWND upper, HWND lower) { return RectOf(upper).bottom <= RectOf(lower).top; }
bool LeftOf(HWND left, HWND right) { return RectOf(left).right <= RectOf(right).left; }
bool SameColumn(HWND a, HWND b) { return RectOf(a).left < RectOf(b).right && RectOf(b).left < RectOf(a).right; }

TEST(StartLock, LooksAsDesigned) {
    TitleWindow logo;
    TStartLock dialog(logo);
    ExpectFrame(dialog.Handle(), "TStartLock", "Caution - Already Locked", false);
    EXPECT_EQ(ClientSize(dialog.Handle()).cx, 297);
    EXPECT_EQ(ClientSize(dialog.Handle()).cy, 232);

    const std::vector<HWND> inTabOrder{dialog.bt_Cancel.Handle(), dialog.bt_Delete.Handle(),
                                       dialog.bt_Proceed.Handle(), dialog.tb_Name.Handle(),
                                       dialog.tb_Since.Handle()};
    const auto children = ChildrenInOrder(dialog.Handle());
    ASSERT_GE(children.size(), inTabOrder.size());
    EXPECT_EQ(std::vector<HWND>(children.begin(), children.begin() + inTabOrder.size()), inTabOrder);
    EXPECT_EQ(TabCycle(dialog.Handle(), dialog.bt_Cancel.Handle()),
              (std::vector<HWND>{dialog.bt_Cancel.Handle(), dialog.bt_Delete.Handle(), dialog.bt_Proceed.Handle(),
                                 dialog.bt_Wait.Handle()}));

    ExpectButton(dialog.bt_Cancel.Handle(), "Cancel", 75, 50);
    ExpectButton(dialog.bt_Wait.Handle(), "Wait", 120, 25);
    ExpectButton(dialog.bt_Delete.Handle(), "Delete Lock && Proceed", 120, 25);
    ExpectButton(dialog.bt_Proceed.Handle(), "Proceed Read Only", 120, 25);
    const LOGFONTA cancelFont = FontOf(dialog.bt_Cancel.Handle());
    EXPECT_EQ(cancelFont.lfHeight, -19);
    EXPECT_EQ(cancelFont.lfWeight, FW_BOLD);
    for (HWND c : {dialog.bt_Delete.Handle(), dialog.bt_Proceed.Handle(), dialog.tb_Name.Handle(),
                   dialog.tb_Since.Handle(), dialog.lb_lockedBy.Handle(), dialog.Label1.Handle(),
                   dialog.bt_Wait.Handle(), dialog.lb_LifeSign.Handle()})
        ExpectDialogFont(c);
    ExpectShownText(dialog.tb_Name.Handle());
    ExpectShownText(dialog.tb_Since.Handle());
    EXPECT_EQ(WindowText(dialog.lb_lockedBy.Handle()), "Currently locked by:");
    EXPECT_EQ(WindowText(dialog.Label1.Handle()), "Since");

    EXPECT_EQ(HintOf(dialog.Handle(), dialog.Label1.Handle()), "Time when lock was created");
    EXPECT_EQ(HintOf(dialog.Handle(), dialog.bt_Wait.Handle()),
              "Wait for the lock: the period starts by itself once it frees");
    for (HWND c : {dialog.bt_Cancel.Handle(), dialog.bt_Delete.Handle(), dialog.bt_Proceed.Handle(),
                   dialog.tb_Name.Handle(), dialog.tb_Since.Handle(), dialog.lb_lockedBy.Handle(), dialog.Handle()})
        EXPECT_FALSE(HasHint(dialog.Handle(), c)) << WindowText(c);

    // Name and since side by side, each under its label; Delete above Proceed, Cancel right.
    EXPECT_TRUE(Above(dialog.lb_lockedBy.Handle(), dialog.tb_Name.Handle()));
    EXPECT_TRUE(SameColumn(dialog.lb_lockedBy.Handle(), dialog.tb_Name.Handle()));
    EXPECT_TRUE(Above(dialog.Label1.Handle(), dialog.tb_Since.Handle()));
    EXPECT_TRUE(SameColumn(dialog.Label1.Handle(), dialog.tb_Since.Handle()));
    EXPECT_TRUE(LeftOf(dialog.tb_Name.Handle(), dialog.tb_Since.Handle()));
    EXPECT_TRUE(Above(dialog.tb_Name.Handle(), dialog.bt_Delete.Handle()));
    EXPECT_TRUE(Above(dialog.tb_Since.Handle(), dialog.bt_Cancel.Handle()));
    EXPECT_TRUE(Above(dialog.bt_Delete.Handle(), dialog.bt_Proceed.Handle()));
    EXPECT_TRUE(LeftOf(dialog.bt_Delete.Handle(), dialog.bt_Cancel.Handle()));
    EXPECT_TRUE(LeftOf(dialog.bt_Proceed.Handle(), dialog.bt_Cancel.Handle()));
    // Wait under Proceed; the holder's PC and life sign across the bottom, under everything.
    EXPECT_TRUE(Above(dialog.bt_Proceed.Handle(), dialog.bt_Wait.Handle()));
    EXPECT_TRUE(SameColumn(dialog.bt_Proceed.Handle(), dialog.bt_Wait.Handle()));
    for (HWND c : {dialog.bt_Wait.Handle(), dialog.bt_Cancel.Handle(), dialog.lb_OwnName.Handle()})
        EXPECT_TRUE(Above(c, dialog.lb_LifeSign.Handle())) << WindowText(c);
    EXPECT_TRUE(Inside(dialog.Handle(), dialog.lb_LifeSign.Handle()));
}

TEST(FinishLockStolen, LooksAsDesigned) {
    TitleWindow logo;
    TFinishLockStolen dialog(logo);
    ExpectFrame(dialog.Handle(), "TFinishLockStolen", "Caution - Lock Lost", false);
    EXPECT_EQ(ClientSize(dialog.Handle()).cx, 318);
    EXPECT_EQ(ClientSize(dialog.Handle()).cy, 185);

    const std::vector<HWND> inTabOrder{dialog.tb_Name.Handle(), dialog.bt_Cancel.Handle(), dialog.bt_Save.Handle(),
                                       dialog.tb_Since.Handle()};
    const auto children = ChildrenInOrder(dialog.Handle());
    ASSERT_GE(children.size(), inTabOrder.size());
    EXPECT_EQ(std::vector<HWND>(children.begin(), children.begin() + inTabOrder.size()), inTabOrder);
    EXPECT_EQ(TabCycle(dialog.Handle(), dialog.bt_Cancel.Handle()),
              (std::vector<HWND>{dialog.bt_Cancel.Handle(), dialog.bt_Save.Handle(), dialog.bt_Keep.Handle()}));

    ExpectButton(dialog.bt_Cancel.Handle(), "Cancel - Lose Changes", 129, 25);
    ExpectButton(dialog.bt_Save.Handle(), "Delete Lock && Save", 129, 25);
    ExpectButton(dialog.bt_Keep.Handle(), "Keep Work for Later", 160, 25);
    ExpectDialogFont(dialog.bt_Keep.Handle());
    // Under the two others, above the holder's life sign.
    EXPECT_TRUE(Above(dialog.bt_Save.Handle(), dialog.bt_Keep.Handle()));
    EXPECT_TRUE(Above(dialog.bt_Cancel.Handle(), dialog.bt_Keep.Handle()));
    EXPECT_TRUE(Above(dialog.bt_Keep.Handle(), dialog.lb_LifeSign.Handle()));
    for (HWND c : {dialog.bt_Cancel.Handle(), dialog.bt_Save.Handle(), dialog.tb_Name.Handle(),
                   dialog.tb_Since.Handle(), dialog.Label2.Handle(), dialog.Label1.Handle()})
        ExpectDialogFont(c);
    ExpectShownText(dialog.tb_Name.Handle());
    ExpectShownText(dialog.tb_Since.Handle());
    EXPECT_EQ(WindowText(dialog.Label2.Handle()), "Lock now owned by");
    EXPECT_EQ(WindowText(dialog.Label1.Handle()), "Since");

    EXPECT_EQ(HintOf(dialog.Handle(), dialog.Handle()),
              "Someone has stolen the lock, saving data may cause damage to data files");
    EXPECT_EQ(HintOf(dialog.Handle(), dialog.Label1.Handle()), "Time when lock was created");
    for (HWND c : {dialog.bt_Cancel.Handle(), dialog.bt_Save.Handle(), dialog.tb_Name.Handle(),
                   dialog.tb_Since.Handle(), dialog.Label2.Handle()})
        EXPECT_FALSE(HasHint(dialog.Handle(), c)) << WindowText(c);

    // Name left, since right; Save under the name, Cancel under the since box.
    EXPECT_TRUE(Above(dialog.Label2.Handle(), dialog.tb_Name.Handle()));
    EXPECT_TRUE(SameColumn(dialog.Label2.Handle(), dialog.tb_Name.Handle()));
    EXPECT_TRUE(Above(dialog.Label1.Handle(), dialog.tb_Since.Handle()));
    EXPECT_TRUE(SameColumn(dialog.Label1.Handle(), dialog.tb_Since.Handle()));
    EXPECT_TRUE(LeftOf(dialog.tb_Name.Handle(), dialog.tb_Since.Handle()));
    EXPECT_TRUE(Above(dialog.tb_Name.Handle(), dialog.bt_Save.Handle()));
    EXPECT_TRUE(SameColumn(dialog.tb_Name.Handle(), dialog.bt_Save.Handle()));
    EXPECT_TRUE(Above(dialog.tb_Since.Handle(), dialog.bt_Cancel.Handle()));
    EXPECT_TRUE(SameColumn(dialog.tb_Since.Handle(), dialog.bt_Cancel.Handle()));
    EXPECT_TRUE(Above(dialog.bt_Save.Handle(), dialog.lb_LifeSign.Handle()));
    EXPECT_TRUE(Above(dialog.bt_Cancel.Handle(), dialog.lb_LifeSign.Handle()));
    EXPECT_TRUE(Inside(dialog.Handle(), dialog.lb_LifeSign.Handle()));
    ExpectDialogFont(dialog.lb_LifeSign.Handle());
}

TEST(FinishLockGone, LooksAsDesigned) {
    TitleWindow logo;
    TFinishLockGone dialog(logo);
    ExpectFrame(dialog.Handle(), "TFinishLockGone", "Caution - Lock Lost", true);
    EXPECT_EQ(SizeOf(dialog.Handle()).cx, 319);
    EXPECT_EQ(SizeOf(dialog.Handle()).cy, 150);

    // The caption and the three buttons are all there is.
    const std::vector<HWND> buttons{dialog.bt_Cancel.Handle(), dialog.bt_Save.Handle(), dialog.bt_Keep.Handle()};
    EXPECT_EQ(ChildrenInOrder(dialog.Handle()), buttons);
    EXPECT_EQ(TabCycle(dialog.Handle(), dialog.bt_Cancel.Handle()), buttons);
    ExpectButton(dialog.bt_Cancel.Handle(), "Cancel - Lose Changes", 140, 25);
    ExpectButton(dialog.bt_Save.Handle(), "Save Anyway", 129, 25);
    ExpectButton(dialog.bt_Keep.Handle(), "Keep Work for Later", 160, 25);
    for (HWND b : buttons) ExpectDialogFont(b);
    EXPECT_TRUE(LeftOf(dialog.bt_Save.Handle(), dialog.bt_Cancel.Handle()));
    EXPECT_TRUE(Above(dialog.bt_Save.Handle(), dialog.bt_Keep.Handle()));
    for (HWND c : {dialog.bt_Cancel.Handle(), dialog.bt_Save.Handle(), dialog.bt_Keep.Handle(), dialog.Handle()})
        EXPECT_FALSE(HasHint(dialog.Handle(), c)) << WindowText(c);
    // The buttons lie inside the client area.
    const RECT client = [&] {
        RECT r;
        GetClientRect(dialog.Handle(), &r);
        MapWindowPoints(dialog.Handle(), nullptr, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }();
    for (HWND b : buttons) {
        const RECT r = RectOf(b);
        EXPECT_TRUE(r.left >= client.left && r.right <= client.right && r.top >= client.top && r.bottom <= client.bottom)
            << WindowText(b);
    }
}

TEST(LockDialogs, LockInfoFillsTheBoxesAndAnAbsentTextLeavesThemEmpty) {
    TitleWindow logo;
    TStartLock start(logo);
    TFinishLockStolen stolen(logo);
    start.SetLockInfo("J.Smith", " 3/05/1999 9:07");
    stolen.SetLockInfo("Bob", "11/14/1999 17:30");
    EXPECT_EQ(WindowText(start.tb_Name.Handle()), "J.Smith");
    EXPECT_EQ(WindowText(start.tb_Since.Handle()), " 3/05/1999 9:07");
    EXPECT_EQ(WindowText(stolen.tb_Name.Handle()), "Bob");
    EXPECT_EQ(WindowText(stolen.tb_Since.Handle()), "11/14/1999 17:30");

    start.SetLockInfo(nullptr, "??/??/???? ??:??");
    stolen.SetLockInfo(nullptr, nullptr);
    EXPECT_EQ(WindowText(start.tb_Name.Handle()), "");
    EXPECT_EQ(WindowText(start.tb_Since.Handle()), "??/??/???? ??:??");
    EXPECT_EQ(WindowText(stolen.tb_Name.Handle()), "");
    EXPECT_EQ(WindowText(stolen.tb_Since.Handle()), "");
}

// ---- What the user's choices leave on the title window --------------------------

template <typename Dialog>
struct ChoiceCase {
    const char* button;
    forms::Button& (*target)(Dialog&);
    Act act;
    Flags expected;
};

// Shows a fresh dialog per case; returns the flags the choice left.
template <typename Dialog>
void CheckChoices(const char* className, const std::vector<ChoiceCase<Dialog>>& cases) {
    TitleWindow logo;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " by " + Name(c.act));
        logo.ResetFlags();
        Dialog dialog(logo);
        const HWND button = c.target(dialog).Handle();
        ShowAndAct(dialog, className, [&](HWND window) { Perform(c.act, window, button); });
        EXPECT_EQ(FlagsOf(logo), c.expected);
        EXPECT_FALSE(dialog.ClosedFromOutside());
        EXPECT_FALSE(IsWindowVisible(dialog.Handle()));
    }
}

TEST(StartLock, EachButtonSetsItsFlagAndCloses) {
    using D = TStartLock;
    CheckChoices<D>("TStartLock", {
        {"Cancel", [](D& d) -> forms::Button& { return d.bt_Cancel; }, Act::Click, kCancel},
        {"Delete", [](D& d) -> forms::Button& { return d.bt_Delete; }, Act::Click, kDeleteLock},
        {"Proceed", [](D& d) -> forms::Button& { return d.bt_Proceed; }, Act::Click, kReadOnly},
        {"Delete", [](D& d) -> forms::Button& { return d.bt_Delete; }, Act::Enter, kDeleteLock},
        {"Proceed", [](D& d) -> forms::Button& { return d.bt_Proceed; }, Act::Space, kReadOnly},
        {"Wait", [](D& d) -> forms::Button& { return d.bt_Wait; }, Act::Click, kWait},
        {"Wait", [](D& d) -> forms::Button& { return d.bt_Wait; }, Act::Enter, kWait},
    });
}

TEST(FinishLockStolen, EachButtonSetsItsFlagAndCloses) {
    using D = TFinishLockStolen;
    CheckChoices<D>("TFinishLockStolen", {
        {"Cancel", [](D& d) -> forms::Button& { return d.bt_Cancel; }, Act::Click, kCancel},
        {"Save", [](D& d) -> forms::Button& { return d.bt_Save; }, Act::Click, kDeleteLock},
        {"Save", [](D& d) -> forms::Button& { return d.bt_Save; }, Act::Enter, kDeleteLock},
        {"Save", [](D& d) -> forms::Button& { return d.bt_Save; }, Act::Space, kDeleteLock},
        {"Keep", [](D& d) -> forms::Button& { return d.bt_Keep; }, Act::Click, kKeepWork},
        {"Keep", [](D& d) -> forms::Button& { return d.bt_Keep; }, Act::Space, kKeepWork},
    });
}

TEST(FinishLockGone, CancelSetsItsFlagAndSaveSetsNone) {
    using D = TFinishLockGone;
    CheckChoices<D>("TFinishLockGone", {
        {"Cancel", [](D& d) -> forms::Button& { return d.bt_Cancel; }, Act::Click, kCancel},
        {"Save", [](D& d) -> forms::Button& { return d.bt_Save; }, Act::Click, kNone},
        {"Save", [](D& d) -> forms::Button& { return d.bt_Save; }, Act::Enter, kNone},
        {"Keep", [](D& d) -> forms::Button& { return d.bt_Keep; }, Act::Click, kKeepWork},
        {"Keep", [](D& d) -> forms::Button& { return d.bt_Keep; }, Act::Enter, kKeepWork},
    });
}

// Opened, Cancel holds the focus, so Enter or Space at once means cancel.
template <typename Dialog>
void CheckCancelAtOnce(const char* className) {
    TitleWindow logo;
    for (WORD key : {VK_RETURN, VK_SPACE}) {
        SCOPED_TRACE(key == VK_RETURN ? "Enter" : "Space");
        logo.ResetFlags();
        Dialog dialog(logo);
        std::atomic<bool> focusedOnOpening{false};
        ShowAndAct(dialog, className, [&](HWND) {
            focusedOnOpening = AwaitFocus(dialog.bt_Cancel.Handle());
            PressKey(dialog.bt_Cancel.Handle(), key);
        });
        EXPECT_TRUE(focusedOnOpening);
        EXPECT_EQ(FlagsOf(logo), kCancel);
    }
}

TEST(StartLock, CancelHasTheFocusOnOpening) { CheckCancelAtOnce<TStartLock>("TStartLock"); }

// At the end of a period Enter at once must neither throw the work away nor write over
// another PC's work or lock: both lock-lost dialogs open on "Keep Work for Later".
template <typename Dialog>
void CheckKeepAtOnce(const char* className) {
    TitleWindow logo;
    Dialog dialog(logo);
    std::atomic<bool> focusedOnOpening{false};
    ShowAndAct(dialog, className, [&](HWND) {
        focusedOnOpening = AwaitFocus(dialog.bt_Keep.Handle());
        PressKey(dialog.bt_Keep.Handle(), VK_RETURN);
    });
    EXPECT_TRUE(focusedOnOpening);
    EXPECT_FALSE(dialog.ClosedFromOutside());
    EXPECT_EQ(FlagsOf(logo), kKeepWork);
}

TEST(FinishLockGone, KeepWorkForLaterHasTheFocusOnOpening) { CheckKeepAtOnce<TFinishLockGone>("TFinishLockGone"); }
TEST(FinishLockStolen, KeepWorkForLaterHasTheFocusOnOpening) { CheckKeepAtOnce<TFinishLockStolen>("TFinishLockStolen"); }

// Escape does nothing: Tab after it still moves the focus in the open dialog, and the
// choice made afterwards is the only flag. Tab never stops in the edit boxes.
TEST(StartLock, EscapeDoesNothingAndTabSkipsTheBoxes) {
    TitleWindow logo;
    TStartLock dialog(logo);
    dialog.SetLockInfo("Ann", " 1/09/2021 0:05");
    std::vector<HWND> visited;
    std::atomic<bool> openAfterEscape{false};
    ShowAndAct(dialog, "TStartLock", [&](HWND window) {
        AwaitFocus(dialog.bt_Cancel.Handle());
        PressKey(dialog.bt_Cancel.Handle(), VK_ESCAPE);
        for (HWND expected : {dialog.bt_Delete.Handle(), dialog.bt_Proceed.Handle(), dialog.bt_Wait.Handle(),
                              dialog.bt_Cancel.Handle(), dialog.bt_Delete.Handle()}) {
            PressKey(FocusOf(window), VK_TAB);
            if (!AwaitFocus(expected)) break;
            visited.push_back(expected);
        }
        openAfterEscape = IsWindowVisible(window) != FALSE;
        PressKey(dialog.bt_Delete.Handle(), VK_ESCAPE);
        PressKey(dialog.bt_Delete.Handle(), VK_SPACE);
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(visited.size(), 5u);
    EXPECT_EQ(FlagsOf(logo), kDeleteLock);
}

TEST(FinishLockGone, EscapeDoesNothing) {
    TitleWindow logo;
    TFinishLockGone dialog(logo);
    std::atomic<bool> openAfterEscape{false};
    ShowAndAct(dialog, "TFinishLockGone", [&](HWND window) {
        AwaitFocus(dialog.bt_Keep.Handle());
        PressKey(dialog.bt_Keep.Handle(), VK_ESCAPE);
        PressKey(dialog.bt_Keep.Handle(), VK_TAB);
        openAfterEscape = AwaitFocus(dialog.bt_Cancel.Handle()) && IsWindowVisible(window);
        Click(dialog.bt_Save.Handle());
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(FlagsOf(logo), kNone);
}

TEST(FinishLockStolen, EscapeDoesNothing) {
    TitleWindow logo;
    TFinishLockStolen dialog(logo);
    std::atomic<bool> openAfterEscape{false};
    ShowAndAct(dialog, "TFinishLockStolen", [&](HWND window) {
        AwaitFocus(dialog.bt_Keep.Handle());
        PressKey(dialog.bt_Keep.Handle(), VK_ESCAPE);
        PressKey(dialog.bt_Keep.Handle(), VK_TAB);
        openAfterEscape = AwaitFocus(dialog.bt_Cancel.Handle()) && IsWindowVisible(window);
        Click(dialog.bt_Save.Handle());
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(FlagsOf(logo), kDeleteLock);
}

// Closed by the platform rather than by a button: no choice, no flag. A dialog never
// clears a flag that was already set either.
TEST(LockDialogs, ClosedFromOutsideSetsNothingAndNoFlagIsCleared) {
    TitleWindow logo;
    logo.SetReadOnly();
    {
        TStartLock dialog(logo);
        ShowAndAct(dialog, "TStartLock", [](HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); });
        EXPECT_TRUE(dialog.ClosedFromOutside());
    }
    {
        TFinishLockStolen dialog(logo);
        ShowAndAct(dialog, "TFinishLockStolen", [](HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); });
        EXPECT_TRUE(dialog.ClosedFromOutside());
    }
    {
        TFinishLockGone dialog(logo);
        ShowAndAct(dialog, "TFinishLockGone", [&](HWND) { Click(dialog.bt_Save.Handle()); });
    }
    EXPECT_EQ(FlagsOf(logo), kReadOnly);
}

// The holder's life sign line is asked for on showing and again while the dialog stays
// open, so that a holder whose PC stops is seen as such; the dialog's choices still work.
template <typename Dialog>
void CheckLifeSignRefresh(const char* className) {
    TitleWindow logo;
    Dialog dialog(logo);
    std::atomic<int> asked{0};
    dialog.lifeSignText = [&] {
        return ++asked < 3 ? std::string("PC OFFICE-3, last life sign 4 s ago")
                           : std::string("PC OFFICE-3, last life sign 31 s ago: that PC seems to have stopped");
    };
    std::string first, later;
    ShowAndAct(dialog, className, [&](HWND) {
        EXPECT_TRUE(IsWindowVisible(dialog.lb_LifeSign.Handle()));
        first = WindowText(dialog.lb_LifeSign.Handle());
        Await([&] { return WindowText(dialog.lb_LifeSign.Handle()).find("stopped") != std::string::npos; });
        later = WindowText(dialog.lb_LifeSign.Handle());
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_EQ(first, "PC OFFICE-3, last life sign 4 s ago");
    EXPECT_EQ(later, "PC OFFICE-3, last life sign 31 s ago: that PC seems to have stopped");
    EXPECT_EQ(FlagsOf(logo), kCancel);
}

TEST(StartLock, TheLifeSignLineIsRefreshedWhileShown) { CheckLifeSignRefresh<TStartLock>("TStartLock"); }
TEST(FinishLockStolen, TheLifeSignLineIsRefreshedWhileShown) {
    CheckLifeSignRefresh<TFinishLockStolen>("TFinishLockStolen");
}

// Pictures of the three dialogs for a person to look at: build folder, screenshots/.
TEST(LockDialogs, Screenshots) {
    auto shoot = [](auto& dialog, const char* className) {
        std::atomic<bool> saved{false};
        ShowAndAct(dialog, className, [&](HWND window) {
            AwaitCondition([&] { return IsWindowVisible(window) && FocusOf(window) != nullptr; });
            // Painted now: the redraw is sent to the dialog's thread and waited for.
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
            saved = SaveScreenshot(window, className);
            Click(dialog.bt_Cancel.Handle());
        });
        EXPECT_TRUE(saved) << className;
    };
    TitleWindow logo;
    TStartLock start(logo);
    start.SetLockInfo("J.Smith", " 3/05/1999 9:07");
    start.lifeSignText = [] {
        return std::string("PC OFFICE-3, last life sign 9 h ago: that PC seems to have stopped (a crash, or "
                           "switched off), so deleting its lock is safe");
    };
    shoot(start, "TStartLock");
    TFinishLockStolen stolen(logo);
    stolen.SetLockInfo("Bob", "11/14/1999 17:30");
    stolen.lifeSignText = [] { return std::string("PC OFFICE-7, last life sign 3 s ago"); };
    shoot(stolen, "TFinishLockStolen");
    TFinishLockGone gone(logo);
    shoot(gone, "TFinishLockGone");
}

}  // namespace
