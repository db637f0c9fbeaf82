// Carvelund: take turns working on one shared data folder.
#include "app/Clogo.h"
#include "shell/Trace.h"
#include "shell/transfer/Transfer.h"

#include <commctrl.h>

#include <exception>

namespace {
// A share that stops answering must not keep an unseen program alive for ever.
constexpr DWORD kLetGoPatienceMs = 10 * 60 * 1000;
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    try {
        TLogo logo;
        if (!logo.Alive()) {
            // Under a desktop that refuses more windows the program would end unseen.
            const char* reason = SystemErrorName(static_cast<int32_t>(logo.CreateError()));
            OwnedText message(ConcatText("Can't create the title window : ", reason));
            ShowErrorMessage(nullptr, "Carvelund", message.Str());
            return 0;
        }
        forms::application::Run(logo);
        // The period is over and its window gone: the old saves it let go are deleted now,
        // delaying nobody. A kill here leaves them for the next start.
        logo.LocalClaim.Release();
        TraceStage("window closed");
        WaitForBackgroundDeletes(kLetGoPatienceMs);
        TraceStage("old saves deleted");
    } catch (const std::exception& e) {
        forms::application::ReportException(e.what());
    }
    return 0;
}
