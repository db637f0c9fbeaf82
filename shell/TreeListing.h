// A folder tree listed with the wide calls, so that names outside the ANSI code page
// are seen as they are, and the check of a copy against such a listing. Beneath both
// the shell services (CopyTreeContents) and the tree transfer; calls nothing above it.
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
    // Zero where the file system gives none. The change time moves with every write,
    // also when a program puts the last-write time back afterwards.
    uint64_t fileId = 0;
    FILETIME changed{};
};

// Whether a listing goes into a folder that is a link (junction, symbolic link: a reparse
// point). A delete must not: what the link points to is not part of the tree.
enum class Links { Enter, Keep };

// Folders listed at once: each waits for the disk or the server, and a server answers
// many requests in flight.
constexpr size_t kListingThreads = 8;

// Every entry below `root`, parents before their contents, with file IDs and change
// times where the file system lists them, a folder at a time with large directory
// queries, several folders at once. False when any folder could not be listed to
// its end; `problem` then names it (and the thread's last error is the reason). A
// missing root is a problem too. With Links::Keep a link is listed as an entry of its
// own and nothing behind it.
bool ListTree(const std::wstring& root, std::vector<TreeEntry>& entries, std::string& problem,
              Links links = Links::Enter);
// The entries of one folder of the tree at `root` (`relative` empty for the root itself),
// named relative to `root`.
bool ListOneFolder(const std::wstring& root, const std::wstring& relative, std::vector<TreeEntry>& entries,
                   std::string& problem);
// A junction or symbolic link rather than the thing it points to.
inline bool IsLink(const TreeEntry& entry) { return (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// The copy at `copyRoot` holds every entry of the listing `source` (of `sourceRoot`),
// files with the same size; with `exact`, nothing else either. Otherwise `difference`
// names the first difference. Only what is found on disk counts: the shell reports
// success for copies that skipped files. `copyListing` (may be null) receives the copy as
// it was listed.
bool CopyMatchesSource(const std::vector<TreeEntry>& source, const std::wstring& sourceRoot,
                       const std::wstring& copyRoot, bool exact, std::string& difference,
                       std::vector<TreeEntry>* copyListing = nullptr);

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
// The form of an absolute path that the wide calls take at any length, whether or not the
// system allows long paths: "C:\a" as "\\?\C:\a", "\\server\share\a" as
// "\\?\UNC\server\share\a". That form is taken literally, so '/' becomes '\' and "." and
// ".." are resolved here as the system would. A relative path, or one already in that
// form, is returned as it is. For the calls only: messages show the path as given.
std::wstring LongPathForm(const std::wstring& path);
// The key under which the file system treats two names as the same.
std::wstring FoldedName(const std::wstring& name);

// Attribute bits that a copy carries and a comparison looks at.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
