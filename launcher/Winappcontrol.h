// Winappcontrol: starts one program as a detached process and tells whether it still runs.
#pragma once

#include "shell/Wintools.h"

#include <windows.h>

#include <cstdint>

class AppControl {
public:
    AppControl(const char* runCommand, const char* options);
    // Lets go of the process; the started program keeps running.
    ~AppControl();
    AppControl(const AppControl&) = delete;
    AppControl& operator=(const AppControl&) = delete;

    bool EnterFolder();
    bool Start();
    bool IsRunning();
    const char* GetErrorText() const { return ErrorText.Get(); }
    void SetErrorText(const char* prefix, const char* detail);

    OwnedText Folder;
    OwnedText Drive;
    OwnedText Command;
    OwnedText Options;
    int32_t DriveIndex = -1;
    OwnedText ErrorText;
    PROCESS_INFORMATION ProcessInfo{};
    STARTUPINFOA StartupInfo{};
    bool Running = false;
};
