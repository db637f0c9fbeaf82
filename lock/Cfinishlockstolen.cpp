#include "lock/Cfinishlockstolen.h"

#include "lock/DialogParts.h"

using namespace lockdialogs;

namespace {

forms::FormSpec StolenSpec() {
    forms::FormSpec params = LockDialog("TFinishLockStolen", "Caution - Lock Lost", 318, 150);
    params.hint = "Someone has stolen the lock, saving data may cause damage to data files";
    return params;
}

}  // namespace

TFinishLockStolen::TFinishLockStolen(PeriodChoices& titleWindow)
    : forms::Form(StolenSpec(), &titleWindow.Window()),
      TitleWindow(titleWindow),
      tb_Name(Add<forms::EditBox>(ShownText(8, 24, 145, 21))),
      bt_Cancel(Add<forms::Button>(At(173, 72, 129, 25, "Cancel - Lose Changes"))),
      bt_Save(Add<forms::Button>(At(16, 72, 129, 25, "Delete Lock && Save"))),
      tb_Since(Add<forms::EditBox>(ShownText(165, 24, 145, 21))),
      Label2(Add<forms::Label>(Caption(8, 8, 145, 13, "Lock now owned by"))),
      Label1(Add<forms::Label>(Caption(165, 8, 40, 13, "Since", "Time when lock was created"))),
      lb_LifeSign(Add<forms::Label>(Caption(8, 104, 302, 39, ""))),
      zRefresh(AddTimer(kLifeSignRefreshMs)) {
    bt_Cancel.onClick = [this] { bt_CancelClick(); };
    bt_Save.onClick = [this] { bt_SaveClick(); };
    zRefresh.onTimer = [this] { ShowLifeSign(); };
    onShow = [this] { FormShow(); };
}

TFinishLockStolen::~TFinishLockStolen() { Destroy(); }

void TFinishLockStolen::SetLockInfo(const char* ownerName, const char* sinceText) {
    tb_Name.SetText(ownerName);
    tb_Since.SetText(sinceText);
}

// The first tab stop would do, but Cancel must hold the focus whatever comes first.
// Enter at once must not throw the work away.
void TFinishLockStolen::FormShow() {
    bt_Save.SetFocus();
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
