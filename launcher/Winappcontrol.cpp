#include "launcher/Winappcontrol.h"

#include <direct.h>

#include <cstring>
#include <string>

namespace {

// The split looks at no more of the run command than a path can hold.
constexpr size_t kSplitLimit = 260;
constexpr size_t kFolderLimit = 255;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

struct CommandParts {
    std::string drive;
    std::string folder;
};

CommandParts SplitCommand(const char* command) {
    CommandParts parts;
    const std::string head(command ? command : "", 0, kSplitLimit);
    size_t start = 0;
    if (head.size() >= 2 && head[1] == ':') {
        parts.drive = head.substr(0, 2);
        start = 2;
    }
    size_t end = head.size();  // one past the last separator
    while (end > start && !IsSeparator(head[end - 1])) --end;
    // A folder too long to keep is cut back to a separator, so that it still names
    // an ancestor of the program's folder rather than a mangled name.
    if (end - start > kFolderLimit) {
        end = start + kFolderLimit;
        while (end > start && !IsSeparator(head[end - 1])) --end;
    }
    parts.folder = head.substr(start, end - start);
    return parts;
}

// Unquoted, a program path with a blank would let the platform try its shorter prefixes
// first ("C:\\prog dir\\App.exe" runs a "C:\\prog.exe" when there is one).
std::string ProgramPart(const char* command) {
    const std::string text = command ? command : "";
    if (text.find(' ') == std::string::npos || text[0] == '"') return text;
    return "\"" + text + "\"";
}

int32_t DriveNumber(const std::string& drive) {
    if (drive.empty()) return -1;
    char letter = drive[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    return (letter >= 'A' && letter <= 'Z') ? letter - 'A' : -1;
}

}  // namespace

AppControl::AppControl(const char* runCommand, const char* options) {
    const CommandParts parts = SplitCommand(runCommand);
    Folder.Reset(ConcatText(parts.folder.c_str()));
    Drive.Reset(ConcatText(parts.drive.c_str()));
    Command.Reset(ConcatText(runCommand));
    Options.Reset(ConcatText(options));
    DriveIndex = DriveNumber(parts.drive);
}

AppControl::~AppControl() { CloseProcessHandles(); }

void AppControl::CloseProcessHandles() {
    if (ProcessInfo.hThread) CloseHandle(ProcessInfo.hThread);
    if (ProcessInfo.hProcess) CloseHandle(ProcessInfo.hProcess);
    ProcessInfo = PROCESS_INFORMATION{};
}

bool AppControl::EnterFolder() {
    if (DriveIndex != -1) {
        // The drive's remembered folder becomes current; an unmapped drive leaves
        // the current drive as it was, which the read-back shows.
        _chdrive(DriveIndex + 1);
        if (_getdrive() != DriveIndex + 1) return false;
    }
    if (!Folder.Str()[0]) return true;
    return SetCurrentDirectoryA(Folder.Str()) != FALSE;
}

bool AppControl::Start() {
    EnterFolder();  // a folder that cannot be entered does not stop the start

    StartupInfo = STARTUPINFOA{};
    StartupInfo.cb = sizeof(StartupInfo);
    StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    StartupInfo.wShowWindow = SW_SHOWNORMAL;

    // A second start must not leak the handles of the first.
    CloseProcessHandles();

    // The blank stays when there are no options.
    OwnedText commandLine(ConcatText(ProgramPart(Command.Str()).c_str(), " ", Options.Str()));
    Running = CreateProcessA(ProgramFile.Get(), commandLine.Get(), nullptr, nullptr, FALSE,
                             DETACHED_PROCESS | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                             &StartupInfo, &ProcessInfo) != FALSE;
    const DWORD error = GetLastError();

    if (!Running) {
        ProcessInfo = PROCESS_INFORMATION{};
        SetErrorText("Unable to run command : ", SystemErrorName(static_cast<int32_t>(error)));
    }
    return Running;
}

bool AppControl::IsRunning() {
    if (!Running) return false;
    DWORD exitCode = 0;
    GetExitCodeProcess(ProcessInfo.hProcess, &exitCode);
    // A program may itself end with code 259; the signalled handle tells it apart.
    Running = exitCode == STILL_ACTIVE && WaitForSingleObject(ProcessInfo.hProcess, 0) == WAIT_TIMEOUT;
    return Running;
}

void AppControl::SetErrorText(const char* prefix, const char* detail) {
    ErrorText.Reset(ConcatText(prefix, detail));
}
