// The rule before every write to the shared folder.
#include "app/LockRule.h"

#include "shell/Wintools.h"

#include <string>

namespace {

// The SMB client serves a folder listing from a cache up to 10 s old: a rival's token
// made just after ours may not show in a listing before then. Local folders have none.
constexpr ULONGLONG kListingCacheMs = 10000;

LockLook Verdict(LockVerdict verdict, DWORD error = 0) {
    LockLook look;
    look.verdict = verdict;
    look.error = error;
    return look;
}

// Lost: who holds the lock now, when a listing shows anyone.
LockLook Lost(const char* lockFolder) {
    LockLook look = Verdict(LockVerdict::Lost);
    look.holderListed = FindHolder(lockFolder, look.holder) == HolderLook::Found;
    return look;
}

bool RenewerSawItGo(const HeldLock& lock) { return lock.renewer && lock.renewer->TokenLost(); }

void WaitForTheListingCache(const HeldLock& lock) {
    if (!OnNetwork(lock.folder)) return;
    const ULONGLONG since = GetTickCount64() - lock.takenAt;
    if (since < kListingCacheMs) Sleep(static_cast<DWORD>(kListingCacheMs - since));
}

}  // namespace

bool OnNetwork(const char* folder) {
    const std::string path = FullPathOf(folder ? folder : "");
    if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/')) return true;
    const std::string root = path.substr(0, 3);
    return GetDriveTypeA(root.c_str()) == DRIVE_REMOTE;
}

LockLook LookAtHeldLock(HeldLock& lock) {
    if (!lock.token.Known() || RenewerSawItGo(lock)) return Lost(lock.folder);
    DWORD error = 0;
    switch (LookAtToken(lock.folder, lock.token, &error)) {
        case TokenPresence::Same: break;
        case TokenPresence::Unreadable: return Verdict(LockVerdict::Unreadable, error);
        case TokenPresence::Gone:
        case TokenPresence::Other: return Lost(lock.folder);
    }
    if (lock.listingPassed) return Verdict(LockVerdict::Ours);
    WaitForTheListingCache(lock);
    const TokenConflict seen = OtherTokens(lock.folder, lock.token);
    if (!seen.readable) return Verdict(LockVerdict::Unreadable, seen.error);
    if (!seen.others.empty()) {
        LockLook look = Verdict(LockVerdict::Lost);
        look.ownThere = seen.ownListed;
        look.holderListed = true;
        look.holder = seen.firstOther;
        return look;
    }
    // Ten seconds on, a listing that still lacks our token shows no lock of ours.
    if (!seen.ownListed) return Lost(lock.folder);
    // The waiting may have taken seconds: the token is looked at once more by its path.
    if (!HeldLockStillOurs(lock)) return Lost(lock.folder);
    lock.listingPassed = true;
    return Verdict(LockVerdict::Ours);
}

bool HeldLockStillOurs(const HeldLock& lock) {
    return lock.token.Known() && !RenewerSawItGo(lock) && LookAtToken(lock.folder, lock.token) == TokenPresence::Same;
}
