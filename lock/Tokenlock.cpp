// Tokenlock: the lock token file in the remote lock folder.
#include "lock/Tokenlock.h"

#include "lock/LifeSign.h"

#include "shell/Handles.h"
#include "shell/TreeListing.h"
#include "shell/Wintools.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <random>
#include <string>

namespace {

constexpr char kTokenSuffix[] = ".tokenlockforcarvelund";
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

constexpr wchar_t kTokenSuffixW[] = L".tokenlockforcarvelund";
constexpr size_t kTokenSuffixLengthW = sizeof kTokenSuffixW / sizeof kTokenSuffixW[0] - 1;

char* TokenLockPath(const char* lockFolder, const char* name) {
    return ConcatText(lockFolder, "\\", name, kTokenSuffix);
}

bool SameWideName(const std::wstring& a, const std::wstring& b) { return FoldedName(a) == FoldedName(b); }

// A pattern may also match through a short 8.3 alias, so the suffix is checked here.
bool HasTokenSuffixW(const std::wstring& fileName) {
    return fileName.size() >= kTokenSuffixLengthW &&
           SameWideName(fileName.substr(fileName.size() - kTokenSuffixLengthW), kTokenSuffixW);
}

// The owner as this code page can show it.
std::string ShownOwner(const std::wstring& fileName) {
    return Narrow(fileName.substr(0, fileName.size() - kTokenSuffixLengthW));
}

std::wstring TokenPathW(const char* lockFolder, const std::wstring& fileName) {
    return JoinPath(Widen(OrEmpty(lockFolder)), fileName);
}

struct ListedToken {
    std::wstring fileName;
    FILETIME lastWrite{};
};

struct TokenListing {
    bool readable = true;  // else `error` says why nothing could be listed
    DWORD error = 0;
    std::vector<ListedToken> tokens;
};

// The search pattern: the lock folder, "\*", the token suffix.
std::wstring TokenLockPattern(const char* lockFolder) { return Widen(lockFolder) + L"\\*" + kTokenSuffixW; }

// The answers of a search that mean "no such entry", not "cannot be listed".
bool NothingMatched(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES; }

// Every visible token in listing order. Names come from outside (other PCs), so the
// wide calls list them: the ANSI listing turns what the code page lacks into '?'. A
// search that fails part-way shows no token at all: a part of a listing proves nothing.
TokenListing ListTokens(const char* lockFolder) {
    TokenListing listing;
    if (!HasFolder(lockFolder)) return listing;
    WIN32_FIND_DATAW data;
    FindHandle search(Platform().findFirstFileW(TokenLockPattern(lockFolder).c_str(), &data));
    if (!search) {
        const DWORD error = GetLastError();
        if (!NothingMatched(error)) listing = TokenListing{false, error, {}};
        return listing;
    }
    constexpr DWORD kSkipped = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    do {
        if ((data.dwFileAttributes & kSkipped) == 0 && HasTokenSuffixW(data.cFileName))
            listing.tokens.push_back({data.cFileName, data.ftLastWriteTime});
    } while (Platform().findNextFileW(search.Get(), &data));
    const DWORD error = GetLastError();
    if (!NothingMatched(error)) listing = TokenListing{false, error, {}};
    return listing;
}

// The token whose owner, as shown, is this name (letter case ignored, as the file
// system does), when the lookups can see it.
bool NamedToken(const char* lockFolder, const char* name, ListedToken& found) {
    for (ListedToken& token : ListTokens(lockFolder).tokens)
        if (SameFileName(ShownOwner(token.fileName).c_str(), name)) {
            found = std::move(token);
            return true;
        }
    return false;
}

std::string SinceText(const FILETIME& lastWrite) { return LocalTimeText(lastWrite, MonthWidth::TwoColumns, kUnknownSince); }

TokenIdentity IdentityOf(HANDLE file, const std::wstring& fileName) {
    TokenIdentity identity;
    identity.fileName = fileName;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info)) {
        identity.volumeSerial = info.dwVolumeSerialNumber;
        identity.fileIndex = (ULONGLONG(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        identity.lastWrite = info.ftLastWriteTime;
    }
    return identity;
}

// Reading attributes needs no sharing, so a holder's open file can be identified too.
bool ReadIdentity(const char* lockFolder, const std::wstring& fileName, TokenIdentity& identity) {
    KernelHandle file(CreateFileW(TokenPathW(lockFolder, fileName).c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    identity = IdentityOf(file.Get(), fileName);
    return true;
}

enum class Removal { Deleted, NotThere, NotThatFile, Failed };

// Deletes the token only while it is that very file. Opened without delete sharing, it
// cannot be deleted or replaced by anyone between the check and the delete.
Removal RemoveIfSame(const char* lockFolder, const TokenIdentity& identity, DWORD& error) {
    if (!HasFolder(lockFolder) || !identity.Known()) return Removal::NotThere;
    KernelHandle file(CreateFileW(TokenPathW(lockFolder, identity.fileName).c_str(),
                                         DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Removal::NotThere : Removal::Failed;
    }
    if (!IdentityOf(file.Get(), identity.fileName).SameFile(identity)) return Removal::NotThatFile;
    // Archive alone, so that a read-only token can go; zero times stay as they are.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic);
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        error = GetLastError();
        return Removal::Failed;
    }
    return Removal::Deleted;  // once the handle closes
}

// The first token in the folder, as the lookup of the search pattern finds it.
bool FirstToken(const char* lockFolder, ListedToken& found) {
    std::vector<ListedToken> tokens = ListTokens(lockFolder).tokens;
    if (tokens.empty()) return false;
    found = std::move(tokens.front());
    return true;
}

std::minstd_rand& Random() {
    // Seeded per process and moment, so that PCs started together draw differently.
    static std::minstd_rand generator = [] {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        const auto seed = static_cast<uint32_t>(counter.QuadPart) ^ (GetCurrentProcessId() << 16) ^
                          GetCurrentThreadId() ^ GetTickCount();
        return std::minstd_rand(seed ? seed : 1);
    }();
    return generator;
}

// Now, with a random part below the millisecond that no since text shows: a file made
// again in the same clock tick (by a PC of the same name, in a reused file number) is
// still told from ours.
FILETIME CreationStamp() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{};
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    ticks.QuadPart += std::uniform_int_distribution<ULONGLONG>(0, 9999)(Random());
    return FILETIME{ticks.LowPart, ticks.HighPart};
}

// False with the platform's error code when the file system refuses the token.
bool CreateToken(const char* lockFolder, const char* userName, TokenIdentity& identity, DWORD& error) {
    OwnedText path(TokenLockPath(lockFolder, userName));
    {
        KernelHandle file(Platform().createFile(path.Str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                       CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr));
        if (!file) {
            error = GetLastError();
            return false;
        }
        DWORD written = 0;
        WriteFile(file.Get(), "1", 1, &written, nullptr);
        const FILETIME stamp = CreationStamp();
        SetFileTime(file.Get(), nullptr, nullptr, &stamp);
    }  // closed before the attributes are set
    SetFileAttributesA(path.Str(), FILE_ATTRIBUTE_ARCHIVE);
    // Read once the file is closed: that last-write time is the one every later look sees.
    if (ReadIdentity(lockFolder, Widen(OrEmpty(userName)) + kTokenSuffixW, identity)) return true;
    // A token we cannot tell from another PC's is of no use to us.
    error = GetLastError();
    DeleteFileForced(path.Str());
    return false;
}

DWORD RandomPause(int attempt) {
    const DWORD longest = std::min<DWORD>(kPauseMaxMs, kPauseMinMs + kPauseStepMs * static_cast<DWORD>(attempt));
    std::uniform_int_distribution<DWORD> pause(kPauseMinMs, longest);
    return pause(Random());
}

enum class Way { Free, Held, Unreadable };

// After a collision the token in the way may be a rival's that is backing off too: only
// one that stays counts as a holder's. A folder that cannot be listed shows no holder,
// and nothing may be made in it on that word.
Way TokenInTheWay(const char* lockFolder, bool rivalsBackingOff, ULONGLONG deadline, DWORD& error) {
    const TokenListing listing = ListTokens(lockFolder);
    if (!listing.readable) {
        error = listing.error;
        return Way::Unreadable;
    }
    if (listing.tokens.empty()) return Way::Free;
    if (!rivalsBackingOff) return Way::Held;
    ListedToken seen = listing.tokens.front();
    for (;;) {
        Sleep(kSettleMs);
        ListedToken now;
        if (!FirstToken(lockFolder, now)) return Way::Free;
        if (SameWideName(now.fileName, seen.fileName) || GetTickCount64() >= deadline) return Way::Held;
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

// The create-new was refused because something has the token's name: a token the listing
// did not show yet (a rival's, or one of our name from another PC) is a holder; a hidden
// or system file or a folder of that name is in the way of everyone of this name.
bool NameInUse(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

TokenTake WhatHasTheName(const char* lockFolder, const char* userName, DWORD error) {
    OwnedText path(TokenLockPath(lockFolder, userName));
    const DWORD attributes = GetFileAttributesA(path.Str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Outcome(TakeResult::CreateFailed, error);
    constexpr DWORD kUnseen = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes & kUnseen) return Outcome(TakeResult::NameTaken, error, path.Str());
    return Outcome(TakeResult::InTheWay);
}

}  // namespace

bool TokenIdentity::SameFile(const TokenIdentity& other) const {
    return SameWideName(fileName, other.fileName) && volumeSerial == other.volumeSerial &&
           fileIndex == other.fileIndex && CompareFileTime(&lastWrite, &other.lastWrite) == 0;
}

namespace {

enum class FirstLook { Listing, None };

TokenTake TakeToken(const char* lockFolder, const char* userName, FirstLook firstLook) {
    if (!HasFolder(lockFolder)) return Outcome(TakeResult::CreateFailed, ERROR_PATH_NOT_FOUND);
    if (const char* problem = NameProblem(userName)) return Outcome(TakeResult::NameRefused, 0, problem);
    const ULONGLONG deadline = GetTickCount64() + kTakeBudgetMs;
    bool collided = false;
    for (int attempt = 1;; ++attempt) {
        const bool look = attempt > 1 || firstLook == FirstLook::Listing;
        if (look) {
            DWORD error = 0;
            switch (TokenInTheWay(lockFolder, collided, deadline, error)) {
                case Way::Held: return Outcome(TakeResult::InTheWay);
                case Way::Unreadable: return Outcome(TakeResult::FolderUnreadable, error);
                case Way::Free: break;
            }
        }
        TokenIdentity own;
        DWORD error = 0;
        if (!CreateToken(lockFolder, userName, own, error))
            return NameInUse(error) ? WhatHasTheName(lockFolder, userName, error) : Outcome(TakeResult::CreateFailed, error);
        const TokenConflict seen = OtherTokens(lockFolder, own);
        if (seen.Clear()) {
            TokenTake take = Outcome(TakeResult::Taken);
            take.identity = std::move(own);
            return take;
        }
        // A stray token of ours would lock everyone out, this PC included.
        if (DeleteOwnToken(lockFolder, own).result == TokenDelete::Failed) {
            OwnedText path(TokenLockPath(lockFolder, userName));
            return Outcome(TakeResult::OwnTokenStuck, 0, path.Str());
        }
        if (!seen.readable) return Outcome(TakeResult::FolderUnreadable, seen.error);
        // A token the lookups cannot see (hidden by the share) would lock nobody out.
        if (!seen.ownListed) return Outcome(TakeResult::Unseen);
        collided = true;
        if (GetTickCount64() >= deadline) return Outcome(TakeResult::Busy);
        Sleep(RandomPause(attempt));
    }
}

}  // namespace

TokenTake TryTakeTokenLock(const char* lockFolder, const char* userName) {
    return TakeToken(lockFolder, userName, FirstLook::Listing);
}

TokenTake TryTakeFreedTokenLock(const char* lockFolder, const char* userName) {
    return TakeToken(lockFolder, userName, FirstLook::None);
}

bool TakeTokenLock(const char* lockFolder, const char* userName) {
    return TryTakeTokenLock(lockFolder, userName).result == TakeResult::Taken;
}

char* TokenLockOwner(const char* lockFolder) {
    ListedToken token;
    if (!FirstToken(lockFolder, token)) return nullptr;
    return ConcatText(ShownOwner(token.fileName).c_str());
}

char* TokenLockSince(const char* lockFolder, const char* ownerName) {
    ListedToken token;
    if (!NamedToken(lockFolder, ownerName, token)) return ConcatText(kUnknownSince);
    return ConcatText(SinceText(token.lastWrite).c_str());
}

bool OwnsTokenLock(const char* lockFolder, const char* userName) {
    ListedToken token;
    return IsTokenName(userName) && NamedToken(lockFolder, userName, token);
}

bool DeleteTokenLock(const char* lockFolder, const char* name) {
    if (!HasFolder(lockFolder)) return true;
    if (IsTokenName(name)) {
        OwnedText path(TokenLockPath(lockFolder, name));
        return DeleteFileForced(path.Str());
    }
    // A name shown with '?' for what the code page lacks: the listed token it shows.
    ListedToken token;
    TokenIdentity identity;
    if (!NamedToken(lockFolder, name, token) || !ReadIdentity(lockFolder, token.fileName, identity)) return false;
    DWORD error = 0;
    return RemoveIfSame(lockFolder, identity, error) == Removal::Deleted;
}

namespace {

void Show(const char* lockFolder, const ListedToken& token, ShownToken& shown) {
    shown.owner = ShownOwner(token.fileName);
    shown.since = SinceText(token.lastWrite);
    if (!ReadIdentity(lockFolder, token.fileName, shown.identity)) {
        shown.identity = TokenIdentity{};
        shown.identity.fileName = token.fileName;
        shown.identity.lastWrite = token.lastWrite;
    }
}

}  // namespace

TokenConflict OtherTokens(const char* lockFolder, const TokenIdentity& own) {
    TokenConflict conflict;
    const TokenListing listing = ListTokens(lockFolder);
    conflict.readable = listing.readable;
    conflict.error = listing.error;
    for (const ListedToken& token : listing.tokens) {
        TokenIdentity found;
        // Our name alone is not enough: another PC of that name may have made this file.
        if (own.Known() && SameWideName(token.fileName, own.fileName) &&
            ReadIdentity(lockFolder, token.fileName, found) && found.SameFile(own))
            conflict.ownListed = true;
        else {
            if (conflict.others.empty()) Show(lockFolder, token, conflict.firstOther);
            conflict.others.push_back(ShownOwner(token.fileName));
        }
    }
    return conflict;
}

OwnTokenDelete DeleteOwnToken(const char* lockFolder, const TokenIdentity& own) {
    OwnTokenDelete outcome;
    switch (RemoveIfSame(lockFolder, own, outcome.error)) {
        case Removal::Deleted: outcome.result = TokenDelete::Deleted; break;
        case Removal::NotThere: outcome.result = TokenDelete::Gone; break;
        case Removal::NotThatFile: outcome.result = TokenDelete::Replaced; break;
        case Removal::Failed: outcome.result = TokenDelete::Failed; break;
    }
    // The token first: a life sign without its token is ignored by every reader.
    if (outcome.result != TokenDelete::Failed && HasFolder(lockFolder)) RemoveLifeSign(lockFolder, own);
    return outcome;
}

TokenPresence LookAtToken(const char* lockFolder, const TokenIdentity& token, DWORD* error) {
    if (!HasFolder(lockFolder) || !token.Known()) return TokenPresence::Gone;
    TokenIdentity now;
    if (ReadIdentity(lockFolder, token.fileName, now)) return now.SameFile(token) ? TokenPresence::Same : TokenPresence::Other;
    const DWORD failure = GetLastError();
    if (failure == ERROR_FILE_NOT_FOUND) return TokenPresence::Gone;
    // Without its folder a token cannot be there either; but a folder that cannot be
    // reached (a share that dropped) says nothing about it.
    if (failure == ERROR_PATH_NOT_FOUND && GetFileAttributesW(Widen(lockFolder).c_str()) != INVALID_FILE_ATTRIBUTES)
        return TokenPresence::Gone;
    if (error) *error = failure;
    return TokenPresence::Unreadable;
}

HolderLook FindHolder(const char* lockFolder, ShownToken& shown, DWORD* error) {
    const TokenListing listing = ListTokens(lockFolder);
    if (error) *error = listing.error;
    if (!listing.readable) return HolderLook::Unreadable;
    if (listing.tokens.empty()) return HolderLook::None;
    Show(lockFolder, listing.tokens.front(), shown);
    return HolderLook::Found;
}

bool FirstShownToken(const char* lockFolder, ShownToken& shown) {
    return FindHolder(lockFolder, shown) == HolderLook::Found;
}

ShownTokenDelete DeleteShownToken(const char* lockFolder, const ShownToken& shown) {
    ShownTokenDelete outcome;
    // Opened by its name in any letter case, "ann" is another file than the "Ann" shown.
    const Removal removal = RemoveIfSame(lockFolder, shown.identity, outcome.error);
    if (removal == Removal::Deleted) {
        outcome.result = TokenDelete::Deleted;
        RemoveLifeSign(lockFolder, shown.identity);
    } else if (removal == Removal::Failed) {
        outcome.result = TokenDelete::Failed;
    } else {
        outcome.error = 0;
        outcome.result = FirstShownToken(lockFolder, outcome.holder) ? TokenDelete::Replaced : TokenDelete::Gone;
    }
    return outcome;
}
