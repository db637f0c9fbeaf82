#include "app/Workspace.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <stdexcept>

namespace e2e {

using namespace testsupport;

namespace {

std::string FullPath(const char* relative) {
    char full[MAX_PATH];
    GetFullPathNameA(relative, MAX_PATH, full, nullptr);
    return full;
}

// Tests run in the build's tests folder; the program lies one up.
std::string BuiltProgram() { return FullPath("..\\Carvelund.exe"); }
std::string BuiltHelper() { return FullPath("cvhelper.exe"); }

void CopyOrThrow(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) throw std::runtime_error("cannot copy " + from);
}

}  // namespace

Share::Share(const TempDir& root) : lock(root / "share\\locks"), data(root / "share\\data") {
    MakeFolder(lock);
    MakeFolder(data + "\\sub");
    WriteFile(data + "\\notes.txt", "shared v1\r\n");
    WriteFile(data + "\\sub\\table.dat", std::string(5000, 'T'));
}

Pc::Pc(const TempDir& root, const Share& s, const std::string& name, const std::string& exeName)
    : folder(root / (name + "\\prog")),
      program(folder + "\\" + exeName),
      local(root / (name + "\\data")),
      helper(folder + "\\cvhelper.exe"),
      go(root / (name + "\\go")),
      share(s) {
    MakeFolder(folder);
    MakeFolder(local);
    WriteFile(local + "\\notes.txt", "local before\r\n");
    CopyOrThrow(BuiltProgram(), program);
    CopyOrThrow(BuiltHelper(), helper);
    const size_t dot = program.rfind('.');
    ini = (dot == std::string::npos ? program : program.substr(0, dot)) + ".Ini";
    WriteSetting("RemoteLockFolder", share.lock);
    WriteSetting("RemoteSharedDataFolder", share.data);
    WriteSetting("LocalDataFolder", local);
    WriteSetting("RunCommand", helper);
    AppendsThenWaits("edited on " + name);
}

void Pc::WriteSetting(const char* key, const std::string& value) const {
    WritePrivateProfileStringA("RunTime", key, value.c_str(), ini.c_str());
}

void Pc::AppendsThenWaits(const std::string& line) const {
    WriteSetting("RunCommandOptions",
                 "--append-line " + local + "\\notes.txt \"" + line + "\" --wait-for " + go + " 120000");
}

void Pc::AppEnds() const { WriteFile(go, "go"); }

std::string Pc::Token(const std::string& user) const { return share.lock + "\\" + user + ".tokenlockforcarvelund"; }

ProgramRun::ProgramRun(const std::string& program, const std::string& arguments, const std::string& startFolder) {
    std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        startFolder.empty() ? nullptr : startFolder.c_str(), &startup,
                        &info_))
        throw std::runtime_error("cannot start " + program + ": error " + std::to_string(GetLastError()));
}

ProgramRun::~ProgramRun() {
    if (!Ended(0)) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 10000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool ProgramRun::Ended(DWORD timeoutMs) const { return WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0; }

DWORD ProgramRun::ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void ProgramRun::Kill() const {
    TerminateProcess(info_.hProcess, 9);
    WaitForSingleObject(info_.hProcess, testsupport::kPatience);
}

HWND ProgramRun::Window(const char* className, const char* caption) const {
    return AwaitTopWindow(className, caption, Pid());
}

MessageBoxSeen ProgramRun::Box(const char* caption, const char* button) const {
    MessageBoxSeen seen = AwaitMessageBox(caption, Pid());
    if (seen.window) {
        PressButton(seen.window, button);
        AwaitGone(seen.window);
    }
    return seen;
}

void ProgramRun::Choose(const char* dialogClass, const char* buttonText) const {
    HWND dialog = Window(dialogClass);
    ASSERT_NE(dialog, nullptr) << "no " << dialogClass << " appeared";
    HWND button = FindChild(dialog, "Button", buttonText);
    ASSERT_NE(button, nullptr) << "no button " << buttonText;
    Click(button);
    AwaitGone(dialog);
}

std::string ProgramRun::Shown() const {
    struct Collect {
        DWORD pid;
        std::string text;
    } collect{Pid(), ""};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* c = reinterpret_cast<Collect*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner != c->pid || !IsWindowVisible(w)) return TRUE;
            char cls[64] = "";
            GetClassNameA(w, cls, sizeof cls);
            c->text += std::string(" [") + cls + " \"" + WindowText(w) + "\"";
            if (HWND message = GetDlgItem(w, 0xFFFF)) c->text += ": " + WindowText(message);
            c->text += "]";
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&collect));
    return "shown:" + (collect.text.empty() ? std::string(" nothing") : collect.text);
}

namespace {

// A running process whose program file is `path`, opened to be watched; null when none.
HANDLE OpenProcessOf(const std::string& path) {
    const std::string file = path.substr(path.find_last_of("\\/") + 1);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE found = nullptr;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, file.c_str()) != 0) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        char image[MAX_PATH];
        DWORD size = sizeof image;
        if (QueryFullProcessImageNameA(process, 0, image, &size) && lstrcmpiA(image, path.c_str()) == 0)
            found = process;
        else
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

}  // namespace

StartedProgram::StartedProgram(const std::string& path) {
    WaitFor([&] { return (process_ = OpenProcessOf(path)) != nullptr; });
}

StartedProgram::~StartedProgram() {
    if (process_) CloseHandle(process_);
}

bool StartedProgram::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool StartedProgram::Ended(DWORD timeoutMs) const {
    return process_ && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD StartedProgram::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_) GetExitCodeProcess(process_, &code);
    return code;
}

int VisibleWindows(DWORD pid) {
    struct Count {
        DWORD pid;
        int n;
    } count{pid, 0};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* c = reinterpret_cast<Count*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == c->pid && IsWindowVisible(w)) ++c->n;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.n;
}

}  // namespace e2e
