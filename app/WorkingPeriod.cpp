// The working period: one step per timer tick, selected by State.
#include "app/Clogo.h"

#include "app/DataQuestions.h"
#include "app/UnsavedWork.h"

#include "info/Creginfo.h"
#include "launcher/Winappcontrol.h"
#include "lock/Cfinishlockgone.h"
#include "lock/Cfinishlockstolen.h"
#include "lock/Cstartlock.h"
#include "lock/Tokenlock.h"
#include "settings/Configure.h"
#include "settings/Persistentdata.h"
#include "shell/TreeListing.h"

#include <string>
#include <vector>

namespace {

// How long data files may stay open after the application ended before the user is
// told: a program handing over to another process, or saving on exit, closes its files
// within a second or two; much longer means it is still being worked in.
constexpr DWORD kInUsePatienceMs = 5000;
// A start-up program hands over to the real one and ends at once: give that one a moment
// to open its files before the data counts as free.
constexpr DWORD kHandOverMs = 1000;
// Looking at every file costs time on a large tree: not on every tick.
constexpr DWORD kDataCheckIntervalMs = 500;

// Relative folders are taken against the folder the program started in, once: the
// launch changes the current folder, and every step must mean the same folders.
void MakeSettingsAbsolute() {
    struct Setting {
        const char* (*get)();
        const char* (*set)(const char*);
    };
    const Setting settings[] = {{GetRemoteLockFolder, SetRemoteLockFolder},
                                {GetRemoteSharedDataFolder, SetRemoteSharedDataFolder},
                                {GetLocalDataFolder, SetLocalDataFolder},
                                {GetRunCommand, SetRunCommand}};
    for (const auto& setting : settings) {
        const char* value = setting.get();
        if (!value[0]) continue;
        std::vector<char> full(GetFullPathNameA(value, 0, nullptr, nullptr) + 1);
        const DWORD n = GetFullPathNameA(value, static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n > 0 && n < full.size()) setting.set(full.data());
    }
}

// The settings check, except that a shared folder caught between two renames of an
// interrupted transfer counts as there: it is put right once the lock is held.
int CheckPeriodSettings() {
    const char* shared = GetRemoteSharedDataFolder();
    return CheckSettings(GetRemoteLockFolder(), shared, GetLocalDataFolder(), GetRunCommand(),
                         TransferInterrupted(shared));
}

}  // namespace

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
        // The local folder is this PC's own: an interrupted transfer to it is put right
        // before anything looks at it.
        if (TransferInterrupted(GetLocalDataFolder())) RepairTransfer(GetLocalDataFolder());
        if (CheckPeriodSettings() != 0) RunConfiguration();
        State = CancelFlag ? Finish : TakeLock;
        if (State == TakeLock) MakeSettingsAbsolute();
    } else {
        // Configuration only: the period has to be started again afterwards.
        RunConfiguration();
        State = Finish;
    }
}

void TLogo::StepTakeLock() { State = AcquireLock() ? CopyIn : Finish; }

void TLogo::StepCopyIn() {
    State = Launch;
    const char* shared = GetRemoteSharedDataFolder();
    // The shared folder is put right only under the lock: another PC may be in the
    // middle of its own switch.
    if (!ReadOnlyFlag && TransferInterrupted(shared) && !RepairTransfer(shared)) {
        SetError("Copy Remote Data", "Error copying remote shared data", "");
        return;
    }
    if (!SettleUnsavedWork()) return;
    if (!TransferTree(shared, GetLocalDataFolder())) {
        SetError("Copy Remote Data", "Error copying remote shared data", "");
        return;
    }
    SharedAtCopyIn = LastTransferFigures().sourceFingerprint;
}

bool TLogo::SettleUnsavedWork() {
    const char* local = GetLocalDataFolder();
    const char* shared = GetRemoteSharedDataFolder();
    UnsavedWork work;
    if (!ReadUnsavedWork(local, work)) return true;
    uint64_t sharedNow = 0;
    const bool sharedChanged = !FingerprintFolder(shared, sharedNow) || sharedNow != work.sharedFingerprint;
    const UnsavedChoice choice = AskAboutUnsavedWork(Handle(), local, work, sharedChanged, !ReadOnlyFlag);
    if (Ending()) return false;
    switch (choice) {
        case UnsavedChoice::CopyBack:
            if (!TransferTree(local, shared)) {
                SetError("Copy Local Data", "Error copying local data back to Shared Data Folder", "");
                return false;
            }
            ClearUnsavedWork(local);
            return true;
        case UnsavedChoice::SetAside: {
            std::string aside;
            if (!SetWorkAside(local, aside)) {
                SetError("Unsaved Local Data", "The unsaved work could not be set aside; nothing was changed in ", local);
                return false;
            }
            ClearUnsavedWork(local);
            TellWorkSetAside(Handle(), aside);
            return !Ending();
        }
        case UnsavedChoice::Stop: break;
    }
    State = Finish;
    return false;
}

void TLogo::StepLaunch() {
    // Before the application can change anything, so that a crash leaves the record.
    if (!ReadOnlyFlag && !RecordUnsavedWork()) return;
    Launcher = std::make_unique<AppControl>(GetRunCommand(), GetRunCommandOptions());
    State = Watch;
    if (!Launcher->Start()) SetError("Lanuching Application", Launcher->GetErrorText(), "");
}

void TLogo::StepWatch() {
    if (!Launcher) {
        SetError("Internal Error", "Lost application handle", "");
        return;
    }
    if (Launcher->IsRunning()) return;
    // A start-up stub, or a second start that hands its work to a copy already running,
    // ends while the real program still writes the data: wait for the data, not the
    // process. A read-only period copies nothing back and need not wait.
    const DataUse use = ReadOnlyFlag ? DataUse::Free : LocalDataUse();
    if (use == DataUse::Free) State = CheckLock;
    if (use == DataUse::GiveUp) State = Finish;  // the work stays recorded as unsaved
}

TLogo::DataUse TLogo::LocalDataUse() {
    const DWORD now = GetTickCount();
    if (AppEndedAt == 0) AppEndedAt = now ? now : 1;
    if (now - AppEndedAt < kHandOverMs || (InUseSince && now - LastDataCheck < kDataCheckIntervalMs))
        return DataUse::StillOpen;
    LastDataCheck = now;
    std::string file;
    if (!FirstFileInUse(GetLocalDataFolder(), file)) {
        InUseSince = 0;
        return DataUse::Free;
    }
    if (InUseSince == 0) InUseSince = now ? now : 1;
    if (now - InUseSince < kInUsePatienceMs) return DataUse::StillOpen;
    const bool retry = RetryWhenDataClosed(Handle(), file);
    if (Ending()) return DataUse::StillOpen;
    InUseSince = 0;  // Retry looks again and, if need be, waits anew
    return retry ? DataUse::StillOpen : DataUse::GiveUp;
}

bool TLogo::RecordUnsavedWork() {
    UnsavedWork work;
    GetSystemTimeAsFileTime(&work.began);
    work.sharedFingerprint = SharedAtCopyIn;
    if (WriteUnsavedWork(GetLocalDataFolder(), work)) return true;
    const std::string detail = UnsavedWorkRecordPath(GetLocalDataFolder()) + " (" +
                               SystemErrorName(static_cast<int32_t>(GetLastError())) + ")";
    SetError("Unsaved Local Data", "Cannot keep the record of unsaved work: ", detail.c_str());
    return false;
}

void TLogo::StepCheckLock() {
    State = Finish;
    if (ReadOnlyFlag) return;
    if (ConfirmLock()) {
        State = CopyBack;
        return;
    }
    // "Cancel - Lose Changes": the user let the work go.
    if (CancelFlag && !Ending()) ClearUnsavedWork(GetLocalDataFolder());
}

bool TLogo::SharedDataStillOurs() {
    uint64_t sharedNow = 0;
    // Unreadable: the copy back itself will fail and say so.
    if (!FingerprintFolder(GetRemoteSharedDataFolder(), sharedNow) || sharedNow == SharedAtCopyIn) return true;
    const bool overwrite = CopyBackOverChangedShare(Handle(), GetRemoteSharedDataFolder());
    return overwrite && !Ending();
}

void TLogo::StepCopyBack() {
    State = Finish;
    // "No": nothing is copied and the work stays recorded as unsaved.
    if (!SharedDataStillOurs()) return;
    if (!TransferTree(GetLocalDataFolder(), GetRemoteSharedDataFolder())) {
        SetError("Copy Local Data", "Error copying local data back to Shared Data Folder", "");
        return;
    }
    ClearUnsavedWork(GetLocalDataFolder());
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
    for (;;) {
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
            if (chosen && DeleteLockFlag) {
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
        if (!chosen || CancelFlag) return false;
        const Retake retake = TakeLockAgain();
        if (retake != Retake::InTheWay) return retake == Retake::Taken && !Ending();
        // Another user's token appeared meanwhile: the lock-stolen dialog decides.
    }
}

TLogo::Retake TLogo::TakeLockAgain() {
    const TokenTake take = TryTakeTokenLock(LockFolder, UserName.Str());
    if (take.result == TakeResult::Taken) return Retake::Taken;
    if (take.result == TakeResult::InTheWay) return Retake::InTheWay;
    ShowTakeProblem(take);
    return Retake::Failed;
}

void TLogo::lb_TitleClick() {
    // Before the first tick the program's folder is not known yet: the link would write
    // its shortcut into the root of the current drive.
    if (!TitlePath) return;
    ShowRegInfo(*this);
}
