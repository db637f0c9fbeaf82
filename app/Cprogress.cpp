#include "app/Cprogress.h"

#include <cstdio>
#include <string>

namespace {

forms::FormLayout ProgressLayout(const char* caption) {
    forms::FormLayout params;
    params.className = "TProgress";
    params.caption = caption;
    params.width = 320;
    params.height = 104;
    params.border = forms::Border::Dialog;
    return params;
}

forms::ControlLayout LabelAt(int top) {
    forms::ControlLayout params;
    params.bounds = {12, top, 296, 16};
    params.tabStop = false;
    return params;
}

forms::ControlLayout CancelLayout() {
    forms::ControlLayout params;
    params.bounds = {233, 68, 75, 25};
    params.text = "Cancel";
    return params;
}

}  // namespace

TProgress::TProgress(forms::Form& owner, TransferProgress& progress, HANDLE workerDone, const char* caption)
    : forms::Form(ProgressLayout(caption), &owner),
      lb_Files(Add<forms::Label>(LabelAt(14))),
      lb_Bytes(Add<forms::Label>(LabelAt(38))),
      bt_Cancel(Add<forms::Button>(CancelLayout())),
      zTimer(AddTimer(100)),
      zDoneTimer(AddTimer(USER_TIMER_MINIMUM)),
      progress_(progress),
      workerDone_(workerDone) {
    bt_Cancel.onClick = [this] { bt_CancelClick(); };
    zTimer.onTimer = [this] { zTimerTimer(); };
    zDoneTimer.onTimer = [this] { zDoneTimerTimer(); };
    onShow = [this] {
        ShowCounts();
        zTimer.SetEnabled(true);
        zDoneTimer.SetEnabled(true);
    };
}

TProgress::~TProgress() { Destroy(); }

void TProgress::ShowCounts() {
    const TransferProgress::Counts counts = progress_.Read();
    const bool totalKnown = counts.filesTotal || counts.bytesTotal;
    lb_Files.SetText(("Files: " + Thousands(counts.filesDone) +
                      (totalKnown ? " of " + Thousands(counts.filesTotal) : std::string())).c_str());
    // The line that said "cancelling" or "too late" keeps saying it.
    if (cancelled_ || tooLateShown_ || !totalKnown) return;
    lb_Bytes.SetText(("Data: " + Megabytes(counts.bytesDone) + " of " + Megabytes(counts.bytesTotal)).c_str());
}

void TProgress::zTimerTimer() {
    ShowCounts();
    if (progress_.SwitchBegun()) SayTooLate();
}

// The new tree is being put in place: from now on the transfer finishes.
void TProgress::SayTooLate() {
    if (tooLateShown_) return;
    tooLateShown_ = true;
    bt_Cancel.SetEnabled(false);
    lb_Bytes.SetText("Too late to cancel: the copy is being put in place.");
}

void TProgress::zDoneTimerTimer() {
    if (WaitForSingleObject(workerDone_, 0) != WAIT_OBJECT_0) return;
    zTimer.SetEnabled(false);
    zDoneTimer.SetEnabled(false);
    ShowCounts();
    Close();
}

void TProgress::bt_CancelClick() {
    // Refused once the switch has begun: the display says so instead.
    if (!progress_.Cancel()) {
        SayTooLate();
        return;
    }
    cancelled_ = true;
    bt_Cancel.SetEnabled(false);
    lb_Bytes.SetText("Cancelling: nothing will be changed.");
}
