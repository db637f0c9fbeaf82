// The record of unsaved work: kept beside the local data folder while a period that
// holds the lock has work in it that has not reached the shared data folder yet. A
// program killed, a PC switched off or a copy back that failed leaves it behind, so
// that the next period asks before its copy in replaces that work.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct UnsavedWork {
    FILETIME began{};                 // when the work began, UTC
    uint64_t sharedFingerprint = 0;  // the shared tree as it was copied in
};

// "<local data folder>.unsaved"
std::string UnsavedWorkRecordPath(const char* localFolder);

// Written whole or not at all: a crash while writing leaves the previous record.
bool WriteUnsavedWork(const char* localFolder, const UnsavedWork& work);
// False when there is no record. A record that cannot be read whole still stands for
// work, begun at an unknown time.
bool ReadUnsavedWork(const char* localFolder, UnsavedWork& work);
bool ClearUnsavedWork(const char* localFolder);

// Copies the local tree into a new folder beside it, "<local>.setaside-<date>-<time>",
// that the program never deletes; its path goes to `folder`.
bool SetWorkAside(const char* localFolder, std::string& folder);
