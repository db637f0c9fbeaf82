// Stands in for the platform's URL handler in the information window's tests: each
// start appends its command line, exactly as received, to the file that
// CARVELUND_URL_LOG names, and ends.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
    char log[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("CARVELUND_URL_LOG", log, sizeof log);
    if (n == 0 || n >= sizeof log) return 1;
    FILE* f = std::fopen(log, "ab");
    if (!f) return 2;
    const char* line = GetCommandLineA();
    const bool written = std::fwrite(line, 1, std::strlen(line), f) == std::strlen(line) && std::fputc('\n', f) != EOF;
    return std::fclose(f) == 0 && written ? 0 : 2;
}
