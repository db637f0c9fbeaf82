#include "shell/Trace.h"

#include "shell/Handles.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::string TracePath() {
    char path[MAX_PATH * 2] = "";
    const DWORD n = GetEnvironmentVariableA("CARVELUND_TRACE", path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

}  // namespace

void TraceStage(const char* stage) {
    static const std::string path = TracePath();
    if (path.empty()) return;
    static std::mutex writing;
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    char line[256];
    const int n = std::snprintf(line, sizeof line, "%.6f %s\r\n", ticks / 1e7, stage);
    std::lock_guard<std::mutex> lock(writing);
    KernelHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file && n > 0) WriteFile(file.Get(), line, static_cast<DWORD>(n), &written, nullptr);
}
