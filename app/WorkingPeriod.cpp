// The working period: one step per timer tick, selected by State.
#include "app/Clogo.h"

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

void TLogo::StepInitialise() {
    OwnedText programPath(IdentityStep());
    ResetFlags();
    State = EnsureSettings;
}

// The remaining steps arrive with the settings, lock, transfer and launcher modules.
void TLogo::StepEnsureSettings() { State = Finish; }
void TLogo::StepTakeLock() { State = Finish; }
void TLogo::StepCopyIn() { State = Finish; }
void TLogo::StepLaunch() { State = Finish; }
void TLogo::StepWatch() { State = Finish; }
void TLogo::StepCheckLock() { State = Finish; }
void TLogo::StepCopyBack() { State = Finish; }
void TLogo::StepShowError() { State = Finish; }
void TLogo::RunConfiguration() {}
bool TLogo::AcquireLock() { return false; }
bool TLogo::ConfirmLock() { return false; }
void TLogo::lb_TitleClick() {}

void TLogo::StepFinish() {
    zTimer.SetEnabled(false);
    Close();
}
