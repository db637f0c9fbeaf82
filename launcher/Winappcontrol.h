// Winappcontrol: starts one program as a detached process and tells whether it still runs.
#pragma once

#include "shell/Wintools.h"

#include "shell/Handles.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Create with the run command and its options, Start once, poll IsRunning, destroy.
// The object never waits for the program and never ends it.
//
// A run command often ends before the work does: a start-up stub starts the real program
// and ends, a single-instance program hands its work to the copy already running. So the
// watch covers the started process, every process it starts (and theirs), and, once those
// have ended, any other running copy of the run command's program file (the same full
// path) in this user's session. A host program (a command interpreter for a batch file,
// a script or Java host, the DLL runner, the shell) has no such copies: its work is only
// what it started.
class AppControl {
public:
    // Milliseconds from any fixed point; by default the system's tick count.
    using Clock = ULONGLONG (*)();

    // A null options text counts as empty.
    AppControl(const char* runCommand, const char* options, Clock clock = nullptr);
    // Lets go of its handles; the started program and everything it started keep running.
    ~AppControl();
    AppControl(const AppControl&) = delete;
    AppControl& operator=(const AppControl&) = delete;

    // Makes the run command's drive (if any) and folder current, for the whole process.
    bool EnterFolder();
    // Command line: Command (quoted when it holds a blank), one blank, Options.
    // False with ErrorText set when refused.
    bool Start();
    // Never blocks. Once false, stays false. While the started process or a process of its
    // job runs, a poll costs one or two handle queries; after that, a look at all running
    // processes, at most once a second.
    bool IsRunning();
    // File names ("PALM.exe") of the processes still waited for, each once; empty once
    // IsRunning has turned false. Cheap enough for every tick: it takes no process list.
    std::vector<std::string> ProgramsWaitedFor();
    // The user says the work is done: IsRunning is false from now on. Nothing is ended.
    void StopWaiting();
    // Once IsRunning has turned false: whether the system's job accounting saw every
    // process the program started end (and no copy of the program was left running).
    // False when the platform refused the job (the started process alone was watched) or
    // the user stopped the wait.
    bool EndAccountedFor() const { return !watching_ && job_ && jobAccounted_; }
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
    bool Running = false;  // the started process itself

    // The platform's AssignProcessToJobObject. Tests put a refusal here: the platform
    // refuses only in setups a test cannot make (nested jobs before Windows 8).
    static BOOL(WINAPI* AssignToJob)(HANDLE job, HANDLE process);

private:
    // A running copy of the run command's program that this process did not start.
    struct Copy {
        DWORD id = 0;
        KernelHandle process;  // absent when the platform does not let us wait on it
        std::string name;
    };

    void CloseProcessHandles();
    void MakeJob();
    void LearnProgram();
    bool JobRunning();
    std::vector<DWORD> JobProcessIds() const;
    bool CopiesRunning();
    void LookForCopies();
    bool IsProgramCopy(DWORD id, const char* exeFile, KernelHandle& process) const;

    Clock clock_;
    KernelHandle job_;  // absent when the platform refused one: the process alone is watched
    std::string programPath_;  // full path of the started program; empty when unreadable
    std::string programName_;  // its file name
    bool watching_ = false;    // from a successful start until the end is seen or StopWaiting
    bool jobEnded_ = false;
    bool jobAccounted_ = false;  // the job said, when asked, that none of its processes runs
    bool looked_ = false;      // the running processes were looked at
    ULONGLONG lookedAt_ = 0;
    std::vector<Copy> copies_;
};
