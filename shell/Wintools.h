// Wintools: texts and paths, system error names, shell services. The tree transfer has
// its own door, shell/transfer/Transfer.h.
#pragma once

#include "shell/Message.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

// ---- Texts -------------------------------------------------------------
// A made text is a heap block owned by the caller and ends in two NULs, so it is
// also a one-entry path list for the shell file operations. A null part is empty.
char* ConcatText(const char* a, const char* b = nullptr, const char* c = nullptr,
                 const char* d = nullptr);
// Builds the new text first, so `old` may be one of the parts; then releases `old`.
char* ReplaceText(char* old, const char* a, const char* b = nullptr, const char* c = nullptr,
                  const char* d = nullptr);
// Releases t if present; returns null so that `t = FreeText(t)` clears the holder.
char* FreeText(char* t);

// Sole owner of a made text.
class OwnedText {
public:
    OwnedText() = default;
    explicit OwnedText(char* made) : text_(made) {}
    ~OwnedText() { FreeText(text_); }
    OwnedText(const OwnedText&) = delete;
    OwnedText& operator=(const OwnedText&) = delete;
    OwnedText(OwnedText&& other) noexcept : text_(other.Release()) {}
    OwnedText& operator=(OwnedText&& other) noexcept {
        Reset(other.Release());
        return *this;
    }

    // Takes `made`, then releases the previous text (which may have been a part of it).
    void Reset(char* made = nullptr) {
        char* old = text_;
        text_ = made;
        FreeText(old);
    }
    char* Release() {
        char* t = text_;
        text_ = nullptr;
        return t;
    }
    char* Get() const { return text_; }
    // Never null: an absent text reads as empty.
    const char* Str() const { return text_ ? text_ : ""; }
    explicit operator bool() const { return text_ != nullptr; }

private:
    char* text_ = nullptr;
};

// Paths and names cross between the ANSI interfaces and the wide calls here, through the
// ANSI code page. Narrow is for messages: it gives what the code page can show.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
// The program's own files (manifests, journals, the history) keep names in UTF-8, whatever
// the code page.
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// How the month of a time text is written: "7/04/2021" or, in a column two wide as the
// lock dialogs show it, " 7/04/2021".
enum class MonthWidth { AsIs, TwoColumns };
// A UTC moment as "<month>/<dd>/<yyyy> <h>:<mm>" in local time at the current offset;
// `unknown` for a zero time or one that cannot be converted.
std::string LocalTimeText(const FILETIME& utc, MonthWidth month, const char* unknown);

// "1,234,567", and "1.2 MB" (of 1,048,576 bytes), as the windows show counts.
std::string Thousands(uint64_t n);
std::string Megabytes(uint64_t bytes);

// This PC's name, as others are shown it; "?" when the system gives none.
std::string ComputerName();

// ---- Paths (a separator is '\' or '/') -----------------------------------
char* BaseTitle(const char* path);      // last component up to its first '.', Capitalised
char* FolderOf(const char* path);       // up to the last separator; empty without one
char* BaseTitlePath(const char* path);  // FolderOf + "\" + BaseTitle
// The full path of the running executable, as the system reports it (not argument 0's text).
char* ProgramPath();
// The full form of `path` against the current folder (GetFullPathNameA); the path itself
// when it cannot be had.
std::string FullPathOf(const std::string& path);
// What a folder is rather than how it is written: the final path of its deepest existing
// part (GetFinalPathNameByHandleW: links, junctions and subst drives resolved), a mapped
// drive as the UNC name of its share, the rest appended; upper case, '\' separators, no
// trailing one. Two spellings of one folder give the same text; the text itself when
// nothing of it can be opened.
std::string FolderIdentity(const std::string& folder);

// ---- System error names --------------------------------------------------
const char* SystemErrorName(int32_t code);

// ---- Shell services ------------------------------------------------------
// MB_OK | MB_ICONHAND, plus MB_TASKMODAL with an owner. Always returns FALSE.
BOOL ShowErrorMessage(HWND owner, const char* title, const char* text);
// Each message with ShowErrorMessage, in order: how the window thread tells a result.
void ShowMessages(HWND owner, const Messages& messages);

bool PathExists(const char* path);
bool PathReadable(const char* path);
bool DeleteFileForced(const char* path);

#pragma pack(push, 1)
struct FindRecord {
    uint32_t searchState;
    int32_t size;
    uint32_t attributes;
    uint16_t time;  // DOS time of the last write, local
    uint16_t date;  // DOS date of the last write, local
    char name[256];
};
#pragma pack(pop)

// First plain (not folder, hidden or system) entry matching the pattern, in a
// static record valid until the next call; null when there is none. A pattern
// "*<fixed tail>" also requires the long name to end in that tail (short names
// would let "*.txt" find "a.txtx").
FindRecord* FindFirstEntry(const char* pattern);

// Shell operations on folder trees (plain paths will do: they are copied into made
// texts), built on the wrappers of shell/FileSystem.h. Each reports its own failure in a
// box and returns false; a user's cancel counts as a failure.
bool DeleteTree(const char* folder);  // false, silently, when the folder is missing
// Makes the destination (and parents) first; fails unless every entry of the source is
// then in the destination with the same size, and removes folders it made in vain.
bool CopyTreeContents(const char* source, const char* destination);
bool RenameTree(const char* from, const char* to);  // resolved to full paths first

// The chosen folder in a static buffer, or `defaultPath` itself when cancelled.
const char* ChooseFolder(const char* defaultPath, const char* title, HWND owner);

// ---- Files still in use -----------------------------------------------------------
// True when another program holds a file below `folder` open; `inUse` then names the
// first such file. Asks the Restart Manager, so that the check itself never makes the
// program's open fail; only where it cannot say (Wine) does it open the files, and then
// it sees a program only while that one shares no reading.
bool FirstFileInUse(const char* folder, std::string& inUse);

// ---- Platform seams -------------------------------------------------------
// Only the calls that cannot be made to fail on demand go through here; tests may
// swap one for the duration of a test and must put the original back.
struct PlatformCalls {
    int(WINAPI* shellFileOperation)(LPSHFILEOPSTRUCTA) = SHFileOperationA;
    // The transfer's copy of one file (wide: names outside the code page), with the
    // progress routine that counts its bytes and carries the user's cancel.
    BOOL(WINAPI* copyFile)(LPCWSTR, LPCWSTR, LPPROGRESS_ROUTINE, LPVOID, LPBOOL, DWORD) = CopyFileExW;
    // Puts a file's (or a folder's) data on disk: whether it happened cannot be seen from
    // outside, so tests record the calls here.
    BOOL(WINAPI* flushFile)(HANDLE) = FlushFileBuffers;
    // The transfer's move of one entry of a tree into its undo folder and back: a kill
    // between two of them is what a test must be able to stop at.
    BOOL(WINAPI* moveFile)(LPCWSTR, LPCWSTR, DWORD) = MoveFileExW;
    int(WINAPI* messageBox)(HWND, LPCSTR, LPCSTR, UINT) = MessageBoxA;
    // The lock token's create: a rival PC's token can appear at this very instant.
    HANDLE(WINAPI* createFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = CreateFileA;
    // The lock folder's listing: on a share it may come from a cache seconds old.
    HANDLE(WINAPI* findFirstFileW)(LPCWSTR, LPWIN32_FIND_DATAW) = FindFirstFileW;
    BOOL(WINAPI* findNextFileW)(HANDLE, LPWIN32_FIND_DATAW) = FindNextFileW;
    // Where the platform's own programs (the URL handler) are started from.
    UINT(WINAPI* systemDirectory)(LPSTR, UINT) = GetSystemDirectoryA;
};
PlatformCalls& Platform();
