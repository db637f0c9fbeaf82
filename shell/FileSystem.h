// Thin wrappers over the file-system calls beneath the shell services and the tree
// transfer, in the manner of 7-Zip's Windows/FileDir.h. Each returns its outcome as a
// value and never shows a box: the caller words a failure (FailureMessage) and decides
// whether, when and on which thread it is shown.
#pragma once

#include "shell/Message.h"

#include <windows.h>

#include <string>
#include <vector>

// What an operation did: done, failed with a system error, or cancelled.
struct FileOpResult {
    bool ok = true;
    DWORD error = ERROR_SUCCESS;  // failed: the system error that names the failure
    bool cancelled = false;       // failed: the user (or a progress record) cancelled
    int shellResult = 0;          // failed in the shell: its own result code

    static FileOpResult Done() { return {}; }
    static FileOpResult Failed(DWORD error, int shellResult = 0) { return {false, error, false, shellResult}; }
    static FileOpResult Cancelled() { return {false, ERROR_CANCELLED, true, 0}; }
    explicit operator bool() const { return ok; }
};

// How a failed operation is worded in its box: the title, and the text when it was
// cancelled; any other failure shows the name of its system error or, when the system
// gave none (the shell under Wine leaves the last error 0), what the shell's result says.
struct FailureWording {
    const char* title;
    const char* cancelledText;
};
constexpr FailureWording kDeleteWording{"Deleting", "User aborted delete"};
constexpr FailureWording kCopyWording{"Copying", "User aborted copy"};
constexpr FailureWording kRenameWording{"renaming", "User aborted copy"};
Message FailureMessage(const FailureWording& wording, const FileOpResult& result);

// ---- Through the shell's file operation (SHFileOperationA, the Platform() seam) --------
// No owner window, and the shell shows neither its progress nor its error displays
// (FOF_SILENT | FOF_NOERRORUI): a failure comes back as the result. A non-zero
// return fails with the thread's last error read right after the call (under Wine that
// can be ERROR_SUCCESS); the shell's "aborted" indication counts as cancelled.
FileOpResult ShellDeleteTree(const char* folder);                             // FO_DELETE, 0x494
FileOpResult ShellCopyContents(const char* source, const char* destination);  // FO_COPY source\*.*, 0x614
// FO_RENAME, 0x614; both names are resolved to full paths first (a bare name would be
// taken from the process's current folder).
FileOpResult ShellRenameTree(const char* from, const char* to);
// Renames a folder tree through ShellRenameTree while both full paths fit the shell (under
// MAX_PATH), else with MoveFileExW on their long forms: the shell cannot take longer ones.
// The outcome reads the same either way.
FileOpResult RenameTreeAnyLength(const std::string& from, const std::string& to);

// ---- Direct calls on wide paths (any name, also outside the ANSI code page) -----------
bool PathExists(const std::wstring& path);
// One folder; its parent must exist, and an existing folder is a failure.
FileOpResult MakeFolder(const std::wstring& path);
// Moves a file or a folder tree to a new name on the same volume (Platform().moveFile),
// never over an existing one.
FileOpResult MoveEntry(const std::wstring& from, const std::wstring& to);
// Deletes one file, a read-only one too; a missing file counts as deleted.
FileOpResult RemoveOneFile(const std::wstring& path);
// Deletes a tree with everything in it, read-only entries included, without the shell
// (whose delete costs as much as a copy). The first error stops it; a missing folder
// counts as deleted. A link (junction, symbolic link) is removed as a link, never entered:
// what it points to stays as it is.
FileOpResult RemoveTreeDirect(const std::wstring& folder);
// The same, going on past what will not go (a file another program holds open); what is
// gone already (another PC deleting the same tree) counts as deleted. True when all went.
bool RemoveTreeBestEffort(const std::wstring& folder);
// What a folder holds: nothing at all, something (a subfolder, a hidden file too), or it
// cannot be listed, which never passes for empty: data a fill would bury may be there.
enum class FolderContent { Empty, NotEmpty, Unreadable };
FolderContent LookInFolder(const std::wstring& folder);
// Puts a file's data on disk (FlushFileBuffers through Platform().flushFile).
FileOpResult FlushFile(const std::wstring& file);
// Puts a folder's entries (names made, renamed, removed) on disk. Not every file system
// can (a share may refuse): callers take a failure as "as durable as it gets".
FileOpResult FlushFolder(const std::wstring& folder);
// Replaces `path` with `content` so that, whatever happens, it holds the old or the new
// content whole: written to a temporary name beside it, flushed, then renamed over it. The
// rename is put on disk too, unless the caller flushes that folder itself right after.
enum class FolderFlush { Now, ByCaller };
FileOpResult WriteFileDurably(const std::wstring& path, const std::string& content,
                              FolderFlush folderFlush = FolderFlush::Now);
// The temporary name WriteFileDurably writes to before the rename.
std::wstring DurableTempName(const std::wstring& path);
// Copies one file with CopyFileExW through Platform().copyFile, never over an existing
// file; attributes and last-write time go with it. `progress` (may be null) is called as
// the bytes go; its PROGRESS_CANCEL, or ERROR_REQUEST_ABORTED from the call, is a cancel.
// Wine 8 never calls the routine: there the caller sees a cancel only between files.
FileOpResult CopyOneFile(const std::wstring& from, const std::wstring& to, LPPROGRESS_ROUTINE progress,
                         void* context);

// Makes a folder and its missing parents, parents first (an existing one is fine), and
// remembers which it made so that a failed copy leaves none of them behind.
class MadeFolders {
public:
    explicit MadeFolders(const std::string& path);
    // Removes what was made, deepest first, as long as it is still empty.
    void RemoveEmpty();

private:
    std::vector<std::string> made_;
};
