// Delete, copy and rename of folder trees through the shell's file operation.
#include "shell/Wintools.h"

#include "shell/TreeCopy.h"

#include <string>
#include <vector>

namespace {

constexpr FILEOP_FLAGS kDeleteFlags = FOF_FILESONLY | FOF_NOCONFIRMATION;     // 0x90
constexpr FILEOP_FLAGS kCopyFlags = FOF_NOCONFIRMMKDIR | FOF_NOCONFIRMATION;  // 0x210

struct ShellOperation {
    UINT function;
    FILEOP_FLAGS flags;
    const char* progressTitle;
    const char* failureTitle;
    const char* abortedText;
};

const ShellOperation kDelete{FO_DELETE, kDeleteFlags, "Deleting old tree", "Deleting", "User aborted delete"};
const ShellOperation kCopy{FO_COPY, kCopyFlags, "Copying share data", "Copying", "User aborted copy"};
const ShellOperation kRename{FO_RENAME, kCopyFlags, "Copying share data", "renaming", "User aborted copy"};

// `from` and `to` are made texts: the shell reads them as lists ended by an empty entry.
bool RunShellOperation(const ShellOperation& op, const char* from, const char* to) {
    SHFILEOPSTRUCTA record{};
    record.hwnd = nullptr;
    record.wFunc = op.function;
    record.pFrom = from;
    record.pTo = to;
    record.fFlags = op.flags;
    record.fAnyOperationsAborted = FALSE;
    record.lpszProgressTitle = op.progressTitle;
    if (Platform().shellFileOperation(&record) != 0) {
        // The thread's last error, not the shell's own return code, names the failure.
        return ShowErrorMessage(nullptr, op.failureTitle, SystemErrorName(static_cast<int32_t>(GetLastError())));
    }
    if (record.fAnyOperationsAborted) return ShowErrorMessage(nullptr, op.failureTitle, op.abortedText);
    return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsFolder(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Length of the part that cannot be created: "C:\" or "\\server\share\".
size_t RootLength(const std::string& path) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t separators = 0;
        for (size_t i = 2; i < path.size(); ++i)
            if (IsSeparator(path[i]) && ++separators == 2) return i + 1;
        return path.size();
    }
    if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
    return IsSeparator(path[0]) ? 1 : 0;
}

// The folders made for a copy destination, so that a failed copy leaves none behind.
class MadeFolders {
public:
    // Makes `path` and its missing parents, parents first; an existing one is fine.
    explicit MadeFolders(const std::string& path) {
        for (size_t i = RootLength(path); i <= path.size(); ++i) {
            if (i < path.size() && !IsSeparator(path[i])) continue;
            if (i == 0 || IsSeparator(path[i - 1])) continue;
            const std::string folder = path.substr(0, i);
            if (CreateDirectoryA(folder.c_str(), nullptr)) made_.push_back(folder);
        }
    }
    // Removes what was made, deepest first, as long as it is still empty.
    void RemoveEmpty() {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) RemoveDirectoryA(it->c_str());
        made_.clear();
    }

private:
    std::vector<std::string> made_;
};

// A wide list of paths as the shell reads it: each ended by a NUL, the list by another.
std::wstring PathList(const std::vector<std::wstring>& paths) {
    std::wstring list;
    for (const auto& path : paths) {
        list += path;
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return list;
}

// Deletes what is inside `folder`, then the folder; the first error stops it.
DWORD RemoveTreeEntries(const std::wstring& folder) {
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(folder, entries, problem)) return GetLastError();
    // Parents come before their contents in the listing: delete from the end.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const std::wstring path = JoinPath(folder, it->relative);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!(it->folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str()))) return GetLastError();
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(folder.c_str()) ? ERROR_SUCCESS : GetLastError();
}

// A made text holding the full form of `path`.
char* FullPath(const char* path) {
    const DWORD needed = GetFullPathNameA(path, 0, nullptr, nullptr);
    if (needed == 0) return ConcatText(path);
    std::vector<char> full(needed + 1);
    const DWORD n = GetFullPathNameA(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    return ConcatText(n > 0 && n < full.size() ? full.data() : path);
}

}  // namespace

bool DeleteTree(const char* folder) {
    if (!PathExists(folder)) return false;
    OwnedText from(ConcatText(folder));
    OwnedText to(ConcatText(nullptr));
    return RunShellOperation(kDelete, from.Get(), to.Get());
}

bool CopyTreeContents(const char* source, const char* destination) {
    // An empty source would make the pattern "\\*.*": the whole root of the current drive.
    if (!source || !*source) return ShowErrorMessage(nullptr, kCopy.failureTitle, "No source folder given");
    OwnedText to(ConcatText(destination));
    // Made before the copy: left to make it, Wine turns the destination into a file
    // when the source holds one file, into the lone subfolder when it holds only that,
    // and into nothing when it is empty. Windows copies the same either way.
    MadeFolders made(to.Str());
    // A file in the destination's place would be overwritten by Wine with a lone source file.
    if (PathExists(to.Get()) && !IsFolder(to.Str()))
        return ShowErrorMessage(nullptr, kCopy.failureTitle, (std::string("Not a folder: ") + to.Str()).c_str());
    if (!ShellCopyContents(source, to.Get())) {
        made.RemoveEmpty();
        return false;
    }
    // Wine reports success for a copy that skipped files (unreadable source, unwritable
    // or locked destination, missing source): only a complete copy counts.
    std::string difference;
    std::vector<TreeEntry> sourceEntries;
    const std::wstring sourceRoot = Widen(source);
    if (ListTree(sourceRoot, sourceEntries, difference) &&
        CopyMatchesSource(sourceEntries, sourceRoot, Widen(to.Str()), false, difference))
        return true;
    made.RemoveEmpty();
    return ShowErrorMessage(nullptr, kCopy.failureTitle, difference.c_str());
}

bool ShellCopyContents(const char* source, const char* destination) {
    OwnedText pattern(ConcatText(source, "\\*.*"));
    OwnedText to(ConcatText(destination));
    return RunShellOperation(kCopy, pattern.Get(), to.Get());
}

bool ShellCopyFiles(const std::vector<std::pair<std::wstring, std::wstring>>& files) {
    if (files.empty()) return true;
    std::vector<std::wstring> from, to;
    for (const auto& file : files) {
        from.push_back(file.first);
        to.push_back(file.second);
    }
    // Wide, because a name outside the ANSI code page cannot be named to the A call.
    const std::wstring fromList = PathList(from), toList = PathList(to);
    const std::wstring progressTitle = Widen(kCopy.progressTitle);
    SHFILEOPSTRUCTW record{};
    record.wFunc = FO_COPY;
    record.pFrom = fromList.c_str();
    record.pTo = toList.c_str();
    record.fFlags = kCopy.flags | FOF_MULTIDESTFILES;
    record.lpszProgressTitle = progressTitle.c_str();
    if (Platform().shellFileOperationW(&record) != 0)
        return ShowErrorMessage(nullptr, kCopy.failureTitle, SystemErrorName(static_cast<int32_t>(GetLastError())));
    if (record.fAnyOperationsAborted) return ShowErrorMessage(nullptr, kCopy.failureTitle, kCopy.abortedText);
    return true;
}

bool RemoveTreeDirect(const std::wstring& folder, bool quiet) {
    if (!PathExistsW(folder)) return true;
    const DWORD error = RemoveTreeEntries(folder);
    if (error == ERROR_SUCCESS) return true;
    return quiet ? false : ShowErrorMessage(nullptr, kDelete.failureTitle, SystemErrorName(static_cast<int32_t>(error)));
}

bool PathExistsW(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RenameTree(const char* from, const char* to) {
    // A bare name would be taken from the process's current folder, not the source's.
    OwnedText fullFrom(FullPath(from ? from : ""));
    OwnedText fullTo(FullPath(to ? to : ""));
    return RunShellOperation(kRename, fullFrom.Get(), fullTo.Get());
}
