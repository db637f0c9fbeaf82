// Persistentdata: the five settings of one installation, kept in an INI file beside the program.
// One process-wide store: module state behind free functions.
#pragma once

// The INI file name: the program path with its last '.'-part replaced by ".Ini".
const char* MakeIniFileName(const char* programPath);
const char* GetIniFileName();

bool ReadSettings();
// Null on success; otherwise the store's message, valid until the next failing write.
const char* WriteSettings();
// 0 when all is well. Missing: 1 lock folder, 2 shared data folder, 3 local data folder,
// 4 run command; then the folders' layout (CheckFolderLayout). The shared folder may be
// missing while an interrupted transfer to it waits for its repair.
int CheckSettings(const char* lockFolder, const char* sharedFolder, const char* localFolder,
                  const char* runCommand, bool sharedAwaitsRepair = false);
// On full paths, letter case ignored; the folders need not exist. 5 the shared data
// folder is a root, 6 the local data folder is a root; overlapping (one equal to or
// inside the other, by their text or by what they are: FolderIdentity): 7 lock and
// shared, 8 lock and local, 9 shared and local.
int CheckFolderLayout(const char* lockFolder, const char* sharedFolder, const char* localFolder);

// Never null; one trailing '\' or '/' is removed from the stored value itself, but a
// drive root ("D:\") stays one.
const char* GetRemoteLockFolder();
const char* GetRemoteSharedDataFolder();
const char* GetLocalDataFolder();
const char* GetRunCommand();
const char* GetRunCommandOptions();

// Store a copy of the value; return the argument.
const char* SetRemoteLockFolder(const char* value);
const char* SetRemoteSharedDataFolder(const char* value);
const char* SetLocalDataFolder(const char* value);
const char* SetRunCommand(const char* value);
const char* SetRunCommandOptions(const char* value);

// How much history the share keeps: INI keys "HistoryPeriods", "HistoryDays" and
// "HistorySizePercent" in section "RunTime", each read when asked, with its default when
// absent or not a number. The dialog does not show them; WriteSettings leaves them alone.
struct HistoryKeeping {
    int periods = 30;
    int days = 14;
    int sizePercent = 100;
};
HistoryKeeping GetHistoryKeeping();
