// Carvelund: take turns working on one shared data folder.
#include "app/Chistory.h"
#include "app/Clogo.h"
#include "shell/Trace.h"

#include <commctrl.h>

#include <exception>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    try {
        // "/history": the History window alone, no period.
        OwnedText first(CommandLineArgument(GetCommandLineA(), 1));
        if (lstrcmpA(first.Str(), "/history") == 0) {
            RunHistoryOnly();
            return 0;
        }
        TLogo logo;
        if (!logo.Alive()) {
            // Under a desktop that refuses more windows the program would end unseen.
            const char* reason = SystemErrorName(static_cast<int32_t>(logo.CreateError()));
            OwnedText message(ConcatText("Can't create the title window : ", reason));
            ShowErrorMessage(nullptr, "Carvelund", message.Str());
            return 0;
        }
        forms::application::Run(logo);
        logo.LocalClaim.Release();
        TraceStage("window closed");
    } catch (const std::exception& e) {
        forms::application::ReportException(e.what());
    }
    return 0;
}
