// The lock conflicts: at the start, a token in the way; at the end, a token gone or
// another user's. Each function answers for one attempt; where the user's choice calls
// for another attempt it returns its own step's state, and the next tick tries again.
#include "app/Clogo.h"

#include "shell/SystemTexts.h"
#include "lock/Cfinishlockgone.h"
#include "lock/Cfinishlockstolen.h"
#include "lock/Cstartlock.h"
#include "lock/Tokenlock.h"
#include "settings/Persistentdata.h"

#include <string>

StepOutcome TLogo::AcquireLock() {
    LockFolder = GetRemoteLockFolder();
    const TokenTake take = TryTakeTokenLock(LockFolder, UserName.Str());
    if (take.result == TakeResult::Taken) return GoTo(CopyIn);
    // The start-lock dialog is for a real holder; anything else the user is told.
    if (take.result != TakeResult::InTheWay) {
        ShowTakeProblem(take);
        return GoTo(Finish);
    }
    ShowStartLock();
    if (Ending() || CancelFlag) return GoTo(Finish);
    if (ReadOnlyFlag) return GoTo(CopyIn);  // on without the lock
    if (DeleteLockFlag) {
        // The holder is read again: it may have changed while the dialog was open.
        OwnedText holder(TokenLockOwner(LockFolder));
        DeleteTokenLock(LockFolder, holder.Get());
        DeleteLockFlag = false;
    }
    // Deleted, or the dialog closed without a choice: another attempt.
    return GoTo(TakeLock);
}

void TLogo::ShowTakeProblem(const TokenTake& take) {
    const char* title = "Lock Create";
    std::string message = "Can't create lock : ";
    switch (take.result) {
        case TakeResult::CreateFailed: message += SystemErrorName(static_cast<int32_t>(take.error)); break;
        case TakeResult::NameRefused: message += take.detail + " : " + UserName.Str(); break;
        case TakeResult::Unseen: message += "the new token is not visible in the lock folder"; break;
        case TakeResult::Busy: message += "the lock folder stayed busy, try again"; break;
        case TakeResult::OwnTokenStuck:
            title = "Lock Delete";
            message = "Can't delete own lock : " + take.detail;
            break;
        default: break;
    }
    ShowErrorMessage(Handle(), title, message.c_str());
}

void TLogo::ShowStartLock() {
    OwnedText owner(TokenLockOwner(LockFolder));
    OwnedText since(TokenLockSince(LockFolder, owner.Get()));
    TStartLock dialog(*this);
    dialog.SetLockInfo(owner.Get(), since.Get());
    dialog.ShowModal();
}

StepOutcome TLogo::ConfirmLock() {
    if (OwnsTokenLock(LockFolder, UserName.Str())) return GoTo(CopyBack);
    OwnedText holder(TokenLockOwner(LockFolder));
    // A lock-lost dialog closed without a choice is no confirmation: nothing is copied
    // back over the shared data without the user's word.
    bool chosen = false;
    if (holder) {
        OwnedText since(TokenLockSince(LockFolder, holder.Get()));
        TFinishLockStolen dialog(*this);
        dialog.SetLockInfo(holder.Get(), since.Get());
        dialog.ShowModal();
        chosen = !dialog.ClosedFromOutside();
        if (Ending()) return GoTo(Finish);
        if (chosen && DeleteLockFlag) {
            if (!DeleteTokenLock(LockFolder, holder.Get()))
                return Fail(kHolderNotDeleted.title, kHolderNotDeleted.message + std::string(holder.Str()));
            DeleteLockFlag = false;
        }
    } else {
        TFinishLockGone dialog(*this);
        dialog.ShowModal();
        chosen = !dialog.ClosedFromOutside();
        if (Ending()) return GoTo(Finish);
    }
    if (!chosen || CancelFlag) return GoTo(Finish);
    // The copy back runs under this user's token: it is taken again first.
    const TokenTake take = TryTakeTokenLock(LockFolder, UserName.Str());
    if (take.result == TakeResult::Taken) return GoTo(CopyBack);
    // Another user's token appeared meanwhile: the lock-stolen dialog decides, next tick.
    if (take.result == TakeResult::InTheWay) return GoTo(CheckLock);
    ShowTakeProblem(take);
    return GoTo(Finish);
}
