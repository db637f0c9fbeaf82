// The form layer on real windows: events, keys, focus, modal showing and the program's end.
#include "forms/Form.h"
#include "support/Gui.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace forms;
using namespace testsupport;

namespace {

FormLayout DialogLayout(const char* className, const char* caption) {
    FormLayout params;
    params.className = className;
    params.caption = caption;
    params.width = 300;
    params.height = 120;
    return params;
}

ControlLayout At(int left, int top, int width, int height, const char* text = "") {
    ControlLayout params;
    params.bounds = {left, top, width, height};
    params.text = text;
    return params;
}

// A dialog with two edit boxes and two buttons, in this tab order.
struct SampleDialog : Form {
    explicit SampleDialog(Form* owner)
        : Form(DialogLayout("TSampleDialog", "Sample"), owner),
          first(Add<EditBox>(At(10, 10, 100, 21, "one"))),
          second(Add<EditBox>(At(10, 40, 100, 21, "two"))),
          ok(Add<Button>(At(120, 10, 75, 25, "OK"))),
          cancel(Add<Button>(At(120, 40, 75, 25, "Cancel"))) {
        ok.onClick = [this] {
            ++okClicks;
            Close();
        };
        cancel.onClick = [this] {
            ++cancelClicks;
            Close();
        };
        first.onEnter = [this] { ++firstEntered; };
        first.onKeyPress = [this](char key) { keys += key; };
    }
    EditBox& first;
    EditBox& second;
    Button& ok;
    Button& cancel;
    int okClicks = 0;
    int cancelClicks = 0;
    std::atomic<int> firstEntered{0};
    std::string keys;
};

struct MainWindow : Form {
    MainWindow() : Form(MainLayout(), nullptr), timer(AddTimer(20)) {}
    static FormLayout MainLayout() {
        FormLayout params;
        params.className = "TSampleMain";
        params.caption = "Main";
        params.border = Border::None;
        params.width = 200;
        params.height = 50;
        return params;
    }
    Timer& timer;
};

// Runs `user` on a second thread, as the person at the keyboard, while the test's
// thread runs the windows.
class User {
public:
    explicit User(std::function<void()> actions) : thread_([actions] { actions(); }) {}
    ~User() { thread_.join(); }

private:
    std::thread thread_;
};

HWND AwaitDialog() { return AwaitTopWindow("TSampleDialog", "Sample", GetCurrentProcessId()); }

TEST(Form, ControlsAreStandardWindowsInTabOrderCarryingTheirText) {
    MainWindow main;
    SampleDialog dialog(&main);
    char cls[64];
    GetClassNameA(dialog.first.Handle(), cls, sizeof cls);
    EXPECT_STREQ(cls, "Edit");
    GetClassNameA(dialog.ok.Handle(), cls, sizeof cls);
    EXPECT_STREQ(cls, "Button");
    EXPECT_EQ(WindowText(dialog.ok.Handle()), "OK");
    EXPECT_EQ(GetNextDlgTabItem(dialog.Handle(), dialog.first.Handle(), FALSE), dialog.second.Handle());
    EXPECT_EQ(GetNextDlgTabItem(dialog.Handle(), dialog.second.Handle(), FALSE), dialog.ok.Handle());
    OwnedText text(dialog.second.GetText());
    EXPECT_STREQ(text.Get(), "two");
    RECT client;
    GetClientRect(dialog.Handle(), &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 120);
}

// Entering is the focus coming from another control of the form (or the first focus);
// the focus coming back after a switch to another program is not.
TEST(Form, EnterFiresWhenTheFocusComesFromAnotherControlNotOnReactivation) {
    MainWindow main;
    main.Show();
    SampleDialog dialog(&main);
    std::vector<int> entered;
    std::atomic<bool> switched{false};
    {
        User user([&] {
            HWND d = AwaitDialog();
            ASSERT_NE(d, nullptr);
            // Read once the dialog's thread has served everything before: the event of
            // a focus just seen has fired by then, if it fires at all.
            auto enteredNow = [&] {
                SendMessageA(d, WM_NULL, 0, 0);
                entered.push_back(dialog.firstEntered);
            };
            AwaitFocus(dialog.first.Handle());
            enteredNow();  // the first focus of the form
            Click(dialog.second.Handle());
            AwaitFocus(dialog.second.Handle());
            Click(dialog.first.Handle());
            AwaitFocus(dialog.first.Handle());
            enteredNow();
            switched = SwitchAwayAndBack(d);
            AwaitFocus(dialog.first.Handle());
            enteredNow();
            PressKey(dialog.first.Handle(), VK_TAB);
            AwaitFocus(dialog.second.Handle());
            Click(dialog.first.Handle());
            AwaitFocus(dialog.first.Handle());
            enteredNow();
            Click(dialog.cancel.Handle());
        });
        dialog.ShowModal();
    }
    EXPECT_TRUE(switched);
    EXPECT_EQ(entered, (std::vector<int>{1, 2, 2, 3}));
}

TEST(Form, ShowModalDisablesTheOwnerAndReturnsAfterAClick) {
    MainWindow main;
    main.Show();
    SampleDialog dialog(&main);
    std::atomic<bool> ownerDisabled{false};
    {
        User user([&] {
            HWND d = AwaitDialog();
            ASSERT_NE(d, nullptr);
            ownerDisabled = !IsWindowEnabled(main.Handle());
            Click(dialog.ok.Handle());
        });
        dialog.ShowModal();
    }
    EXPECT_TRUE(ownerDisabled);
    EXPECT_EQ(dialog.okClicks, 1);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
    EXPECT_FALSE(IsWindowVisible(dialog.Handle()));
}

TEST(Form, KeysMoveTheFocusAndPressTheFocusedButton) {
    MainWindow main;
    main.Show();
    SampleDialog dialog(&main);
    std::atomic<bool> startedInFirst{false}, tabbed{false}, escapeKeptOpen{false};
    {
        User user([&] {
            HWND d = AwaitDialog();
            ASSERT_NE(d, nullptr);
            startedInFirst = AwaitFocus(dialog.first.Handle());
            TypeText(dialog.first.Handle(), "X");
            PressKey(dialog.first.Handle(), VK_TAB);
            tabbed = AwaitFocus(dialog.second.Handle());
            // Escape does nothing: the Tab after it is still served by the open dialog.
            PressKey(dialog.second.Handle(), VK_ESCAPE);
            PressKey(dialog.second.Handle(), VK_TAB);
            escapeKeptOpen = AwaitFocus(dialog.ok.Handle()) && IsWindowVisible(d);
            PressKey(dialog.ok.Handle(), VK_RETURN);
        });
        dialog.ShowModal();
    }
    EXPECT_TRUE(startedInFirst);
    EXPECT_TRUE(tabbed);
    EXPECT_TRUE(escapeKeptOpen);
    EXPECT_EQ(dialog.keys, "X");
    OwnedText typed(dialog.first.GetText());
    EXPECT_STREQ(typed.Get(), "Xone");
    EXPECT_EQ(dialog.okClicks, 1);
    EXPECT_EQ(dialog.cancelClicks, 0);
}

TEST(Form, SpaceOnTheFocusedButtonClicksIt) {
    MainWindow main;
    main.Show();
    SampleDialog dialog(&main);
    {
        User user([&] {
            ASSERT_NE(AwaitDialog(), nullptr);
            AwaitFocus(dialog.first.Handle());
            FocusWindow(dialog.cancel.Handle());
            ASSERT_TRUE(AwaitFocus(dialog.cancel.Handle()));
            PressKey(dialog.cancel.Handle(), VK_SPACE);
        });
        dialog.ShowModal();
    }
    EXPECT_EQ(dialog.cancelClicks, 1);
    EXPECT_EQ(dialog.okClicks, 0);
}

TEST(Form, ACloseFromOutsideIsToldApartFromTheFormsOwnClose) {
    MainWindow main;
    main.Show();
    SampleDialog dialog(&main);
    {
        User user([&] {
            HWND d = AwaitDialog();
            ASSERT_NE(d, nullptr);
            PostMessageA(d, WM_CLOSE, 0, 0);  // as Alt+F4 or another program would
        });
        dialog.ShowModal();
    }
    EXPECT_TRUE(dialog.ClosedFromOutside());
    EXPECT_EQ(dialog.okClicks + dialog.cancelClicks, 0);
    {
        User user([&] {
            ASSERT_NE(AwaitDialog(), nullptr);
            Click(dialog.ok.Handle());
        });
        dialog.ShowModal();
    }
    EXPECT_FALSE(dialog.ClosedFromOutside());
    EXPECT_EQ(dialog.okClicks, 1);
}

// An inner modal form closing must not enable an owner that an outer one disabled.
TEST(Form, NestedModalFormsLeaveTheOwnerDisabledUntilTheOuterCloses) {
    MainWindow main;
    main.Show();
    SampleDialog outer(&main);
    SampleDialog inner(&main);
    bool enabledAfterInner = true;
    outer.ok.onClick = [&] {
        inner.ShowModal();
        enabledAfterInner = IsWindowEnabled(main.Handle()) != FALSE;
        outer.Close();
    };
    User user([&] {
        ASSERT_NE(AwaitDialog(), nullptr);
        Click(outer.ok.Handle());
        HWND second = nullptr;
        for (int i = 0; i < 3000 && !second; ++i) {
            if (IsWindowVisible(inner.Handle())) second = inner.Handle();
            Sleep(10);
        }
        ASSERT_NE(second, nullptr);
        Click(inner.cancel.Handle());
    });
    outer.ShowModal();
    EXPECT_FALSE(enabledAfterInner);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
}

// A modal form opened from a timer tick and from a click; the timer goes on under it.
TEST(Form, ModalFromATimerTickWhileAnotherTimerKeepsTicking) {
    MainWindow main;
    Timer& counter = main.AddTimer(10);
    int ticksWhileModal = 0;
    bool modalOpen = false;
    counter.onTimer = [&] { ticksWhileModal += modalOpen ? 1 : 0; };
    counter.SetEnabled(true);
    SampleDialog dialog(&main);
    int opened = 0;
    main.timer.onTimer = [&] {
        main.timer.SetEnabled(false);  // disabled from its own handler
        ++opened;
        modalOpen = true;
        dialog.ShowModal();
        modalOpen = false;
        main.Close();
    };
    main.timer.SetEnabled(true);
    User user([&] {
        HWND d = AwaitDialog();
        ASSERT_NE(d, nullptr);
        // Wait until ticks were seen under the modal form, then close it.
        for (int i = 0; i < 3000 && ticksWhileModal < 5; ++i) Sleep(10);
        Click(dialog.cancel.Handle());
    });
    application::Run(main);
    EXPECT_EQ(opened, 1);
    EXPECT_GE(ticksWhileModal, 5);
    EXPECT_EQ(dialog.cancelClicks, 1);
    EXPECT_FALSE(main.Alive());
}

TEST(Form, ModalFromAClickOnALabel) {
    MainWindow main;
    ControlLayout params = At(0, 0, 200, 50, "Title");
    Label& label = main.Add<Label>(params);
    SampleDialog dialog(&main);
    label.onClick = [&] {
        dialog.ShowModal();
        main.Close();
    };
    User user([&] {
        HWND m = AwaitTopWindow("TSampleMain", "Main", GetCurrentProcessId());
        ASSERT_NE(m, nullptr);
        Click(label.Handle());
        ASSERT_NE(AwaitDialog(), nullptr);
        Click(dialog.ok.Handle());
    });
    application::Run(main);
    EXPECT_EQ(dialog.okClicks, 1);
}

// Closing the main window while a modal form is open ends the program's loop cleanly:
// the modal form goes with its owner and nothing of the handler runs a second time.
TEST(Form, ClosingTheMainWindowUnderAModalFormEndsTheRun) {
    MainWindow main;
    SampleDialog dialog(&main);
    bool returnedFromModal = false;
    bool terminatedSeen = false;
    main.timer.onTimer = [&] {
        main.timer.SetEnabled(false);
        dialog.ShowModal();
        returnedFromModal = true;
        terminatedSeen = application::Terminated();
        dialog.ShowModal();  // must not show again while the program ends
    };
    main.timer.SetEnabled(true);
    User user([&] {
        ASSERT_NE(AwaitDialog(), nullptr);
        PostMessageA(main.Handle(), WM_CLOSE, 0, 0);
    });
    application::Run(main);
    EXPECT_TRUE(returnedFromModal);
    EXPECT_TRUE(terminatedSeen);
    EXPECT_FALSE(main.Alive());
    EXPECT_FALSE(dialog.Alive());
    EXPECT_FALSE(application::Terminated());  // a later run starts afresh
}

TEST(Form, ClosingTheMainWindowUnderAMessageBoxEndsTheRun) {
    MainWindow main;
    bool returned = false;
    main.timer.onTimer = [&] {
        main.timer.SetEnabled(false);
        MessageBoxA(nullptr, "text", "Ownerless box", MB_OK | MB_ICONHAND);
        MessageBoxA(main.Handle(), "text", "Owned box", MB_OK | MB_ICONHAND | MB_TASKMODAL);
        returned = true;
    };
    main.timer.SetEnabled(true);
    User user([&] {
        ASSERT_NE(AwaitTopWindow("#32770", "Ownerless box", GetCurrentProcessId()), nullptr);
        PostMessageA(main.Handle(), WM_CLOSE, 0, 0);
    });
    application::Run(main);
    EXPECT_TRUE(returned);
    EXPECT_FALSE(main.Alive());
    EXPECT_EQ(FindTopWindow("#32770", nullptr, GetCurrentProcessId()), nullptr);
}

// ---- The list box ------------------------------------------------------------------

struct ListWindow : Form {
    ListWindow() : Form(WindowLayout(), nullptr), list(Add<ListBox>(At(10, 10, 280, 120))) {
        list.onSelect = [this] { selections.push_back(list.Selected()); };
        list.onDblClick = [this] { ++doubleClicks; };
    }
    static FormLayout WindowLayout() {
        FormLayout params = DialogLayout("TSampleList", "List");
        params.height = 150;
        return params;
    }
    ListBox& list;
    std::vector<int> selections;  // Selected() as each onSelect saw it
    std::atomic<int> doubleClicks{0};
};

// Client coordinates of the middle of line `index` in a list scrolled to its top.
POINT LineMiddle(HWND list, int index) {
    const int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    return {40, index * height + height / 2};
}

// Lines replace each other whole; only the user's selections fire onSelect, from keys and
// clicks alike (a click on the line already selected may fire it again), and a
// double-click fires onDblClick.
TEST(Form, AListBoxTellsTheUsersSelectionsNotTheProgramsOwn) {
    ListWindow window;
    window.list.SetLines({"old line"});
    window.list.SetLines({"first\ta", "second\tb", "third\tc"});
    EXPECT_EQ(window.list.Count(), 3);
    EXPECT_EQ(window.list.Line(1), "second\tb");
    EXPECT_EQ(window.list.Line(7), "");
    EXPECT_EQ(window.list.Selected(), -1);
    window.list.Select(0);
    EXPECT_EQ(window.list.Selected(), 0);
    EXPECT_TRUE(window.selections.empty());
    std::atomic<bool> movedByKey{false}, movedByClick{false};
    {
        User user([&] {
            HWND w = AwaitTopWindow("TSampleList", "List", GetCurrentProcessId());
            ASSERT_NE(w, nullptr);
            HWND list = window.list.Handle();
            ASSERT_TRUE(AwaitFocus(list));
            PressKey(list, VK_DOWN);
            movedByKey = AwaitCondition([&] { return SendMessageA(list, LB_GETCURSEL, 0, 0) == 1; });
            const POINT third = LineMiddle(list, 2);
            ClickAt(list, third.x, third.y);
            movedByClick = AwaitCondition([&] { return SendMessageA(list, LB_GETCURSEL, 0, 0) == 2; });
            ClickAt(list, third.x, third.y, true);
            AwaitCondition([&] { return window.doubleClicks > 0; });
            PostMessageA(w, WM_CLOSE, 0, 0);
        });
        window.ShowModal();
    }
    EXPECT_TRUE(movedByKey);
    EXPECT_TRUE(movedByClick);
    ASSERT_GE(window.selections.size(), 2u);
    EXPECT_EQ(window.selections[0], 1);
    for (size_t i = 1; i < window.selections.size(); ++i) EXPECT_EQ(window.selections[i], 2) << i;
    EXPECT_EQ(window.doubleClicks, 1);
    const size_t fired = window.selections.size();
    window.list.SetLines({});
    EXPECT_EQ(window.list.Count(), 0);
    EXPECT_EQ(window.list.Selected(), -1);
    EXPECT_EQ(window.selections.size(), fired);
}

// The leftmost pixel that differs from the list's background in the row of line 0, in
// list client coordinates; -1 when none.
int FirstInkInFirstLine(HWND list, int from) {
    const int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    HDC dc = GetDC(list);
    const COLORREF background = GetPixel(dc, 1, height - 1);
    int found = -1;
    for (int x = from; x < 280 && found < 0; ++x)
        for (int y = 0; y < height && found < 0; ++y)
            if (GetPixel(dc, x, y) != background) found = x;
    ReleaseDC(list, dc);
    return found;
}

// Columns are given in pixels: the text after a tab begins where its column says, whatever
// the font's character width.
TEST(Form, AListBoxLinesUpItsColumnsWhereTheyAreGivenInPixels) {
    ListWindow window;
    window.Show();
    for (const int column : {60, 150}) {
        SCOPED_TRACE(column);
        window.list.SetColumns({column});
        window.list.SetLines({"\tW"});
        UpdateWindow(window.list.Handle());
        int ink = -1;
        WaitFor([&] { return (ink = FirstInkInFirstLine(window.list.Handle(), 0)) >= 0; });
        EXPECT_NEAR(ink, column, 6);
    }
}

// A right-click on a control asks for its menu there; the user picks an item with the keys
// or dismisses the menu with Escape.
TEST(Form, AControlsMenuReturnsTheItemTheUserChose) {
    MainWindow main;
    Label& label = main.Add<Label>(At(0, 0, 200, 50, "Title"));
    std::vector<int> chosen;
    std::vector<std::pair<POINT, POINT>> asked;  // where the menu was asked for, where the click was
    label.onContextMenu = [&](POINT at) {
        POINT clicked{20, 10};
        ClientToScreen(label.Handle(), &clicked);
        asked.push_back({at, clicked});
        chosen.push_back(ChooseFromMenu(main, at, {"One", "Two"}));
        if (chosen.size() == 2) main.Close();
    };
    User user([&] {
        ASSERT_NE(AwaitTopWindow("TSampleMain", "Main", GetCurrentProcessId()), nullptr);
        for (const WORD key : {VK_RETURN, VK_ESCAPE}) {
            const size_t before = chosen.size();
            PostMessageA(label.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 10));
            PostMessageA(label.Handle(), WM_RBUTTONUP, 0, MAKELPARAM(20, 10));
            HWND menu = AwaitTopWindow("#32768", nullptr, GetCurrentProcessId());
            ASSERT_NE(menu, nullptr);
            if (key == VK_RETURN) {
                PressKey(menu, VK_DOWN);
                PressKey(menu, VK_DOWN);
            }
            PressKey(menu, key);
            ASSERT_TRUE(AwaitCondition([&] { return chosen.size() > before; }));
        }
    });
    application::Run(main);
    ASSERT_EQ(chosen, (std::vector<int>{1, -1}));
    for (const auto& [at, clicked] : asked) {
        EXPECT_EQ(at.x, clicked.x);
        EXPECT_EQ(at.y, clicked.y);
    }
}

}  // namespace
