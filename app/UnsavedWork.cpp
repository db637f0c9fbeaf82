#include "app/UnsavedWork.h"

#include "shell/FileSystem.h"
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

// False only when there is no such file: one that is there but cannot be read is read
// as empty, a record cut short.
bool ReadAll(const std::string& path, std::string& content) {
    content.clear();
    KernelHandle file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    char buffer[4096];
    DWORD read = 0;
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

constexpr char kLostLockKey[] = "LostLock=";

// A note's fields on one line: no line ends, and a tab only between them.
std::string OneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    return line;
}

std::vector<LostLockNote> ReadLostLocks(const std::string& content) {
    std::vector<LostLockNote> notes;
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, sizeof kLostLockKey - 1, kLostLockKey) != 0) continue;
        const std::string fields = line.substr(sizeof kLostLockKey - 1);
        const size_t tab = fields.find('\t');
        if (tab != std::string::npos) notes.push_back({fields.substr(0, tab), fields.substr(tab + 1)});
    }
    return notes;
}

// Where a write cut short before its rename leaves the new record.
std::string FreshRecordPath(const char* localFolder) { return Narrow(DurableTempName(Widen(UnsavedWorkRecordPath(localFolder)))); }

// All that a whole record holds; a record cut short still stands for work.
bool ReadRecord(const std::string& path, UnsavedWork& work, bool& whole) {
    std::string content;
    if (!ReadAll(path, content)) return false;
    work = UnsavedWork{};
    uint64_t began = 0;
    const bool hasBegan = ReadValue(content, "Began", began);
    if (hasBegan) work.began = AsFileTime(began);
    const bool hasShared = ReadValue(content, "SharedFingerprint", work.sharedFingerprint);
    const bool hasSent = ReadValue(content, "SentFingerprint", work.sentFingerprint);
    work.lostLocks = ReadLostLocks(content);
    whole = hasBegan && hasShared && hasSent;
    return true;
}

}  // namespace

std::string UnsavedWorkRecordPath(const char* localFolder) { return std::string(localFolder ? localFolder : "") + ".unsaved"; }

bool WriteUnsavedWork(const char* localFolder, const UnsavedWork& work) {
    const std::string path = UnsavedWorkRecordPath(localFolder);
    std::string content = std::string(kSection) + "\r\nBegan=" + Hex(AsNumber(work.began)) +
                                "\r\nBeganLocal=" + LocalTimeText(work.began, MonthWidth::AsIs, "an unknown time") +
                                "\r\nSharedFingerprint=" + Hex(work.sharedFingerprint) +
                                "\r\nSentFingerprint=" + Hex(work.sentFingerprint) + "\r\n";
    for (const auto& note : work.lostLocks) content += kLostLockKey + OneLine(note.user) + "\t" + OneLine(note.text) + "\r\n";
    // Written aside, flushed, then put in place by one rename that is flushed too.
    const FileOpResult written = WriteFileDurably(Widen(path), content);
    if (!written) SetLastError(written.error);
    return written.ok;
}

bool ReadUnsavedWork(const char* localFolder, UnsavedWork& work) {
    // A write cut short before its rename leaves the new record beside the old one: the
    // new one, when whole, is the later word; with no old one it stands for work anyway.
    UnsavedWork fresh;
    bool freshWhole = false, recordWhole = false;
    const bool hasFresh = ReadRecord(FreshRecordPath(localFolder), fresh, freshWhole);
    if (hasFresh && freshWhole) {
        work = fresh;
        return true;
    }
    if (ReadRecord(UnsavedWorkRecordPath(localFolder), work, recordWhole)) return true;
    if (hasFresh) work = fresh;
    return hasFresh;
}

bool ClearUnsavedWork(const char* localFolder) {
    bool cleared = true;
    // The new record first: left alone, it would stand for the work again.
    for (const std::string& path : {FreshRecordPath(localFolder), UnsavedWorkRecordPath(localFolder)}) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        cleared = (DeleteFileA(path.c_str()) || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) && cleared;
    }
    return cleared;
}

