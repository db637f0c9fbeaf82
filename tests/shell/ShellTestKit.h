// Shared pieces of the shell tests: recorders on the shell-operation and file-copy seams,
// handles held open without sharing, small trees built from a list, and the transfer
// with its messages shown as the window thread shows them.
#pragma once

#include "shell/Wintools.h"
#include "shell/transfer/Transfer.h"

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace shelltest {

// One call of the shell's file operation as the code under test made it.
struct ShellCall {
    UINT function = 0;
    std::string from;  // first entry of the list
    std::string to;
    bool fromIsList = false;  // ends in the second NUL
    bool toIsList = false;
    FILEOP_FLAGS flags = 0;
    std::string progressTitle;
    HWND owner = nullptr;
    int result = 0;
    DWORD lastError = 0;  // read right after the call, then put back
    bool aborted = false;
};

// Records every call through Platform().shellFileOperation and by default hands it to the
// real SHFileOperationA. A handler may act in its place, or before calling Real().
class ShellCalls {
public:
    using Handler = std::function<int(SHFILEOPSTRUCTA*)>;

    ShellCalls();
    ~ShellCalls();
    ShellCalls(const ShellCalls&) = delete;
    ShellCalls& operator=(const ShellCalls&) = delete;

    void SetHandler(Handler handler);
    static int Real(SHFILEOPSTRUCTA* op);
    std::vector<ShellCall> Calls() const;
    std::vector<UINT> Functions() const;

private:
    static int WINAPI Record(LPSHFILEOPSTRUCTA op);
    static ShellCalls* Active();

    int(WINAPI* previous_)(LPSHFILEOPSTRUCTA);
    Handler handler_;
    mutable std::mutex mutex_;
    std::vector<ShellCall> calls_;
};

// The user presses Cancel in the progress display before anything is copied.
int CancelAtOnce(SHFILEOPSTRUCTA* op);
// The shell refuses the operation with this error, touching nothing.
int RefuseWith(DWORD error);

// A path handed to a wide call as a message shows it: in the ANSI code page (as Narrow
// gives it), without the long-path prefix ("\\?\C:\a" is "C:\a", "\\?\UNC\s\a" is "\\s\a").
std::string ShownPath(LPCWSTR path);

// One call of the file copy (Platform().copyFile) as the code under test made it.
struct FileCopy {
    std::string from;  // as ShownPath gives it
    std::string to;
    std::wstring calledFrom, calledTo;  // exactly as the call was given them
    BOOL result = FALSE;
    DWORD lastError = 0;  // after a failure
};

// Records every call through Platform().copyFile and by default hands it to the real
// CopyFileExW. A handler may act in its place, or around a call of Real().
class FileCopies {
public:
    struct Call {
        LPCWSTR from;
        LPCWSTR to;
        LPPROGRESS_ROUTINE progress;
        LPVOID context;
        DWORD flags;
    };
    using Handler = std::function<BOOL(const Call&)>;

    FileCopies();
    ~FileCopies();
    FileCopies(const FileCopies&) = delete;
    FileCopies& operator=(const FileCopies&) = delete;

    void SetHandler(Handler handler);
    static BOOL Real(const Call& call);
    std::vector<FileCopy> Copies() const;

private:
    static BOOL WINAPI Record(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE progress, LPVOID context, LPBOOL cancel,
                              DWORD flags);

    BOOL(WINAPI* previous_)(LPCWSTR, LPCWSTR, LPPROGRESS_ROUTINE, LPVOID, LPBOOL, DWORD);
    Handler handler_;
    mutable std::mutex mutex_;
    std::vector<FileCopy> copies_;
};

// Records every move through Platform().moveFile (an entry of a tree into its undo folder
// and back) and by default hands it to the real MoveFileExW. A handler may act in its
// place, or around a call of Real().
class FileMoves {
public:
    struct Call {
        LPCWSTR from;
        LPCWSTR to;
        DWORD flags;
    };
    using Handler = std::function<BOOL(const Call&)>;

    FileMoves();
    ~FileMoves();
    FileMoves(const FileMoves&) = delete;
    FileMoves& operator=(const FileMoves&) = delete;

    void SetHandler(Handler handler);
    static BOOL Real(const Call& call);
    // Each move as "from -> to", the paths as ShownPath gives them.
    std::vector<std::string> Moves() const;

private:
    static BOOL WINAPI Record(LPCWSTR from, LPCWSTR to, DWORD flags);

    BOOL(WINAPI* previous_)(LPCWSTR, LPCWSTR, DWORD);
    Handler handler_;
    mutable std::mutex mutex_;
    std::vector<std::string> moves_;
};

// A kill, shown by what it leaves on disk: the folder `work` is copied (under `store`,
// numbered) at each moment a kill could strike while `run` goes on (before each rename,
// each move and each file copy, and in the middle of a copy, with the file cut short), and
// once more at the end. PutBack makes `work` what it was at a moment.
class KillMoments {
public:
    KillMoments(std::string work, std::string store) : work_(std::move(work)), store_(std::move(store)) {}
    std::vector<std::string> Take(const std::function<void()>& run);
    void PutBack(const std::string& moment) const;

private:
    std::string work_, store_;
    int taken_ = 0;
};

// The copy ends as a cancel from its progress display ends it, copying nothing.
BOOL CancelCopy();
// The copy fails with this error, copying nothing.
BOOL FailCopyWith(DWORD error);

// The transfer (and the repair) with its messages shown as boxes, in order, as the window
// thread shows them; true when it succeeded.
bool TransferShown(const std::string& source, const std::string& destination, TransferProgress* progress = nullptr);
bool RepairShown(const std::string& destination);

// A file or folder opened by another handle that shares nothing, as a program that
// holds it would.
class HeldOpen {
public:
    explicit HeldOpen(const std::string& path);
    ~HeldOpen() { Release(); }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Release();

private:
    HANDLE handle_;
};

// Entries relative to `root`: a name ending in '\' is a folder, anything else a file
// with the given content. Parents are made as needed.
using TreeContents = std::vector<std::pair<std::string, std::string>>;
void MakeTree(const std::string& root, const TreeContents& entries);

// Files (not folders) in the tree at `root`.
uint64_t FilesIn(const std::string& root);
// Fails the test, naming the first difference, unless both trees hold the same entries
// with the same content, sizes, times and attributes.
void ExpectSameTree(const std::string& a, const std::string& b);
// A file's ID and how many names (hard links) it has; zeros when it cannot be read.
struct FileIdentity {
    uint64_t id = 0;
    DWORD links = 0;
};
FileIdentity IdentityOf(const std::string& path);

// Records, for its life, each file and folder flushed through Platform().flushFile, in
// order, by the full name the system gives it, in upper case. The transfer flushes on
// several threads. A test may note its own events in the same log.
class FlushedFiles {
public:
    FlushedFiles();
    ~FlushedFiles();
    FlushedFiles(const FlushedFiles&) = delete;
    FlushedFiles& operator=(const FlushedFiles&) = delete;

    void Note(const std::string& event);
    std::vector<std::string> Log() const;
    bool Has(const std::string& path) const;  // any letter case

private:
    static BOOL WINAPI Record(HANDLE handle);
    BOOL(WINAPI* previous_)(HANDLE);
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
};

// The name FlushedFiles logs for `path`.
std::string FlushedName(std::string path);

// A failed copy step's boxes, in order: the copy's own ("Copying" and what failed), then
// the step's "Copying" / "Error occuried during filecopy". Returns the first box's text.
std::string ExpectCopyStepFailed(const std::vector<std::pair<std::string, std::string>>& seen);

// The text the shell-operation box shows for a recorded failure: the name of the last
// error when the shell reported it, else the copy check's text, which names a path.
bool IsFailureText(const std::string& text, const ShellCall& call, const std::string& path);
// The box of a failed shell call names a failure: the last error's name when there is one,
// else something other than "no error".
bool NamesTheFailure(const std::string& text, const ShellCall& call);

}  // namespace shelltest
