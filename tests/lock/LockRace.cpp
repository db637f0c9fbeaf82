// Lock race benchmark: prints, per protocol and number of takers, the rounds in which
// more than one taker held the lock and the rounds in which nobody did.
#include "Race.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    // lock_race [rounds] [protocol ...]
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 50;
    std::vector<race::Protocol> protocols;
    for (int i = 2; i < argc; ++i) {
        race::Protocol p;
        if (!race::Parse(argv[i], p)) {
            std::fprintf(stderr, "unknown protocol %s (take, check-create, back-off)\n", argv[i]);
            return 2;
        }
        protocols.push_back(p);
    }
    if (protocols.empty()) protocols = {race::Protocol::CheckCreate, race::Protocol::BackOff, race::Protocol::Take};

    std::printf("%-13s %6s %6s %10s %10s %12s %8s %12s %11s\n", "protocol", "takers", "rounds", ">1 holder",
                "no holder", "stray token", "failed", "mean try ms", "max try ms");
    bool anyFailure = false;
    for (race::Protocol protocol : protocols)
        for (int takers : {4, 8}) {
            const race::Tally t = race::Run(protocol, rounds, takers);
            std::printf("%-13s %6d %6d %10d %10d %12d %8d %12.1f %11.1f\n", race::Name(protocol), takers, t.rounds,
                        t.doubleHolds, t.noHolder, t.strayTokens, t.failures, t.meanTakeMs, t.maxTakeMs);
            std::fflush(stdout);
            for (const auto& line : t.problems)
                if (line.find("holder") == std::string::npos) std::printf("    %s\n", line.c_str());
            anyFailure = anyFailure || t.failures > 0;
        }
    std::printf("lock race done\n");
    return anyFailure ? 1 : 0;
}
