// Cstartlock: asks what to do when the lock could not be taken at the start.
#pragma once

#include "app/PeriodChoices.h"
#include "forms/Form.h"

class TStartLock : public forms::Form {
public:
    explicit TStartLock(PeriodChoices& titleWindow);
    ~TStartLock() override;

    // Owner name and since text; an absent text leaves its box empty.
    void SetLockInfo(const char* ownerName, const char* sinceText);
    // The holder carries the user's own name: it may be another PC's as well.
    void ShowOwnNameNotice();

    PeriodChoices& TitleWindow;  // not owned; only its flags are set

    // In tab order.
    forms::Button& bt_Cancel;
    forms::Button& bt_Delete;
    forms::Button& bt_Proceed;
    forms::EditBox& tb_Name;
    forms::EditBox& tb_Since;
    forms::Label& lb_lockedBy;
    forms::Label& Label1;
    forms::Label& lb_OwnName;  // shown only for a token in the user's own name

private:
    void FormShow();
    void bt_CancelClick();
    void bt_DeleteClick();
    void bt_ProceedClick();
};
