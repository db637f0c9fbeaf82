// Tokenlock: the lock token file in the remote lock folder.
#include "lock/Tokenlock.h"

#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <random>
#include <string>

namespace {

constexpr char kTokenSuffix[] = ".tokenlockforcarvelund";
constexpr size_t kTokenSuffixLength = sizeof kTokenSuffix - 1;
constexpr char kUnknownSince[] = "??/??/???? ??:??";

// Two PCs may create their tokens in the same instant; the later look at the folder
// makes both back off, and random pauses let one of them go first. Eight PCs started
// together settle well within the budget.
constexpr ULONGLONG kTakeBudgetMs = 8000;
constexpr DWORD kPauseMinMs = 10;
constexpr DWORD kPauseStepMs = 40;
constexpr DWORD kPauseMaxMs = 400;
// A rival that backs off deletes its token at once; one still there after this long
// belongs to a holder.
constexpr DWORD kSettleMs = 150;

const char* OrEmpty(const char* text) { return text ? text : ""; }

// The name as the file system will see it: decoded by the ANSI code page, so that the
// trail byte of a double-byte character is never taken for a separator of its own.
bool WidenValidText(const char* text, std::wstring& wide) {
    const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 0) return false;
    wide.assign(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, &wide[0], n) != n) return false;
    wide.pop_back();  // the terminator
    return true;
}

bool IsPortDigit(wchar_t c) { return (c >= L'1' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3; }

// Windows still maps these to devices, with or without an extension; for COM and LPT
// the superscript digits one to three count as digits.
bool IsDeviceName(const std::wstring& name) {
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    if (!stem.empty()) CharUpperBuffW(&stem[0], static_cast<DWORD>(stem.size()));
    for (const wchar_t* device : kDevices)
        if (stem == device) return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           IsPortDigit(stem[3]);
}

// A name must stay one plain file name inside the lock folder: no separator, drive or
// stream colon, wildcard (which would match other users' tokens) or device. Returns the
// rule a name breaks, or null.
const char* NameProblem(const char* name) {
    std::wstring wide;
    if (!WidenValidText(OrEmpty(name), wide)) return "user name is not valid text";
    for (wchar_t c : wide)
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c)) return "user name holds a character not allowed in a file name";
    if (IsDeviceName(wide)) return "user name is a device name";
    return nullptr;
}

bool IsTokenName(const char* name) { return NameProblem(name) == nullptr; }

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
    FindHandle search(FindFirstFileA(pattern.Str(), &data));
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

// False with the platform's error code when the file system refuses the token.
bool CreateToken(const char* path, DWORD& error) {
    {
        KernelHandle file(Platform().createFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                       FILE_ATTRIBUTE_ARCHIVE, nullptr));
        if (!file) {
            error = GetLastError();
            return false;
        }
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
    const DWORD longest = std::min<DWORD>(kPauseMaxMs, kPauseMinMs + kPauseStepMs * static_cast<DWORD>(attempt));
    std::uniform_int_distribution<DWORD> pause(kPauseMinMs, longest);
    return pause(generator);
}

// After a collision the token in the way may be a rival's that is backing off too: only
// one that stays counts as a holder's.
bool TokenInTheWay(const char* lockFolder, bool rivalsBackingOff, ULONGLONG deadline) {
    FoundToken seen;
    if (!FirstToken(lockFolder, seen)) return false;
    if (!rivalsBackingOff) return true;
    for (;;) {
        Sleep(kSettleMs);
        FoundToken now;
        if (!FirstToken(lockFolder, now)) return false;
        if (SameFileName(now.fileName.c_str(), seen.fileName.c_str()) || GetTickCount64() >= deadline) return true;
        seen = now;
    }
}

TokenTake Outcome(TakeResult result, DWORD error = 0, std::string detail = {}) {
    TokenTake take;
    take.result = result;
    take.error = error;
    take.detail = std::move(detail);
    return take;
}

}  // namespace

TokenTake TryTakeTokenLock(const char* lockFolder, const char* userName) {
    if (!HasFolder(lockFolder)) return Outcome(TakeResult::CreateFailed, ERROR_PATH_NOT_FOUND);
    if (const char* problem = NameProblem(userName)) return Outcome(TakeResult::NameRefused, 0, problem);
    OwnedText path(TokenLockPath(lockFolder, userName));
    const ULONGLONG deadline = GetTickCount64() + kTakeBudgetMs;
    bool collided = false;
    for (int attempt = 1;; ++attempt) {
        if (TokenInTheWay(lockFolder, collided, deadline)) return Outcome(TakeResult::InTheWay);
        DWORD error = 0;
        if (!CreateToken(path.Str(), error)) return Outcome(TakeResult::CreateFailed, error);
        const FolderAfterCreate seen = LookAgain(lockFolder, userName);
        if (seen.ownVisible && !seen.othersPresent) return Outcome(TakeResult::Taken);
        // A stray token of ours would lock everyone out, this PC included.
        if (!DeleteFileForced(path.Str())) return Outcome(TakeResult::OwnTokenStuck, 0, path.Str());
        // A token the lookups cannot see (hidden by the share) would lock nobody out.
        if (!seen.ownVisible) return Outcome(TakeResult::Unseen);
        collided = true;
        if (GetTickCount64() >= deadline) return Outcome(TakeResult::Busy);
        Sleep(RandomPause(attempt));
    }
}

bool TakeTokenLock(const char* lockFolder, const char* userName) {
    return TryTakeTokenLock(lockFolder, userName).result == TakeResult::Taken;
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
    // The listing gives the local DOS time; back to UTC at the same offset that made it.
    FILETIME local{}, utc{};
    if (!DosDateTimeToFileTime(token.date, token.time, &local) || !LocalFileTimeToFileTime(&local, &utc))
        return ConcatText(kUnknownSince);
    return ConcatText(LocalTimeText(utc, MonthWidth::TwoColumns, kUnknownSince).c_str());
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
