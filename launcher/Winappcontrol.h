// Winappcontrol: starts one program as a detached process and tells whether it still runs.
#pragma once

#include "shell/Wintools.h"

#include <windows.h>

#include <cstdint>

// Create with the run command and its options, Start once, poll IsRunning, destroy.
// The object never waits for the program and never ends it.
class AppControl {
public:
    // A null options text counts as empty.
    AppControl(const char* runCommand, const char* options);
    // Lets go of the process and thread handles; the started program keeps running.
    ~AppControl();
    AppControl(const AppControl&) = delete;
    AppControl& operator=(const AppControl&) = delete;

    // Makes the run command's drive (if any) and folder current, for the whole process.
    bool EnterFolder();
    // Command line: Command (quoted when it holds a blank), one blank, Options.
    // False with ErrorText set when refused.
    bool Start();
    // Never blocks. Once false, stays false.
    bool IsRunning();
    const char* GetErrorText() const { return ErrorText.Get(); }
    void SetErrorText(const char* prefix, const char* detail);

    OwnedText Folder;     // after the drive, up to and including the last '\' or '/'
    OwnedText Drive;      // "X:" or empty
    OwnedText Command;
    // When set, the file started, by its full path; Command then only begins the command line.
    OwnedText ProgramFile;
    OwnedText Options;
    int32_t DriveIndex = -1;  // 0 for A .. 25 for Z; -1 without a drive letter
    OwnedText ErrorText;
    PROCESS_INFORMATION ProcessInfo{};
    STARTUPINFOA StartupInfo{};
    bool Running = false;

private:
    void CloseProcessHandles();
};
