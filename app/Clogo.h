// Clogo: the title window, the program's identity and the working period it drives.
#pragma once

#include "app/DataSafety.h"
#include "app/LockRule.h"
#include "app/PeriodClaim.h"
#include "app/PeriodChoices.h"
#include "app/UnsavedWork.h"
#include "lock/LifeSign.h"
#include "lock/Tokenlock.h"
#include "forms/Form.h"
#include "shell/Wintools.h"
#include "shell/transfer/Transfer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AppControl;

enum PeriodState : int32_t {
    Initialise = 0,
    EnsureSettings = 1,
    TakeLock = 3,
    CopyIn = 4,
    Launch = 5,
    Watch = 6,
    CheckLock = 7,
    CopyBack = 8,
    Finish = 9,
    ShowError = 10,
    WaitLock = 11,
};

// What a step leads to: the next state, or an error for the ShowError step to show.
struct StepOutcome {
    int32_t next = Finish;
    const char* errorTitle = nullptr;  // set: an error
    std::string errorMessage;
};
inline StepOutcome GoTo(int32_t next) { return {next, nullptr, {}}; }
inline StepOutcome Fail(const char* title, std::string message) { return {ShowError, title, std::move(message)}; }
// Empty: the step goes on; otherwise how it ends.
using Interruption = std::optional<StepOutcome>;

class TLogo : public forms::Form, public PeriodChoices {
public:
    TLogo();
    ~TLogo() override;

    // Dialogs report the user's choice only through these.
    void SetCancel() override { CancelFlag = true; }
    void SetReadOnly() override { ReadOnlyFlag = true; }
    void SetDeleteLock() override { DeleteLockFlag = true; }
    void SetWait() override { WaitFlag = true; }
    void SetKeepWork() override { KeepWorkFlag = true; }
    // The configuration dialog's first fill of an empty shared folder (FirstFill.cpp).
    bool FillSharedFolder(std::string& problem) override;
    forms::Form& Window() override { return *this; }
    const char* ProgramTitle() const override { return Title.Str(); }
    void ResetFlags();
    // Records the pending error (message followed by suffix) and selects ShowError.
    void SetError(const char* title, const char* message, const char* suffix);
    // Fills UserName, TitlePath and Title; returns the program path (caller owns it).
    char* IdentityStep();

    // The record the steps work on.
    int32_t State = Initialise;
    OwnedText UserName;
    const char* LockFolder = nullptr;  // the settings store's text, not owned
    OwnedText TitlePath;
    std::unique_ptr<AppControl> Launcher;
    OwnedText ErrorTitle;
    OwnedText ErrorMessage;
    bool CancelFlag = false;
    bool ReadOnlyFlag = false;
    bool DeleteLockFlag = false;
    bool WaitFlag = false;
    bool KeepWorkFlag = false;
    OwnedText Title;
    // The shared tree as this period copied it in; a different one before the copy
    // back means another PC wrote while the lock was not ours.
    TreeSeen SharedAtCopyIn;
    // The shared tree as the copy back's check listed it: the copy back takes that
    // listing instead of listing the share again.
    TreeSeen SharedAtCopyBack;
    // The token this period created (none: it holds no lock), when, and what the rule
    // before writes to the shared folder has seen of it.
    HeldLock OwnLock;
    // The window was asked to close during the period.
    bool CloseAsked = false;
    // A copy back of this period's work is under way: the session must not end now.
    bool CopyingBack = false;
    // The holder the start-lock dialog showed: only that very token may be deleted.
    ShownToken ShownHolder;
    // What this PC has seen of that holder's life sign, in the dialogs and while waiting.
    LifeSignWatch HolderWatch;
    // Renews the life sign of OwnToken while the period holds it.
    LifeSignRenewer LifeSign;
    // While waiting for the lock: when the holder is looked at next (tick count), and why
    // the lock folder could not be used at the last look (empty: it could).
    ULONGLONG NextHolderLook = 0;
    std::string LockWaitProblem;
    // After the application ended: the wait for its data files to be closed.
    InUseWait DataInUse;
    // This period's claim on the local data folder, held until the program ends.
    PeriodClaim LocalClaim;
    // What the share's history is to learn of this period besides its copy back: locks
    // deleted, work set aside. Written only under the lock, once the rule before writes has
    // passed (HistoryEvents.cpp).
    std::vector<HistoryRecord> PendingEvents;
    // Earlier periods of this PC that lost their lock, from the record of unsaved work:
    // they stay in the record until the history has them.
    std::vector<LostLockNote> CarriedLostLocks;
    // The History window is open over the title window: the period's end waits for it.
    bool HistoryOpen = false;
    bool FinishAfterHistory = false;

    forms::Label& lb_Title;
    forms::Timer& zTimer;
    // Shown only while the period waits for programs that the application left running.
    forms::Label& lb_Waiting;
    forms::Button& bt_WorkDone;
    forms::Button& bt_WaitCancel;
    // Shown only while the period waits for the lock.
    forms::Label& lb_LockWait;
    forms::Button& bt_LockWaitDelete;  // only once the holder's PC seems to have stopped
    forms::Button& bt_LockWaitCancel;

private:
    void FormShow();
    void FormDestroy();
    void zTimerTimer();
    void lb_TitleClick();
    // The title's menu: "History...".
    void lb_TitleContextMenu(POINT at);
    void bt_WorkDoneClick();
    void bt_WaitCancelClick();
    // Says which programs the period waits for, and offers the two ways out.
    void ShowWaitingFor(const std::vector<std::string>& programs);
    void HideWaiting();
    void bt_LockWaitDeleteClick();
    void bt_LockWaitCancelClick();
    // Says whom the period waits for and what is known of the holder's PC.
    void ShowLockWait();
    void HideLockWait();
    // The lock came after a wait: the user may be elsewhere.
    void ComeForward();

    // One step of the working period, selected by State (WorkingPeriod.cpp).
    void RunStep();
    StepOutcome RunSelectedStep();
    StepOutcome StepInitialise();
    StepOutcome StepEnsureSettings();
    StepOutcome StepTakeLock();
    StepOutcome StepCopyIn();
    StepOutcome StepLaunch();
    StepOutcome StepWatch();
    StepOutcome StepCheckLock();
    StepOutcome StepCopyBack();
    StepOutcome StepFinish();
    StepOutcome StepShowError();
    StepOutcome StepWaitLock();
    // True when the user saved the settings; Cancel, Escape or closing save nothing.
    bool RunConfiguration();
    // A transfer on a worker, with the progress display.
    TransferResult TransferWithProgress(const std::string& source, const std::string& destination,
                                        const TransferOptions* options = nullptr);

    // The lock conflicts (LockConflicts.cpp). Each answers for one attempt; a step that
    // must try again returns its own state, so that the next tick does.
    StepOutcome AcquireLock();
    StepOutcome ConfirmLock();
    // The lock-lost dialogs; each returns where the period goes.
    StepOutcome AskAboutStolenLock(const ShownToken& holder, bool ownListed);
    StepOutcome AskAboutLostLock();
    // Takes the lock again for the copy back after the user's word.
    StepOutcome TakeLockForCopyBack();
    void RememberOwnToken(const TokenTake& take);
    // Deletes the token this period made and its life sign, once; on a worker unless the
    // session is ending. Every way out of the program comes through here.
    void ReleaseOwnLock(bool onWorker = true);
    void ShowStartLock();
    // The holder's life sign, looked at again now (on a worker), as a dialog line; in the
    // period's lock folder unless another is named.
    std::string HolderLifeSign(const ShownToken& holder, const char* lockFolder = nullptr);
    bool LookingAtHolder = false;  // a look runs: a dialog's next refresh shows the last line
    std::string LastHolderLifeSign;
    // A dialog's life sign lines: the first from a look taken before it shows, then a look
    // at each call. `holder` must outlive the dialog.
    std::function<std::string()> HolderLifeSignLines(const ShownToken& holder);
    // The holder as a box names it: "Bob (PC OFFICE-7, last life sign 3 s ago)".
    std::string HolderDescription(const ShownToken& holder);
    // The rule before every write to the shared folder (LockRule.h), with the user's word
    // where it does not hold; empty when the write may go ahead. `outcome` ends the box
    // that says the lock was lost: what became of the data.
    Interruption RequireLockForWrite(const std::string& outcome);
    // "The lock was lost <when>: <who holds it now>." and the outcome.
    void TellLockLost(const LockLook& look, const std::string& when, const std::string& outcome);
    // The lock folder cannot be read: Retry (true) or Cancel.
    bool RetryUnreadableLockFolder(DWORD error);
    // "Delete Lock && Save" over a holder whose life sign is fresh: asked once more.
    bool DeleteLiveHoldersLock(const ShownToken& holder);
    // A look at the holder while waiting; the take once it has gone.
    StepOutcome LookAtHolder();
    StepOutcome TakeFreedLock(TokenPresence holder);
    // Why the lock could not be taken when no holder is in the way.
    void ShowTakeProblem(const TokenTake& take);
    // A take on a worker, so that the window answers through its back-off.
    TokenTake TakeOnWorker(bool freed);

    // The decisions that keep work safe (DataSafety.cpp).
    // The copy in. Without the lock another PC may switch in its save while the copy
    // runs: the copy counts only when the shared tree was the same before and after it.
    bool CopySharedIn();
    // The shared folder is put right only here, once the lock is held.
    Interruption RepairSharedFolder();
    // Before the copy in replaces the local data: work an earlier period left unsaved is
    // copied back, set aside, or the period stops.
    Interruption SettleUnsavedWork();
    Interruption RecordUnsavedWork();
    // True when the shared data is as this period copied it in, or the user chose to
    // copy back over another PC's save; `otherSaveAside` then names where that save goes.
    bool CopyBackAgreed(std::string& otherSaveAside);
    // The copy back: another PC's save it replaces is set aside first, and the record
    // learns, just before the switch, what is about to reach the share. Nothing is
    // written unless the lock is ours, also just before the switch; empty when the work
    // reached the share.
    Interruption CopyWorkBack(const std::string& otherSaveAside);
    // The share holds exactly the work the record names: a copy back was switched in and
    // only the end of its period was cut short.
    // Who and since when, for the history entry of this period's copy back.
    HistoryAuthor HistoryAuthorOfThisPeriod() const;
    bool WorkReachedShare(const UnsavedWork& work, uint64_t sharedNow);
    // After the application ended, a step of the wait for its files: empty while it
    // waits, otherwise where the period goes.
    Interruption WaitForDataClosed();

    // Events of the share's history (HistoryEvents.cpp). Each Note keeps one for the next
    // write; WriteHistoryEvents writes them, and is called only right after the rule before
    // writes has passed. A history that cannot be written never stops the period.
    void NoteHistoryEvent(const std::string& text);
    // The user deleted `holder`'s token with the button `choice`.
    void NoteDeletedLock(const ShownToken& holder, const char* choice);
    // The period ends without copying back because its lock was lost: noted in the record
    // of unsaved work, for the next period here that holds the lock.
    void NoteLostLock(const LockLook& look);
    // The notes an earlier period left in the record of unsaved work are this period's to write.
    void TakeOverLostLocks(const UnsavedWork& work);
    void WriteHistoryEvents();
    // At the end, with the lock still ours: what no write of the period took along.
    void WriteHistoryEventsAtTheEnd();

    // Closing the title window ends a period only through Finish, and not while the
    // application runs; nor does the end of the session while work has not reached the
    // share (SessionEnd.cpp).
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    bool WorkNotOnShare() const;
    BOOL AnswerQueryEndSession();
    void SessionEnds();
    // Windows is told why the session should wait while work is on its way to the share.
    void BlockSessionEnd(bool block);
    bool SessionEndBlocked = false;
    bool SessionEnded = false;  // Windows ends the session: nothing more is done
    bool InStep = false;        // a step runs (its dialogs and workers included)

    // The window is gone, the program or the session is ending: a step must not go on.
    bool Ending() const;
};

// Why a take failed when no holder is shown, as the box that says so has it.
struct TakeProblem {
    const char* title;
    std::string text;
};
TakeProblem DescribeTakeProblem(const TokenTake& take, const char* lockFolder, const std::string& user);

// Command-line argument `index` (1 and up) by the platform's rules: blanks and control
// characters separate, a double-quoted stretch belongs to one argument and loses its quotes.
char* CommandLineArgument(const char* commandLine, int index);
