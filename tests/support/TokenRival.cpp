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

}  // namespace testsupport
