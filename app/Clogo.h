// Clogo: the title window, the program's identity and the working period it drives.
#pragma once

#include "forms/Form.h"
#include "shell/Wintools.h"

#include <cstdint>
#include <memory>

class AppControl;
struct TokenTake;

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
};

class TLogo : public forms::Form {
public:
    TLogo();
    ~TLogo() override;

    // Dialogs report the user's choice only through these.
    void SetCancel() { CancelFlag = true; }
    void SetReadOnly() { ReadOnlyFlag = true; }
    void SetDeleteLock() { DeleteLockFlag = true; }
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
    OwnedText Title;
    // The shared tree as this period copied it in; a different one before the copy
    // back means another PC wrote while the lock was not ours.
    uint64_t SharedAtCopyIn = 0;
    // Since when (tick count) a file of the local data has been seen open after the
    // application ended; 0 while none is.
    DWORD InUseSince = 0;
    // When (tick count) the started application was seen to have ended; 0 before.
    DWORD AppEndedAt = 0;
    DWORD LastDataCheck = 0;

    forms::Label& lb_Title;
    forms::Timer& zTimer;

private:
    void FormShow();
    void FormDestroy();
    void zTimerTimer();
    void lb_TitleClick();

    // One step of the working period, selected by State.
    void RunStep();
    void StepInitialise();
    void StepEnsureSettings();
    void StepTakeLock();
    void StepCopyIn();
    void StepLaunch();
    void StepWatch();
    void StepCheckLock();
    void StepCopyBack();
    void StepFinish();
    void StepShowError();
    void RunConfiguration();
    bool AcquireLock();
    void ShowStartLock();
    // Why the lock could not be taken when no holder is in the way.
    void ShowTakeProblem(const TokenTake& take);
    bool ConfirmLock();
    // After a lock-lost dialog let the copy back go ahead: the token is taken again so
    // that the copy back runs under this user's token.
    enum class Retake { Taken, InTheWay, Failed };
    Retake TakeLockAgain();
    // Before the copy in replaces the local data: work an earlier period left unsaved is
    // copied back, set aside, or the period stops. False when the period must not go on.
    bool SettleUnsavedWork();
    bool RecordUnsavedWork();
    bool SharedDataStillOurs();
    enum class DataUse { Free, StillOpen, GiveUp };
    DataUse LocalDataUse();
    // The window is gone or the program is ending: a step must not go on.
    bool Ending() const;
};

// Command-line argument `index` (1 and up) by the platform's rules: blanks and control
// characters separate, a double-quoted stretch belongs to one argument and loses its quotes.
char* CommandLineArgument(const char* commandLine, int index);
