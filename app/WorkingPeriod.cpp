// The working period: one step per timer tick, selected by State.
#include "app/Clogo.h"

#include "info/Creginfo.h"
#include "launcher/Winappcontrol.h"
#include "lock/Cfinishlockgone.h"
#include "lock/Cfinishlockstolen.h"
#include "lock/Cstartlock.h"
#include "lock/Tokenlock.h"
#include "settings/Configure.h"
#include "settings/Persistentdata.h"

#include <string>

void TLogo::RunStep() {
    switch (State) {
        case EnsureSettings: StepEnsureSettings(); break;
        case TakeLock: StepTakeLock(); break;
        case CopyIn: StepCopyIn(); break;
        case Launch: StepLaunch(); break;
        case Watch: StepWatch(); break;
        case CheckLock: StepCheckLock(); break;
        case CopyBack: StepCopyBack(); break;
        case Finish: StepFinish(); break;
        case ShowError: StepShowError(); break;
        default: StepInitialise(); break;
    }
}

bool TLogo::Ending() const { return !Alive() || forms::application::Terminated(); }

void TLogo::StepInitialise() {
    OwnedText programPath(IdentityStep());
    MakeIniFileName(programPath.Get());
    ResetFlags();
    State = EnsureSettings;
}

void TLogo::StepEnsureSettings() {
    const bool loaded = ReadSettings();
    if (UserName.Str()[0] && loaded) {
        if (CheckSettings(GetRemoteLockFolder(), GetRemoteSharedDataFolder(), GetLocalDataFolder(),
                          GetRunCommand()) != 0)
            RunConfiguration();
        State = CancelFlag ? Finish : TakeLock;
    } else {
        // Configuration only: the period has to be started again afterwards.
        RunConfiguration();
        State = Finish;
    }
}

void TLogo::StepTakeLock() { State = AcquireLock() ? CopyIn : Finish; }

void TLogo::StepCopyIn() {
    State = Launch;
    if (!TransferTree(GetRemoteSharedDataFolder(), GetLocalDataFolder()))
        SetError("Copy Remote Data", "Error copying remote shared data", "");
}

void TLogo::StepLaunch() {
    Launcher = std::make_unique<AppControl>(GetRunCommand(), GetRunCommandOptions());
    State = Watch;
    if (!Launcher->Start()) SetError("Lanuching Application", Launcher->GetErrorText(), "");
}

void TLogo::StepWatch() {
    if (!Launcher) {
        SetError("Internal Error", "Lost application handle", "");
        return;
    }
    if (!Launcher->IsRunning()) State = CheckLock;
}

void TLogo::StepCheckLock() {
    State = Finish;
    if (!ReadOnlyFlag && ConfirmLock()) State = CopyBack;
}

void TLogo::StepCopyBack() {
    State = Finish;
    if (!TransferTree(GetLocalDataFolder(), GetRemoteSharedDataFolder()))
        SetError("Copy Local Data", "Error copying local data back to Shared Data Folder", "");
}

void TLogo::StepFinish() {
    zTimer.SetEnabled(false);
    // The token named for this user goes, whoever created it; another holder's stays.
    if (UserName.Str()[0] && LockFolder) DeleteTokenLock(LockFolder, UserName.Str());
    Close();
}

void TLogo::StepShowError() {
    ShowErrorMessage(Handle(), ErrorTitle.Str(), ErrorMessage.Str());
    State = Finish;
}

void TLogo::RunConfiguration() {
    ResetFlags();
    TCarvelund dialog(*this);
    dialog.ShowModal();
}

bool TLogo::AcquireLock() {
    LockFolder = GetRemoteLockFolder();
    for (;;) {
        const TokenTake take = TryTakeTokenLock(LockFolder, UserName.Str());
        if (take.result == TakeResult::Taken) return true;
        // The start-lock dialog is for a real holder; anything else the user is told.
        if (take.result != TakeResult::InTheWay) {
            ShowTakeProblem(take);
            return false;
        }
        ShowStartLock();
        if (Ending() || CancelFlag) return false;
        if (ReadOnlyFlag) return true;  // on without the lock
        if (DeleteLockFlag) {
            // The holder is read again: it may have changed while the dialog was open.
            OwnedText holder(TokenLockOwner(LockFolder));
            DeleteTokenLock(LockFolder, holder.Get());
            DeleteLockFlag = false;
        }
    }
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

bool TLogo::ConfirmLock() {
    if (OwnsTokenLock(LockFolder, UserName.Str())) return true;
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
        if (Ending()) return false;
        if (DeleteLockFlag) {
            if (!DeleteTokenLock(LockFolder, holder.Get())) {
                SetError("Lock Delete", "Can't delete existing lock : ", holder.Get());
                return false;
            }
            DeleteLockFlag = false;
        }
    } else {
        TFinishLockGone dialog(*this);
        dialog.ShowModal();
        chosen = !dialog.ClosedFromOutside();
        if (Ending()) return false;
    }
    return chosen && !CancelFlag;
}

void TLogo::lb_TitleClick() {
    // Before the first tick the program's folder is not known yet: the link would write
    // its shortcut into the root of the current drive.
    if (!TitlePath) return;
    ShowRegInfo(*this);
}
