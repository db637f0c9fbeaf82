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

}  // namespace testsupport
