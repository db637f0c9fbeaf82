#include "settings/Persistentdata.h"

#include "shell/TreeListing.h"
#include "shell/Wintools.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kSection = L"RunTime";
constexpr DWORD kReadBuffer = 1024;  // a longer value is cut to 1023 characters
constexpr size_t kMessageBuffer = 200;

enum Setting { kLockFolder, kSharedFolder, kLocalFolder, kRunCommand, kRunOptions, kSettingCount };

struct Key {
    const char* name;
    const wchar_t* wideName;
    const char* messagePrefix;  // the shared folder's message names it "RemoteShareFolder"
};

// In the order in which they are read and written.
const Key kKeys[kSettingCount] = {
    {"RemoteLockFolder", L"RemoteLockFolder", "Error updating RemoteLockFolder - "},
    {"RemoteSharedDataFolder", L"RemoteSharedDataFolder", "Error updating RemoteShareFolder - "},
    {"LocalDataFolder", L"LocalDataFolder", "Error updating LocalDataFolder - "},
    {"RunCommand", L"RunCommand", "Error updating RunCommand - "},
    {"RunCommandOptions", L"RunCommandOptions", "Error updating RunCommandOptions - "},
};

// The store's state for the whole process; never released before the end.
OwnedText g_iniFileName;
// The same name for the profile calls: a program folder outside the code page shows
// as '?' in the 8-bit name, which names no file.
std::wstring g_iniFileNameW;
OwnedText g_settings[kSettingCount];
// Whether the accessor has already dropped the trailing separator of the current value:
// a second read must not eat into "C:\a\\" again.
bool g_trimmed[kSettingCount];
char g_writeError[kMessageBuffer];

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "D:\" must not become "D:", the current folder on D:.
bool IsDriveRoot(const char* path) { return std::strlen(path) == 3 && path[1] == ':' && IsSeparator(path[2]); }

const char* Get(Setting s) {
    char* value = g_settings[s].Get();
    if (!value) return "";
    if (!g_trimmed[s]) {
        const size_t length = std::strlen(value);
        if (length > 0 && IsSeparator(value[length - 1]) && !IsDriveRoot(value)) value[length - 1] = '\0';
        g_trimmed[s] = true;
    }
    return value;
}

const char* Set(Setting s, const char* value) {
    g_settings[s].Reset(ConcatText(value));
    g_trimmed[s] = false;
    return value;
}

// Blanks and other white space at either end are not kept by the profile functions.
bool IsProfileSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\x1a';
}

std::wstring Trimmed(const std::wstring& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && IsProfileSpace(s[begin])) ++begin;
    while (end > begin && IsProfileSpace(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// The section's lines as stored. GetPrivateProfileString would drop one pair of quotes
// around a value, and the options of a run command may well begin and end with one.
std::vector<wchar_t> SectionLines(const std::wstring& iniFile) {
    std::vector<wchar_t> lines(4096);
    for (;;) {
        const DWORD n = GetPrivateProfileSectionW(kSection, lines.data(), static_cast<DWORD>(lines.size()),
                                                  iniFile.c_str());
        if (n + 2 < lines.size()) return lines;
        lines.resize(lines.size() * 2);  // cut to fit: try a larger buffer
    }
}

// The key's value exactly as stored; empty when the key is missing.
std::wstring StoredValue(const std::vector<wchar_t>& lines, const wchar_t* key) {
    for (const wchar_t* line = lines.data(); *line; line += std::wcslen(line) + 1) {
        const wchar_t* equals = std::wcschr(line, L'=');
        if (equals && lstrcmpiW(Trimmed(std::wstring(line, equals)).c_str(), key) == 0) return Trimmed(equals + 1);
    }
    return L"";
}

// The platform may report a write as done and still lose it (Wine on a full disk):
// read the key back from the file itself and compare.
bool KeyWasStored(const Key& key, const std::wstring& value, const std::wstring& iniFile) {
    // Three nulls drop the cached copy of the file, so the read below goes to the disk.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, iniFile.c_str());
    return StoredValue(SectionLines(iniFile), key.wideName) == Trimmed(value);
}

// The program's own path as the wide call gives it, when `path` is that path as the
// code page shows it; otherwise `path` itself.
std::wstring WidePath(const char* path) {
    std::wstring own(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &own[0], static_cast<DWORD>(own.size()));
        if (n == 0) return Widen(path);
        if (n < own.size()) {
            own.resize(n);
            break;
        }
        own.resize(own.size() * 2);
    }
    return Narrow(own) == path ? own : Widen(path);
}

// The last '.' of the whole path, folders included, gives way to ".Ini".
template <typename Ch>
std::basic_string<Ch> WithIniExtension(std::basic_string<Ch> path, const Ch* ini) {
    const size_t dot = path.rfind(Ch('.'));
    if (dot != std::basic_string<Ch>::npos) path.erase(dot);
    return path + ini;
}

const char* WriteFailed(const Key& key, DWORD error) {
    std::snprintf(g_writeError, sizeof g_writeError, "%s%s", key.messagePrefix,
                  SystemErrorName(static_cast<int32_t>(error)));
    return g_writeError;
}

// "X:\\" or "\\\\server\\share", as a full path gives them.
bool IsRoot(const std::string& full) {
    if (full.size() == 3 && full[1] == ':' && full[2] == '\\') return true;
    if (full.compare(0, 2, "\\\\") != 0) return false;
    const size_t share = full.find('\\', 2);
    return share != std::string::npos && share + 1 < full.size() && full.find('\\', share + 1) == std::string::npos;
}

// The full path, with '\\' separators, no trailing one but a drive root's, in upper
// case: folders compare as the file system names them.
std::string FolderKey(const char* folder) {
    std::string key = folder ? folder : "";
    char full[4 * MAX_PATH];
    const DWORD n = key.empty() ? 0 : GetFullPathNameA(key.c_str(), sizeof full, full, nullptr);
    if (n > 0 && n < sizeof full) key.assign(full, n);
    for (char& c : key)
        if (c == '/') c = '\\';
    while (key.size() > 1 && key.back() == '\\' && !IsRoot(key)) key.pop_back();
    if (!key.empty()) CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

bool Inside(const std::string& inner, const std::string& outer) {
    if (inner == outer) return true;
    const std::string prefix = outer.back() == '\\' ? outer : outer + '\\';
    return inner.compare(0, prefix.size(), prefix) == 0;
}

// One folder equal to or inside the other.
bool Overlap(const std::string& a, const std::string& b) {
    return !a.empty() && !b.empty() && (Inside(a, b) || Inside(b, a));
}

}  // namespace

const char* MakeIniFileName(const char* programPath) {
    const char* path = programPath ? programPath : "";
    g_iniFileName.Reset(ConcatText(WithIniExtension<char>(path, ".Ini").c_str()));
    g_iniFileNameW = WithIniExtension<wchar_t>(WidePath(path), L".Ini");
    return g_iniFileName.Get();
}

const char* GetIniFileName() {
    if (g_iniFileName && g_iniFileName.Get()[0]) return g_iniFileName.Get();
    OwnedText programPath(ProgramPath());
    return MakeIniFileName(programPath.Str());
}

bool ReadSettings() {
    GetIniFileName();
    if (GetFileAttributesW(g_iniFileNameW.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    const std::vector<wchar_t> lines = SectionLines(g_iniFileNameW);
    for (int s = 0; s < kSettingCount; ++s) {
        // Values stay 8-bit text: the file holds them in the code page.
        std::string value = Narrow(StoredValue(lines, kKeys[s].wideName));
        if (value.size() >= kReadBuffer) value.resize(kReadBuffer - 1);
        Set(static_cast<Setting>(s), value.c_str());
    }
    return true;
}

const char* WriteSettings() {
    for (int s = 0; s < kSettingCount; ++s) {
        GetIniFileName();
        // An unset value is written as empty: a null would delete the key.
        const std::wstring value = Widen(g_settings[s].Str());
        if (!WritePrivateProfileStringW(kSection, kKeys[s].wideName, value.c_str(), g_iniFileNameW.c_str()))
            return WriteFailed(kKeys[s], GetLastError());
        if (!KeyWasStored(kKeys[s], value, g_iniFileNameW)) return WriteFailed(kKeys[s], ERROR_WRITE_FAULT);
    }
    return nullptr;
}

int CheckSettings(const char* lockFolder, const char* sharedFolder, const char* localFolder,
                  const char* runCommand, bool sharedAwaitsRepair) {
    if (!PathExists(lockFolder)) return 1;
    if (!sharedAwaitsRepair && !PathExists(sharedFolder)) return 2;
    if (!PathExists(localFolder)) return 3;
    if (!PathReadable(runCommand)) return 4;
    return CheckFolderLayout(lockFolder, sharedFolder, localFolder);
}

int CheckFolderLayout(const char* lockFolder, const char* sharedFolder, const char* localFolder) {
    const std::string lock = FolderKey(lockFolder), shared = FolderKey(sharedFolder), local = FolderKey(localFolder);
    // A transfer switches a data folder by renaming it, which a root cannot be.
    if (IsRoot(shared)) return 5;
    if (IsRoot(local)) return 6;
    // By text, and by what the folders are: a mapped drive and its UNC path, a subst
    // drive, a junction or a link may name one folder twice.
    const std::string lockIs = FolderIdentity(lock), sharedIs = FolderIdentity(shared), localIs = FolderIdentity(local);
    if (Overlap(lock, shared) || Overlap(lockIs, sharedIs)) return 7;
    if (Overlap(lock, local) || Overlap(lockIs, localIs)) return 8;
    if (Overlap(shared, local) || Overlap(sharedIs, localIs)) return 9;
    return 0;
}

const char* GetRemoteLockFolder() { return Get(kLockFolder); }
const char* GetRemoteSharedDataFolder() { return Get(kSharedFolder); }
const char* GetLocalDataFolder() { return Get(kLocalFolder); }
const char* GetRunCommand() { return Get(kRunCommand); }
const char* GetRunCommandOptions() { return Get(kRunOptions); }

const char* SetRemoteLockFolder(const char* value) { return Set(kLockFolder, value); }
const char* SetRemoteSharedDataFolder(const char* value) { return Set(kSharedFolder, value); }
const char* SetLocalDataFolder(const char* value) { return Set(kLocalFolder, value); }
const char* SetRunCommand(const char* value) { return Set(kRunCommand, value); }
const char* SetRunCommandOptions(const char* value) { return Set(kRunOptions, value); }

namespace {

int ReadNumber(const char* key, int otherwise) {
    char value[32] = "";
    GetPrivateProfileStringA("RunTime", key, "", value, sizeof value, GetIniFileName());
    char* end = nullptr;
    const long number = std::strtol(value, &end, 10);
    return value[0] && end && *end == '\0' && number >= 0 && number <= 1000000 ? static_cast<int>(number) : otherwise;
}

}  // namespace

HistoryKeeping GetHistoryKeeping() {
    HistoryKeeping keeping;
    keeping.periods = ReadNumber("HistoryPeriods", keeping.periods);
    keeping.days = ReadNumber("HistoryDays", keeping.days);
    keeping.sizePercent = ReadNumber("HistorySizePercent", keeping.sizePercent);
    return keeping;
}
