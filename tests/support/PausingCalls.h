// Seams that hold the transfer's file copies and flushes at a chosen moment, so that a
// test can act (read the progress display, press Cancel) at a known point of a real copy.
#pragma once

#include "shell/Wintools.h"
#include "support/Gui.h"

#include <windows.h>

#include <atomic>

namespace testsupport {

// The copy stops before the file at each pause point, and so does every copy after it
// (files are copied several at a time), until the test lets them go on: only so can a
// test read the display at a known count. The copy itself stays the real one.
class PausingCopy {
public:
    PausingCopy() : previous_(Platform().copyFile) {
        active_ = this;
        Platform().copyFile = Copy;
    }
    ~PausingCopy() {
        Platform().copyFile = previous_;
        active_ = nullptr;
    }
    // Waits until the copy stands before file `index` (1-based).
    bool AwaitPause(int index) const {
        return AwaitCondition([&] { return pausedBefore_ == index; });
    }
    void GoOn() {
        pausedBefore_ = 0;
        ++released_;
    }
    void PauseBefore(int first, int second) {
        pauses_[0] = first;
        pauses_[1] = second;
    }

private:
    static BOOL WINAPI Copy(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE progress, LPVOID context, LPBOOL cancel,
                            DWORD flags) {
        PausingCopy& self = *active_;
        const int index = ++self.calls_;
        for (int gate = 0; gate < 2; ++gate) {
            if (!self.pauses_[gate] || index < self.pauses_[gate]) continue;
            if (index == self.pauses_[gate]) self.pausedBefore_ = index;
            AwaitCondition([&] { return self.released_ > gate; });
        }
        return self.previous_(from, to, progress, context, cancel, flags);
    }

    static PausingCopy* active_;
    BOOL(WINAPI* previous_)(LPCWSTR, LPCWSTR, LPPROGRESS_ROUTINE, LPVOID, LPBOOL, DWORD);
    std::atomic<int> calls_{0};
    std::atomic<int> pausedBefore_{0};
    std::atomic<int> released_{0};
    int pauses_[2] = {0, 0};
};

// The first flush of the new tree (every file is copied and checked by then) stops until
// the test lets it go on: the moment between the last file and the switch, held open.
class PausingFlush {
public:
    PausingFlush() : previous_(Platform().flushFile) {
        active_ = this;
        Platform().flushFile = Flush;
    }
    ~PausingFlush() {
        Platform().flushFile = previous_;
        active_ = nullptr;
    }
    bool AwaitPause() const { return AwaitCondition([&] { return paused_.load(); }); }
    void GoOn() { released_ = true; }

private:
    static BOOL WINAPI Flush(HANDLE file) {
        PausingFlush& self = *active_;
        self.paused_ = true;
        AwaitCondition([&] { return self.released_.load(); });
        return self.previous_(file);
    }

    static PausingFlush* active_;
    BOOL(WINAPI* previous_)(HANDLE);
    std::atomic<bool> paused_{false};
    std::atomic<bool> released_{false};
};

}  // namespace testsupport
