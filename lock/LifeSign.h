// LifeSign: a hidden file beside the holder's token, renewed every few seconds while its
// period holds the lock, so that another PC can tell a holder at work from one whose PC
// crashed or was switched off. The token itself is never touched: older copies of the
// program read it as they always did.
#pragma once

#include "lock/Tokenlock.h"
#include "shell/Handles.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

struct LifeSignTiming {
    DWORD intervalMs = 5000;       // between two renewals
    DWORD stoppedAfterMs = 25000;  // unchanged this long on the reader's own clock: stopped
};
// The program's timing: a renewal every 5 s; a holder seems to have stopped after three
// renewals missed plus the 10 s a share's caches may lag. CARVELUND_LIFESIGN_MS sets
// another interval (tests); the margin is then two intervals, as test folders are local.
LifeSignTiming LifeSignTimes();

// The life sign's file name for a token's file name.
std::wstring LifeSignName(const std::wstring& tokenFileName);

// Writes the first life sign of a token just taken: a leftover of an earlier token of the
// same name is overwritten. False when the file cannot be written (the lock still holds).
bool WriteFirstLifeSign(const char* lockFolder, const TokenIdentity& token, DWORD intervalMs, unsigned beat);
// Renews it, only while the file is still there: a life sign deleted with its token is
// never made again by the holder that lost it.
bool RenewLifeSign(const char* lockFolder, const TokenIdentity& token, DWORD intervalMs, unsigned beat);
// Deletes the token's life sign, but not one that names another token (a new holder of
// the same name).
void RemoveLifeSign(const char* lockFolder, const TokenIdentity& token);

// Renews the life sign of the period's token on a thread of its own, so that the
// application's run, the waits, the questions and the copies all keep it going.
class LifeSignRenewer {
public:
    LifeSignRenewer() = default;
    ~LifeSignRenewer();
    LifeSignRenewer(const LifeSignRenewer&) = delete;
    LifeSignRenewer& operator=(const LifeSignRenewer&) = delete;

    // Writes the first life sign at once, then renews it every interval while the token
    // is still this one. A running renewer is stopped first.
    void Start(const char* lockFolder, const TokenIdentity& token, DWORD intervalMs);
    // Returns once the thread has ended: no write follows.
    void Stop();
    bool Running() const { return worker_.joinable(); }
    unsigned Writes() const { return writes_; }
    // Renewals due so far, written or not.
    unsigned Rounds() const { return rounds_; }
    // A renewal found the token gone or another's: the lock is lost, whatever comes next.
    // Set from the renewing thread, read by the period at its next step.
    bool TokenLost() const { return lost_; }

private:
    void Renew();

    std::string lockFolder_;
    TokenIdentity token_;
    DWORD intervalMs_ = 0;
    KernelHandle stop_;
    std::thread worker_;
    std::atomic<unsigned> writes_{0};
    std::atomic<unsigned> rounds_{0};
    std::atomic<bool> lost_{false};
};

// What a reader knows of a holder's life sign.
enum class Liveness {
    NoLifeSign,  // none for this token: an older copy of the program, or not written yet
    Alive,       // renewed lately
    Stopped,     // unchanged for longer than a holder at work would leave it
    Unreadable,  // there, or may be, but it could not be read lately (`error` says why)
};

struct LifeSignFacts {
    Liveness liveness = Liveness::NoLifeSign;
    std::string pc;              // the holder's PC, as its life sign names it
    ULONGLONG lastSignAgoMs = 0;  // best estimate of the age of the last renewal
    DWORD error = 0;             // why the last look could not read it
    // Stopped although the last looks could not read it: no renewal was seen for so long.
    bool unreadable = false;
};

// Watches one holder's life sign on this PC's clock. Clocks of PCs differ and a share's
// file times may lag, so "stopped" is decided only from content seen unchanged here; the
// file's time merely starts the "ago" estimate.
class LifeSignWatch {
public:
    explicit LifeSignWatch(LifeSignTiming timing = LifeSignTimes()) : timing_(timing) {}

    // Reads the life sign again by its exact path. Another token starts afresh.
    void Look(const char* lockFolder, const TokenIdentity& holder);
    LifeSignFacts Facts() const;

private:
    LifeSignTiming timing_;
    TokenIdentity holder_;
    bool watching_ = false;
    bool present_ = false;
    DWORD unreadable_ = 0;  // the last look's error; 0 when it could read (or found none)
    std::string content_;
    std::string pc_;
    DWORD holderIntervalMs_ = 0;
    ULONGLONG lastChange_ = 0;   // our tick count when the content was seen to change
    ULONGLONG ageAtChange_ = 0;  // its estimated age then
};

// The facts as one line of a dialog: PC, and the last life sign, or why there is none.
std::string LifeSignText(const LifeSignFacts& facts);
