// A small form layer over plain Win32.
//
// A Form is a top-level window of its own window class (named after the form class,
// e.g. "TLogo"), so that other programs and tests find it by class. Its controls are
// real child windows of the standard classes (STATIC, EDIT, BUTTON, LISTBOX) carrying
// their text, created in tab order. The form reflects WM_COMMAND and the colour messages to
// the control objects, which fire their event fields:
//
//   button.onClick = [this] { bt_SaveClick(); };
//
// Handlers run on the UI thread, inside whatever message loop is current. They may
// show modal forms or message boxes, and may close or destroy the form itself.
#pragma once

#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace forms {

struct FontStyle {
    const char* face = "MS Sans Serif";
    int pixelHeight = 11;  // character height in pixels
    bool bold = false;
    bool underline = false;
};

struct Bounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

enum class Border { None, Dialog, Sizeable };
enum class Align { Left, Center, Right };

// Creation arguments of a form; the defaults suit a small fixed dialog.
struct FormLayout {
    const char* className = "TForm";  // window class, registered on first use
    const char* caption = "";
    int width = 300;                  // client area, or outer size with outerSize
    int height = 200;
    bool outerSize = false;
    Border border = Border::Dialog;
    std::optional<COLORREF> background;  // default: the system's button face
    FontStyle font;
    const char* hint = nullptr;  // the form's own hint, over its bare surface
};

// Creation arguments of a control.
struct ControlLayout {
    Bounds bounds;
    const char* text = "";
    const char* hint = nullptr;
    std::optional<FontStyle> font;         // default: the form's font
    std::optional<COLORREF> textColour;   // default: the system's window text
    std::optional<COLORREF> background;   // default: the form's background
    bool transparent = false;
    Align align = Align::Left;
    bool tabStop = true;
    bool enabled = true;
    bool readOnly = false;
    bool border = true;
    bool visible = true;
    bool scrollBar = false;  // a memo: a vertical scroll bar for text longer than the box
};

class Form;

class Control {
public:
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    HWND Handle() const { return hwnd_; }
    Form& Owner() const { return form_; }

    void SetText(const char* text);
    char* GetText() const;  // a made text, owned by the caller
    void SetFocus();
    bool Focused() const;
    void SetEnabled(bool enabled);
    void SetVisible(bool visible);
    bool Visible() const;

    std::function<void()> onClick;
    std::function<void()> onDblClick;
    // The control becomes the form's active control: the focus comes to it from another
    // control of the form, or it is the form's first. Not when the form is activated
    // again after a window switch and the focus returns to the same control.
    std::function<void()> onEnter;
    // Called with the typed character before the control sees it; the key is not consumed.
    std::function<void(char key)> onKeyPress;
    // The user asks for the control's menu (a right-click, the menu key), at this point on
    // the screen.
    std::function<void(POINT screen)> onContextMenu;

protected:
    Control(Form& form, const char* windowClass, DWORD style, DWORD exStyle, const ControlLayout& params);
    virtual LRESULT Subclassed(UINT msg, WPARAM wp, LPARAM lp);
    // The notification the form reflects from WM_COMMAND; its codes depend on the class.
    virtual void Notify(WORD code);

private:
    friend class Form;
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    // Colours for WM_CTLCOLOR*: sets up the DC and returns the brush to paint with.
    HBRUSH Paint(HDC dc) const;
    LRESULT OnSetFocus(WPARAM wp, LPARAM lp);
    void ForgetWindow() { hwnd_ = nullptr; }

    Form& form_;
    HWND hwnd_ = nullptr;
    FontHandle font_;
    BrushHandle backgroundBrush_;
    std::optional<COLORREF> textColour_;
    std::optional<COLORREF> background_;
    bool transparent_ = false;
};

class Label : public Control {
public:
    Label(Form& form, const ControlLayout& params);
};

class Button : public Control {
public:
    Button(Form& form, const ControlLayout& params);
    void Click();  // as BM_CLICK: the user's click
};

class EditBox : public Control {
public:
    EditBox(Form& form, const ControlLayout& params);

protected:
    LRESULT Subclassed(UINT msg, WPARAM wp, LPARAM lp) override;
};

// Multi-line, read-only text; clicks and double-clicks fire its events.
class Memo : public Control {
public:
    Memo(Form& form, const ControlLayout& params);

protected:
    LRESULT Subclassed(UINT msg, WPARAM wp, LPARAM lp) override;
};

// A list of lines, one of them selected. A line's tabs line it up in the columns set
// with SetColumns. onSelect fires when the user selects another line (click or keys),
// onDblClick on a double-click; never for the program's own Select or SetLines.
class ListBox : public Control {
public:
    ListBox(Form& form, const ControlLayout& params);

    // Replaces every line at once, with no line selected.
    void SetLines(const std::vector<std::string>& lines);
    int Count() const;
    std::string Line(int index) const;
    int Selected() const;  // -1: none
    void Select(int index);
    // Where the columns after the first begin, in pixels from the list's left edge.
    void SetColumns(const std::vector<int>& lefts);

    std::function<void()> onSelect;

protected:
    void Notify(WORD code) override;
};

// Shows a menu of `items` at `screen` (a point in screen coordinates) for `form`, and
// returns the index of the item the user chose, or -1 when the menu was dismissed.
int ChooseFromMenu(Form& form, POINT screen, const std::vector<std::string>& items);

// Fires on the UI thread; may be disabled and enabled from its own handler.
class Timer {
public:
    Timer(Form& form, UINT id, UINT intervalMs);
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer();

    void SetEnabled(bool enabled);
    // Takes effect at once when enabled, else at the next SetEnabled(true).
    void SetInterval(UINT intervalMs);
    bool Enabled() const { return enabled_; }
    UINT Interval() const { return interval_; }

    std::function<void()> onTimer;

private:
    friend class Form;
    void Fire();

    Form& form_;
    UINT id_;
    UINT interval_;
    bool enabled_ = false;
};

class Form {
public:
    // The owner is disabled while this form is shown modally; null for the main window.
    Form(const FormLayout& params, Form* owner);
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;
    virtual ~Form();

    HWND Handle() const { return hwnd_; }
    bool Alive() const { return hwnd_ != nullptr; }
    Form* OwnerForm() const { return owner_; }
    // The platform's error code when the window could not be created; 0 otherwise.
    DWORD CreateError() const { return createError_; }

    template <typename C>
    C& Add(const ControlLayout& params) {
        auto control = std::make_unique<C>(*this, params);
        C& ref = *control;
        controls_.push_back(std::move(control));
        return ref;
    }
    Timer& AddTimer(UINT intervalMs);

    void SetCaption(const char* caption);
    void SetHint(Control& control, const char* hint);
    // Resizes the client area, keeping the window's centre where it is.
    void SetClientSize(int width, int height);

    // Modeless show, for the main window.
    void Show();
    // Disables the owner, shows the form and runs a message loop until the form is
    // closed or gone; the owner is enabled and active again afterwards.
    void ShowModal();
    bool ShowingModal() const { return modalRunning_; }
    // True when the last modal showing ended without the form's own Close(): closed by
    // the platform (WM_CLOSE) or destroyed with its owner. No choice was made then.
    bool ClosedFromOutside() const { return closedFromOutside_; }
    // Ordinary close: ends a modal showing; a modeless form is destroyed.
    void Close();
    // Fires onDestroy once, then destroys the window. Derived forms call it first
    // thing in their destructors, while their own members are still alive.
    void Destroy();

    std::function<void()> onShow;
    std::function<void()> onClick;  // a click on the bare surface
    std::function<void()> onDestroy;

    // The platform window's messages; one window procedure serves every form.
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);

protected:
    virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

private:
    friend class Control;
    friend class Timer;

    UINT NextControlId() { return nextControlId_++; }
    HFONT FormFont() const { return font_.Get(); }
    HBRUSH BackgroundBrush() const { return backgroundBrush_.Get(); }
    COLORREF BackgroundColour() const { return background_; }
    Control* FindControl(HWND hwnd) const;
    // True when `control` was not the active control before.
    bool TakeActiveControl(Control& control);
    void LoseActiveControl(Control& control);
    void RegisterControl(Control& control, const char* hint);
    void EnsureTooltips();
    void OnCommand(WPARAM wp, LPARAM lp);
    LRESULT OnColour(HDC dc, HWND control);
    void OnActivate(WPARAM wp);
    // True when a control took the menu request.
    bool OnContextMenu(HWND from, LPARAM at);
    void OnNcDestroy();
    void FocusFirstControl();
    void RunModalLoop();

    Form* owner_;
    HWND hwnd_ = nullptr;
    HWND tooltips_ = nullptr;  // owned by hwnd_ and destroyed with it
    HWND lastFocus_ = nullptr;
    Control* activeControl_ = nullptr;  // the control that last had the focus
    DWORD createError_ = 0;
    FontHandle font_;
    COLORREF background_;
    BrushHandle backgroundBrush_;
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<std::unique_ptr<Timer>> timers_;
    UINT nextControlId_ = 1000;  // clear of IDOK and IDCANCEL
    bool modalRunning_ = false;
    bool closeRequested_ = false;
    bool closedFromOutside_ = false;
    bool destroyFired_ = false;
};

// The program's run: main window, message loop and the end of the program.
namespace application {
// Runs the message loop until the main window has closed; returns WM_QUIT's code, or 0
// at once when the main window was never made.
int Run(Form& mainForm);
// True once the main window has closed: modal loops and steps should unwind.
bool Terminated();
// Reports an exception that reached a window procedure, in the platform's way.
void ReportException(const char* what);
// Handles this thread's messages until `signalled` is set, so that the windows keep
// answering while a worker thread does long work. It returns only then, even when the
// program began to end meanwhile: the worker's work must not be cut short. A quit that
// arrives is passed on to the loop outside.
//
// Every loop of the program takes a WM_QUIT that comes while the main window stands (one
// posted by another program: our own comes only once it is gone) as a request to close
// the main window, which decides how to end.
void HandleMessagesUntil(HANDLE signalled);
}  // namespace application

// Colour of a system colour index, e.g. COLOR_INFOBK.
inline COLORREF SystemColour(int index) { return GetSysColor(index); }

}  // namespace forms
