#include "app/UnsavedWork.h"

#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

constexpr char kSection[] = "[UnsavedWork]";

uint64_t AsNumber(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

FILETIME AsFileTime(uint64_t n) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(n);
    t.dwHighDateTime = static_cast<DWORD>(n >> 32);
    return t;
}

std::string Hex(uint64_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(n));
    return text;
}

bool WriteAll(const std::string& path, const std::string& content) {
    KernelHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    // On the disk before it counts: the record must survive a power cut.
    return WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size() && FlushFileBuffers(file.Get());
}

bool ReadAll(const std::string& path, std::string& content) {
    KernelHandle file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char buffer[4096];
    DWORD read = 0;
    content.clear();
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
    return true;
}

bool ReadValue(const std::string& content, const char* key, uint64_t& value) {
    std::istringstream lines(content);
    const std::string prefix = std::string(key) + "=";
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        char* end = nullptr;
        value = std::strtoull(line.c_str() + prefix.size(), &end, 16);
        return end != line.c_str() + prefix.size();
    }
    return false;
}

}  // namespace

std::string UnsavedWorkRecordPath(const char* localFolder) { return std::string(localFolder ? localFolder : "") + ".unsaved"; }

bool WriteUnsavedWork(const char* localFolder, const UnsavedWork& work) {
    const std::string path = UnsavedWorkRecordPath(localFolder);
    const std::string content = std::string(kSection) + "\r\nBegan=" + Hex(AsNumber(work.began)) +
                                "\r\nBeganLocal=" + LocalTimeText(work.began, MonthWidth::AsIs, "an unknown time") +
                                "\r\nSharedFingerprint=" + Hex(work.sharedFingerprint) + "\r\n";
    // Written aside, then put in place by one rename.
    const std::string fresh = path + ".new";
    if (!WriteAll(fresh, content)) {
        const DWORD error = GetLastError();
        DeleteFileA(fresh.c_str());
        SetLastError(error);
        return false;
    }
    return MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool ReadUnsavedWork(const char* localFolder, UnsavedWork& work) {
    std::string content;
    uint64_t began = 0;
    if (!ReadAll(UnsavedWorkRecordPath(localFolder), content)) return false;
    // A record that cannot be read whole still stands for work: it began at an unknown time.
    work = UnsavedWork{};
    if (ReadValue(content, "Began", began)) work.began = AsFileTime(began);
    ReadValue(content, "SharedFingerprint", work.sharedFingerprint);
    return true;
}

bool ClearUnsavedWork(const char* localFolder) {
    const std::string path = UnsavedWorkRecordPath(localFolder);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool SetWorkAside(const char* localFolder, std::string& folder) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, ".setaside-%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    const std::string base = std::string(localFolder ? localFolder : "") + stamp;
    folder = base;
    for (int n = 2; GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES; ++n) folder = base + "-" + std::to_string(n);
    return CopyTreeContents(localFolder, folder.c_str());
}
