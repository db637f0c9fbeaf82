#include "lock/Cfinishlockgone.h"

#include "lock/DialogParts.h"

using namespace lockdialogs;

namespace {

forms::FormLayout GoneLayout() {
    forms::FormLayout params = LockDialog("TFinishLockGone", "Caution - Lock Lost", 319, 150);
    params.outerSize = true;
    params.border = forms::Border::Sizeable;
    return params;
}

constexpr int kSaveWidth = 129;
constexpr int kCancelWidth = 140;
constexpr int kKeepWidth = 160;
constexpr int kButtonHeight = 25;
constexpr int kRowPitch = 35;

// The client area is what the outer size leaves after the platform's frame.
SIZE ClientSize(HWND form) {
    RECT r{};
    GetClientRect(form, &r);
    return {r.right, r.bottom};
}

int Gap(HWND form) { return (ClientSize(form).cx - kSaveWidth - kCancelWidth) / 3; }
// Two rows: Save and Cancel, and below them, centred, Keep.
int ButtonTop(HWND form) { return (ClientSize(form).cy - kButtonHeight - kRowPitch) / 2; }
int KeepLeft(HWND form) { return (ClientSize(form).cx - kKeepWidth) / 2; }

}  // namespace

TFinishLockGone::TFinishLockGone(PeriodChoices& titleWindow)
    : forms::Form(GoneLayout(), &titleWindow.Window()),
      TitleWindow(titleWindow),
      bt_Cancel(Add<forms::Button>(At(2 * Gap(Handle()) + kSaveWidth, ButtonTop(Handle()), kCancelWidth,
                                      kButtonHeight, "Cancel - Lose Changes"))),
      bt_Save(Add<forms::Button>(At(Gap(Handle()), ButtonTop(Handle()), kSaveWidth, kButtonHeight, "Save Anyway"))),
      bt_Keep(Add<forms::Button>(
          At(KeepLeft(Handle()), ButtonTop(Handle()) + kRowPitch, kKeepWidth, kButtonHeight, "Keep Work for Later"))) {
    bt_Cancel.onClick = [this] { bt_CancelClick(); };
    bt_Save.onClick = [this] { bt_SaveClick(); };
    bt_Keep.onClick = [this] { bt_KeepClick(); };
    onShow = [this] { FormShow(); };
}

TFinishLockGone::~TFinishLockGone() { Destroy(); }

// Enter at once must neither throw the work away nor write over what another PC may
// have saved meanwhile.
void TFinishLockGone::FormShow() { bt_Keep.SetFocus(); }

void TFinishLockGone::bt_CancelClick() {
    TitleWindow.SetCancel();
    Close();
}

// Saving needs no flag: with none set the local data is copied back.
void TFinishLockGone::bt_SaveClick() { Close(); }

void TFinishLockGone::bt_KeepClick() {
    TitleWindow.SetKeepWork();
    Close();
}
