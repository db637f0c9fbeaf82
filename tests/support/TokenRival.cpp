#include "support/TokenRival.h"

#include "support/TempDir.h"

namespace testsupport {

RivalAtTheCreate::RivalAtTheCreate(std::string rivalToken) : previous_(Platform().createFile) {
    rivalToken_ = std::move(rivalToken);
    keptOpen_ = nullptr;
    holdOurs_ = false;
    creates_ = 0;
    Platform().createFile = Create;
}

RivalAtTheCreate::~RivalAtTheCreate() {
    Platform().createFile = previous_;
    if (keptOpen_) CloseHandle(keptOpen_);
    keptOpen_ = nullptr;
}

HANDLE WINAPI RivalAtTheCreate::Create(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                       DWORD how, DWORD flags, HANDLE pattern) {
    HANDLE file = CreateFileA(path, access, share, security, how, flags, pattern);
    ++creates_;
    if (file == INVALID_HANDLE_VALUE || creates_ > 1) return file;
    WriteFile(rivalToken_, "1");
    if (holdOurs_)
        DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &keptOpen_, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return file;
}

StaleListing::StaleListing(std::vector<std::wstring> notYetListed)
    : previousFirst_(Platform().findFirstFileW), previousNext_(Platform().findNextFileW) {
    withheld_ = std::move(notYetListed);
    Platform().findFirstFileW = FindFirst;
    Platform().findNextFileW = FindNext;
}

StaleListing::~StaleListing() {
    Platform().findFirstFileW = previousFirst_;
    Platform().findNextFileW = previousNext_;
    withheld_.clear();
}

bool StaleListing::Withheld(const WIN32_FIND_DATAW& data) {
    for (const std::wstring& name : withheld_)
        if (lstrcmpiW(name.c_str(), data.cFileName) == 0) return true;
    return false;
}

HANDLE WINAPI StaleListing::FindFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    HANDLE search = FindFirstFileW(pattern, data);
    if (search == INVALID_HANDLE_VALUE || !Withheld(*data) || FindNext(search, data)) return search;
    FindClose(search);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI StaleListing::FindNext(HANDLE search, LPWIN32_FIND_DATAW data) {
    while (FindNextFileW(search, data))
        if (!Withheld(*data)) return TRUE;
    return FALSE;
}

GoneButStillListed::GoneButStillListed(const std::string& deletedToken)
    : previousCreate_(Platform().createFile),
      previousFirst_(Platform().findFirstFileW),
      previousNext_(Platform().findNextFileW) {
    HANDLE search = FindFirstFileW(Widen(deletedToken).c_str(), &ghost_);
    cached_ = search != INVALID_HANDLE_VALUE;
    if (cached_) FindClose(search);
    served_.clear();
    Platform().createFile = Create;
    Platform().findFirstFileW = FindFirst;
    Platform().findNextFileW = FindNext;
}

GoneButStillListed::~GoneButStillListed() {
    Platform().createFile = previousCreate_;
    Platform().findFirstFileW = previousFirst_;
    Platform().findNextFileW = previousNext_;
    cached_ = false;
    served_.clear();
}

HANDLE WINAPI GoneButStillListed::Create(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                         DWORD how, DWORD flags, HANDLE pattern) {
    HANDLE file = CreateFileA(path, access, share, security, how, flags, pattern);
    if (file != INVALID_HANDLE_VALUE) cached_ = false;
    return file;
}

// The real listing with the ghost put first when the real one no longer has it.
HANDLE WINAPI GoneButStillListed::FindFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    served_.clear();
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    bool ghostThere = false;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ghostThere = ghostThere || lstrcmpiW(entry.cFileName, ghost_.cFileName) == 0;
            served_.push_back(entry);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    if (cached_ && !ghostThere) served_.insert(served_.begin(), ghost_);
    if (served_.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = served_.front();
    served_.erase(served_.begin());
    // Any live find handle will do for the caller to close: the entries come from here.
    const std::wstring self = std::wstring(pattern).substr(0, std::wstring(pattern).find_last_of(L"\\/") + 1) + L"*";
    return FindFirstFileW(self.c_str(), &entry);
}

BOOL WINAPI GoneButStillListed::FindNext(HANDLE, LPWIN32_FIND_DATAW data) {
    if (served_.empty()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = served_.front();
    served_.erase(served_.begin());
    return TRUE;
}

}  // namespace testsupport
