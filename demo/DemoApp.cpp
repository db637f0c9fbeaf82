// A stand-in for the data program in the demo: it works on the local data folder for a
// few seconds, visibly: one more line in journal.txt and one more in counter.txt.
//
//   DemoApp.exe DATAFOLDER [SECONDS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

long ReadCounter(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    long n = 0;
    if (std::fscanf(f, "%ld", &n) != 1) n = 0;
    std::fclose(f);
    return n;
}

bool WriteText(const std::string& path, const char* mode, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), mode);
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: DemoApp DATAFOLDER [SECONDS]\n");
        return 1;
    }
    const std::string folder = argv[1];
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 3;
    const long session = ReadCounter(folder + "\\counter.txt") + 1;

    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[160];
    std::snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u  working session %ld\r\n", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, session);
    if (!WriteText(folder + "\\journal.txt", "ab", line)) return 2;
    Sleep(static_cast<DWORD>(seconds) * 1000);
    return WriteText(folder + "\\counter.txt", "wb", std::to_string(session) + "\r\n") ? 0 : 2;
}
