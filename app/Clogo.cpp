#include "app/Clogo.h"

#include "launcher/Winappcontrol.h"

#include <string>

namespace {

forms::FormSpec TitleWindowSpec() {
    forms::FormSpec spec;
    spec.className = "TLogo";
    spec.caption = "Carvelund";
    spec.width = 232;
    spec.height = 60;
    spec.border = forms::Border::None;
    spec.background = GetSysColor(COLOR_INFOBK);
    return spec;
}

forms::ControlSpec TitleLabelSpec() {
    forms::ControlSpec spec;
    spec.bounds = {0, 11, 232, 37};
    spec.text = "Carvelund";
    spec.hint = "Click for donation information";
    spec.font = forms::FontSpec{"Arial", 32, true, false};
    spec.textColour = GetSysColor(COLOR_WINDOWTEXT);
    spec.background = GetSysColor(COLOR_INFOBK);
    spec.align = forms::Align::Center;
    return spec;
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
    RunStep();
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

char* ProgramPath() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return ConcatText("");
        if (n < buffer.size()) {
            buffer.resize(n);
            return ConcatText(buffer.c_str());
        }
        buffer.resize(buffer.size() * 2);
    }
}
