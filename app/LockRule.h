// The one rule before every write to the shared folder: the lock is ours, looked at by
// the token's exact path (a listing may be a cache seconds old), and, once per token, no
// other token is listed beside it; on a network lock folder that listing is taken only
// when ten seconds have passed since our token was made, for a network client may serve
// a folder listing from a cache that old and so have hidden a rival's token until then.
#pragma once

#include "lock/LifeSign.h"
#include "lock/Tokenlock.h"

#include <windows.h>

enum class LockVerdict {
    Ours,
    Lost,        // gone, another's, or another token listed beside ours
    Unreadable,  // the lock folder cannot be looked at: nothing is concluded
};

struct LockLook {
    LockVerdict verdict = LockVerdict::Ours;
    DWORD error = 0;          // why, when Unreadable
    bool ownThere = false;    // Lost with our very token still there (another listed beside it)
    bool holderListed = false;
    ShownToken holder;        // the first other token, when one is listed
};

// The lock this process holds, as the rule needs it.
struct HeldLock {
    const char* folder = nullptr;
    TokenIdentity token;
    ULONGLONG takenAt = 0;  // tick count of the take
    // The listing look has passed for this token: only the exact path is looked at again.
    bool listingPassed = false;
    // Its life-sign renewer: once it found the token gone, the lock is lost, whatever comes next.
    const LifeSignRenewer* renewer = nullptr;
};

// The whole rule: may sleep until ten seconds after the take (network lock folders) and
// lists the folder. For a worker thread. Records in `lock` that the listing passed.
LockLook LookAtHeldLock(HeldLock& lock);
// Only the exact path and the renewer's word: for the moment just before a switch, once the
// whole rule has passed for this token. For a worker thread.
bool HeldLockStillOurs(const HeldLock& lock);

// A lock folder on another machine: a UNC path, or a drive the system calls remote.
bool OnNetwork(const char* folder);
