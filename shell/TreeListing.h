// A folder tree listed with the wide calls, so that names outside the ANSI code page
// are seen as they are. The transfer, its verification, its repair and the record of
// unsaved work all look at trees through this.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct TreeEntry {
    std::wstring relative;  // below the listed root, '\'-separated
    bool folder = false;
    uint64_t size = 0;
    FILETIME written{};
    DWORD attributes = 0;
};

// Every entry below `root`, parents before their contents. False when any folder could
// not be listed to its end; `problem` then names it. A missing root is a problem too.
bool ListTree(const std::wstring& root, std::vector<TreeEntry>& entries, std::string& problem);

// Relative names, sizes, last-write times and kinds, independent of listing order.
uint64_t TreeFingerprint(const std::vector<TreeEntry>& entries);
// The fingerprint of the tree at `folder`; false when it cannot be listed whole.
bool FingerprintFolder(const char* folder, uint64_t& fingerprint);

// Paths cross between the ANSI interfaces and the wide calls here.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);  // for messages: what the ANSI code page can show
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
// The key under which the file system treats two names as the same.
std::wstring FoldedName(const std::wstring& name);

// Attribute bits that a copy carries and a comparison looks at.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
