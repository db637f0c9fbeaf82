// Cstartlock: asks what to do when the lock could not be taken at the start.
#pragma once

#include "app/PeriodChoices.h"
#include "forms/Form.h"

#include <functional>
#include <string>

class TStartLock : public forms::Form {
public:
    explicit TStartLock(PeriodChoices& titleWindow);
    ~TStartLock() override;

    // Owner name and since text; an absent text leaves its box empty.
    void SetLockInfo(const char* ownerName, const char* sinceText);
    // The holder carries the user's own name: it may be another PC's as well.
    void ShowOwnNameNotice();
    // The holder's PC and last life sign, asked again every second while shown, so that
    // a holder whose PC stopped is seen as such while the user decides.
    std::function<std::string()> lifeSignText;

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
    forms::Button& bt_Wait;
    forms::Label& lb_LifeSign;
    forms::Timer& zRefresh;

private:
    void FormShow();
    void bt_CancelClick();
    void bt_DeleteClick();
    void bt_ProceedClick();
    void bt_WaitClick();
    void ShowLifeSign();
};
