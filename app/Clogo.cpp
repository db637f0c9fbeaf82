#include "app/Clogo.h"

#include "launcher/Winappcontrol.h"

#include <exception>
#include <string>

namespace {

// Waiting steps look again this often; one that moved the period on is followed at once
// (the timer's shortest interval).
constexpr UINT kWaitTickMs = 100;
constexpr UINT kNextStepMs = USER_TIMER_MINIMUM;

forms::FormLayout TitleWindowLayout() {
    forms::FormLayout params;
    params.className = "TLogo";
    params.caption = "Carvelund";
    params.width = 232;
    params.height = 60;
    params.border = forms::Border::None;
    params.background = GetSysColor(COLOR_INFOBK);
    return params;
}

forms::ControlLayout TitleLabelLayout() {
    forms::ControlLayout params;
    params.bounds = {0, 11, 232, 37};
    params.text = "Carvelund";
    params.hint = "Click for donation information";
    params.font = forms::FontStyle{"Arial", 32, true, false};
    params.textColour = GetSysColor(COLOR_WINDOWTEXT);
    params.background = GetSysColor(COLOR_INFOBK);
    params.align = forms::Align::Center;
    return params;
}

constexpr int kTitleHeight = 60;
constexpr int kWaitingHeight = 142;

forms::ControlLayout WaitingLayout() {
    forms::ControlLayout params;
    params.bounds = {8, 60, 216, 44};
    params.background = GetSysColor(COLOR_INFOBK);
    params.tabStop = false;
    params.visible = false;
    return params;
}

forms::ControlLayout WaitButtonLayout(int left, const char* text, const char* hint) {
    forms::ControlLayout params;
    params.bounds = {left, 108, 104, 25};
    params.text = text;
    params.hint = hint;
    params.visible = false;
    return params;
}

// The lock wait's panel: a line or two more than the in-use wait's, for the holder's PC.
constexpr int kLockWaitHeight = 180;

forms::ControlLayout LockWaitLayout() {
    forms::ControlLayout params = WaitingLayout();
    params.bounds = {8, 60, 216, 80};
    return params;
}

forms::ControlLayout LockWaitButtonLayout(int left, const char* text, const char* hint) {
    forms::ControlLayout params = WaitButtonLayout(left, text, hint);
    params.bounds.top = 146;
    return params;
}

}  // namespace

TLogo::TLogo()
    : forms::Form(TitleWindowLayout(), nullptr),
      lb_Title(Add<forms::Label>(TitleLabelLayout())),
      zTimer(AddTimer(kWaitTickMs)),
      lb_Waiting(Add<forms::Label>(WaitingLayout())),
      bt_WorkDone(Add<forms::Button>(
          WaitButtonLayout(8, "Work Done", "Your work is done: copy it back to the shared data folder now"))),
      bt_WaitCancel(Add<forms::Button>(WaitButtonLayout(
          120, "Cancel", "Copy nothing back: your work stays here and is offered again at the next start"))),
      lb_LockWait(Add<forms::Label>(LockWaitLayout())),
      bt_LockWaitDelete(Add<forms::Button>(LockWaitButtonLayout(
          8, "Delete Lock", "Delete the lock of the stopped PC and start the period"))),
      bt_LockWaitCancel(Add<forms::Button>(
          LockWaitButtonLayout(120, "Cancel", "Stop waiting: nothing is copied and nothing is started"))) {
    zTimer.onTimer = [this] { zTimerTimer(); };
    bt_WorkDone.onClick = [this] { bt_WorkDoneClick(); };
    bt_WaitCancel.onClick = [this] { bt_WaitCancelClick(); };
    bt_LockWaitDelete.onClick = [this] { bt_LockWaitDeleteClick(); };
    bt_LockWaitCancel.onClick = [this] { bt_LockWaitCancelClick(); };
    lb_Title.onClick = [this] { lb_TitleClick(); };
    lb_Title.onContextMenu = [this](POINT at) { lb_TitleContextMenu(at); };
    onShow = [this] { FormShow(); };
    onDestroy = [this] { FormDestroy(); };
}

TLogo::~TLogo() { Destroy(); }

void TLogo::FormShow() { zTimer.SetEnabled(true); }

void TLogo::FormDestroy() {
    // However the window goes, the token this period made does not outlive it.
    ReleaseOwnLock(false);
    UserName.Reset();
    ErrorTitle.Reset();
    ErrorMessage.Reset();
    Title.Reset();
    TitlePath.Reset();
    // The started application runs on: destroying the launcher only lets go of it.
    Launcher.reset();
}

void TLogo::ResetFlags() {
    CancelFlag = false;
    ReadOnlyFlag = false;
    DeleteLockFlag = false;
    WaitFlag = false;
    KeepWorkFlag = false;
}

void TLogo::SetError(const char* title, const char* message, const char* suffix) {
    ErrorTitle.Reset(ReplaceText(ErrorTitle.Release(), title));
    ErrorMessage.Reset(ReplaceText(ErrorMessage.Release(), message, suffix));
    State = ShowError;
}

char* TLogo::IdentityStep() {
    UserName.Reset(CommandLineArgument(GetCommandLineA(), 1));
    char* programPath = ProgramPath();
    TitlePath.Reset(BaseTitlePath(programPath));
    Title.Reset(BaseTitle(programPath));
    if (!Title.Str()[0]) Title.Reset(ConcatText("Carvelund"));
    lb_Title.SetText(Title.Str());
    SetCaption(Title.Str());
    return programPath;
}

void TLogo::zTimerTimer() {
    zTimer.SetEnabled(false);
    const bool finishing = State == Finish;
    const auto before = State;
    InStep = true;
    struct StepEnd {
        bool& inStep;
        ~StepEnd() { inStep = false; }
    } stepEnd{InStep};
    try {
        RunStep();
    } catch (...) {
        // A failure of the last step itself: the window still closes.
        Close();
        throw;
    }
    // A step that moved the period on is followed at once; one that waits (for the
    // application, for files to be closed) looks again a tick later.
    zTimer.SetInterval(State == before ? kWaitTickMs : kNextStepMs);
    // No step runs after the program began to end: the window may be gone already. Once
    // the session ends, the program ends with it.
    if (SessionEnded && Alive()) {
        Close();
        return;
    }
    if (!finishing && Alive() && !forms::application::Terminated()) zTimer.SetEnabled(true);
}

void TLogo::ShowWaitingFor(const std::vector<std::string>& programs) {
    std::string text = "Your work is not copied back while these run:";
    for (size_t i = 0; i < programs.size(); ++i) text += (i ? ", " : " ") + programs[i];
    OwnedText shown(lb_Waiting.GetText());
    if (text != shown.Str()) lb_Waiting.SetText(text.c_str());
    if (bt_WorkDone.Visible()) return;
    SetClientSize(232, kWaitingHeight);
    for (forms::Control* control : {static_cast<forms::Control*>(&lb_Waiting), static_cast<forms::Control*>(&bt_WorkDone),
                                    static_cast<forms::Control*>(&bt_WaitCancel)})
        control->SetVisible(true);
}

void TLogo::HideWaiting() {
    if (!bt_WorkDone.Visible()) return;
    for (forms::Control* control : {static_cast<forms::Control*>(&lb_Waiting), static_cast<forms::Control*>(&bt_WorkDone),
                                    static_cast<forms::Control*>(&bt_WaitCancel)})
        control->SetVisible(false);
    SetClientSize(232, kTitleHeight);
}

void TLogo::ShowLockWait() {
    const LifeSignFacts facts = HolderWatch.Facts();
    std::string text = "Waiting for the lock of " + ShownHolder.owner + ", held since " + ShownHolder.since + ".\r\n" +
                       LifeSignText(facts) + ".";
    if (!LockWaitProblem.empty()) text += "\r\n" + LockWaitProblem;
    OwnedText shown(lb_LockWait.GetText());
    if (text != shown.Str()) lb_LockWait.SetText(text.c_str());
    bt_LockWaitDelete.SetVisible(facts.liveness == Liveness::Stopped);
    if (bt_LockWaitCancel.Visible()) return;
    SetClientSize(232, kLockWaitHeight);
    lb_LockWait.SetVisible(true);
    bt_LockWaitCancel.SetVisible(true);
}

void TLogo::HideLockWait() {
    if (!bt_LockWaitCancel.Visible()) return;
    for (forms::Control* control : {static_cast<forms::Control*>(&lb_LockWait),
                                    static_cast<forms::Control*>(&bt_LockWaitDelete),
                                    static_cast<forms::Control*>(&bt_LockWaitCancel)})
        control->SetVisible(false);
    SetClientSize(232, kTitleHeight);
}

void TLogo::ComeForward() {
    if (IsIconic(Handle())) ShowWindow(Handle(), SW_RESTORE);
    SetForegroundWindow(Handle());
    // Flashes in the taskbar until the user comes to it, should another program keep the front.
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = Handle();
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}

char* CommandLineArgument(const char* commandLine, int index) {
    const char* p = commandLine ? commandLine : "";
    for (int i = 0;; ++i) {
        // Skip separators, and empty quoted arguments ("") between them.
        for (;;) {
            while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
            if (p[0] == '"' && p[1] == '"')
                p += 2;
            else
                break;
        }
        std::string argument;
        while (static_cast<unsigned char>(*p) > ' ') {
            if (*p == '"') {
                ++p;
                while (*p && *p != '"') argument += *p++;
                if (*p) ++p;
            } else {
                argument += *p++;
            }
        }
        if (i == index) return ConcatText(argument.c_str());
        if (!*p) return ConcatText("");
    }
}
