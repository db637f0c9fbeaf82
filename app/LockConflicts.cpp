// The lock conflicts: at the start, a token in the way; at the end, a token gone or
// another user's. Each function answers for one attempt; where the user's choice calls
// for another attempt it returns its own step's state, and the next tick tries again.
#include "app/Clogo.h"

#include "forms/Worker.h"
#include "lock/Cfinishlockgone.h"
#include "lock/Cfinishlockstolen.h"
#include "lock/Cstartlock.h"
#include "lock/Tokenlock.h"
#include "settings/Persistentdata.h"
#include "shell/SystemTexts.h"

#include <string>

void TLogo::RememberOwnToken(const TokenTake& take) {
    OwnToken = take.identity;
    OwnTokenTakenAt = GetTickCount64();
    LifeSign.Start(LockFolder, OwnToken, LifeSignTimes().intervalMs);
}

StepOutcome TLogo::AcquireLock() {
    LockFolder = GetRemoteLockFolder();
    const TokenTake take = TryTakeTokenLock(LockFolder, UserName.Str());
    if (take.result == TakeResult::Taken) {
        RememberOwnToken(take);
        return GoTo(CopyIn);
    }
    // The start-lock dialog is for a real holder; anything else the user is told.
    if (take.result != TakeResult::InTheWay) {
        ShowTakeProblem(take);
        return GoTo(Finish);
    }
    // Gone meanwhile: another attempt.
    if (!FirstShownToken(LockFolder, ShownHolder)) return GoTo(TakeLock);
    ShowStartLock();
    if (Ending() || CancelFlag) return GoTo(Finish);
    if (ReadOnlyFlag) return GoTo(CopyIn);  // on without the lock
    if (WaitFlag) {
        WaitFlag = false;
        LockWaitProblem.clear();
        NextHolderLook = 0;
        ShowLockWait();
        return GoTo(WaitLock);
    }
    if (DeleteLockFlag) {
        DeleteLockFlag = false;
        // Only the token the user saw: one that took its place meanwhile is shown next time.
        const ShownTokenDelete deleted = DeleteShownToken(LockFolder, ShownHolder);
        if (deleted.result == TokenDelete::Failed)
            return Fail(kHolderNotDeleted.title, kHolderNotDeleted.message + ShownHolder.owner + " (" +
                                                     SystemErrorName(static_cast<int32_t>(deleted.error)) + ")");
    }
    // Deleted, replaced, or the dialog closed without a choice: another attempt.
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
    TStartLock dialog(*this);
    dialog.SetLockInfo(ShownHolder.owner.c_str(), ShownHolder.since.c_str());
    // The user's own name may be another PC's too (one office account), or a period of
    // this PC that ended without letting go: the dialog says so.
    if (lstrcmpiA(ShownHolder.owner.c_str(), UserName.Str()) == 0) dialog.ShowOwnNameNotice();
    dialog.lifeSignText = [this] { return HolderLifeSign(ShownHolder); };
    dialog.ShowModal();
}

std::string TLogo::HolderLifeSign(const ShownToken& holder) {
    HolderWatch.Look(LockFolder, holder.identity);
    return LifeSignText(HolderWatch.Facts());
}

namespace {

// How often a waiting period looks at the holder: the lock is taken within about this
// long of its release.
constexpr ULONGLONG kHolderLookMs = 1000;

}  // namespace

StepOutcome TLogo::StepWaitLock() {
    if (CancelFlag) {
        HideLockWait();
        return GoTo(Finish);
    }
    if (DeleteLockFlag) {
        DeleteLockFlag = false;
        // Only the token shown: one that took its place meanwhile is waited for instead.
        const ShownTokenDelete deleted = DeleteShownToken(LockFolder, ShownHolder);
        if (deleted.result == TokenDelete::Failed) {
            HideLockWait();
            return Fail(kHolderNotDeleted.title, kHolderNotDeleted.message + ShownHolder.owner + " (" +
                                                     SystemErrorName(static_cast<int32_t>(deleted.error)) + ")");
        }
        return LookAtHolder();
    }
    if (GetTickCount64() < NextHolderLook) return GoTo(WaitLock);
    return LookAtHolder();
}

StepOutcome TLogo::LookAtHolder() {
    NextHolderLook = GetTickCount64() + kHolderLookMs;
    // By the token's exact path: a share's listing may still show a token seconds after
    // it went.
    const TokenPresence holder = LookAtToken(LockFolder, ShownHolder.identity);
    if (holder != TokenPresence::Same) return TakeFreedLock(holder);
    LockWaitProblem.clear();
    HolderWatch.Look(LockFolder, ShownHolder.identity);
    ShowLockWait();
    return GoTo(WaitLock);
}

StepOutcome TLogo::TakeFreedLock(TokenPresence holder) {
    // The take may back off from rivals for seconds: the window keeps answering meanwhile.
    const TokenTake take = RunOnWorker([&] {
        return holder == TokenPresence::Gone ? TryTakeFreedTokenLock(LockFolder, UserName.Str())
                                             : TryTakeTokenLock(LockFolder, UserName.Str());
    });
    if (take.result == TakeResult::Taken) {
        RememberOwnToken(take);
        HideLockWait();
        // Cancelled while the take ran: Finish lets go of the lock again.
        if (CancelFlag) return GoTo(Finish);
        ComeForward();
        return GoTo(CopyIn);
    }
    if (CancelFlag) return GoTo(Finish);
    if (take.result != TakeResult::InTheWay && take.result != TakeResult::Busy &&
        take.result != TakeResult::CreateFailed) {
        HideLockWait();
        ShowTakeProblem(take);
        return GoTo(Finish);
    }
    LockWaitProblem.clear();
    // A token of the user's own name, made meanwhile by another PC, is a holder like any
    // other. Any other failed create is a share that dropped and may come back: the wait
    // goes on, and says why nothing happens.
    if (take.result == TakeResult::CreateFailed && take.error != ERROR_FILE_EXISTS)
        LockWaitProblem = std::string("The lock folder cannot be used (") +
                          SystemErrorName(static_cast<int32_t>(take.error)) + ").";
    // Another PC was quicker: the wait goes on for the new holder.
    ShownToken next;
    if (FirstShownToken(LockFolder, next)) ShownHolder = next;
    HolderWatch.Look(LockFolder, ShownHolder.identity);
    ShowLockWait();
    return GoTo(WaitLock);
}

void TLogo::bt_LockWaitDeleteClick() { SetDeleteLock(); }

void TLogo::bt_LockWaitCancelClick() {
    SetCancel();
    HideLockWait();
}

namespace {

// The SMB client serves a folder listing from a cache up to 10 s old: a rival's token
// made just after ours may not show in a listing before then. Local folders have none.
constexpr ULONGLONG kListingCacheMs = 10000;

bool OnNetwork(const char* folder) {
    const std::string path = FullPathOf(folder ? folder : "");
    if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/')) return true;
    const std::string root = path.substr(0, 3);
    return GetDriveTypeA(root.c_str()) == DRIVE_REMOTE;
}

}  // namespace

StepOutcome TLogo::ConfirmLock() {
    // A listing taken sooner after our take could still hide a rival's token.
    const ULONGLONG since = GetTickCount64() - OwnTokenTakenAt;
    if (OwnToken.Known() && since < kListingCacheMs && OnNetwork(LockFolder))
        RunOnWorker([&] { return SleepEx(static_cast<DWORD>(kListingCacheMs - since), FALSE); });
    // A lock folder that cannot be read says nothing about the lock: no loss is assumed.
    if (GetFileAttributesA(LockFolder) == INVALID_FILE_ATTRIBUTES) {
        const std::string text = std::string("The lock folder ") + LockFolder + " cannot be read (" +
                                 SystemErrorName(static_cast<int32_t>(GetLastError())) +
                                 ").\n\nRetry once it can be reached again. Cancel copies nothing back; your work "
                                 "stays here and is offered again at the next start.";
        const int answer = Platform().messageBox(Handle(), text.c_str(), "Lock Folder Unreadable",
                                                 MB_RETRYCANCEL | MB_ICONWARNING | MB_TASKMODAL);
        if (Ending()) return GoTo(Finish);
        return GoTo(answer == IDRETRY ? CheckLock : Finish);
    }
    const TokenConflict seen = OtherTokens(LockFolder, OwnToken);
    if (seen.Clear()) return GoTo(CopyBack);
    if (!seen.others.empty()) return AskAboutStolenLock(seen.firstOther, seen.ownListed);
    return AskAboutLostLock();
}

StepOutcome TLogo::AskAboutStolenLock(const ShownToken& holder, bool ownListed) {
    TFinishLockStolen dialog(*this);
    dialog.SetLockInfo(holder.owner.c_str(), holder.since.c_str());
    dialog.lifeSignText = [&] { return HolderLifeSign(holder); };
    dialog.ShowModal();
    // Closed without a choice is no confirmation: nothing is copied back without the user's word.
    if (Ending() || dialog.ClosedFromOutside() || CancelFlag) return GoTo(Finish);
    if (!DeleteLockFlag) return GoTo(Finish);
    DeleteLockFlag = false;
    const ShownTokenDelete deleted = DeleteShownToken(LockFolder, holder);
    if (deleted.result == TokenDelete::Failed)
        return Fail(kHolderNotDeleted.title, kHolderNotDeleted.message + holder.owner);
    // Another token took its place while the dialog was open: that one is asked about next.
    if (deleted.result == TokenDelete::Replaced) return GoTo(CheckLock);
    // Ours still there: the lock is ours again; otherwise it is taken anew.
    return ownListed ? GoTo(CheckLock) : TakeLockForCopyBack();
}

StepOutcome TLogo::AskAboutLostLock() {
    TFinishLockGone dialog(*this);
    dialog.ShowModal();
    if (Ending() || dialog.ClosedFromOutside() || CancelFlag) return GoTo(Finish);
    return TakeLockForCopyBack();
}

StepOutcome TLogo::TakeLockForCopyBack() {
    // The copy back runs under this user's token: it is taken again first.
    const TokenTake take = TryTakeTokenLock(LockFolder, UserName.Str());
    if (take.result == TakeResult::Taken) {
        RememberOwnToken(take);
        return GoTo(CopyBack);
    }
    // Another user's token appeared meanwhile: the lock-stolen dialog decides, next tick.
    if (take.result == TakeResult::InTheWay) return GoTo(CheckLock);
    ShowTakeProblem(take);
    return GoTo(Finish);
}
