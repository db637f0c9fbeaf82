// Tokenlock: the lock token file in the remote lock folder.
#include "lock/Tokenlock.h"

#include "forms/Handles.h"
#include "shell/Wintools.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

constexpr char kTokenSuffix[] = ".tokenlockforcarvelund";
constexpr size_t kTokenSuffixLength = sizeof kTokenSuffix - 1;
constexpr char kUnknownSince[] = "??/??/???? ??:??";

// Two PCs may create their tokens in the same instant; the later look at the folder
// makes both back off, and a random pause lets one of them go first next time.
constexpr int kTakeAttempts = 6;
constexpr DWORD kPauseMinMs = 20;
constexpr DWORD kPauseStepMs = 100;

const char* OrEmpty(const char* text) { return text ? text : ""; }

// Windows still maps these to devices, with or without an extension.
bool IsDeviceName(const char* name) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    std::string stem;
    for (const char* p = name; *p && *p != '.'; ++p) stem += static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (const char* device : kDevices)
        if (stem == device) return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

// A name must stay one plain file name inside the lock folder: no separator, drive or
// stream colon, wildcard (which would match other users' tokens) or device.
bool IsTokenName(const char* name) {
    for (const char* p = OrEmpty(name); *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || std::strchr("\\/:*?\"<>|", c)) return false;
    }
    return !IsDeviceName(OrEmpty(name));
}

// Without a folder the token path would point at the root of the current drive.
bool HasFolder(const char* lockFolder) { return lockFolder && *lockFolder; }

std::string Upper(const char* text) {
    std::string s = OrEmpty(text);
    if (!s.empty()) CharUpperBuffA(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

// File names compare as the file system compares them: ignoring letter case.
bool SameFileName(const char* a, const char* b) { return Upper(a) == Upper(b); }

// A pattern may also match through a short 8.3 alias, so the suffix is checked here.
bool HasTokenSuffix(const char* fileName) {
    const size_t n = std::strlen(fileName);
    return n >= kTokenSuffixLength && SameFileName(fileName + n - kTokenSuffixLength, kTokenSuffix);
}

char* TokenLockPattern(const char* lockFolder) { return ConcatText(lockFolder, "\\*", kTokenSuffix); }

char* TokenLockPath(const char* lockFolder, const char* name) {
    return ConcatText(lockFolder, "\\", name, kTokenSuffix);
}

struct FoundToken {
    std::string fileName;
    uint16_t date = 0;
    uint16_t time = 0;
};

// Every visible token in listing order, until `visit` returns false.
template <typename Visit>
void ForEachToken(const char* lockFolder, Visit visit) {
    OwnedText pattern(TokenLockPattern(lockFolder));
    WIN32_FIND_DATAA data;
    forms::FindHandle search(FindFirstFileA(pattern.Str(), &data));
    if (!search) return;
    do {
        const DWORD skipped = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if ((data.dwFileAttributes & skipped) == 0 && HasTokenSuffix(data.cFileName) && !visit(data.cFileName)) return;
    } while (FindNextFileA(search.Get(), &data));
}

// The first token in the folder, as the lookup of the search pattern finds it.
bool FirstToken(const char* lockFolder, FoundToken& found) {
    {
        OwnedText pattern(TokenLockPattern(lockFolder));
        const FindRecord* record = FindFirstEntry(pattern.Str());
        if (!record) return false;
        if (HasTokenSuffix(record->name)) {
            found.fileName = record->name;
            return true;
        }
    }
    // The lookup stopped at an alias match; a real token may come later in the listing.
    bool any = false;
    ForEachToken(lockFolder, [&](const char* fileName) {
        found.fileName = fileName;
        any = true;
        return false;
    });
    return any;
}

// The token of exactly this name, when the lookups can see it.
bool NamedToken(const char* lockFolder, const char* name, FoundToken& found) {
    if (!HasFolder(lockFolder) || !IsTokenName(name)) return false;
    OwnedText path(TokenLockPath(lockFolder, name));
    const FindRecord* record = FindFirstEntry(path.Str());
    if (!record) return false;
    const std::string expected = std::string(OrEmpty(name)) + kTokenSuffix;
    if (!SameFileName(record->name, expected.c_str())) return false;
    found.fileName = record->name;
    found.date = record->date;
    found.time = record->time;
    return true;
}

bool CreateToken(const char* path) {
    {
        forms::KernelHandle file(
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr));
        if (!file) return false;
        DWORD written = 0;
        WriteFile(file.Get(), "1", 1, &written, nullptr);
    }  // closed before the attributes are set
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    return true;
}

struct FolderAfterCreate {
    bool ownVisible = false;
    bool othersPresent = false;
};

FolderAfterCreate LookAgain(const char* lockFolder, const char* userName) {
    const std::string own = std::string(OrEmpty(userName)) + kTokenSuffix;
    FolderAfterCreate seen;
    ForEachToken(lockFolder, [&](const char* fileName) {
        if (SameFileName(fileName, own.c_str()))
            seen.ownVisible = true;
        else
            seen.othersPresent = true;
        return true;
    });
    return seen;
}

// Seeded per process and moment, so that takers started together pause differently.
DWORD RandomPause(int attempt) {
    static std::minstd_rand generator = [] {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        const auto seed = static_cast<uint32_t>(counter.QuadPart) ^ (GetCurrentProcessId() << 16) ^
                          GetCurrentThreadId() ^ GetTickCount();
        return std::minstd_rand(seed ? seed : 1);
    }();
    std::uniform_int_distribution<DWORD> pause(kPauseMinMs, kPauseMinMs + kPauseStepMs * static_cast<DWORD>(attempt));
    return pause(generator);
}

}  // namespace

bool TakeTokenLock(const char* lockFolder, const char* userName) {
    if (!HasFolder(lockFolder) || !IsTokenName(userName)) return false;
    OwnedText path(TokenLockPath(lockFolder, userName));
    for (int attempt = 1;; ++attempt) {
        FoundToken inTheWay;
        if (FirstToken(lockFolder, inTheWay)) return false;
        if (!CreateToken(path.Str())) return false;
        const FolderAfterCreate seen = LookAgain(lockFolder, userName);
        if (seen.ownVisible && !seen.othersPresent) return true;
        DeleteFileForced(path.Str());
        // A token the lookups cannot see (hidden by the share) would lock nobody out.
        if (!seen.ownVisible || attempt == kTakeAttempts) return false;
        Sleep(RandomPause(attempt));
    }
}

char* TokenLockOwner(const char* lockFolder) {
    FoundToken token;
    if (!HasFolder(lockFolder) || !FirstToken(lockFolder, token)) return nullptr;
    token.fileName.erase(token.fileName.size() - kTokenSuffixLength);
    return ConcatText(token.fileName.c_str());
}

char* TokenLockSince(const char* lockFolder, const char* ownerName) {
    FoundToken token;
    if (!NamedToken(lockFolder, ownerName, token)) return ConcatText(kUnknownSince);
    const unsigned day = token.date & 0x1F;
    const unsigned month = (token.date >> 5) & 0x0F;
    const unsigned year = 1980 + (token.date >> 9);
    const unsigned hour = token.time >> 11;
    const unsigned minute = (token.time >> 5) & 0x3F;
    char since[32];
    std::snprintf(since, sizeof since, "%2u/%02u/%04u %u:%02u", month, day, year, hour, minute);
    return ConcatText(since);
}

bool OwnsTokenLock(const char* lockFolder, const char* userName) {
    FoundToken token;
    return NamedToken(lockFolder, userName, token);
}

bool DeleteTokenLock(const char* lockFolder, const char* name) {
    if (!HasFolder(lockFolder)) return true;
    // Such a name cannot be shown to have no token here; never treat it as deleted.
    if (!IsTokenName(name)) return false;
    OwnedText path(TokenLockPath(lockFolder, name));
    return DeleteFileForced(path.Str());
}
