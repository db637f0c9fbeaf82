#include "settings/Persistentdata.h"

#include "shell/Wintools.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kSection = "RunTime";
constexpr DWORD kReadBuffer = 1024;  // a longer value is cut to 1023 characters
constexpr size_t kMessageBuffer = 200;

enum Setting { kLockFolder, kSharedFolder, kLocalFolder, kRunCommand, kRunOptions, kSettingCount };

struct Key {
    const char* name;
    const char* messagePrefix;  // the shared folder's message names it "RemoteShareFolder"
};

// In the order in which they are read and written.
const Key kKeys[kSettingCount] = {
    {"RemoteLockFolder", "Error updating RemoteLockFolder - "},
    {"RemoteSharedDataFolder", "Error updating RemoteShareFolder - "},
    {"LocalDataFolder", "Error updating LocalDataFolder - "},
    {"RunCommand", "Error updating RunCommand - "},
    {"RunCommandOptions", "Error updating RunCommandOptions - "},
};

// The store's state for the whole process; never released before the end.
OwnedText g_iniFileName;
OwnedText g_settings[kSettingCount];
// Whether the accessor has already dropped the trailing separator of the current value:
// a second read must not eat into "C:\a\\" again.
bool g_trimmed[kSettingCount];
char g_writeError[kMessageBuffer];

const char* Get(Setting s) {
    char* value = g_settings[s].Get();
    if (!value) return "";
    if (!g_trimmed[s]) {
        const size_t length = std::strlen(value);
        if (length > 0 && (value[length - 1] == '\\' || value[length - 1] == '/')) value[length - 1] = '\0';
        g_trimmed[s] = true;
    }
    return value;
}

const char* Set(Setting s, const char* value) {
    g_settings[s].Reset(ConcatText(value));
    g_trimmed[s] = false;
    return value;
}

// What the profile functions may legitimately do to a value: blanks and other white
// space at either end go, and one pair of matching quotes around it is dropped.
bool IsProfileSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string Trimmed(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && IsProfileSpace(s[begin])) ++begin;
    while (end > begin && IsProfileSpace(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

bool ReadsBackAsWritten(const std::string& written, const std::string& read) {
    const std::string value = Trimmed(written);
    const std::string got = Trimmed(read);
    if (got == value) return true;
    const bool quoted = value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
    return quoted && got == Trimmed(value.substr(1, value.size() - 2));
}

// The platform may report a write as done and still lose it (Wine on a full disk):
// read the key back from the file itself and compare.
bool KeyWasStored(const char* key, const char* value, const char* iniFile) {
    // Three nulls drop the cached copy of the file, so the read below goes to the disk.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, iniFile);
    const size_t length = std::strlen(value);
    std::vector<char> buffer(length + 2);  // one more than needed shows an overlong value
    GetPrivateProfileStringA(kSection, key, "", buffer.data(), static_cast<DWORD>(buffer.size()), iniFile);
    buffer.back() = '\0';
    return ReadsBackAsWritten(value, buffer.data());
}

const char* WriteFailed(const Key& key, DWORD error) {
    std::snprintf(g_writeError, sizeof g_writeError, "%s%s", key.messagePrefix,
                  SystemErrorName(static_cast<int32_t>(error)));
    return g_writeError;
}

}  // namespace

const char* MakeIniFileName(const char* programPath) {
    const char* path = programPath ? programPath : "";
    // Room for ".Ini" after the whole path, in case it has no '.'.
    char* name = ConcatText(path, ".Ini");
    const char* dot = std::strrchr(path, '.');
    if (dot) {
        char* at = name + (dot - path);
        std::memcpy(at, ".Ini", 5);
        at[5] = '\0';  // made texts end in two NULs
    }
    g_iniFileName.Reset(name);
    return g_iniFileName.Get();
}

const char* GetIniFileName() {
    if (g_iniFileName && g_iniFileName.Get()[0]) return g_iniFileName.Get();
    OwnedText programPath(ProgramPath());
    return MakeIniFileName(programPath.Str());
}

bool ReadSettings() {
    const char* iniFile = GetIniFileName();
    if (!PathReadable(iniFile)) return false;
    for (int s = 0; s < kSettingCount; ++s) {
        char value[kReadBuffer];
        GetPrivateProfileStringA(kSection, kKeys[s].name, "", value, kReadBuffer, iniFile);
        value[kReadBuffer - 1] = '\0';
        Set(static_cast<Setting>(s), value);
    }
    return true;
}

const char* WriteSettings() {
    for (int s = 0; s < kSettingCount; ++s) {
        const char* iniFile = GetIniFileName();
        // An unset value is written as empty: a null would delete the key.
        const char* value = g_settings[s].Str();
        if (!WritePrivateProfileStringA(kSection, kKeys[s].name, value, iniFile))
            return WriteFailed(kKeys[s], GetLastError());
        if (!KeyWasStored(kKeys[s].name, value, iniFile)) return WriteFailed(kKeys[s], ERROR_WRITE_FAULT);
    }
    return nullptr;
}

int CheckSettings(const char* lockFolder, const char* sharedFolder, const char* localFolder,
                  const char* runCommand) {
    if (!PathExists(lockFolder)) return 1;
    if (!PathExists(sharedFolder)) return 2;
    if (!PathExists(localFolder)) return 3;
    if (!PathReadable(runCommand)) return 4;
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
