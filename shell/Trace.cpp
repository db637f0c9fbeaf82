#include "shell/Trace.h"

#include "shell/Handles.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::string TracePath() {
    char path[MAX_PATH * 2] = "";
    const DWORD n = GetEnvironmentVariableA("CARVELUND_TRACE", path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

const std::string& Path() {
    static const std::string path = TracePath();
    return path;
}

std::atomic<unsigned long long> shareCalls{0};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "\\server\share\...", "\\?\UNC\server\share\..." or a drive the system calls remote.
bool OnShare(const std::wstring& path) {
    std::wstring rest = path;
    if (rest.size() >= 4 && IsSeparator(rest[0]) && IsSeparator(rest[1]) && rest[2] == L'?' && IsSeparator(rest[3])) {
        rest = rest.substr(4);
        if (rest.size() >= 4 && !_wcsnicmp(rest.c_str(), L"UNC", 3) && IsSeparator(rest[3])) return true;
    } else if (rest.size() >= 3 && IsSeparator(rest[0]) && IsSeparator(rest[1]) && rest[2] != L'.') {
        return true;
    }
    if (rest.size() < 2 || rest[1] != L':') return false;
    static std::atomic<int> remote[26] = {};  // 0: not asked yet, 1: remote, 2: not
    const wchar_t letter = static_cast<wchar_t>(towupper(rest[0]));
    if (letter < L'A' || letter > L'Z') return false;
    std::atomic<int>& known = remote[letter - L'A'];
    if (!known) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        known = GetDriveTypeW(root) == DRIVE_REMOTE ? 1 : 2;
    }
    return known == 1;
}

}  // namespace

void NoteFileCall(const std::wstring& path) {
    if (!Path().empty() && OnShare(path)) ++shareCalls;
}

void TraceStage(const char* stage) {
    const std::string& path = Path();
    if (path.empty()) return;
    static std::mutex writing;
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    char line[320];
    const int n = std::snprintf(line, sizeof line, "%.6f %s (share calls so far: %llu)\r\n", ticks / 1e7, stage,
                                shareCalls.load());
    std::lock_guard<std::mutex> lock(writing);
    KernelHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file && n > 0) WriteFile(file.Get(), line, static_cast<DWORD>(n), &written, nullptr);
}
