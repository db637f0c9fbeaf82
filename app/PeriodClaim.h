// One period at a time for a local data folder on this PC. A second start while a
// period runs would repair, copy over or set aside the data under the running
// application; it must see the claim and touch nothing.
#pragma once

#include "shell/Handles.h"

#include <string>

class PeriodClaim {
public:
    // Claims `localFolder` (any spelling of its path: it is made full and its letter case
    // folded). False when another process holds the claim. A claim left by a process
    // that ended, however it ended, is free again.
    bool Take(const std::string& localFolder);
    bool Held() const { return static_cast<bool>(mutex_); }
    // The period is over: the next may start while this process only deletes old saves.
    void Release() { mutex_.Reset(); }

private:
    KernelHandle mutex_;
};
