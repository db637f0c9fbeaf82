#include "shell/Wintools.h"

#include "shell/Handles.h"

#include <winnetwk.h>

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

namespace {

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

// "M:\x" on a network drive as "\\server\share\x"; other paths as they are.
std::wstring UncOfMappedDrive(const std::wstring& full) {
    if (full.size() < 2 || full[1] != L':') return full;
    const std::wstring drive = full.substr(0, 2);
    if (GetDriveTypeW((drive + L"\\").c_str()) != DRIVE_REMOTE) return full;
    wchar_t remote[1024];
    DWORD size = sizeof remote / sizeof remote[0];
    if (WNetGetConnectionW(drive.c_str(), remote, &size) != NO_ERROR) return full;
    return WithoutTrailingSeparators(remote) + full.substr(2);
}

// The final path of an existing file or folder, without the "\\?\" of its form; empty
// when it cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
    KernelHandle handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {};
    std::wstring final(1024, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(handle.Get(), &final[0], static_cast<DWORD>(final.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < final.size()) {
            final.resize(n);
            break;
        }
        final.resize(n + 1);
    }
    if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + final.substr(7);
    if (final.compare(0, 4, L"\\\\?\\") == 0) return final.substr(4);
    return final;
}

}  // namespace

std::string FolderIdentity(const std::string& folder) {
    if (folder.empty()) return folder;
    std::wstring full = Widen(FullPathOf(folder));
    for (wchar_t& c : full)
        if (c == L'/') c = L'\\';
    full = WithoutTrailingSeparators(UncOfMappedDrive(full));
    // The deepest part that exists says what the folder is; what does not exist yet follows.
    std::wstring existing = full, rest;
    for (;;) {
        const std::wstring final = FinalPath(existing);
        if (!final.empty()) {
            full = WithoutTrailingSeparators(UncOfMappedDrive(final)) + rest;
            break;
        }
        const size_t cut = existing.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut < 2) break;
        rest = existing.substr(cut) + rest;
        existing = existing.substr(0, cut);
    }
    std::string identity = Narrow(full);
    if (!identity.empty()) CharUpperBuffA(&identity[0], static_cast<DWORD>(identity.size()));
    return identity;
}
