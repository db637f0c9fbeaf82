// Stands in for the platform's URL handler in the information window's tests: each
// start appends a line to the file that CARVELUND_URL_LOG names: its own full path,
// a '|', and its command line exactly as received. Then it ends.
#include <windows.h>

#include <cstdio>

int main() {
    char log[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("CARVELUND_URL_LOG", log, sizeof log);
    if (n == 0 || n >= sizeof log) return 1;
    FILE* f = std::fopen(log, "ab");
    if (!f) return 2;
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) return 2;
    const bool written = std::fprintf(f, "%s|%s\n", self, GetCommandLineA()) > 0;
    return std::fclose(f) == 0 && written ? 0 : 2;
}
