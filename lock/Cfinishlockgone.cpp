#include "lock/Cfinishlockgone.h"

#include "lock/DialogParts.h"

using namespace lockdialogs;

namespace {

forms::FormSpec GoneSpec() {
    forms::FormSpec params = LockDialog("TFinishLockGone", "Caution - Lock Lost", 319, 117);
    params.outerSize = true;
    params.border = forms::Border::Sizeable;
    return params;
}

constexpr int kSaveWidth = 129;
constexpr int kCancelWidth = 140;
constexpr int kButtonHeight = 25;

// The client area is what the outer size leaves after the platform's frame.
SIZE ClientSize(HWND form) {
    RECT r{};
    GetClientRect(form, &r);
    return {r.right, r.bottom};
}

int Gap(HWND form) { return (ClientSize(form).cx - kSaveWidth - kCancelWidth) / 3; }
int ButtonTop(HWND form) { return (ClientSize(form).cy - kButtonHeight) / 2; }

}  // namespace

TFinishLockGone::TFinishLockGone(PeriodChoices& titleWindow)
    : forms::Form(GoneSpec(), &titleWindow.Window()),
      TitleWindow(titleWindow),
      bt_Cancel(Add<forms::Button>(At(2 * Gap(Handle()) + kSaveWidth, ButtonTop(Handle()), kCancelWidth,
                                      kButtonHeight, "Cancel - Lose Changes"))),
      bt_Save(Add<forms::Button>(At(Gap(Handle()), ButtonTop(Handle()), kSaveWidth, kButtonHeight, "Save Anyway"))) {
    bt_Cancel.onClick = [this] { bt_CancelClick(); };
    bt_Save.onClick = [this] { bt_SaveClick(); };
    onShow = [this] { FormShow(); };
}

TFinishLockGone::~TFinishLockGone() { Destroy(); }

// Enter at once must not throw the work away.
void TFinishLockGone::FormShow() { bt_Save.SetFocus(); }

void TFinishLockGone::bt_CancelClick() {
    TitleWindow.SetCancel();
    Close();
}

// Saving needs no flag: with none set the local data is copied back.
void TFinishLockGone::bt_SaveClick() { Close(); }
