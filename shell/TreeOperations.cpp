// Delete, copy and rename of folder trees through the shell's file operation.
#include "shell/Wintools.h"

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

std::string Join(const std::string& folder, const char* name) {
    if (!folder.empty() && !IsSeparator(folder.back())) return folder + "\\" + name;
    return folder + name;
}

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

// Every folder and file of `source` is in `destination`, files with the same size.
// Leaves a description of the first difference in `difference`.
bool SameEntries(const std::string& source, const std::string& destination, std::string& difference) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(Join(source, "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND && IsFolder(source)) return true;  // an empty root
        difference = "Cannot read folder: " + source;
        return false;
    }
    bool same = true;
    do {
        const char* name = data.cFileName;
        if (!lstrcmpA(name, ".") || !lstrcmpA(name, "..")) continue;
        const std::string from = Join(source, name), to = Join(destination, name);
        WIN32_FILE_ATTRIBUTE_DATA copied;
        const bool present = GetFileAttributesExA(to.c_str(), GetFileExInfoStandard, &copied) != 0;
        const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!present || folder != ((copied.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
            difference = "Not copied: " + from;
            same = false;
        } else if (folder) {
            same = SameEntries(from, to, difference);
        } else if (data.nFileSizeLow != copied.nFileSizeLow || data.nFileSizeHigh != copied.nFileSizeHigh) {
            difference = "Copied with a different size: " + from;
            same = false;
        }
    } while (same && FindNextFileA(search, &data));
    FindClose(search);
    return same;
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
    // An empty source would make the pattern "\*.*": the whole root of the current drive.
    if (!source || !*source) return ShowErrorMessage(nullptr, kCopy.failureTitle, "No source folder given");
    OwnedText pattern(ConcatText(source, "\\*.*"));
    OwnedText to(ConcatText(destination));
    // Made before the copy: left to make it, Wine turns the destination into a file
    // when the source holds one file, into the lone subfolder when it holds only that,
    // and into nothing when it is empty. Windows copies the same either way.
    MadeFolders made(to.Str());
    // A file in the destination's place would be overwritten by Wine with a lone source file.
    if (PathExists(to.Get()) && !IsFolder(to.Str()))
        return ShowErrorMessage(nullptr, kCopy.failureTitle, (std::string("Not a folder: ") + to.Str()).c_str());
    if (!RunShellOperation(kCopy, pattern.Get(), to.Get())) {
        made.RemoveEmpty();
        return false;
    }
    // Wine reports success for a copy that skipped files (unreadable source, unwritable
    // or locked destination, missing source): only a complete copy counts.
    std::string difference;
    if (!IsFolder(to.Str())) {
        difference = std::string("Not a folder: ") + to.Str();
    } else if (SameEntries(source ? source : "", to.Str(), difference)) {
        return true;
    }
    made.RemoveEmpty();
    return ShowErrorMessage(nullptr, kCopy.failureTitle, difference.c_str());
}

bool RenameTree(const char* from, const char* to) {
    // A bare name would be taken from the process's current folder, not the source's.
    OwnedText fullFrom(FullPath(from ? from : ""));
    OwnedText fullTo(FullPath(to ? to : ""));
    return RunShellOperation(kRename, fullFrom.Get(), fullTo.Get());
}
