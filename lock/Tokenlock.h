// Tokenlock: the lock token file in the remote lock folder.
// Every operation looks at the folder afresh; nothing is cached and nothing is shown.
#pragma once

#include <windows.h>

#include <string>

enum class TakeResult {
    Taken,
    InTheWay,       // a token stays in the folder: a real holder
    CreateFailed,   // the file system refused the token; `error` says why
    NameRefused,    // the user name cannot be a token's name; `detail` says which rule
    Unseen,         // the token was made, but the folder's lookups cannot see it
    Busy,           // other takers kept colliding for the whole time budget
    OwnTokenStuck,  // backing off, the own token could not be deleted; `detail` is its path
};

struct TokenTake {
    TakeResult result = TakeResult::Taken;
    DWORD error = 0;
    std::string detail;
};

// Takes the lock, or says why not. Takers that collide back off and try again, with
// random pauses, for a few seconds. Nothing is shown to the user here.
TokenTake TryTakeTokenLock(const char* lockFolder, const char* userName);
bool TakeTokenLock(const char* lockFolder, const char* userName);
// The owner of the first token found, as a made text (caller frees), or null.
char* TokenLockOwner(const char* lockFolder);
// The since text of that owner's token, or "??/??/???? ??:??", as a made text.
char* TokenLockSince(const char* lockFolder, const char* ownerName);
bool OwnsTokenLock(const char* lockFolder, const char* userName);
bool DeleteTokenLock(const char* lockFolder, const char* name);
