// The file-system wrappers: errors as values, no boxes.
#include "shell/FileSystem.h"

#include "shell/Handles.h"
#include "shell/ParallelWork.h"
#include "shell/Trace.h"
#include "shell/TreeListing.h"
#include "shell/Wintools.h"

namespace {

// The shell never shows a window of its own: these run on workers, where a box would have
// no owner and hide behind the progress display while the period waits on it. Its failure
// comes back as a value, and the window thread says what went wrong.
constexpr FILEOP_FLAGS kUnseen = FOF_NOERRORUI | FOF_SILENT;                              // 0x404
constexpr FILEOP_FLAGS kDeleteFlags = FOF_FILESONLY | FOF_NOCONFIRMATION | kUnseen;     // 0x494
constexpr FILEOP_FLAGS kCopyFlags = FOF_NOCONFIRMMKDIR | FOF_NOCONFIRMATION | kUnseen;  // 0x614
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
    // The thread's last error names the failure; the shell's own code is kept for when
    // there is none.
    const int shellResult = Platform().shellFileOperation(&record);
    if (shellResult != 0) return FileOpResult::Failed(GetLastError(), shellResult);
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

bool Gone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// A read-only file name, deleted through one handle: the attribute is lifted for the
// delete only and then put back, since it belongs to the file, and another name of the
// file (a hard link in a live tree) keeps it. A link is taken as itself, never its target.
DWORD RemoveReadOnlyName(const std::wstring& call) {
    KernelHandle file(CreateFileW(call.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return GetLastError();
    FILE_BASIC_INFO had{};
    if (!GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &had, sizeof had)) return GetLastError();
    FILE_BASIC_INFO lifted{};  // times of 0 stay as they are
    lifted.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file.Get(), FileBasicInfo, &lifted, sizeof lifted)) return GetLastError();
    FILE_DISPOSITION_INFO disposition{TRUE};
    const DWORD error = SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition)
                            ? ERROR_SUCCESS
                            : GetLastError();
    FILE_BASIC_INFO back{};
    back.FileAttributes = had.FileAttributes;
    SetFileInformationByHandle(file.Get(), FileBasicInfo, &back, sizeof back);
    return error;
}

// One name: a file, an empty folder, or a link (junction, symbolic link), which goes as
// the link itself. Attributes are touched only when they are in the way.
DWORD RemoveEntry(const std::wstring& path, bool folder) {
    NoteFileCall(path);
    const std::wstring call = LongPathForm(path);
    const auto remove = [&] { return folder ? RemoveDirectoryW(call.c_str()) : DeleteFileW(call.c_str()); };
    if (remove()) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED) return error;
    if (!folder) return RemoveReadOnlyName(call);
    SetFileAttributesW(call.c_str(), FILE_ATTRIBUTE_NORMAL);  // a folder has no other names
    return remove() ? ERROR_SUCCESS : GetLastError();
}

// Deletes what is inside `folder`, then the folder: the files several at a time, then the
// folders, deepest first. With `stopAtError` the first error ends it; else every entry
// that will go goes, and what is gone already counts as deleted.
DWORD RemoveTreeEntries(const std::wstring& folder, bool stopAtError) {
    const DWORD attributes = GetFileAttributesW(LongPathForm(folder).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveEntry(folder, attributes & FILE_ATTRIBUTE_DIRECTORY);
    std::vector<TreeEntry> entries;
    std::string problem;
    // Without stopping, a part listed is a part deleted.
    if (!ListTree(folder, entries, problem, Links::Keep) && stopAtError) return GetLastError();
    const auto fine = [&](DWORD error) { return error == ERROR_SUCCESS || (!stopAtError && Gone(error)); };
    std::vector<const TreeEntry*> files, folders;
    for (const auto& entry : entries) (entry.folder ? folders : files).push_back(&entry);
    std::vector<DWORD> errors(files.size(), ERROR_SUCCESS);
    const size_t failed = ForEachInParallel(files.size(), kFileWorkThreads, [&](size_t i) {
        const DWORD error = RemoveEntry(JoinPath(folder, files[i]->relative), false);
        if (fine(error)) return true;
        errors[i] = error;
        return !stopAtError;
    });
    if (failed < files.size()) return errors[failed];
    DWORD first = ERROR_SUCCESS;
    for (const DWORD error : errors)
        if (first == ERROR_SUCCESS) first = error;
    // Parents come before their contents in the listing: deleted from the end.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        const DWORD error = RemoveEntry(JoinPath(folder, (*it)->relative), true);
        if (fine(error)) continue;
        if (stopAtError) return error;
        if (first == ERROR_SUCCESS) first = error;
    }
    const DWORD error = RemoveEntry(folder, true);
    if (fine(error)) return first;
    return first == ERROR_SUCCESS ? error : first;
}

// SystemErrorName's text for a code it does not know.
constexpr char kUnknownErrorName[] = "*UnKnwon Error*";

// What the shell's own result code means, for when the system gave no error. Codes not
// listed are system error codes (Wine gives 183 for a taken name, which the shell's own
// list would call "path too long").
std::string ShellResultText(int code) {
    static const struct {
        int code;
        const char* text;
    } kShellResults[] = {
        {0x71, "The source and the destination are the same file"},
        {0x72, "Several sources were given for one destination"},
        {0x73, "A rename cannot move to another folder"},
        {0x74, "A root folder cannot be moved or renamed"},
        {0x75, "The operation was cancelled"},
        {0x76, "The destination is inside the source"},
        {0x78, "Access to the source was denied"},
        {0x79, "The path is too long"},
        {0x7A, "Several destinations were given"},
        {0x7C, "The source or destination path is not valid"},
        {0x7D, "The source and the destination are in the same folder"},
        {0x7E, "The destination is an existing file"},
        {0x80, "The destination is an existing folder"},
        {0x81, "The file name is too long"},
        {0x85, "The file is too large for the destination"},
        {0x402, "The source or destination path is not valid"},
        {0x10000, "An error occurred at the destination"},
        {0x10074, "The destination is a root folder"},
    };
    for (const auto& known : kShellResults)
        if (known.code == code) return known.text;
    if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) return "The disk is full";
    const std::string name = SystemErrorName(code);
    if (code != 0 && name != kUnknownErrorName) return name;
    return "The operation failed without a reason from the system (result " + std::to_string(code) + ")";
}

// The full form of `path` against the current folder (the wide call: the ANSI one stops at
// MAX_PATH); the path itself when it cannot be had.
std::wstring FullWidePath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    return full;
}

FileOpResult FlushHandle(HANDLE handle) {
    if (Platform().flushFile(handle)) return FileOpResult::Done();
    return FileOpResult::Failed(GetLastError());
}

}  // namespace

Message FailureMessage(const FailureWording& wording, const FileOpResult& result) {
    if (result.cancelled) return {wording.title, wording.cancelledText};
    if (result.error == ERROR_SUCCESS) return {wording.title, ShellResultText(result.shellResult)};
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

FileOpResult RenameTreeAnyLength(const std::string& from, const std::string& to) {
    const std::wstring fullFrom = FullWidePath(Widen(from)), fullTo = FullWidePath(Widen(to));
    if (fullFrom.size() < MAX_PATH && fullTo.size() < MAX_PATH) return ShellRenameTree(from.c_str(), to.c_str());
    if (MoveFileExW(LongPathForm(fullFrom).c_str(), LongPathForm(fullTo).c_str(), 0)) return FileOpResult::Done();
    return FileOpResult::Failed(GetLastError());
}

bool PathExists(const std::wstring& path) {
    NoteFileCall(path);
    return GetFileAttributesW(LongPathForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileOpResult MakeFolder(const std::wstring& path) {
    NoteFileCall(path);
    if (CreateDirectoryW(LongPathForm(path).c_str(), nullptr)) return FileOpResult::Done();
    return FileOpResult::Failed(GetLastError());
}

FileOpResult RemoveTreeDirect(const std::wstring& folder) {
    if (!PathExists(folder)) return FileOpResult::Done();
    const DWORD error = RemoveTreeEntries(folder, true);
    return error == ERROR_SUCCESS ? FileOpResult::Done() : FileOpResult::Failed(error);
}

bool RemoveTreeBestEffort(const std::wstring& folder) { return RemoveTreeEntries(folder, false) == ERROR_SUCCESS; }

FileOpResult MoveEntry(const std::wstring& from, const std::wstring& to) {
    NoteFileCall(from);
    if (Platform().moveFile(LongPathForm(from).c_str(), LongPathForm(to).c_str(), 0)) return FileOpResult::Done();
    return FileOpResult::Failed(GetLastError());
}

FileOpResult RemoveOneFile(const std::wstring& path) {
    NoteFileCall(path);
    const DWORD error = RemoveEntry(path, false);
    return error == ERROR_SUCCESS || Gone(error) ? FileOpResult::Done() : FileOpResult::Failed(error);
}


FileOpResult FlushFile(const std::wstring& path) {
    NoteFileCall(path);
    const std::wstring file = LongPathForm(path);
    KernelHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (handle) return FlushHandle(handle.Get());
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(file.c_str());
    // Windows will not open a read-only file for writing: lifted for the flush, then put back.
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return FileOpResult::Failed(error);
    SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    handle.Reset(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr));
    const FileOpResult flushed = handle ? FlushHandle(handle.Get()) : FileOpResult::Failed(GetLastError());
    handle.Reset();
    SetFileAttributesW(file.c_str(), attributes);
    return flushed;
}

FileOpResult FlushFolder(const std::wstring& folder) {
    NoteFileCall(folder);
    // Write access and backup semantics: the only way to a folder handle that can be flushed.
    KernelHandle handle(CreateFileW(LongPathForm(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return FileOpResult::Failed(GetLastError());
    return FlushHandle(handle.Get());
}

std::wstring DurableTempName(const std::wstring& path) { return path + L".new"; }

FileOpResult WriteFileDurably(const std::wstring& plainPath, const std::string& content, FolderFlush folderFlush) {
    NoteFileCall(plainPath);
    const std::wstring path = LongPathForm(plainPath), temp = LongPathForm(DurableTempName(plainPath));
    {
        KernelHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        if (!file) return FileOpResult::Failed(GetLastError());
        DWORD written = 0;
        if (!WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
            written != content.size()) {
            const DWORD error = GetLastError();
            file.Reset();
            DeleteFileW(temp.c_str());
            return FileOpResult::Failed(error ? error : ERROR_WRITE_FAULT);
        }
        const FileOpResult flushed = FlushHandle(file.Get());
        if (!flushed) {
            file.Reset();
            DeleteFileW(temp.c_str());
            return flushed;
        }
    }
    if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        // The rename on the disk too; a folder that cannot be flushed is as durable as it gets.
        const size_t end = plainPath.find_last_of(L"\\/");
        if (end != std::wstring::npos && folderFlush == FolderFlush::Now) FlushFolder(plainPath.substr(0, end));
        return FileOpResult::Done();
    }
    const DWORD error = GetLastError();
    DeleteFileW(temp.c_str());
    return FileOpResult::Failed(error);
}

FileOpResult CopyOneFile(const std::wstring& from, const std::wstring& to, LPPROGRESS_ROUTINE progress,
                         void* context) {
    NoteFileCall(from);
    NoteFileCall(to);
    if (Platform().copyFile(LongPathForm(from).c_str(), LongPathForm(to).c_str(), progress, context, nullptr, COPY_FILE_FAIL_IF_EXISTS))
        return FileOpResult::Done();
    const DWORD error = GetLastError();
    if (error == ERROR_REQUEST_ABORTED) return FileOpResult::Cancelled();
    return FileOpResult::Failed(error);
}

FolderContent LookInFolder(const std::wstring& folder) {
    std::wstring path = folder;
    if (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    WIN32_FIND_DATAW data;
    FindHandle search(FindFirstFileW(LongPathForm(path + L"\\*").c_str(), &data));
    if (!search) return FolderContent::Unreadable;  // even an empty folder lists "." and ".."
    do {
        if (lstrcmpW(data.cFileName, L".") && lstrcmpW(data.cFileName, L"..")) return FolderContent::NotEmpty;
    } while (FindNextFileW(search.Get(), &data));
    return GetLastError() == ERROR_NO_MORE_FILES ? FolderContent::Empty : FolderContent::Unreadable;
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
