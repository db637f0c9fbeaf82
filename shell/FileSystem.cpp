// The file-system wrappers: errors as values, no boxes.
#include "shell/FileSystem.h"

#include "shell/Handles.h"

#include "shell/TreeListing.h"
#include "shell/Wintools.h"

namespace {

constexpr FILEOP_FLAGS kDeleteFlags = FOF_FILESONLY | FOF_NOCONFIRMATION;     // 0x90
constexpr FILEOP_FLAGS kCopyFlags = FOF_NOCONFIRMMKDIR | FOF_NOCONFIRMATION;  // 0x210
// Handed to the shell but not shown (no FOF_SIMPLEPROGRESS).
constexpr char kDeleteProgressTitle[] = "Deleting old tree";
constexpr char kCopyProgressTitle[] = "Copying share data";

// `from` and `to` are made texts: the shell reads them as lists ended by an empty entry.
FileOpResult RunShellOperation(UINT function, FILEOP_FLAGS flags, const char* progressTitle, const char* from,
                               const char* to) {
    SHFILEOPSTRUCTA record{};
    record.hwnd = nullptr;
    record.wFunc = function;
    record.pFrom = from;
    record.pTo = to;
    record.fFlags = flags;
    record.fAnyOperationsAborted = FALSE;
    record.lpszProgressTitle = progressTitle;
    // The thread's last error, not the shell's own return code, names the failure.
    if (Platform().shellFileOperation(&record) != 0) return FileOpResult::Failed(GetLastError());
    if (record.fAnyOperationsAborted) return FileOpResult::Cancelled();
    return FileOpResult::Done();
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Length of the part that cannot be created: "C:\" or "\\server\share\".
size_t RootLength(const std::string& path) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t separators = 0;
        for (size_t i = 2; i < path.size(); ++i)
            if (IsSeparator(path[i]) && ++separators == 2) return i + 1;
        return path.size();
    }
    if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
    return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
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

}  // namespace

Message FailureMessage(const FailureWording& wording, const FileOpResult& result) {
    if (result.cancelled) return {wording.title, wording.cancelledText};
    return {wording.title, SystemErrorName(static_cast<int32_t>(result.error))};
}

FileOpResult ShellDeleteTree(const char* folder) {
    OwnedText from(ConcatText(folder));
    OwnedText to(ConcatText(nullptr));
    return RunShellOperation(FO_DELETE, kDeleteFlags, kDeleteProgressTitle, from.Get(), to.Get());
}

FileOpResult ShellCopyContents(const char* source, const char* destination) {
    OwnedText pattern(ConcatText(source, "\\*.*"));
    OwnedText to(ConcatText(destination));
    return RunShellOperation(FO_COPY, kCopyFlags, kCopyProgressTitle, pattern.Get(), to.Get());
}

FileOpResult ShellRenameTree(const char* from, const char* to) {
    OwnedText fullFrom(ConcatText(FullPathOf(from ? from : "").c_str()));
    OwnedText fullTo(ConcatText(FullPathOf(to ? to : "").c_str()));
    return RunShellOperation(FO_RENAME, kCopyFlags, kCopyProgressTitle, fullFrom.Get(), fullTo.Get());
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

FileOpResult MakeFolder(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) return FileOpResult::Done();
    return FileOpResult::Failed(GetLastError());
}

FileOpResult RemoveTreeDirect(const std::wstring& folder) {
    if (!PathExists(folder)) return FileOpResult::Done();
    const DWORD error = RemoveTreeEntries(folder);
    return error == ERROR_SUCCESS ? FileOpResult::Done() : FileOpResult::Failed(error);
}

FileOpResult CopyOneFile(const std::wstring& from, const std::wstring& to, LPPROGRESS_ROUTINE progress,
                         void* context) {
    if (Platform().copyFile(from.c_str(), to.c_str(), progress, context, nullptr, COPY_FILE_FAIL_IF_EXISTS))
        return FileOpResult::Done();
    const DWORD error = GetLastError();
    if (error == ERROR_REQUEST_ABORTED) return FileOpResult::Cancelled();
    return FileOpResult::Failed(error);
}

MadeFolders::MadeFolders(const std::string& path) {
    for (size_t i = RootLength(path); i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i])) continue;
        if (i == 0 || IsSeparator(path[i - 1])) continue;
        const std::string folder = path.substr(0, i);
        if (CreateDirectoryA(folder.c_str(), nullptr)) made_.push_back(folder);
    }
}

void MadeFolders::RemoveEmpty() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) RemoveDirectoryA(it->c_str());
    made_.clear();
}

FileOpResult FlushFolder(const std::wstring& folder) {
    KernelHandle handle(CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle || !FlushFileBuffers(handle.Get())) return FileOpResult::Failed(GetLastError());
    return FileOpResult::Done();
}
