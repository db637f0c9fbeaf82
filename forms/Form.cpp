#include "forms/Form.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include <exception>
#include <set>
#include <string>

namespace forms {

namespace {

HWND g_mainWindow = nullptr;
bool g_terminated = false;

// Our own end posts WM_QUIT only once the main window is gone. One that comes while it
// stands was posted by another program: it asks the main window to close, which decides
// how (a working period still ends through its own last step).
bool QuitAsClose() {
    if (!g_mainWindow || !IsWindow(g_mainWindow)) return false;
    PostMessageA(g_mainWindow, WM_CLOSE, 0, 0);
    return true;
}

FontHandle MakeFont(const FontStyle& params) {
    return FontHandle(CreateFontA(-params.pixelHeight, 0, 0, 0, params.bold ? FW_BOLD : FW_NORMAL, FALSE,
                                  params.underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, params.face));
}

void RegisterFormClass(const char* className) {
    static std::set<std::string> registered;
    if (!registered.insert(className).second) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Form::WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.lpszClassName = className;
    RegisterClassExA(&wc);
}

DWORD StyleFor(Border border) {
    switch (border) {
        case Border::None: return WS_POPUP | WS_CLIPCHILDREN;
        case Border::Dialog: return WS_POPUP | WS_CAPTION | WS_DLGFRAME | WS_CLIPCHILDREN;
        case Border::Sizeable: return WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN;
    }
    return WS_POPUP;
}

DWORD ExStyleFor(Border border) { return border == Border::Dialog ? WS_EX_DLGMODALFRAME : 0; }

SIZE OuterSize(const FormLayout& params) {
    if (params.outerSize) return {params.width, params.height};
    RECT r{0, 0, params.width, params.height};
    AdjustWindowRectEx(&r, StyleFor(params.border), FALSE, ExStyleFor(params.border));
    return {r.right - r.left, r.bottom - r.top};
}

// No exception crosses a window procedure: it is reported and the message answered 0.
template <typename Handler>
LRESULT Guarded(Handler handler) {
    try {
        return handler();
    } catch (const std::exception& e) {
        application::ReportException(e.what());
    } catch (...) {
        application::ReportException("unknown exception");
    }
    return 0;
}

DWORD AlignStyle(Align align, DWORD left, DWORD center, DWORD right) {
    return align == Align::Center ? center : align == Align::Right ? right : left;
}

}  // namespace

// ---- Control -------------------------------------------------------------

Control::Control(Form& form, const char* windowClass, DWORD style, DWORD exStyle, const ControlLayout& params)
    : form_(form), textColour_(params.textColour), background_(params.background), transparent_(params.transparent) {
    if (params.tabStop) style |= WS_TABSTOP;
    if (!params.enabled) style |= WS_DISABLED;
    if (params.visible) style |= WS_VISIBLE;
    hwnd_ = CreateWindowExA(exStyle, windowClass, params.text ? params.text : "", WS_CHILD | style,
                            params.bounds.left, params.bounds.top, params.bounds.width, params.bounds.height,
                            form.Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(form.NextControlId())),
                            GetModuleHandleA(nullptr), nullptr);
    if (params.font) font_ = MakeFont(*params.font);
    SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_ ? font_.Get() : form.FormFont()), FALSE);
    if (background_) backgroundBrush_.Reset(CreateSolidBrush(*background_));
    SetWindowSubclass(hwnd_, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
    form.RegisterControl(*this, params.hint);
}

void Control::SetText(const char* text) {
    if (hwnd_) SetWindowTextA(hwnd_, text ? text : "");
}

char* Control::GetText() const {
    if (!hwnd_) return ConcatText("");
    const int length = GetWindowTextLengthA(hwnd_);
    std::string buffer(static_cast<size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(hwnd_, buffer.data(), length + 1);
    buffer.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return ConcatText(buffer.c_str());
}

void Control::SetFocus() {
    if (hwnd_) ::SetFocus(hwnd_);
}

bool Control::Focused() const { return hwnd_ && GetFocus() == hwnd_; }

void Control::SetEnabled(bool enabled) {
    if (hwnd_) EnableWindow(hwnd_, enabled);
}

void Control::SetVisible(bool visible) {
    if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

bool Control::Visible() const { return hwnd_ && IsWindowVisible(hwnd_); }

HBRUSH Control::Paint(HDC dc) const {
    SetTextColor(dc, textColour_.value_or(GetSysColor(COLOR_WINDOWTEXT)));
    if (transparent_) {
        SetBkMode(dc, TRANSPARENT);
        return form_.BackgroundBrush();
    }
    SetBkColor(dc, background_.value_or(form_.BackgroundColour()));
    return backgroundBrush_ ? backgroundBrush_.Get() : form_.BackgroundBrush();
}

void Control::Notify(WORD code) {
    switch (code) {
        case BN_CLICKED:  // also STN_CLICKED
            if (onClick) onClick();
            break;
        case STN_DBLCLK:  // also BN_DBLCLK
            if (onDblClick) onDblClick();
            break;
        default:
            break;
    }
}

LRESULT Control::Subclassed(UINT msg, WPARAM wp, LPARAM lp) {
    return DefSubclassProc(hwnd_, msg, wp, lp);
}

LRESULT Control::OnSetFocus(WPARAM wp, LPARAM lp) {
    // Coming back to the form after a window switch gives the focus back to the same
    // control: that is no entering.
    const bool entering = form_.TakeActiveControl(*this);
    const LRESULT result = Subclassed(WM_SETFOCUS, wp, lp);
    if (entering && onEnter) onEnter();
    return result;
}

LRESULT CALLBACK Control::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    auto* control = reinterpret_cast<Control*>(data);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, 0);
        control->form_.LoseActiveControl(*control);
        control->ForgetWindow();
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
    if (msg == WM_SETFOCUS) return Guarded([&] { return control->OnSetFocus(wp, lp); });
    return Guarded([&] { return control->Subclassed(msg, wp, lp); });
}

Label::Label(Form& form, const ControlLayout& params)
    : Control(form, "STATIC", SS_NOTIFY | SS_NOPREFIX | AlignStyle(params.align, SS_LEFT, SS_CENTER, SS_RIGHT), 0,
              [&] {
                  ControlLayout s = params;
                  s.tabStop = false;
                  return s;
              }()) {}

Button::Button(Form& form, const ControlLayout& params) : Control(form, "BUTTON", BS_PUSHBUTTON, 0, params) {}

void Button::Click() {
    if (Handle()) SendMessageA(Handle(), BM_CLICK, 0, 0);
}

namespace {

// A box the user types into is painted in the window colour, as the platform's own are;
// a box that only shows its text keeps the form's colour.
ControlLayout TypingColours(const ControlLayout& params) {
    ControlLayout s = params;
    if (!s.background && !s.readOnly && s.enabled) s.background = GetSysColor(COLOR_WINDOW);
    return s;
}

}  // namespace

EditBox::EditBox(Form& form, const ControlLayout& params)
    : Control(form, "EDIT",
              ES_AUTOHSCROLL | (params.readOnly ? ES_READONLY : 0) |
                  AlignStyle(params.align, ES_LEFT, ES_CENTER, ES_RIGHT),
              params.border ? WS_EX_CLIENTEDGE : 0, TypingColours(params)) {}

LRESULT EditBox::Subclassed(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_GETDLGCODE: {
            // Return and Escape belong to the box's key handler, not to the dialog keys.
            LRESULT code = DefSubclassProc(Handle(), msg, wp, lp);
            if (wp == VK_RETURN || wp == VK_ESCAPE) code |= DLGC_WANTALLKEYS;
            return code;
        }
        case WM_CHAR:
            if (onKeyPress) {
                HWND self = Handle();
                onKeyPress(static_cast<char>(wp));
                if (!IsWindow(self)) return 0;  // the handler closed the form
            }
            if (wp == VK_RETURN || wp == VK_ESCAPE) return 0;  // no beep in a single-line box
            break;
        default:
            break;
    }
    return DefSubclassProc(Handle(), msg, wp, lp);
}

Memo::Memo(Form& form, const ControlLayout& params)
    : Control(form, "EDIT",
              ES_MULTILINE | ES_READONLY | AlignStyle(params.align, ES_LEFT, ES_CENTER, ES_RIGHT) |
                  (params.scrollBar ? WS_VSCROLL | ES_AUTOVSCROLL : 0),
              params.border ? WS_EX_CLIENTEDGE : 0, params) {}

LRESULT Memo::Subclassed(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_LBUTTONUP: {
            LRESULT r = DefSubclassProc(Handle(), msg, wp, lp);
            if (onClick) onClick();
            return r;
        }
        case WM_LBUTTONDBLCLK:
            if (onDblClick) {
                onDblClick();
                return 0;
            }
            break;
        default:
            break;
    }
    return DefSubclassProc(Handle(), msg, wp, lp);
}

ListBox::ListBox(Form& form, const ControlLayout& params)
    : Control(form, "LISTBOX", LBS_NOTIFY | LBS_HASSTRINGS | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT | WS_VSCROLL,
              params.border ? WS_EX_CLIENTEDGE : 0, TypingColours(params)) {}

void ListBox::SetLines(const std::vector<std::string>& lines) {
    if (!Handle()) return;
    // One repaint for the whole list, and its memory at once: a thousand lines stay quick.
    SendMessageA(Handle(), WM_SETREDRAW, FALSE, 0);
    SendMessageA(Handle(), LB_RESETCONTENT, 0, 0);
    size_t bytes = 0;
    for (const auto& line : lines) bytes += line.size() + 1;
    SendMessageA(Handle(), LB_INITSTORAGE, lines.size(), static_cast<LPARAM>(bytes));
    for (const auto& line : lines) SendMessageA(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageA(Handle(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(Handle(), nullptr, TRUE);
}

int ListBox::Count() const {
    if (!Handle()) return 0;
    const LRESULT n = SendMessageA(Handle(), LB_GETCOUNT, 0, 0);
    return n == LB_ERR ? 0 : static_cast<int>(n);
}

std::string ListBox::Line(int index) const {
    if (!Handle()) return "";
    const LRESULT length = SendMessageA(Handle(), LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) return "";
    std::string line(static_cast<size_t>(length) + 1, '\0');
    const LRESULT got = SendMessageA(Handle(), LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&line[0]));
    line.resize(got == LB_ERR ? 0 : static_cast<size_t>(got));
    return line;
}

int ListBox::Selected() const {
    if (!Handle()) return -1;
    const LRESULT selected = SendMessageA(Handle(), LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

void ListBox::Select(int index) {
    if (Handle()) SendMessageA(Handle(), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void ListBox::SetColumns(const std::vector<int>& lefts) {
    if (!Handle()) return;
    // Tab stops are in quarters of the font's average character width, which the list
    // box works out as GdiGetCharDimensions does: the 52 letters' width.
    HDC dc = GetDC(Handle());
    if (!dc) return;
    HGDIOBJ before = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(Handle(), WM_GETFONT, 0, 0)));
    SIZE letters{};
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    GetTextExtentPoint32A(dc, kLetters, 52, &letters);
    SelectObject(dc, before);
    ReleaseDC(Handle(), dc);
    const int average = std::max(1, static_cast<int>((letters.cx / 26 + 1) / 2));
    std::vector<INT> stops;
    for (const int left : lefts) stops.push_back(MulDiv(left, 4, average));
    SendMessageA(Handle(), LB_SETTABSTOPS, stops.size(), reinterpret_cast<LPARAM>(stops.data()));
    InvalidateRect(Handle(), nullptr, TRUE);
}

void ListBox::Notify(WORD code) {
    switch (code) {
        case LBN_SELCHANGE:
            if (onSelect) onSelect();
            break;
        case LBN_DBLCLK:
            if (onDblClick) onDblClick();
            break;
        default:
            break;
    }
}

int ChooseFromMenu(Form& form, POINT screen, const std::vector<std::string>& items) {
    MenuHandle menu(CreatePopupMenu());
    if (!menu || !form.Handle()) return -1;
    for (size_t i = 0; i < items.size(); ++i)
        AppendMenuA(menu.Get(), MF_STRING, static_cast<UINT_PTR>(i + 1), items[i].c_str());
    // A menu goes away at a click elsewhere only when its window is the foreground one.
    SetForegroundWindow(form.Handle());
    const int chosen = static_cast<int>(TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                       screen.x, screen.y, 0, form.Handle(), nullptr));
    // So that the next menu of this window shows at once (the platform's documented remedy).
    PostMessageA(form.Handle(), WM_NULL, 0, 0);
    return chosen - 1;
}

// ---- Timer -----------------------------------------------------------------

Timer::Timer(Form& form, UINT id, UINT intervalMs) : form_(form), id_(id), interval_(intervalMs) {}

Timer::~Timer() { SetEnabled(false); }

void Timer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (!form_.Handle()) return;
    if (enabled)
        SetTimer(form_.Handle(), id_, interval_, nullptr);
    else
        KillTimer(form_.Handle(), id_);
}

void Timer::SetInterval(UINT intervalMs) {
    interval_ = intervalMs;
    if (enabled_) SetEnabled(true);
}

void Timer::Fire() {
    // A tick may already be queued when the timer was disabled.
    if (enabled_ && onTimer) onTimer();
}

// ---- Form ------------------------------------------------------------------

Form::Form(const FormLayout& params, Form* owner)
    : owner_(owner),
      font_(MakeFont(params.font)),
      background_(params.background.value_or(GetSysColor(COLOR_BTNFACE))),
      backgroundBrush_(CreateSolidBrush(background_)) {
    RegisterFormClass(params.className);
    const SIZE size = OuterSize(params);
    const int left = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    CreateWindowExA(ExStyleFor(params.border), params.className, params.caption, StyleFor(params.border), left, top,
                    size.cx, size.cy, owner ? owner->Handle() : nullptr, nullptr, GetModuleHandleA(nullptr),
                    this);
    if (!hwnd_) createError_ = GetLastError();
    if (hwnd_ && params.hint) {
        EnsureTooltips();
        TOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = hwnd_;
        tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
        tool.lpszText = const_cast<char*>(params.hint);
        SendMessageA(tooltips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

Form::~Form() {
    // Order: timers stop first, then the window goes (taking its child windows and
    // tooltips with it), then the control objects, then the GDI objects they used.
    timers_.clear();
    if (hwnd_) DestroyWindow(hwnd_);
    controls_.clear();
}

Timer& Form::AddTimer(UINT intervalMs) {
    timers_.push_back(std::make_unique<Timer>(*this, static_cast<UINT>(timers_.size() + 1), intervalMs));
    return *timers_.back();
}

void Form::SetCaption(const char* caption) {
    if (hwnd_) SetWindowTextA(hwnd_, caption ? caption : "");
}

void Form::SetClientSize(int width, int height) {
    if (!hwnd_) return;
    RECT outer{0, 0, width, height};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_EXSTYLE)));
    RECT now;
    GetWindowRect(hwnd_, &now);
    const int w = outer.right - outer.left, h = outer.bottom - outer.top;
    const int left = (now.left + now.right - w) / 2, top = (now.top + now.bottom - h) / 2;
    SetWindowPos(hwnd_, nullptr, left, top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::EnsureTooltips() {
    if (tooltips_ || !hwnd_) return;
    tooltips_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
}

void Form::SetHint(Control& control, const char* hint) {
    if (!hint || !control.Handle()) return;
    EnsureTooltips();
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control.Handle());
    tool.lpszText = const_cast<char*>(hint);
    SendMessageA(tooltips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void Form::RegisterControl(Control& control, const char* hint) { SetHint(control, hint); }

bool Form::TakeActiveControl(Control& control) {
    const bool changed = activeControl_ != &control;
    activeControl_ = &control;
    return changed;
}

void Form::LoseActiveControl(Control& control) {
    if (activeControl_ == &control) activeControl_ = nullptr;
}

Control* Form::FindControl(HWND hwnd) const {
    for (const auto& c : controls_)
        if (c->Handle() == hwnd) return c.get();
    return nullptr;
}

void Form::Show() {
    if (!hwnd_) return;
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    SetForegroundWindow(hwnd_);
    if (onShow) onShow();
}

void Form::FocusFirstControl() {
    HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    if (first) ::SetFocus(first);
}

void Form::ShowModal() {
    if (!hwnd_ || modalRunning_ || application::Terminated()) return;
    HWND ownerWindow = owner_ ? owner_->Handle() : nullptr;
    // An owner already disabled by an outer modal form stays disabled afterwards.
    const bool ownerWasEnabled = ownerWindow && IsWindowEnabled(ownerWindow);
    if (ownerWasEnabled) EnableWindow(ownerWindow, FALSE);
    closeRequested_ = false;
    closedFromOutside_ = false;
    modalRunning_ = true;
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    SetActiveWindow(hwnd_);
    FocusFirstControl();
    if (onShow) onShow();
    RunModalLoop();
    modalRunning_ = false;
    if (!closeRequested_) closedFromOutside_ = true;
    // Enable the owner before hiding, so that activation returns to it.
    if (ownerWasEnabled && IsWindow(ownerWindow)) EnableWindow(ownerWindow, TRUE);
    if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
    if (ownerWindow && IsWindow(ownerWindow)) {
        SetActiveWindow(ownerWindow);
        SetForegroundWindow(ownerWindow);
    }
}

void Form::RunModalLoop() {
    MSG msg;
    while (hwnd_ && !closeRequested_ && !application::Terminated()) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 && QuitAsClose()) continue;
        if (got == 0 || got == -1) {
            // The program is ending: leave the quit for the outer loop too.
            PostQuitMessage(got == 0 ? static_cast<int>(msg.wParam) : 0);
            break;
        }
        if (hwnd_ && IsDialogMessageA(hwnd_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void Form::Close() {
    if (!hwnd_) return;
    if (modalRunning_) {
        closeRequested_ = true;
        PostMessageA(hwnd_, WM_NULL, 0, 0);  // wake the modal loop
        return;
    }
    DestroyWindow(hwnd_);
}

void Form::Destroy() {
    if (!destroyFired_) {
        destroyFired_ = true;
        if (onDestroy) onDestroy();
    }
    timers_.clear();
    if (hwnd_) DestroyWindow(hwnd_);
}

void Form::OnCommand(WPARAM wp, LPARAM lp) {
    const WORD id = LOWORD(wp);
    HWND from = reinterpret_cast<HWND>(lp);
    if (from) {
        if (Control* control = FindControl(from)) control->Notify(HIWORD(wp));
        return;
    }
    // Dialog keys: Return activates the focused push button; Escape does nothing.
    if (id == IDOK) {
        HWND focus = GetFocus();
        Control* control = FindControl(focus);
        if (control && dynamic_cast<Button*>(control)) static_cast<Button*>(control)->Click();
    }
}

bool Form::OnContextMenu(HWND from, LPARAM at) {
    Control* control = FindControl(from);
    if (!control || !control->onContextMenu) return false;
    POINT screen{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    // From the keyboard (the menu key, Shift+F10) there is no point: the control's middle.
    if (at == -1) {
        RECT r;
        GetWindowRect(from, &r);
        screen = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    control->onContextMenu(screen);
    return true;
}

LRESULT Form::OnColour(HDC dc, HWND controlWindow) {
    if (Control* control = FindControl(controlWindow))
        return reinterpret_cast<LRESULT>(control->Paint(dc));
    SetBkColor(dc, background_);
    return reinterpret_cast<LRESULT>(backgroundBrush_.Get());
}

void Form::OnActivate(WPARAM wp) {
    // Give the focus back to the control that had it before another window was active.
    if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
    } else if (lastFocus_ && IsWindow(lastFocus_) && IsChild(hwnd_, lastFocus_)) {
        ::SetFocus(lastFocus_);
    }
}

void Form::OnNcDestroy() {
    for (auto& t : timers_) KillTimer(hwnd_, t->id_);
    if (hwnd_ == g_mainWindow) {
        g_mainWindow = nullptr;
        g_terminated = true;
        PostQuitMessage(0);
    }
    hwnd_ = nullptr;
    tooltips_ = nullptr;
    lastFocus_ = nullptr;
    activeControl_ = nullptr;
}

LRESULT Form::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            OnCommand(wp, lp);
            return 0;
        case WM_TIMER:
            for (auto& t : timers_)
                if (t->id_ == wp) {
                    t->Fire();
                    return 0;
                }
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORLISTBOX:
            return OnColour(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(hwnd_, &r);
            FillRect(reinterpret_cast<HDC>(wp), &r, backgroundBrush_.Get());
            return 1;
        }
        case WM_LBUTTONUP:
            if (onClick) onClick();
            return 0;
        case WM_ACTIVATE:
            OnActivate(wp);
            return 0;
        case WM_CONTEXTMENU:
            if (OnContextMenu(reinterpret_cast<HWND>(wp), lp)) return 0;
            break;
        case WM_CLOSE:
            // Closed by the platform (Alt+F4, another program): no button was chosen.
            if (modalRunning_) {
                closeRequested_ = true;
                closedFromOutside_ = true;
                return 0;
            }
            Close();
            return 0;
        default:
            break;
    }
    return DefWindowProcA(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
        auto* form = static_cast<Form*>(create->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcA(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        form->OnNcDestroy();
        return DefWindowProcA(hwnd, msg, wp, lp);
    }
    return Guarded([&] { return form->HandleMessage(msg, wp, lp); });
}

// ---- Application -----------------------------------------------------------

namespace application {

int Run(Form& mainForm) {
    // Without a main window nothing would ever end the loop.
    if (!mainForm.Handle()) return 0;
    g_mainWindow = mainForm.Handle();
    g_terminated = !g_mainWindow;
    if (g_mainWindow) mainForm.Show();
    MSG msg{};
    int code = 0;
    // Closing the main window posts WM_QUIT; nested loops pass it on to this one.
    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 && QuitAsClose()) continue;
        if (got == 0 || got == -1) {
            code = got == 0 ? static_cast<int>(msg.wParam) : 0;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // Nothing of this run is left on the stack: a later run starts afresh.
    g_mainWindow = nullptr;
    g_terminated = false;
    return code;
}

bool Terminated() { return g_terminated; }

void HandleMessagesUntil(HANDLE signalled) {
    bool quit = false;
    int quitCode = 0;
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjectsEx(1, &signalled, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke != WAIT_OBJECT_0 + 1) break;  // signalled, or a wait that cannot go on
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                if (QuitAsClose()) continue;
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            HWND active = GetActiveWindow();
            if (active && IsDialogMessageA(active, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (quit) PostQuitMessage(quitCode);
}

void ReportException(const char* what) {
    MessageBoxA(nullptr, what ? what : "unknown exception", "Carvelund", MB_OK | MB_ICONHAND | MB_TASKMODAL);
}

}  // namespace application

}  // namespace forms
