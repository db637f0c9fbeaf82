// Tokenlock: the lock token file in the remote lock folder.
// Every operation looks at the folder afresh; nothing is cached and nothing is shown.
#pragma once

bool TakeTokenLock(const char* lockFolder, const char* userName);
// The owner of the first token found, as a made text (caller frees), or null.
char* TokenLockOwner(const char* lockFolder);
// The since text of that owner's token, or "??/??/???? ??:??", as a made text.
char* TokenLockSince(const char* lockFolder, const char* ownerName);
bool OwnsTokenLock(const char* lockFolder, const char* userName);
bool DeleteTokenLock(const char* lockFolder, const char* name);
