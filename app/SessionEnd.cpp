// The end of the Windows session (logoff, shutdown, restart) during a period. While work
// is on its way to the share (the application runs, the copy back has not been done),
// the title window refuses and tells Windows why; once the work is there, it agrees. If
// Windows ends the session anyway, the lock is let go and the record of unsaved work
// stays, so that the next start offers the work.
#include "app/Clogo.h"

namespace {

constexpr wchar_t kBlockReason[] = L"Copying your work to the shared folder";

}  // namespace

bool TLogo::WorkNotOnShare() const { return SessionEndBlocked || CopyingBack; }

void TLogo::BlockSessionEnd(bool block) {
    SessionEndBlocked = block;
    // Windows shows the reason beside the program in its list of what keeps the session
    // going. Wine does not implement either call: the refusal itself is what holds there.
    if (block)
        ShutdownBlockReasonCreate(Handle(), kBlockReason);
    else
        ShutdownBlockReasonDestroy(Handle());
}

BOOL TLogo::AnswerQueryEndSession() {
    if (!WorkNotOnShare()) return TRUE;
    // Also when the copy back alone is under way (an earlier period's work sent first).
    if (!SessionEndBlocked) ShutdownBlockReasonCreate(Handle(), kBlockReason);
    return FALSE;
}

void TLogo::SessionEnds() {
    // The process ends any moment now: no step may start, and the lock does not outlive it.
    // The record of unsaved work is left as it is: the next start offers that work.
    SessionEnded = true;
    zTimer.SetEnabled(false);
    ReleaseOwnLock(false);
    // A step under way closes the window once it returns (zTimerTimer).
    if (!InStep) Close();
}
