// Persistentdata: the five settings of one installation, kept in an INI file beside the program.
// One process-wide store: module state behind free functions.
#pragma once

// The INI file name: the program path with its last '.'-part replaced by ".Ini".
const char* MakeIniFileName(const char* programPath);
const char* GetIniFileName();

bool ReadSettings();
// Null on success; otherwise the store's message, valid until the next failing write.
const char* WriteSettings();
// 0 when all four exist; 1 lock folder, 2 shared data folder, 3 local data folder, 4 run command.
int CheckSettings(const char* lockFolder, const char* sharedFolder, const char* localFolder,
                  const char* runCommand);

// Never null; one trailing '\' or '/' is removed from the stored value itself.
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
