// The working period: one step per timer tick, selected by State. Each step returns
// where the period goes next; an error it returns is recorded here, in one place.
#include "app/Clogo.h"

#include "app/Chistory.h"
#include "app/Cprogress.h"
#include "shell/SystemTexts.h"
#include "shell/Trace.h"
#include "app/UnsavedWork.h"
#include "forms/Worker.h"
#include "info/Creginfo.h"
#include "launcher/Winappcontrol.h"
#include "lock/Tokenlock.h"
#include "settings/Configure.h"
#include "settings/Persistentdata.h"
#include "shell/transfer/Transfer.h"

#include <exception>
#include <string>

namespace {

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
        if (value[0]) setting.set(FullPathOf(value).c_str());
    }
}

// The settings check, except that a shared folder caught between two renames of an
// interrupted transfer counts as there: it is put right once the lock is held.
int CheckPeriodSettings() {
    const char* shared = GetRemoteSharedDataFolder();
    return CheckSettings(GetRemoteLockFolder(), shared, GetLocalDataFolder(), GetRunCommand(),
                         TransferInterrupted(shared));
}

const char* StepName(int32_t state) {
    switch (state) {
        case EnsureSettings: return "step: settings";
        case TakeLock: return "step: take lock";
        case WaitLock: return "step: wait for the lock";
        case CopyIn: return "step: copy in";
        case Launch: return "step: launch";
        case CheckLock: return "step: check lock";
        case CopyBack: return "step: copy back";
        case Finish: return "step: finish";
        case ShowError: return "step: show error";
        default: return "step: initialise";
    }
}

}  // namespace

void TLogo::RunStep() {
    StepOutcome outcome;
    try {
        outcome = RunSelectedStep();
    } catch (const std::exception& e) {
        // With the timer left off the period would stand still for ever: the failure is
        // shown as the period's error, and the period finishes.
        if (State == Finish) throw;
        outcome = Fail("Internal Error", e.what());
    }
    // Asked to close before the application started: the period ends through Finish.
    if (CloseAsked && !outcome.errorTitle && (outcome.next == TakeLock || outcome.next == WaitLock || outcome.next == CopyIn ||
                                               outcome.next == Launch))
        outcome = GoTo(Finish);
    // The period is ending: whatever became of the work, the session may end now.
    if (outcome.errorTitle || outcome.next == Finish) BlockSessionEnd(false);
    if (outcome.errorTitle)
        SetError(outcome.errorTitle, outcome.errorMessage.c_str(), "");
    else
        State = outcome.next;
}

StepOutcome TLogo::RunSelectedStep() {
    // The waits look again tick after tick: only their first look is a stage.
    if (State != Watch && State != WaitLock) TraceStage(StepName(State));
    switch (State) {
        case EnsureSettings: return StepEnsureSettings();
        case TakeLock: return StepTakeLock();
        case CopyIn: return StepCopyIn();
        case Launch: return StepLaunch();
        case Watch: return StepWatch();
        case CheckLock: return StepCheckLock();
        case CopyBack: return StepCopyBack();
        case Finish: return StepFinish();
        case ShowError: return StepShowError();
        case WaitLock: return StepWaitLock();
        default: return StepInitialise();
    }
}

bool TLogo::Ending() const { return !Alive() || forms::application::Terminated() || SessionEnded; }

StepOutcome TLogo::StepInitialise() {
    OwnedText programPath(IdentityStep());
    MakeIniFileName(programPath.Get());
    ResetFlags();
    return GoTo(EnsureSettings);
}

StepOutcome TLogo::StepEnsureSettings() {
    // "Ann Smith" without quotes would be the user "Ann": the lock would carry a name
    // another PC may use too.
    OwnedText extra(CommandLineArgument(GetCommandLineA(), 2));
    if (UserName.Str()[0] && extra.Str()[0]) {
        const std::string text = std::string(Title.Str()) +
                                 " takes one user name. A name with blanks goes in double quotes, for example:\n\n"
                                 "    " + Title.Str() + ".exe \"" + UserName.Str() + " " + extra.Str() + "\"";
        ShowErrorMessage(Handle(), "User Name", text.c_str());
        return GoTo(Finish);
    }
    const bool loaded = ReadSettings();
    if (!UserName.Str()[0] || !loaded) {
        // Configuration only: the period has to be started again afterwards.
        RunConfiguration();
        return GoTo(Finish);
    }
    const std::string local = GetLocalDataFolder();
    // Another period on this PC works in the local data: nothing here may touch it.
    if (!LocalClaim.Take(local)) {
        ShowErrorMessage(Handle(), "Period Already Running",
                         ("Another Carvelund period on this PC is using the local data folder\n" + local +
                          "\n\nThis start ends and changes nothing.").c_str());
        return GoTo(Finish);
    }
    // A data folder gone by mistake: its backup is never quietly taken in its place.
    for (const std::string& folder : {local, std::string(GetRemoteSharedDataFolder())}) {
        Message lost;
        if (!DataFolderLost(folder, lost)) continue;
        ShowMessages(Handle(), {lost});
        return GoTo(Finish);
    }
    // The local folder is this PC's own: an interrupted transfer to it is put right
    // before anything looks at it.
    const RepairResult repair = RunOnWorker([&] {
        return TransferInterrupted(local) ? RepairTransfer(local) : RepairResult{true, {}};
    });
    ShowMessages(nullptr, repair.messages);
    // Settings the dialog refused end the period unless the user saved better ones:
    // Escape or closing the dialog must not go on with a lock folder inside the data.
    if (CheckPeriodSettings() != 0 && (!RunConfiguration() || CheckPeriodSettings() != 0)) return GoTo(Finish);
    if (CancelFlag) return GoTo(Finish);
    MakeSettingsAbsolute();
    return GoTo(TakeLock);
}

StepOutcome TLogo::StepTakeLock() { return AcquireLock(); }

StepOutcome TLogo::StepCopyIn() {
    if (Interruption repaired = RepairSharedFolder()) return *repaired;
    if (Interruption settled = SettleUnsavedWork()) return *settled;
    if (!CopySharedIn()) return Fail(kCopyInFailed.title, kCopyInFailed.message);
    return GoTo(Launch);
}

StepOutcome TLogo::StepLaunch() {
    // Before the application can change anything, so that a crash leaves the record.
    if (Interruption unrecorded = RecordUnsavedWork()) return *unrecorded;
    BlockSessionEnd(!ReadOnlyFlag);
    Launcher = std::make_unique<AppControl>(GetRunCommand(), GetRunCommandOptions());
    if (!Launcher->Start()) {
        // The tree was never handed to the application: there is no work to offer later.
        if (!ReadOnlyFlag) ClearUnsavedWork(GetLocalDataFolder());
        BlockSessionEnd(false);
        return Fail(kLaunchFailedTitle, Launcher->GetErrorText());
    }
    TraceStage("application started");
    return GoTo(Watch);
}

StepOutcome TLogo::StepWatch() {
    if (!Launcher) return Fail(kLauncherLost.title, kLauncherLost.message);
    // Cancel while waiting for programs left running: the work stays recorded as unsaved.
    if (CancelFlag) {
        HideWaiting();
        return GoTo(Finish);
    }
    // A start-up stub ends while the real program it started, or a copy of the program
    // that it handed the work to, still writes the data: the period waits for those too.
    if (Launcher->IsRunning()) {
        if (!Launcher->Running) ShowWaitingFor(Launcher->ProgramsWaitedFor());
        return GoTo(Watch);
    }
    HideWaiting();
    TraceStage("application ended");
    if (Launcher->EndAccountedFor()) DataInUse.HandOverSeen();
    // The data may still be open (a program saving on exit): wait for it to be closed.
    if (Interruption closed = WaitForDataClosed()) return *closed;
    return GoTo(Watch);
}

// The user says the work is done although programs still run (a tray icon, an updater):
// the copy back goes ahead, with the usual check for open files.
void TLogo::bt_WorkDoneClick() {
    if (Launcher) Launcher->StopWaiting();
    HideWaiting();
}

void TLogo::bt_WaitCancelClick() {
    SetCancel();
    HideWaiting();
}

StepOutcome TLogo::StepCheckLock() {
    if (ReadOnlyFlag) return GoTo(Finish);
    const StepOutcome confirmed = ConfirmLock();
    // "Cancel - Lose Changes": the user let the work go. "Keep Work for Later" keeps the
    // record, and the next start offers the work.
    if (confirmed.next == Finish && !confirmed.errorTitle && CancelFlag && !KeepWorkFlag && !Ending())
        ClearUnsavedWork(GetLocalDataFolder());
    return confirmed;
}

StepOutcome TLogo::StepCopyBack() {
    std::string otherSaveAside;
    // "No": nothing is copied and the work stays recorded as unsaved.
    if (!CopyBackAgreed(otherSaveAside)) return GoTo(Finish);
    if (Interruption notSent = CopyWorkBack(otherSaveAside)) return *notSent;
    return GoTo(Finish);
}

StepOutcome TLogo::StepFinish() {
    zTimer.SetEnabled(false);
    HideLockWait();
    WriteHistoryEventsAtTheEnd();
    ReleaseOwnLock();
    // Nothing of this period is on its way to the share any more.
    BlockSessionEnd(false);
    // The user may be making a copy in the History window: the program ends once it closes.
    if (HistoryOpen) {
        FinishAfterHistory = true;
        return GoTo(Finish);
    }
    Close();
    return GoTo(Finish);
}

StepOutcome TLogo::StepShowError() {
    ShowErrorMessage(Handle(), ErrorTitle.Str(), ErrorMessage.Str());
    return GoTo(Finish);
}

TransferResult TLogo::TransferWithProgress(const std::string& source, const std::string& destination,
                                           const TransferOptions* options) {
    const TransferOptions none;
    return RunWithProgress(*this, [&](TransferProgress& progress) {
        return TransferTree(source, destination, &progress, options ? *options : none);
    });
}

bool TLogo::RunConfiguration() {
    ResetFlags();
    TCarvelund dialog(*this);
    dialog.ShowModal();
    return dialog.Saved();
}

LRESULT TLogo::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CLOSE: {
            // Closed during a period ("Close window" on the taskbar, Alt+F4, a quit from another
            // program), the program would end without letting go of the lock or copying back.
            // Before the application starts the period finishes instead; once it runs, closing
            // is refused: the work must go back. Even the moment before Finish runs is a period.
            const bool underway = State != Initialise && State != EnsureSettings;
            if (!underway) break;
            CloseAsked = true;
            return 0;
        }
        case WM_QUERYENDSESSION: return AnswerQueryEndSession();
        case WM_ENDSESSION:
            if (wp) SessionEnds();
            return 0;
        default: break;
    }
    return forms::Form::HandleMessage(msg, wp, lp);
}

void TLogo::lb_TitleContextMenu(POINT at) {
    // Before the first tick the settings are not read yet; a second History window is none.
    if (!TitlePath || HistoryOpen) return;
    if (forms::ChooseFromMenu(*this, at, {"History..."}) != 0) return;
    HistoryOpen = true;
    ShowHistory(*this, GetRemoteSharedDataFolder(), GetLocalDataFolder());
    HistoryOpen = false;
    if (FinishAfterHistory && Alive()) Close();
}

void TLogo::lb_TitleClick() {
    // Before the first tick the program's folder is not known yet: the link would write
    // its shortcut into the root of the current drive.
    if (!TitlePath) return;
    ShowRegInfo(*this, TitlePath.Str());
}
