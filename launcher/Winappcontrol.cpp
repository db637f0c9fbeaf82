#include "launcher/Winappcontrol.h"

// Construction and the start follow in the launcher's own change.
AppControl::AppControl(const char* runCommand, const char* options)
    : Command(ConcatText(runCommand)), Options(ConcatText(options)) {}
AppControl::~AppControl() {}
bool AppControl::EnterFolder() { return false; }
bool AppControl::Start() { return false; }
bool AppControl::IsRunning() { return false; }
void AppControl::SetErrorText(const char* prefix, const char* detail) {
    ErrorText.Reset(ConcatText(prefix, detail));
}
