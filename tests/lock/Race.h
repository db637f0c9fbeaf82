// Lock races between real processes: several takers started at one signal, for many rounds.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace race {

enum class Protocol {
    Take,         // TakeTokenLock
    CheckCreate,  // look, then create: the bare protocol, for comparison
    BackOff,      // look, create, look again and give up on a rival: no pause, no retry
    // Every taker waits for a holder that renews its life sign, as the program's Wait does;
    // the winner renews its own while the others wait on. Nobody may take a life sign for
    // a token, and the holder's goes with its token.
    Wait,
};
// While the takers of a Wait round wait, the first holder keeps the lock this long.
constexpr unsigned kWaitHoldMs = 200;
// A waiter gives up this long after the start; the winner holds the lock until then.
constexpr unsigned kWaitGiveUpMs = 1000;
// The life signs of a race renew this often, many times per round.
constexpr unsigned kRaceLifeSignMs = 20;
const char* Name(Protocol protocol);
bool Parse(const char* text, Protocol& protocol);

struct Tally {
    int rounds = 0;
    int doubleHolds = 0;  // rounds with more than one holder
    int noHolder = 0;     // rounds that nobody won
    int strayTokens = 0;  // rounds whose folder does not show exactly the holder's token
                          // (and, waiting, its life sign)
    int failures = 0;     // rounds that could not be run as planned
    // Takers the system would not start even when asked again: their rounds count the
    // takers that ran. A round where none ran is not counted at all.
    int takersNotStarted = 0;
    int roundsNotRun = 0;
    double meanTakeMs = 0;
    double maxTakeMs = 0;
    std::vector<std::string> problems;  // one line per odd round
};

// How a taker process is started: CreateProcessA. Wine refuses a start now and then under
// load (error 1359, an internal error); the races judge the lock, not Wine's process
// start, so a refused start is asked for again. Tests put a refusing start here.
using ProcessStart = BOOL(WINAPI*)(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                   LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION);
extern ProcessStart startProcess;
// Tries of one taker's start, a little apart.
constexpr int kStartTries = 5;

// Runs `rounds` rounds of `takers` lock_taker processes (beside this program) on a fresh
// lock folder each; every taker tries once, all released by one event.
Tally Run(Protocol protocol, int rounds, int takers);

}  // namespace race
