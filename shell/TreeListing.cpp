#include "shell/TreeListing.h"

#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <map>

namespace {

bool IsDots(const wchar_t* name) { return !lstrcmpW(name, L".") || !lstrcmpW(name, L".."); }

std::string CannotRead(const std::wstring& folder, DWORD error) {
    return "Cannot read folder: " + Narrow(folder) + " (" + SystemErrorName(static_cast<int32_t>(error)) + ")";
}

// Lists one folder into `entries`; subfolders are queued in `pending`.
bool ListFolder(const std::wstring& root, const std::wstring& relative, std::vector<TreeEntry>& entries,
                std::vector<std::wstring>& pending, std::string& problem, Links links) {
    const std::wstring folder = relative.empty() ? root : JoinPath(root, relative);
    WIN32_FIND_DATAW data;
    FindHandle search(FindFirstFileW(JoinPath(folder, L"*").c_str(), &data));
    if (!search) {
        const DWORD error = GetLastError();
        // An empty folder has no "." on some file systems: that is no error.
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
        problem = CannotRead(folder, error);
        SetLastError(error);
        return false;
    }
    do {
        if (IsDots(data.cFileName)) continue;
        TreeEntry entry;
        entry.relative = relative.empty() ? data.cFileName : JoinPath(relative, data.cFileName);
        entry.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = entry.folder ? 0 : (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.written = data.ftLastWriteTime;
        entry.attributes = data.dwFileAttributes;
        if (entry.folder && (links == Links::Enter || !IsLink(entry))) pending.push_back(entry.relative);
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search.Get(), &data));
    // A listing cut short by anything but its end is not a listing of the folder.
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        problem = CannotRead(folder, error);
        SetLastError(error);
        return false;
    }
    return true;
}

}  // namespace

bool ListTree(const std::wstring& root, std::vector<TreeEntry>& entries, std::string& problem, Links links) {
    entries.clear();
    const DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        problem = CannotRead(root, error);
        SetLastError(error);
        return false;
    }
    std::vector<std::wstring> pending{L""};
    while (!pending.empty()) {
        const std::wstring relative = pending.back();
        pending.pop_back();
        if (!ListFolder(root, relative, entries, pending, problem, links)) return false;
    }
    return true;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') return folder + L"\\" + name;
    return folder + name;
}

std::wstring FoldedName(const std::wstring& name) {
    std::wstring folded = name;
    if (!folded.empty()) CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    return folded;
}

bool CopyMatchesSource(const std::vector<TreeEntry>& source, const std::wstring& sourceRoot,
                       const std::wstring& copyRoot, bool exact, std::string& difference) {
    std::vector<TreeEntry> copied;
    if (!ListTree(copyRoot, copied, difference)) return false;
    std::map<std::wstring, const TreeEntry*> byName;
    for (const auto& entry : copied) byName[FoldedName(entry.relative)] = &entry;

    for (const auto& entry : source) {
        const auto found = byName.find(FoldedName(entry.relative));
        const std::wstring sourcePath = JoinPath(sourceRoot, entry.relative);
        if (found == byName.end() || found->second->folder != entry.folder) {
            difference = "Not copied: " + Narrow(sourcePath);
            return false;
        }
        if (found->second->size != entry.size) {
            difference = "Copied with a different size: " + Narrow(sourcePath);
            return false;
        }
        byName.erase(found);
    }
    if (exact && !byName.empty()) {
        difference = "Not in the source: " + Narrow(JoinPath(copyRoot, byName.begin()->second->relative));
        return false;
    }
    return true;
}
