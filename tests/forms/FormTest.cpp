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

FormSpec DialogSpec(const char* className, const char* caption) {
    FormSpec params;
    params.className = className;
    params.caption = caption;
    params.width = 300;
    params.height = 120;
    return params;
}

ControlSpec At(int left, int top, int width, int height, const char* text = "") {
    ControlSpec params;
    params.bounds = {left, top, width, height};
    params.text = text;
    return params;
}

// A dialog with two edit boxes and two buttons, in this tab order.
struct SampleDialog : Form {
    explicit SampleDialog(Form* owner)
        : Form(DialogSpec("TSampleDialog", "Sample"), owner),
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
    MainWindow() : Form(MainSpec(), nullptr), timer(AddTimer(20)) {}
    static FormSpec MainSpec() {
        FormSpec params;
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
    ControlSpec params = At(0, 0, 200, 50, "Title");
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

}  // namespace
