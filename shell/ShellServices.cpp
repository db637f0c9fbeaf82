// Message box, file tests, first-file search and folder chooser.
#include "shell/Wintools.h"

#include <shlobj.h>

#include <io.h>

#include <cstring>

namespace {

const char* OrEmpty(const char* text) { return text ? text : ""; }

// The literal suffix of a pattern whose last component is "*" plus a fixed tail, such
// as "*.tokenlock"; null for any other pattern ("*.*", "name.txt", "a?c*").
const char* RequiredSuffix(const char* pattern) {
    const char* last = pattern;
    for (const char* p = pattern; *p; ++p)
        if (*p == '\\' || *p == '/') last = p + 1;
    if (last[0] != '*' || last[1] == '\0') return nullptr;
    if (std::strpbrk(last + 1, "*?")) return nullptr;
    return last + 1;
}

// The platform also matches a pattern against 8.3 short names, so "*.txt" finds
// "delta.txtx"; a fixed suffix is checked on the long name as well.
bool HasSuffix(const char* name, const char* suffix) {
    if (!suffix) return true;
    const size_t n = std::strlen(name), s = std::strlen(suffix);
    return n >= s && lstrcmpiA(name + n - s, suffix) == 0;
}

constexpr DWORD kSkipped = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

FindRecord findRecord;
char chosenFolder[MAX_PATH + 1];

}  // namespace

BOOL ShowErrorMessage(HWND owner, const char* title, const char* text) {
    const UINT style = MB_OK | MB_ICONHAND | (owner ? MB_TASKMODAL : 0);
    Platform().messageBox(owner, OrEmpty(text), OrEmpty(title), style);
    return FALSE;
}

void ShowMessages(HWND owner, const Messages& messages) {
    for (const Message& message : messages) ShowErrorMessage(owner, message.title.c_str(), message.text.c_str());
}

bool PathExists(const char* path) { return GetFileAttributesA(OrEmpty(path)) != INVALID_FILE_ATTRIBUTES; }

// Read access is never refused for an existing file or folder, so this equals PathExists.
bool PathReadable(const char* path) { return _access(OrEmpty(path), 4) == 0; }

bool DeleteFileForced(const char* path) {
    const char* p = OrEmpty(path);
    // Archive alone clears read-only, hidden and system; only the final test decides.
    SetFileAttributesA(p, FILE_ATTRIBUTE_ARCHIVE);
    DeleteFileA(p);
    return !PathExists(p);
}

FindRecord* FindFirstEntry(const char* pattern) {
    const char* p = OrEmpty(pattern);
    const char* suffix = RequiredSuffix(p);
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(p, &data);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    bool found = false;
    do {
        found = !(data.dwFileAttributes & kSkipped) && HasSuffix(data.cFileName, suffix);
    } while (!found && FindNextFileA(search, &data));
    FindClose(search);
    if (!found) return nullptr;

    findRecord = FindRecord{};
    findRecord.searchState = 0;  // the search is closed here; nothing carries over
    findRecord.size = static_cast<int32_t>(data.nFileSizeLow);
    findRecord.attributes = data.dwFileAttributes;
    FILETIME local;
    WORD date = 0, time = 0;
    if (FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && FileTimeToDosDateTime(&local, &date, &time)) {
        findRecord.date = date;
        findRecord.time = time;
    }
    lstrcpynA(findRecord.name, data.cFileName, sizeof findRecord.name);
    return &findRecord;
}

const char* ChooseFolder(const char* defaultPath, const char* title, HWND owner) {
    chosenFolder[0] = '\0';
    // The browse dialog needs COM on this thread; balance only our own initialisation.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = chosenFolder;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = nullptr;
    info.lParam = 0;
    info.iImage = 0;
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    const bool chosen = item && SHGetPathFromIDListA(item, chosenFolder);
    if (item) CoTaskMemFree(item);

    if (SUCCEEDED(com)) CoUninitialize();
    return chosen ? chosenFolder : defaultPath;
}
