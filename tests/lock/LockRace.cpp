// Lock race benchmark: prints, per protocol and number of takers, the rounds in which
// more than one taker held the lock and the rounds in which nobody did.
#include "Race.h"

#include "lock/LifeSign.h"
#include "lock/Tokenlock.h"
#include "support/TempDir.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// CPU time of this whole process (every thread), in ms. Under Wine the file calls also
// cost the wine server some time, which no process time of ours counts.
double ProcessCpuMs() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ms = [](const FILETIME& t) { return ((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0; };
    return ms(kernel) + ms(user);
}

// What the life sign costs the holder's PC, and what a waiting PC's looks cost: measured
// over many renewals and looks in quick succession, given for a minute at the program's
// own interval (the holder) and one look a second (the waiter).
void PrintLifeSignCost() {
    testsupport::TempDir locks;
    const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), "cost");
    if (take.result != TakeResult::Taken) {
        std::printf("life sign cost: the lock could not be taken\n");
        return;
    }
    const DWORD interval = LifeSignTimes().intervalMs;
    const double perMinute = 60000.0 / interval;
    LifeSignRenewer renewer;
    double before = ProcessCpuMs();
    renewer.Start(locks.Path().c_str(), take.identity, 1);
    Sleep(3000);
    renewer.Stop();
    const double renewCpu = (ProcessCpuMs() - before) / std::max(1u, renewer.Writes());
    std::printf("life sign: a renewal every %lu ms = %.0f writes a minute, each after one open of the token by "
                "its path\n", static_cast<unsigned long>(interval), perMinute);
    std::printf("  holder's CPU: %.3f ms a minute (%.1f us a renewal, over %u renewals; %u of %u due were written)\n",
                renewCpu * perMinute, renewCpu * 1000, renewer.Writes(), renewer.Writes(), renewer.Rounds() + 1);

    constexpr int kLooks = 2000;
    LifeSignWatch watch;
    before = ProcessCpuMs();
    for (int i = 0; i < kLooks; ++i) {
        LookAtToken(locks.Path().c_str(), take.identity);
        watch.Look(locks.Path().c_str(), take.identity);
    }
    const double lookCpu = (ProcessCpuMs() - before) / kLooks;
    std::printf("  waiting PC's CPU: %.3f ms a minute at one look a second (%.1f us a look at token and life sign)\n",
                lookCpu * 60, lookCpu * 1000);
    DeleteOwnToken(locks.Path().c_str(), take.identity);
}

}  // namespace

int main(int argc, char** argv) {
    // lock_race [rounds] [protocol ...]
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 50;
    std::vector<race::Protocol> protocols;
    for (int i = 2; i < argc; ++i) {
        race::Protocol p;
        if (!race::Parse(argv[i], p)) {
            std::fprintf(stderr, "unknown protocol %s (take, check-create, back-off, wait)\n", argv[i]);
            return 2;
        }
        protocols.push_back(p);
    }
    if (protocols.empty())
        protocols = {race::Protocol::CheckCreate, race::Protocol::BackOff, race::Protocol::Take, race::Protocol::Wait};

    std::printf("%-13s %6s %6s %10s %10s %12s %8s %11s %12s %11s\n", "protocol", "takers", "rounds", ">1 holder",
                "no holder", "stray token", "failed", "not started", "mean try ms", "max try ms");
    bool anyFailure = false;
    for (race::Protocol protocol : protocols)
        for (int takers : {4, 8}) {
            const race::Tally t = race::Run(protocol, rounds, takers);
            std::printf("%-13s %6d %6d %10d %10d %12d %8d %11d %12.1f %11.1f\n", race::Name(protocol), takers,
                        t.rounds, t.doubleHolds, t.noHolder, t.strayTokens, t.failures, t.takersNotStarted,
                        t.meanTakeMs, t.maxTakeMs);
            std::fflush(stdout);
            for (const auto& line : t.problems)
                if (line.find("holder") == std::string::npos) std::printf("    %s\n", line.c_str());
            anyFailure = anyFailure || t.failures > 0;
        }
    for (race::Protocol protocol : protocols)
        if (protocol == race::Protocol::Wait)
            std::printf("wait: the first holder lets go %u ms after the start; try ms runs until the take, or until "
                        "giving up at %u ms for those still waiting\n",
                        race::kWaitHoldMs, race::kWaitGiveUpMs);
    PrintLifeSignCost();
    std::printf("lock race done\n");
    return anyFailure ? 1 : 0;
}
