// Carvelund: take turns working on one shared data folder.
#include "app/Clogo.h"

#include <commctrl.h>

#include <exception>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    try {
        TLogo logo;
        forms::application::Run(logo);
    } catch (const std::exception& e) {
        forms::application::ReportException(e.what());
    }
    return 0;
}
