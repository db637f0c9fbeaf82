// Wintools: texts and paths, system error names, shell services and the tree transfer.
#pragma once

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

// ---- Paths (a separator is '\' or '/') -----------------------------------
char* BaseTitle(const char* path);      // last component up to its first '.', Capitalised
char* FolderOf(const char* path);       // up to the last separator; empty without one
char* BaseTitlePath(const char* path);  // FolderOf + "\" + BaseTitle
// The full path of the running executable, as the system reports it (not argument 0's text).
char* ProgramPath();

// ---- System error names --------------------------------------------------
const char* SystemErrorName(int32_t code);

// ---- Shell services ------------------------------------------------------
// MB_OK | MB_ICONHAND, plus MB_TASKMODAL with an owner. Always returns FALSE.
BOOL ShowErrorMessage(HWND owner, const char* title, const char* text);

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
// texts). Each reports its own failure in a box and returns false; a user's cancel
// counts as a failure.
bool DeleteTree(const char* folder);  // false, silently, when the folder is missing
// Makes the destination (and parents) first; fails unless every entry of the source is
// then in the destination with the same size, and removes folders it made in vain.
bool CopyTreeContents(const char* source, const char* destination);
bool RenameTree(const char* from, const char* to);  // resolved to full paths first

// The chosen folder in a static buffer, or `defaultPath` itself when cancelled.
const char* ChooseFolder(const char* defaultPath, const char* title, HWND owner);

// ---- Tree transfer with save rotation -------------------------------------
// Makes `destination` a copy of `source`, keeping the previous tree as
// destination + ".saved". False after the first failing step, once the user has been
// told; the previous tree is then whole under the destination, ".saved" or ".2delete".
bool TransferTree(const char* source, const char* destination);

// What the last transfer moved: files and bytes read from the source (what crosses the
// network) and taken from the destination's previous tree on its own side.
struct TransferFigures {
    uint64_t filesFromSource = 0;
    uint64_t bytesFromSource = 0;
    uint64_t filesFromBackup = 0;
    uint64_t bytesFromBackup = 0;
    uint64_t sourceFingerprint = 0;  // the source tree as it was copied
};
TransferFigures& LastTransferFigures();

// Puts right a transfer to `destination` that was interrupted (program killed, power
// lost): afterwards the last whole tree is under the destination's name and ".saved" is
// the one before. True when nothing was left to do or all was put right.
bool RepairTransfer(const char* destination);
// Whether an interrupted transfer left its traces beside `destination`.
bool TransferInterrupted(const char* destination);

// ---- Files still in use -----------------------------------------------------------
// True when another program holds a file below `folder` open (it cannot be opened
// without sharing); `inUse` then names the first such file.
bool FirstFileInUse(const char* folder, std::string& inUse);

// ---- Platform seams -------------------------------------------------------
// Only the calls that cannot be made to fail on demand go through here; tests may
// swap one for the duration of a test and must put the original back.
struct PlatformCalls {
    int(WINAPI* shellFileOperation)(LPSHFILEOPSTRUCTA) = SHFileOperationA;
    // The transfer names single files with the wide call (names outside the code page).
    int(WINAPI* shellFileOperationW)(LPSHFILEOPSTRUCTW) = SHFileOperationW;
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
