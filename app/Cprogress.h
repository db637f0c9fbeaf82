// Cprogress: the one progress display of a transfer, with its Cancel.
#pragma once

#include "forms/Worker.h"
#include "forms/Form.h"
#include "shell/transfer/Transfer.h"

// Shows the counts of a transfer that a worker runs, files and bytes done of the total,
// and closes itself when the worker is done. Cancel, or closing the window, asks the
// transfer to stop; it then fails through its usual path and changes nothing. Once the
// transfer has begun to switch the new tree in, Cancel is refused and the display says
// that it is too late to cancel.
class TProgress : public forms::Form {
public:
    // The caption the shell's copy display had: users know the copy by it.
    static constexpr const char* kTransferCaption = "Copying share data";

    // Work that does not know its total beforehand (a restore) shows the files done only.
    TProgress(forms::Form& owner, TransferProgress& progress, HANDLE workerDone,
              const char* caption = kTransferCaption);
    ~TProgress() override;

    forms::Label& lb_Files;
    forms::Label& lb_Bytes;
    forms::Button& bt_Cancel;
    forms::Timer& zTimer;
    forms::Timer& zDoneTimer;  // looks often: the period goes on as soon as the transfer ends

private:
    void zTimerTimer();
    void zDoneTimerTimer();
    void bt_CancelClick();
    void ShowCounts();
    void SayTooLate();

    TransferProgress& progress_;
    HANDLE workerDone_;  // not owned
    bool cancelled_ = false;
    bool tooLateShown_ = false;
};

// Runs `transfer`(progress) on a worker while the progress display is shown modally over
// `owner`; returns the transfer's result.
template <typename Transfer>
auto RunWithProgress(forms::Form& owner, Transfer transfer, const char* caption = TProgress::kTransferCaption)
    -> decltype(transfer(std::declval<TransferProgress&>())) {
    TransferProgress progress;
    return RunOnWorker([&] { return transfer(progress); },
                       [&](HANDLE done) {
                           TProgress display(owner, progress, done, caption);
                           display.ShowModal();
                           if (display.ClosedFromOutside()) progress.Cancel();
                       });
}
