#include "app/Clogo.h"

#include "launcher/Winappcontrol.h"

#include <exception>
#include <string>

namespace {

forms::FormSpec TitleWindowSpec() {
    forms::FormSpec params;
    params.className = "TLogo";
    params.caption = "Carvelund";
    params.width = 232;
    params.height = 60;
    params.border = forms::Border::None;
    params.background = GetSysColor(COLOR_INFOBK);
    return params;
}

forms::ControlSpec TitleLabelSpec() {
    forms::ControlSpec params;
    params.bounds = {0, 11, 232, 37};
    params.text = "Carvelund";
    params.hint = "Click for donation information";
    params.font = forms::FontSpec{"Arial", 32, true, false};
    params.textColour = GetSysColor(COLOR_WINDOWTEXT);
    params.background = GetSysColor(COLOR_INFOBK);
    params.align = forms::Align::Center;
    return params;
}

}  // namespace

TLogo::TLogo()
    : forms::Form(TitleWindowSpec(), nullptr),
      lb_Title(Add<forms::Label>(TitleLabelSpec())),
      zTimer(AddTimer(100)) {
    zTimer.onTimer = [this] { zTimerTimer(); };
    lb_Title.onClick = [this] { lb_TitleClick(); };
    onShow = [this] { FormShow(); };
    onDestroy = [this] { FormDestroy(); };
}

TLogo::~TLogo() { Destroy(); }

void TLogo::FormShow() { zTimer.SetEnabled(true); }

void TLogo::FormDestroy() {
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
    try {
        RunStep();
    } catch (...) {
        // A failure of the last step itself: the window still closes.
        Close();
        throw;
    }
    // No step runs after the program began to end: the window may be gone already.
    if (!finishing && Alive() && !forms::application::Terminated()) zTimer.SetEnabled(true);
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
