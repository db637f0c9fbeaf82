// A real installation for end-to-end runs: a share with the lock folder and the shared
// data, and one or more PCs, each with its program folder (Carvelund.exe, its INI and
// the helper program as run command) and its local data folder.
#pragma once

#include "support/Gui.h"
#include "support/TempDir.h"

#include <windows.h>

#include <string>

namespace e2e {

using testsupport::TempDir;

struct Share {
    explicit Share(const TempDir& root);
    std::string lock;
    std::string data;
};

struct Pc {
    // Copies the program under `exeName` into <root>\<name>\prog and writes its INI.
    Pc(const TempDir& root, const Share& share, const std::string& name,
       const std::string& exeName = "Carvelund.exe");

    void WriteSetting(const char* key, const std::string& value) const;
    // The helper's options: append a line to the local data, then wait for the go file.
    void AppendsThenWaits(const std::string& line) const;
    void AppEnds() const;  // creates the go file
    std::string Token(const std::string& user) const;

    std::string folder;
    std::string program;
    std::string ini;
    std::string local;
    std::string helper;
    std::string go;
    const Share& share;
};

// The program started as a user would start it, with the given arguments.
class ProgramRun {
public:
    // Started in `startFolder`, or in this process's current folder when it is empty.
    ProgramRun(const std::string& program, const std::string& arguments, const std::string& startFolder = "");
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    DWORD Pid() const { return info_.dwProcessId; }
    bool Ended(DWORD timeoutMs = testsupport::kPatience) const;
    DWORD ExitCode() const;
    // Ends the program at once, as a crash or a power cut would: nothing of it runs on.
    void Kill() const;

    // The program's windows, waited for.
    HWND Window(const char* className, const char* caption = nullptr) const;
    // Waits for a message box with this caption, returns it and presses its button.
    testsupport::MessageBoxSeen Box(const char* caption, const char* button = "OK") const;
    // Waits for the dialog of this class, then clicks the button with this caption.
    void Choose(const char* dialogClass, const char* buttonText) const;
    // What the program shows now, window by window (class, caption, a box's text): said
    // when a test waits in vain, so that an unexpected box is named.
    std::string Shown() const;

private:
    PROCESS_INFORMATION info_{};
};

// A program that another one started, found by its file, watched from outside.
class StartedProgram {
public:
    explicit StartedProgram(const std::string& path);  // waits for such a process
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    explicit operator bool() const { return process_ != nullptr; }
    bool Running() const;
    bool Ended(DWORD timeoutMs = testsupport::kPatience) const;
    DWORD ExitCode() const;

private:
    HANDLE process_ = nullptr;
};

// Windows still shown by a process: what a test expects to be none at the end.
int VisibleWindows(DWORD pid);

}  // namespace e2e
