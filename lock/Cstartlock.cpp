#include "lock/Cstartlock.h"

#include "lock/DialogParts.h"

using namespace lockdialogs;

namespace {

forms::ControlLayout CancelLayout() {
    forms::ControlLayout params = At(197, 83, 75, 50, "Cancel");
    params.font = forms::FontStyle{"MS Sans Serif", 19, true, false};
    return params;
}

forms::ControlLayout OwnNameLayout() {
    forms::ControlLayout params = Caption(8, 48, 281, 26,
                                        "Your own name: another PC of yours may be working with it, or an earlier "
                                        "period here ended without letting go.");
    params.visible = false;
    return params;
}

}  // namespace

TStartLock::TStartLock(PeriodChoices& titleWindow)
    : forms::Form(LockDialog("TStartLock", "Caution - Already Locked", 297, 232), &titleWindow.Window()),
      TitleWindow(titleWindow),
      bt_Cancel(Add<forms::Button>(CancelLayout())),
      bt_Delete(Add<forms::Button>(At(24, 75, 120, 25, "Delete Lock && Proceed"))),
      bt_Proceed(Add<forms::Button>(At(24, 115, 120, 25, "Proceed Read Only"))),
      tb_Name(Add<forms::EditBox>(ShownText(8, 24, 161, 21))),
      tb_Since(Add<forms::EditBox>(ShownText(180, 24, 109, 21))),
      lb_lockedBy(Add<forms::Label>(Caption(8, 8, 161, 13, "Currently locked by:"))),
      Label1(Add<forms::Label>(Caption(180, 8, 40, 13, "Since", "Time when lock was created"))),
      lb_OwnName(Add<forms::Label>(OwnNameLayout())),
      bt_Wait(Add<forms::Button>(WithHint(At(24, 155, 120, 25, "Wait"),
                                          "Wait for the lock: the period starts by itself once it frees"))),
      lb_LifeSign(Add<forms::Label>(Caption(8, 188, 281, 39, ""))),
      zRefresh(AddTimer(kLifeSignRefreshMs)) {
    bt_Cancel.onClick = [this] { bt_CancelClick(); };
    bt_Delete.onClick = [this] { bt_DeleteClick(); };
    bt_Proceed.onClick = [this] { bt_ProceedClick(); };
    bt_Wait.onClick = [this] { bt_WaitClick(); };
    zRefresh.onTimer = [this] { ShowLifeSign(); };
    onShow = [this] { FormShow(); };
}

TStartLock::~TStartLock() { Destroy(); }

void TStartLock::SetLockInfo(const char* ownerName, const char* sinceText) {
    tb_Name.SetText(ownerName);
    tb_Since.SetText(sinceText);
}

void TStartLock::ShowOwnNameNotice() { lb_OwnName.SetVisible(true); }

// Enter or Space at once must mean cancel.
void TStartLock::FormShow() {
    bt_Cancel.SetFocus();
    ShowLifeSign();
    zRefresh.SetEnabled(true);
}

void TStartLock::ShowLifeSign() { ShowChangedText(lb_LifeSign, lifeSignText); }

void TStartLock::bt_CancelClick() {
    TitleWindow.SetCancel();
    Close();
}

void TStartLock::bt_DeleteClick() {
    TitleWindow.SetDeleteLock();
    Close();
}

void TStartLock::bt_ProceedClick() {
    TitleWindow.SetReadOnly();
    Close();
}

void TStartLock::bt_WaitClick() {
    TitleWindow.SetWait();
    Close();
}
