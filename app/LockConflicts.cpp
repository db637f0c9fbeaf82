// The lock conflicts: at the start, a token in the way; at the end, a token gone or
// another user's. Each function answers for one attempt; where the user's choice calls
// for another attempt it returns its own step's state, and the next tick tries again.
// Every look at the share runs on a worker: a share that stops answering never stops
// the window from answering.
#include "app/Clogo.h"

#include "forms/Worker.h"
#include "lock/Cfinishlockgone.h"
#include "lock/Cfinishlockstolen.h"
#include "lock/Cstartlock.h"
#include "lock/Tokenlock.h"
#include "settings/Persistentdata.h"
#include "shell/SystemTexts.h"

#include <string>

namespace {

std::string ErrorName(DWORD error) { return SystemErrorName(static_cast<int32_t>(error)); }

}  // namespace

void TLogo::RememberOwnToken(const TokenTake& take) {
    OwnLock = HeldLock{};
    OwnLock.folder = LockFolder;
    OwnLock.token = take.identity;
    OwnLock.takenAt = GetTickCount64();
    OwnLock.renewer = &LifeSign;
    LifeSign.Start(LockFolder, OwnLock.token, LifeSignTimes().intervalMs);
}

void TLogo::ReleaseOwnLock(bool onWorker) {
    // No renewal may follow the token's delete.
    LifeSign.Stop();
    if (!LockFolder || !OwnLock.token.Known()) return;
    // Only the token this period created goes: one of the same name may be another PC's.
    const TokenIdentity own = OwnLock.token;
    OwnLock.token = TokenIdentity{};
    const char* folder = LockFolder;
    const auto release = [folder, own] { return DeleteOwnToken(folder, own); };
    const OwnTokenDelete released = onWorker ? RunOnWorker(release) : release();
    if (released.result == TokenDelete::Failed && onWorker && Alive()) {
        const std::string text = std::string("Can't delete own lock : ") + LockFolder + "\\" + UserName.Str() +
                                 ".tokenlockforcarvelund (" + ErrorName(released.error) + ")";
        ShowErrorMessage(Handle(), "Lock Delete", text.c_str());
    }
}

TokenTake TLogo::TakeOnWorker(bool freed) {
    const char* folder = LockFolder;
    const std::string user = UserName.Str();
    return RunOnWorker([folder, user, freed] {
        return freed ? TryTakeFreedTokenLock(folder, user.c_str()) : TryTakeTokenLock(folder, user.c_str());
    });
}

StepOutcome TLogo::AcquireLock() {
    LockFolder = GetRemoteLockFolder();
    const TokenTake take = TakeOnWorker(false);
    if (take.result == TakeResult::Taken) {
        RememberOwnToken(take);
        return GoTo(CopyIn);
    }
    // The start-lock dialog is for a real holder; anything else the user is told.
    if (take.result != TakeResult::InTheWay) {
        ShowTakeProblem(take);
        return GoTo(Finish);
    }
    ShownToken holder;
    DWORD error = 0;
    const HolderLook look = RunOnWorker([&] { return FindHolder(LockFolder, holder, &error); });
    if (look == HolderLook::Unreadable) {
        TokenTake unreadable;
        unreadable.result = TakeResult::FolderUnreadable;
        unreadable.error = error;
        ShowTakeProblem(unreadable);
        return GoTo(Finish);
    }
    // Gone meanwhile: another attempt.
    if (look == HolderLook::None) return GoTo(TakeLock);
    ShownHolder = holder;
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
        const ShownTokenDelete deleted = RunOnWorker([&] { return DeleteShownToken(LockFolder, ShownHolder); });
        if (deleted.result == TokenDelete::Failed)
            return Fail(kHolderNotDeleted.title,
                        kHolderNotDeleted.message + ShownHolder.owner + " (" + ErrorName(deleted.error) + ")");
        if (deleted.result == TokenDelete::Deleted) NoteDeletedLock(ShownHolder, "Delete Lock & Proceed");
    }
    // Deleted, replaced, or the dialog closed without a choice: another attempt.
    return GoTo(TakeLock);
}

TakeProblem DescribeTakeProblem(const TokenTake& take, const char* lockFolder, const std::string& user) {
    TakeProblem problem{"Lock Create", "Can't create lock : "};
    switch (take.result) {
        case TakeResult::CreateFailed: problem.text += ErrorName(take.error); break;
        case TakeResult::NameRefused: problem.text += take.detail + " : " + user; break;
        case TakeResult::Unseen: problem.text += "the new token is not visible in the lock folder"; break;
        case TakeResult::Busy: problem.text += "the lock folder stayed busy, try again"; break;
        case TakeResult::InTheWay: problem.text += "another token is in the lock folder"; break;
        case TakeResult::NameTaken: problem.text += "a hidden file or a folder has the token's name: " + take.detail; break;
        case TakeResult::FolderUnreadable:
            problem.title = "Lock Folder Unreadable";
            problem.text = std::string("The lock folder ") + (lockFolder ? lockFolder : "") + " cannot be read (" +
                           ErrorName(take.error) + "). Nothing was changed.";
            break;
        case TakeResult::OwnTokenStuck:
            problem.title = "Lock Delete";
            problem.text = "Can't delete own lock : " + take.detail;
            break;
        case TakeResult::Taken: break;
    }
    return problem;
}

void TLogo::ShowTakeProblem(const TokenTake& take) {
    const TakeProblem problem = DescribeTakeProblem(take, LockFolder, UserName.Str());
    ShowErrorMessage(Handle(), problem.title, problem.text.c_str());
}

void TLogo::ShowStartLock() {
    TStartLock dialog(*this);
    dialog.SetLockInfo(ShownHolder.owner.c_str(), ShownHolder.since.c_str());
    // The user's own name may be another PC's too (one office account), or a period of
    // this PC that ended without letting go: the dialog says so.
    if (lstrcmpiA(ShownHolder.owner.c_str(), UserName.Str()) == 0) dialog.ShowOwnNameNotice();
    dialog.lifeSignText = HolderLifeSignLines(ShownHolder);
    dialog.ShowModal();
}

std::function<std::string()> TLogo::HolderLifeSignLines(const ShownToken& holder) {
    // Looked at before the dialog shows, so that it opens with the line filled in.
    HolderLifeSign(holder);
    return [this, &holder, first = true]() mutable {
        if (!first) return HolderLifeSign(holder);
        first = false;
        return LastHolderLifeSign;
    };
}

std::string TLogo::HolderLifeSign(const ShownToken& holder, const char* lockFolder) {
    // A dialog asks every second; a look that takes longer is not asked for again meanwhile.
    if (LookingAtHolder) return LastHolderLifeSign;
    LookingAtHolder = true;
    const char* folder = lockFolder ? lockFolder : LockFolder;
    RunOnWorker([&] {
        HolderWatch.Look(folder, holder.identity);
        return true;
    });
    LookingAtHolder = false;
    LastHolderLifeSign = LifeSignText(HolderWatch.Facts());
    return LastHolderLifeSign;
}

std::string TLogo::HolderDescription(const ShownToken& holder) {
    return holder.owner + " (" + HolderLifeSign(holder) + ")";
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
        const ShownTokenDelete deleted = RunOnWorker([&] { return DeleteShownToken(LockFolder, ShownHolder); });
        if (deleted.result == TokenDelete::Failed) {
            HideLockWait();
            return Fail(kHolderNotDeleted.title,
                        kHolderNotDeleted.message + ShownHolder.owner + " (" + ErrorName(deleted.error) + ")");
        }
        if (deleted.result == TokenDelete::Deleted) NoteDeletedLock(ShownHolder, "Delete Lock");
        return LookAtHolder();
    }
    if (GetTickCount64() < NextHolderLook) return GoTo(WaitLock);
    return LookAtHolder();
}

StepOutcome TLogo::LookAtHolder() {
    NextHolderLook = GetTickCount64() + kHolderLookMs;
    // By the token's exact path: a share's listing may still show a token seconds after
    // it went.
    DWORD error = 0;
    const TokenPresence holder = RunOnWorker([&] { return LookAtToken(LockFolder, ShownHolder.identity, &error); });
    if (holder == TokenPresence::Gone || holder == TokenPresence::Other) return TakeFreedLock(holder);
    LockWaitProblem.clear();
    // A share that dropped may come back: the wait goes on, and says why nothing happens.
    if (holder == TokenPresence::Unreadable)
        LockWaitProblem = "The lock folder cannot be used (" + ErrorName(error) + ").";
    HolderLifeSign(ShownHolder);
    ShowLockWait();
    return GoTo(WaitLock);
}

StepOutcome TLogo::TakeFreedLock(TokenPresence holder) {
    // The take may back off from rivals for seconds: the window keeps answering meanwhile.
    const TokenTake take = TakeOnWorker(holder == TokenPresence::Gone);
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
        take.result != TakeResult::CreateFailed && take.result != TakeResult::FolderUnreadable) {
        HideLockWait();
        ShowTakeProblem(take);
        return GoTo(Finish);
    }
    LockWaitProblem.clear();
    // A failed create or listing is a share that dropped and may come back: the wait goes
    // on, and says why nothing happens.
    if (take.result == TakeResult::CreateFailed || take.result == TakeResult::FolderUnreadable)
        LockWaitProblem = "The lock folder cannot be used (" + ErrorName(take.error) + ").";
    // Another PC was quicker: the wait goes on for the new holder.
    ShownToken next;
    if (RunOnWorker([&] { return FirstShownToken(LockFolder, next); })) ShownHolder = next;
    HolderLifeSign(ShownHolder);
    ShowLockWait();
    return GoTo(WaitLock);
}

void TLogo::bt_LockWaitDeleteClick() { SetDeleteLock(); }

void TLogo::bt_LockWaitCancelClick() {
    SetCancel();
    HideLockWait();
}

bool TLogo::RetryUnreadableLockFolder(DWORD error) {
    const std::string text = std::string("The lock folder ") + LockFolder + " cannot be read (" + ErrorName(error) +
                             ").\n\nRetry once it can be reached again. Cancel copies nothing back; your work "
                             "stays here and is offered again at the next start.";
    const int answer = Platform().messageBox(Handle(), text.c_str(), "Lock Folder Unreadable",
                                             MB_RETRYCANCEL | MB_ICONWARNING | MB_TASKMODAL);
    return answer == IDRETRY && !Ending();
}

StepOutcome TLogo::ConfirmLock() {
    // A lock folder that cannot be read says nothing about the lock: no loss is assumed.
    const LockLook look = RunOnWorker([&] { return LookAtHeldLock(OwnLock); });
    switch (look.verdict) {
        case LockVerdict::Ours: return GoTo(CopyBack);
        case LockVerdict::Unreadable: return GoTo(RetryUnreadableLockFolder(look.error) ? CheckLock : Finish);
        case LockVerdict::Lost: break;
    }
    const StepOutcome asked = look.holderListed ? AskAboutStolenLock(look.holder, look.ownThere) : AskAboutLostLock();
    // Ended with the work kept ("Keep Work for Later", a dialog closed without a choice):
    // the history learns of it at this PC's next period.
    if (asked.next == Finish && !asked.errorTitle && !(CancelFlag && !KeepWorkFlag)) NoteLostLock(look);
    return asked;
}

bool TLogo::DeleteLiveHoldersLock(const ShownToken& holder) {
    const LifeSignFacts facts = HolderWatch.Facts();
    if (facts.liveness != Liveness::Alive) return true;
    const std::string text = holder.owner + " holds the lock now, and " + holder.owner + "'s PC " + facts.pc +
                             " showed a life sign a moment ago: " + holder.owner +
                             " is most likely working with the shared data right now.\n\n"
                             "Delete that lock and copy your work over the shared data anyway?\n\n"
                             "No goes back to the choice; Keep Work for Later loses nothing.";
    const int answer = Platform().messageBox(Handle(), text.c_str(), "Delete Lock && Save",
                                             MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL);
    return answer == IDYES && !Ending();
}

StepOutcome TLogo::AskAboutStolenLock(const ShownToken& holder, bool ownListed) {
    TFinishLockStolen dialog(*this);
    dialog.SetLockInfo(holder.owner.c_str(), holder.since.c_str());
    dialog.lifeSignText = HolderLifeSignLines(holder);
    dialog.ShowModal();
    // Closed without a choice is no confirmation: nothing is copied back without the user's
    // word. Keep Work for Later: the work stays recorded for the next start.
    if (Ending() || dialog.ClosedFromOutside() || CancelFlag || KeepWorkFlag || !DeleteLockFlag) return GoTo(Finish);
    DeleteLockFlag = false;
    // A holder at work is asked about once more; No shows the choice again.
    if (!DeleteLiveHoldersLock(holder)) return Ending() ? GoTo(Finish) : GoTo(CheckLock);
    const ShownTokenDelete deleted = RunOnWorker([&] { return DeleteShownToken(LockFolder, holder); });
    if (deleted.result == TokenDelete::Failed)
        return Fail(kHolderNotDeleted.title, kHolderNotDeleted.message + holder.owner);
    if (deleted.result == TokenDelete::Deleted) NoteDeletedLock(holder, "Delete Lock & Save");
    // Another token took its place while the dialog was open: that one is asked about next.
    if (deleted.result == TokenDelete::Replaced) return GoTo(CheckLock);
    // Ours still there: the lock is ours again; otherwise it is taken anew.
    return ownListed ? GoTo(CheckLock) : TakeLockForCopyBack();
}

StepOutcome TLogo::AskAboutLostLock() {
    TFinishLockGone dialog(*this);
    dialog.ShowModal();
    if (Ending() || dialog.ClosedFromOutside() || CancelFlag || KeepWorkFlag) return GoTo(Finish);
    return TakeLockForCopyBack();
}

StepOutcome TLogo::TakeLockForCopyBack() {
    // The copy back runs under this user's token: it is taken again first.
    const TokenTake take = TakeOnWorker(false);
    if (take.result == TakeResult::Taken) {
        RememberOwnToken(take);
        return GoTo(CopyBack);
    }
    // Another user's token appeared meanwhile: the lock-stolen dialog decides, next tick.
    if (take.result == TakeResult::InTheWay) return GoTo(CheckLock);
    ShowTakeProblem(take);
    return GoTo(Finish);
}

// ---- The rule before every write to the shared folder ------------------------------

void TLogo::TellLockLost(const LockLook& look, const std::string& when, const std::string& outcome) {
    // The session ending took the lock away itself: nobody is there to read it.
    if (Ending()) return;
    std::string text;
    if (look.verdict == LockVerdict::Lost)
        text = "The lock was lost " + when + ": " +
               (look.holderListed ? HolderDescription(look.holder) + " holds it now" : "no one holds it now") + ".";
    else if (look.verdict == LockVerdict::Unreadable)
        text = "The lock could not be confirmed " + when + ": the lock folder " + LockFolder + " cannot be read (" +
               ErrorName(look.error) + ").";
    else
        text = "The lock could not be confirmed " + when + ".";
    ShowErrorMessage(Handle(), "Lock Lost", (text + "\n\n" + outcome).c_str());
}

Interruption TLogo::RequireLockForWrite(const std::string& outcome) {
    for (;;) {
        const LockLook look = RunOnWorker([&] { return LookAtHeldLock(OwnLock); });
        switch (look.verdict) {
            case LockVerdict::Ours:
                // The lock is ours and the write may go ahead: the history's events first.
                WriteHistoryEvents();
                return std::nullopt;
            case LockVerdict::Unreadable:
                if (RetryUnreadableLockFolder(look.error)) continue;
                return GoTo(Finish);
            case LockVerdict::Lost:
                TellLockLost(look, "before anything was written to the shared data folder", outcome);
                NoteLostLock(look);
                return GoTo(Finish);
        }
    }
}
