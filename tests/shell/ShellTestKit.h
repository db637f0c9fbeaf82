// Shared pieces of the shell tests: a recorder on the shell-operation seam, handles
// held open without sharing, and small trees built from a list.
#pragma once

#include "shell/Wintools.h"

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
    bool wide = false;  // made through the wide call (single files, any name)
    size_t entries = 1;  // paths in the from list
};

// Records every call through Platform().shellFileOperation and by default hands it to the
// real SHFileOperationA. A handler may act in its place, or before calling Real().
class ShellCalls {
public:
    using Handler = std::function<int(SHFILEOPSTRUCTA*)>;
    using HandlerW = std::function<int(SHFILEOPSTRUCTW*)>;

    ShellCalls();
    ~ShellCalls();
    ShellCalls(const ShellCalls&) = delete;
    ShellCalls& operator=(const ShellCalls&) = delete;

    void SetHandler(Handler handler);
    void SetHandlerW(HandlerW handler);
    static int Real(SHFILEOPSTRUCTA* op);
    static int RealW(SHFILEOPSTRUCTW* op);
    std::vector<ShellCall> Calls() const;
    std::vector<UINT> Functions() const;

private:
    static int WINAPI Record(LPSHFILEOPSTRUCTA op);
    static int WINAPI RecordW(LPSHFILEOPSTRUCTW op);
    static ShellCalls* Active();
    // Hands the call to the test's handler or the real shell, and records the outcome.
    template <typename Op, typename H>
    int Pass(ShellCall call, Op* op, const H& handlerField, int (*real)(Op*));

    int(WINAPI* previous_)(LPSHFILEOPSTRUCTA);
    int(WINAPI* previousW_)(LPSHFILEOPSTRUCTW);
    Handler handler_;
    HandlerW handlerW_;
    mutable std::mutex mutex_;
    std::vector<ShellCall> calls_;
};

// The user presses Cancel in the progress display before anything is copied.
int CancelAtOnce(SHFILEOPSTRUCTA* op);
int CancelAtOnceW(SHFILEOPSTRUCTW* op);
// The shell refuses the operation with this error, touching nothing.
int RefuseWith(DWORD error);

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
using TreeSpec = std::vector<std::pair<std::string, std::string>>;
void MakeTree(const std::string& root, const TreeSpec& entries);

// A failed copy step's boxes, in order: the copy's own ("Copying" and what failed), then
// the step's "Copying" / "Error occuried during filecopy". Returns the first box's text.
std::string ExpectCopyStepFailed(const std::vector<std::pair<std::string, std::string>>& seen);

// The text the shell-operation box shows for a recorded failure: the name of the last
// error when the shell reported it, else the copy check's text, which names a path.
bool IsFailureText(const std::string& text, const ShellCall& call, const std::string& path);

}  // namespace shelltest
