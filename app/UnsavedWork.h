// The record of unsaved work: kept beside the local data folder while a period that
// holds the lock has work in it that has not reached the shared data folder yet. A
// program killed, a PC switched off or a copy back that failed leaves it behind, so
// that the next period asks before its copy in replaces that work.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A period of this PC that lost its lock and ended without copying its work back: what the
// share's history is to say of it. That PC cannot write the history then; the next period
// here that holds the lock does.
struct LostLockNote {
    std::string user;
    std::string text;
};

struct UnsavedWork {
    FILETIME began{};                 // when the work began, UTC
    uint64_t sharedFingerprint = 0;  // the shared tree as it was copied in
    // The tree a copy back was about to switch in on the share, written just before the
    // switch: a share found holding exactly it has the work, whatever cut the period short.
    uint64_t sentFingerprint = 0;
    std::vector<LostLockNote> lostLocks;  // not yet in the share's history
};

// "<local data folder>.unsaved"
std::string UnsavedWorkRecordPath(const char* localFolder);

// Written whole or not at all, and on the disk when it returns true: a crash while
// writing leaves the previous record, or the new one beside it (read as the record).
bool WriteUnsavedWork(const char* localFolder, const UnsavedWork& work);
// False when there is no record. A record that cannot be read whole still stands for
// work, begun at an unknown time.
bool ReadUnsavedWork(const char* localFolder, UnsavedWork& work);
bool ClearUnsavedWork(const char* localFolder);

