// Cfinishlockgone: asks what to do when the own token vanished and no one holds the lock.
#pragma once

#include "app/PeriodChoices.h"
#include "forms/Form.h"

class TFinishLockGone : public forms::Form {
public:
    explicit TFinishLockGone(PeriodChoices& titleWindow);
    ~TFinishLockGone() override;

    PeriodChoices& TitleWindow;  // not owned; only its flags are set

    // In tab order.
    forms::Button& bt_Cancel;
    forms::Button& bt_Save;
    // Nothing deleted or copied: the work stays here, recorded, and the next start offers it.
    forms::Button& bt_Keep;

private:
    void FormShow();
    void bt_CancelClick();
    void bt_SaveClick();
    void bt_KeepClick();
};
