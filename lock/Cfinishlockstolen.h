// Cfinishlockstolen: asks what to do when another user's token replaced the own one.
#pragma once

#include "app/PeriodChoices.h"
#include "forms/Form.h"

#include <functional>
#include <string>

class TFinishLockStolen : public forms::Form {
public:
    explicit TFinishLockStolen(PeriodChoices& titleWindow);
    ~TFinishLockStolen() override;

    // Owner name and since text; an absent text leaves its box empty.
    void SetLockInfo(const char* ownerName, const char* sinceText);
    // The new holder's PC and last life sign, asked again every second while shown.
    std::function<std::string()> lifeSignText;

    PeriodChoices& TitleWindow;  // not owned; only its flags are set

    // In tab order.
    forms::EditBox& tb_Name;
    forms::Button& bt_Cancel;
    forms::Button& bt_Save;
    forms::EditBox& tb_Since;
    forms::Label& Label2;
    forms::Label& Label1;
    forms::Label& lb_LifeSign;
    forms::Timer& zRefresh;
    // Nothing deleted or copied: the work stays here, recorded, and the next start offers it.
    forms::Button& bt_Keep;

private:
    void FormShow();
    void bt_CancelClick();
    void bt_SaveClick();
    void bt_KeepClick();
    void ShowLifeSign();
};
