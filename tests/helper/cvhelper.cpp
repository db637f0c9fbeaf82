// cvhelper: a stand-in for the run command in tests. It does what its options say,
// one option after the other, and ends.
//
//   cvhelper [option ...]
//
//   --write FILE TEXT         FILE holds exactly TEXT afterwards (created or replaced)
//   --append FILE TEXT        TEXT added at the end of FILE (created when missing)
//   --append-line FILE TEXT   TEXT and CR LF added at the end of FILE
//   --mkdir FOLDER            FOLDER created, parents too; an existing folder is fine
//   --delete PATH             the file, or the folder with everything in it, removed;
//                             a missing PATH is a failure
//   --copy FROM TO            file FROM copied to TO (TO replaced)
//   --rename FROM TO          file or folder FROM renamed or moved to TO
//   --report FILE             FILE holds two lines, each ended by LF:
//                               CommandLine=<GetCommandLineA() exactly>
//                               CurrentFolder=<the current folder>
//   --sleep MS                waits MS milliseconds
//   --wait-for FILE MS        waits until FILE exists, at most MS milliseconds
//   --open FILE               FILE opened (created when missing) for writing with no
//                             sharing at all, held until --close or the end; a sharing
//                             violation (someone looking at the file) is tried again
//                             for up to two seconds
//   --write-held TEXT         TEXT and CR LF added at the end of the held file
//   --close                   the held file closed
//   --hand-over OPTION ... [--then OPTION ...]
//                             a new cvhelper started with the options up to --then (all
//                             of them without it), detached, as a start-up stub does;
//                             this one goes on with the options after --then, or ends
//   --hand-over-to PROGRAM OPTION ... [--then OPTION ...]
//                             the same, starting PROGRAM (e.g. a copy of cvhelper under
//                             another name) instead of this program
//   --exit CODE               ends at once with CODE (decimal, may be negative or up to
//                             4294967295, e.g. 259); later options are not looked at
//
// Environment: when CVHELPER_REPORT names a file, the report of --report goes there
// before any option is looked at, so that a start without options can be seen too.
//
// Relative paths resolve against the current folder the program was started in.
// Exit codes: 0 every option done; 1 unknown option or missing argument; 2 an action
// failed; 3 --wait-for ran out of time; otherwise the CODE of --exit.
// Messages about failures go to stderr (invisible when started detached).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 1;
constexpr int kFailed = 2;
constexpr int kTimedOut = 3;

int Fail(int code, const std::string& what) {
    std::fprintf(stderr, "cvhelper: %s\n", what.c_str());
    return code;
}

bool SaveText(const char* path, const std::string& text, bool append) {
    FILE* f = std::fopen(path, append ? "ab" : "wb");
    if (!f) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && written;
}

std::string CurrentFolder() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(n + 1);
    }
}

bool Report(const char* path) {
    return SaveText(path, std::string("CommandLine=") + GetCommandLineA() + "\nCurrentFolder=" + CurrentFolder() + "\n",
                    false);
}

bool MakeFolders(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    // Every prefix in turn; those that exist already (drives, shares) simply fail.
    for (size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Remove(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    SetFileAttributesA(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != FALSE;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &data);
    bool ok = true;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name != "." && name != "..") ok = Remove(path + "\\" + name) && ok;
        } while (FindNextFileA(h, &data));
        FindClose(h);
    }
    return RemoveDirectoryA(path.c_str()) != FALSE && ok;
}

bool ParseNumber(const char* text, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0';
}

std::string OwnPath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

bool HandOver(const std::string& program, int count, char** options) {
    std::string commandLine = "\"" + program + "\"";
    for (int k = 0; k < count; ++k) commandLine += std::string(" \"") + options[k] + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    HANDLE held = INVALID_HANDLE_VALUE;
    if (const char* reportTo = std::getenv("CVHELPER_REPORT"); reportTo && *reportTo) {
        if (!Report(reportTo)) return Fail(kFailed, std::string("cannot write the report ") + reportTo);
    }

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto needs = [&](int count) { return i + count < argc; };
        auto arg = [&](int k) { return argv[i + k]; };

        if (option == "--write" || option == "--append" || option == "--append-line") {
            if (!needs(2)) return Fail(kUsage, option + " needs FILE TEXT");
            std::string text = arg(2);
            if (option == "--append-line") text += "\r\n";
            if (!SaveText(arg(1), text, option != "--write")) return Fail(kFailed, "cannot write " + std::string(arg(1)));
            i += 2;
        } else if (option == "--mkdir") {
            if (!needs(1)) return Fail(kUsage, "--mkdir needs FOLDER");
            if (!MakeFolders(arg(1))) return Fail(kFailed, "cannot create " + std::string(arg(1)));
            i += 1;
        } else if (option == "--delete") {
            if (!needs(1)) return Fail(kUsage, "--delete needs PATH");
            if (!Remove(arg(1))) return Fail(kFailed, "cannot delete " + std::string(arg(1)));
            i += 1;
        } else if (option == "--copy") {
            if (!needs(2)) return Fail(kUsage, "--copy needs FROM TO");
            if (!CopyFileA(arg(1), arg(2), FALSE)) return Fail(kFailed, "cannot copy " + std::string(arg(1)));
            i += 2;
        } else if (option == "--rename") {
            if (!needs(2)) return Fail(kUsage, "--rename needs FROM TO");
            if (!MoveFileA(arg(1), arg(2))) return Fail(kFailed, "cannot rename " + std::string(arg(1)));
            i += 2;
        } else if (option == "--report") {
            if (!needs(1)) return Fail(kUsage, "--report needs FILE");
            if (!Report(arg(1))) return Fail(kFailed, "cannot write the report " + std::string(arg(1)));
            i += 1;
        } else if (option == "--sleep") {
            long long ms = 0;
            if (!needs(1) || !ParseNumber(arg(1), ms) || ms < 0) return Fail(kUsage, "--sleep needs MS");
            Sleep(static_cast<DWORD>(ms));
            i += 1;
        } else if (option == "--wait-for") {
            long long ms = 0;
            if (!needs(2) || !ParseNumber(arg(2), ms) || ms < 0) return Fail(kUsage, "--wait-for needs FILE MS");
            const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
            while (GetFileAttributesA(arg(1)) == INVALID_FILE_ATTRIBUTES) {
                if (GetTickCount64() >= deadline) return Fail(kTimedOut, "no " + std::string(arg(1)) + " in time");
                Sleep(10);
            }
            i += 2;
        } else if (option == "--open") {
            if (!needs(1)) return Fail(kUsage, "--open needs FILE");
            if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
            const ULONGLONG deadline = GetTickCount64() + 2000;
            for (;;) {
                held = CreateFileA(arg(1), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
                if (held != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
                    GetTickCount64() >= deadline)
                    break;
                Sleep(10);
            }
            if (held == INVALID_HANDLE_VALUE) return Fail(kFailed, "cannot open " + std::string(arg(1)));
            SetFilePointer(held, 0, nullptr, FILE_END);
            i += 1;
        } else if (option == "--write-held") {
            if (!needs(1)) return Fail(kUsage, "--write-held needs TEXT");
            const std::string text = std::string(arg(1)) + "\r\n";
            DWORD written = 0;
            if (held == INVALID_HANDLE_VALUE ||
                !WriteFile(held, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
                return Fail(kFailed, "cannot write the held file");
            i += 1;
        } else if (option == "--close") {
            if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
            held = INVALID_HANDLE_VALUE;
        } else if (option == "--hand-over" || option == "--hand-over-to") {
            const bool named = option == "--hand-over-to";
            if (named && !needs(1)) return Fail(kUsage, "--hand-over-to needs PROGRAM");
            const int first = i + 1 + (named ? 1 : 0);
            int end = first;
            while (end < argc && std::string(argv[end]) != "--then") ++end;
            if (!HandOver(named ? arg(1) : OwnPath(), end - first, argv + first))
                return Fail(kFailed, "cannot start the second process");
            i = end;  // on --then, or past the end
        } else if (option == "--exit") {
            long long code = 0;
            if (!needs(1) || !ParseNumber(arg(1), code)) return Fail(kUsage, "--exit needs CODE");
            std::fflush(nullptr);
            ExitProcess(static_cast<UINT>(code));
        } else {
            return Fail(kUsage, "unknown option " + option);
        }
    }
    return 0;
}
