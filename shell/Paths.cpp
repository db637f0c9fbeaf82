#include "shell/Wintools.h"

#include <cstring>
#include <string>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Index just past the last separator, 0 when there is none.
size_t LastComponentStart(const char* path) {
    size_t start = 0;
    for (size_t i = 0; path[i]; ++i)
        if (IsSeparator(path[i])) start = i + 1;
    return start;
}

// Cuts a made text at `at`, keeping the double NUL that made texts end in.
void CutAt(char* at) {
    at[0] = '\0';
    at[1] = '\0';
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

char* BaseTitle(const char* path) {
    const char* p = path ? path : "";
    // The appended dot guarantees a cut point.
    char* title = ConcatText(p + LastComponentStart(p), ".");
    CutAt(std::strchr(title, '.'));
    if (title[0]) {
        title[0] = AsciiUpper(title[0]);
        for (char* c = title + 1; *c; ++c) *c = AsciiLower(*c);
    }
    return title;
}

char* FolderOf(const char* path) {
    const char* p = path ? path : "";
    const size_t start = LastComponentStart(p);
    char* folder = ConcatText(p);
    CutAt(folder + (start ? start - 1 : 0));
    return folder;
}

char* BaseTitlePath(const char* path) {
    OwnedText folder(FolderOf(path));
    OwnedText title(BaseTitle(path));
    return ConcatText(folder.Get(), "\\", title.Get());
}

char* ProgramPath() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (n == 0) return ConcatText("");
        if (n < buffer.size()) {
            buffer.resize(n);
            return ConcatText(buffer.c_str());
        }
        buffer.resize(buffer.size() * 2);  // cut to fit: try a larger buffer
    }
}

std::string FullPathOf(const std::string& path) {
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::string full(needed, '\0');
    const DWORD n = GetFullPathNameA(path.c_str(), needed, &full[0], nullptr);
    if (n == 0 || n >= needed) return path;
    full.resize(n);
    return full;
}
