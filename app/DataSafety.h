// The waits and checks that keep a period from copying work back too early.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// After the application ended, its data may still be open: a start-up program that
// handed over to the real one, or a program still saving. This decides, look by look,
// whether to wait, go on, or ask the user. The clock is given, so that a test can move
// time instead of waiting for it.
class InUseWait {
public:
    using Clock = std::function<DWORD()>;  // milliseconds, as the tick count
    // Finds the first file of the data still open in another program; false when none.
    using FirstOpenFile = std::function<bool(std::string& file)>;
    enum class Verdict { Wait, Free, AskUser };

    // A handed-over program gets a moment to open its files before the data counts as free,
    // unless every process of the application was seen to end (HandOverSeen).
    static constexpr DWORD kHandOverMs = 1000;
    // How long files may stay open before the user is told: a program handing over or
    // saving on exit closes them within a second or two; longer means it is in use.
    static constexpr DWORD kPatienceMs = 5000;
    // Looking at every file costs time on a large tree: not on every tick.
    static constexpr DWORD kLookIntervalMs = 500;

    explicit InUseWait(Clock clock = GetTickCount) : clock_(std::move(clock)) {}

    // One look, at most every kLookIntervalMs; `file` names the open file for AskUser.
    Verdict Next(const FirstOpenFile& firstOpenFile, std::string& file);
    // The user chose Retry: look again, and wait anew before asking again.
    void WaitAnew() { openSince_ = 0; }
    // The system accounted for every process the application started, and for the copies
    // of its program it may have handed over to: nothing is left to open the files later,
    // so the first look comes at once.
    void HandOverSeen() { handOverMs_ = 0; }

private:
    DWORD Now() const;

    Clock clock_;
    DWORD handOverMs_ = kHandOverMs;
    DWORD endedAt_ = 0;    // first call: when the application was seen to have ended
    DWORD openSince_ = 0;  // since when a file has been seen open; 0 while none is
    DWORD lastLook_ = 0;
};
