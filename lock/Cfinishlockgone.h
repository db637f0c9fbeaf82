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

private:
    void FormShow();
    void bt_CancelClick();
    void bt_SaveClick();
};
