// A rival PC at the instant of the lock token's create, through the platform seam.
#pragma once

#include "shell/Wintools.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// While it lives, the first token create of this process is met by another PC's token
// appearing in the very same instant: the look that follows sees both, and the take
// backs off. One at a time; the previous create is put back on destruction.
class RivalAtTheCreate {
public:
    explicit RivalAtTheCreate(std::string rivalToken);
    ~RivalAtTheCreate();
    RivalAtTheCreate(const RivalAtTheCreate&) = delete;
    RivalAtTheCreate& operator=(const RivalAtTheCreate&) = delete;

    // A program on another PC also opens our new token, without delete sharing, and
    // keeps it open until this ends: our token cannot be taken away again.
    void AlsoHoldOurs() { holdOurs_ = true; }
    int Creates() const { return creates_; }

private:
    static HANDLE WINAPI Create(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                                DWORD flags, HANDLE pattern);

    static inline std::string rivalToken_;
    static inline HANDLE keptOpen_ = nullptr;
    static inline bool holdOurs_ = false;
    static inline int creates_ = 0;
    decltype(PlatformCalls::createFile) previous_;
};

// While it lives, listings of any folder are served as a cache made before the named
// entries appeared: they are left out, as another PC's new token is for up to ten
// seconds. What this process makes itself is listed, as its own cache would show it.
class StaleListing {
public:
    explicit StaleListing(std::vector<std::wstring> notYetListed);
    ~StaleListing();
    StaleListing(const StaleListing&) = delete;
    StaleListing& operator=(const StaleListing&) = delete;

private:
    static bool Withheld(const WIN32_FIND_DATAW& data);
    static HANDLE WINAPI FindFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
    static BOOL WINAPI FindNext(HANDLE search, LPWIN32_FIND_DATAW data);

    static inline std::vector<std::wstring> withheld_;
    decltype(PlatformCalls::findFirstFileW) previousFirst_;
    decltype(PlatformCalls::findNextFileW) previousNext_;
};

// While it lives, listings of the folder of `deletedToken` still show that file after it
// was deleted, as a share's cache shows another PC's deleted token for up to ten seconds;
// until this process creates a file itself (its own create refreshes its own cache).
// The file must exist when this is made: its listing data is kept.
class GoneButStillListed {
public:
    explicit GoneButStillListed(const std::string& deletedToken);
    ~GoneButStillListed();
    GoneButStillListed(const GoneButStillListed&) = delete;
    GoneButStillListed& operator=(const GoneButStillListed&) = delete;

private:
    static HANDLE WINAPI Create(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                                DWORD flags, HANDLE pattern);
    static HANDLE WINAPI FindFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
    static BOOL WINAPI FindNext(HANDLE search, LPWIN32_FIND_DATAW data);

    static inline WIN32_FIND_DATAW ghost_{};
    static inline bool cached_ = false;
    static inline std::vector<WIN32_FIND_DATAW> served_;  // the rest of the current listing
    decltype(PlatformCalls::createFile) previousCreate_;
    decltype(PlatformCalls::findFirstFileW) previousFirst_;
    decltype(PlatformCalls::findNextFileW) previousNext_;
};

}  // namespace testsupport
