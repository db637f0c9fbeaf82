#include "lock/Cfinishlockstolen.h"

#include "lock/DialogParts.h"

using namespace lockdialogs;

namespace {

forms::FormLayout StolenLayout() {
    forms::FormLayout params = LockDialog("TFinishLockStolen", "Caution - Lock Lost", 318, 185);
    params.hint = "Someone has stolen the lock, saving data may cause damage to data files";
    return params;
}

}  // namespace

TFinishLockStolen::TFinishLockStolen(PeriodChoices& titleWindow)
    : forms::Form(StolenLayout(), &titleWindow.Window()),
      TitleWindow(titleWindow),
      tb_Name(Add<forms::EditBox>(ShownText(8, 24, 145, 21))),
      bt_Cancel(Add<forms::Button>(At(173, 72, 129, 25, "Cancel - Lose Changes"))),
      bt_Save(Add<forms::Button>(At(16, 72, 129, 25, "Delete Lock && Save"))),
      tb_Since(Add<forms::EditBox>(ShownText(165, 24, 145, 21))),
      Label2(Add<forms::Label>(Caption(8, 8, 145, 13, "Lock now owned by"))),
      Label1(Add<forms::Label>(Caption(165, 8, 40, 13, "Since", "Time when lock was created"))),
      lb_LifeSign(Add<forms::Label>(Caption(8, 140, 302, 39, ""))),
      zRefresh(AddTimer(kLifeSignRefreshMs)),
      bt_Keep(Add<forms::Button>(At(79, 106, 160, 25, "Keep Work for Later"))) {
    bt_Cancel.onClick = [this] { bt_CancelClick(); };
    bt_Save.onClick = [this] { bt_SaveClick(); };
    bt_Keep.onClick = [this] { bt_KeepClick(); };
    zRefresh.onTimer = [this] { ShowLifeSign(); };
    onShow = [this] { FormShow(); };
}

TFinishLockStolen::~TFinishLockStolen() { Destroy(); }

void TFinishLockStolen::SetLockInfo(const char* ownerName, const char* sinceText) {
    tb_Name.SetText(ownerName);
    tb_Since.SetText(sinceText);
}

// Enter at once must neither throw the work away nor delete the lock of someone who may
// be working: keeping the work for later loses nothing.
void TFinishLockStolen::FormShow() {
    bt_Keep.SetFocus();
    ShowLifeSign();
    zRefresh.SetEnabled(true);
}

void TFinishLockStolen::ShowLifeSign() { ShowChangedText(lb_LifeSign, lifeSignText); }

void TFinishLockStolen::bt_CancelClick() {
    TitleWindow.SetCancel();
    Close();
}

void TFinishLockStolen::bt_SaveClick() {
    TitleWindow.SetDeleteLock();
    Close();
}

void TFinishLockStolen::bt_KeepClick() {
    TitleWindow.SetKeepWork();
    Close();
}
