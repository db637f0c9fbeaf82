// Takers in separate processes, released together: always exactly one holder.
#include "Race.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Lines(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
}

TEST(TokenlockRace, TakersStartedTogetherEndWithExactlyOneHolder) {
    for (int takers : {4, 8}) {
        SCOPED_TRACE(std::to_string(takers) + " takers");
        const race::Tally tally = race::Run(race::Protocol::Take, 8, takers);
        ASSERT_EQ(tally.failures, 0) << Lines(tally.problems);
        EXPECT_EQ(tally.doubleHolds, 0) << Lines(tally.problems);
        // A taker that backs off must take its token away again.
        EXPECT_EQ(tally.strayTokens, 0) << Lines(tally.problems);
        // Colliding takers try again until one of them holds it.
        EXPECT_EQ(tally.noHolder, 0) << Lines(tally.problems);
    }
}

// Waiters for a holder whose life sign renews: when it lets go, exactly one takes the
// lock and signs for it, the others wait on; no life sign is ever taken for a token, and
// the first holder's went with its token.
TEST(TokenlockRace, WaitersForALifeSignedHolderEndWithExactlyOneHolder) {
    const race::Tally tally = race::Run(race::Protocol::Wait, 4, 4);
    ASSERT_EQ(tally.failures, 0) << Lines(tally.problems);
    EXPECT_EQ(tally.doubleHolds, 0) << Lines(tally.problems);
    EXPECT_EQ(tally.strayTokens, 0) << Lines(tally.problems);
    EXPECT_EQ(tally.noHolder, 0) << Lines(tally.problems);
}

// Wine refuses a process start now and then under load (error 1359). The races judge the
// lock, not the start: a refused start is asked for again, and a taker that never starts
// leaves a round of the takers that ran, still with exactly one holder.
int g_calls = 0;
bool g_refuseTakerThree = false;

BOOL WINAPI RefusingStart(LPCSTR program, LPSTR commandLine, LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
                          BOOL inherit, DWORD flags, LPVOID environment, LPCSTR folder, LPSTARTUPINFOA startup,
                          LPPROCESS_INFORMATION info) {
    const bool refuse = g_refuseTakerThree ? std::string(commandLine).find(" taker3 ") != std::string::npos
                                           : ++g_calls % 2 == 1;  // every taker's first try
    if (refuse) {
        SetLastError(ERROR_INTERNAL_ERROR);
        return FALSE;
    }
    return CreateProcessA(program, commandLine, process, thread, inherit, flags, environment, folder, startup, info);
}

TEST(TokenlockRace, ARefusedStartIsAskedForAgainAndARoundCountsTheTakersThatRan) {
    race::startProcess = RefusingStart;
    for (const bool always : {false, true}) {
        SCOPED_TRACE(always ? "taker3 never starts" : "every first start refused");
        g_calls = 0;
        g_refuseTakerThree = always;
        const race::Tally tally = race::Run(race::Protocol::Take, 2, 4);
        EXPECT_EQ(tally.failures, 0) << Lines(tally.problems);
        EXPECT_EQ(tally.rounds, 2);
        EXPECT_EQ(tally.roundsNotRun, 0);
        EXPECT_EQ(tally.takersNotStarted, always ? 2 : 0) << Lines(tally.problems);
        EXPECT_EQ(tally.doubleHolds, 0) << Lines(tally.problems);
        EXPECT_EQ(tally.noHolder, 0) << Lines(tally.problems);
        EXPECT_EQ(tally.strayTokens, 0) << Lines(tally.problems);
    }
    race::startProcess = CreateProcessA;
}

}  // namespace
