#include "launcher/Winappcontrol.h"

#include <direct.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

// The split looks at no more of the run command than a path can hold.
constexpr size_t kSplitLimit = 260;
constexpr size_t kFolderLimit = 255;
// A look at every running process costs milliseconds; once a second is soon enough to
// see the end of a program that a person worked in.
constexpr ULONGLONG kLookIntervalMs = 1000;

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

bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Empty when the platform does not tell.
std::string ImagePath(HANDLE process) {
    char path[MAX_PATH * 4];
    DWORD size = sizeof path;
    if (!QueryFullProcessImageNameA(process, 0, path, &size)) return {};
    return std::string(path, size);
}

// The program's file name as the platform finds it from the run command: the first
// quoted part or the whole text, ".exe" added when there is no extension.
std::string ProgramNameFromCommand(const std::string& command) {
    std::string program = command;
    if (!program.empty() && program[0] == '"') program = program.substr(1, program.find('"', 1) - 1);
    std::string name = FileNameOf(program);
    if (name.find('.') == std::string::npos) name += ".exe";
    return name;
}

bool Alive(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// Programs that run other people's work: a command interpreter (a batch file's program),
// script, Java and installer hosts, the DLL runner, the shell. Another copy of one of them is never
// the application's: only what the run command started (the job) is its work.
bool IsHost(const std::string& programName) {
    static const char* const kHosts[] = {
        "cmd.exe",     "command.com", "powershell.exe", "pwsh.exe",     "wscript.exe", "cscript.exe",
        "mshta.exe",   "rundll32.exe", "regsvr32.exe",  "msiexec.exe",  "java.exe",    "javaw.exe",
        "python.exe",  "pythonw.exe", "py.exe",         "pyw.exe",      "node.exe",    "perl.exe",
        "ruby.exe",    "rubyw.exe",   "bash.exe",       "wsl.exe",      "explorer.exe", "dllhost.exe",
        "conhost.exe", "svchost.exe", "start.exe",      "wine.exe"};
    for (const char* host : kHosts)
        if (SameText(programName, host)) return true;
    return false;
}

DWORD SessionOf(DWORD processId) {
    DWORD session = static_cast<DWORD>(-1);
    if (!ProcessIdToSessionId(processId, &session)) return static_cast<DWORD>(-1);
    return session;
}

}  // namespace

BOOL(WINAPI* AppControl::AssignToJob)(HANDLE job, HANDLE process) = AssignProcessToJobObject;

AppControl::AppControl(const char* runCommand, const char* options, Clock clock)
    : clock_(clock ? clock : [] { return GetTickCount64(); }) {
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

    // A second start must not leak the handles of the first, nor watch its processes.
    CloseProcessHandles();
    job_.Reset();
    copies_.clear();
    programPath_.clear();
    watching_ = jobEnded_ = jobAccounted_ = looked_ = false;

    // Suspended, so that it is in the job before it can start anything.
    // The blank stays when there are no options.
    OwnedText commandLine(ConcatText(ProgramPart(Command.Str()).c_str(), " ", Options.Str()));
    Running = CreateProcessA(ProgramFile.Get(), commandLine.Get(), nullptr, nullptr, FALSE,
                             CREATE_SUSPENDED | DETACHED_PROCESS | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                             &StartupInfo, &ProcessInfo) != FALSE;
    DWORD error = GetLastError();

    if (Running) {
        LearnProgram();
        MakeJob();
        if (ResumeThread(ProcessInfo.hThread) == static_cast<DWORD>(-1)) {
            error = GetLastError();
            TerminateProcess(ProcessInfo.hProcess, 1);  // it never ran a single instruction
            CloseProcessHandles();
            Running = false;
        }
    }
    if (!Running) {
        ProcessInfo = PROCESS_INFORMATION{};
        SetErrorText("Unable to run command : ", SystemErrorName(static_cast<int32_t>(error)));
    }
    watching_ = Running;
    return Running;
}

void AppControl::LearnProgram() {
    programPath_ = ImagePath(ProcessInfo.hProcess);
    programName_ = programPath_.empty() ? ProgramNameFromCommand(Command.Str()) : FileNameOf(programPath_);
}

void AppControl::MakeJob() {
    KernelHandle job(CreateJobObjectA(nullptr, nullptr));
    if (!job) return;
    // No kill on close: the programs outlive Carvelund. Breakaway allowed: a program that
    // puts its own children in a job of its own must not fail because it runs in ours
    // (before Windows 8 a process can be in one job only).
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    // Refused (a job that cannot nest in the one Carvelund runs in): the process alone is watched.
    if (AssignToJob(job.Get(), ProcessInfo.hProcess)) job_ = std::move(job);
}

bool AppControl::IsRunning() {
    if (!watching_) return false;
    if (Running) {
        DWORD exitCode = 0;
        GetExitCodeProcess(ProcessInfo.hProcess, &exitCode);
        // A program may itself end with code 259; the signalled handle tells it apart.
        Running = exitCode == STILL_ACTIVE && Alive(ProcessInfo.hProcess);
    }
    if (Running || JobRunning() || CopiesRunning()) return true;
    watching_ = false;
    copies_.clear();
    return false;
}

// No process can join an empty job (only the children of its processes do), so its end is final.
bool AppControl::JobRunning() {
    if (!job_ || jobEnded_) return false;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    const bool told =
        QueryInformationJobObject(job_.Get(), JobObjectBasicAccountingInformation, &info, sizeof info, nullptr) != FALSE;
    jobEnded_ = !told || info.ActiveProcesses == 0;
    jobAccounted_ = told && info.ActiveProcesses == 0;
    return !jobEnded_;
}

bool AppControl::CopiesRunning() {
    copies_.erase(std::remove_if(copies_.begin(), copies_.end(),
                                 [](const Copy& c) { return c.process && !Alive(c.process.Get()); }),
                  copies_.end());
    if (std::any_of(copies_.begin(), copies_.end(), [](const Copy& c) { return bool(c.process); })) return true;
    // Those found last time have ended (or cannot be waited on): one of them may have
    // handed the work on, so look again, but only once the interval is up.
    if (looked_ && clock_() - lookedAt_ < kLookIntervalMs) return true;
    LookForCopies();
    return !copies_.empty();
}

void AppControl::LookForCopies() {
    looked_ = true;
    lookedAt_ = clock_();
    copies_.clear();
    // Only the very program file can hand the work on, and only a host-free one: its full
    // path must be known and must not be a host's.
    if (programPath_.empty() || IsHost(programName_)) return;
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    const DWORD self = GetCurrentProcessId();
    const DWORD session = SessionOf(self);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
        Copy copy;
        // A copy in another user's session (another person on this PC) works on its own data.
        if (entry.th32ProcessID == self || SessionOf(entry.th32ProcessID) != session ||
            !IsProgramCopy(entry.th32ProcessID, entry.szExeFile, copy.process))
            continue;
        copy.id = entry.th32ProcessID;
        copy.name = entry.szExeFile;
        copies_.push_back(std::move(copy));
    }
}

// The same program file: the same full path. A process whose path cannot be read (one the
// platform does not let us look into) is not counted: it may be any program of that name.
bool AppControl::IsProgramCopy(DWORD id, const char* exeFile, KernelHandle& process) const {
    if (!SameText(exeFile, programName_)) return false;
    KernelHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
    if (!handle) return false;
    // A process that has ended can still be listed while someone holds a handle to it.
    if (!Alive(handle.Get())) return false;
    const std::string path = ImagePath(handle.Get());
    if (path.empty() || !SameText(path, programPath_)) return false;
    process = std::move(handle);
    return true;
}

std::vector<DWORD> AppControl::JobProcessIds() const {
    std::vector<DWORD> ids;
    constexpr size_t kHeader = offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList);
    for (size_t room = 32;;) {
        std::vector<ULONG_PTR> buffer(kHeader / sizeof(ULONG_PTR) + room);
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR));
        if (QueryInformationJobObject(job_.Get(), JobObjectBasicProcessIdList, list, size, nullptr)) {
            for (DWORD k = 0; k < list->NumberOfProcessIdsInList; ++k)
                ids.push_back(static_cast<DWORD>(list->ProcessIdList[k]));
            return ids;
        }
        if (GetLastError() != ERROR_MORE_DATA || list->NumberOfAssignedProcesses < room) return ids;
        room = list->NumberOfAssignedProcesses + 16;  // it may grow meanwhile
    }
}

std::vector<std::string> AppControl::ProgramsWaitedFor() {
    std::vector<std::string> names;
    auto add = [&names](const std::string& name) {
        if (name.empty()) return;
        if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SameText(n, name); }))
            names.push_back(name);
    };
    if (!watching_) return names;
    if (Running && Alive(ProcessInfo.hProcess)) add(programName_);
    if (job_ && !jobEnded_) {
        for (DWORD id : JobProcessIds()) {
            // One that cannot be opened any more has just ended: it needs no name.
            KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
            if (process) add(FileNameOf(ImagePath(process.Get())));
        }
    }
    for (const Copy& copy : copies_)
        if (!copy.process || Alive(copy.process.Get())) add(copy.name);
    return names;
}

void AppControl::StopWaiting() {
    // Closing the job ends nothing: it was made without kill-on-close.
    watching_ = Running = false;
    job_.Reset();
    copies_.clear();
}

void AppControl::SetErrorText(const char* prefix, const char* detail) {
    ErrorText.Reset(ConcatText(prefix, detail));
}
