// Takers in separate processes, released together: always exactly one holder.
#include "Race.h"

#include <gtest/gtest.h>

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

}  // namespace
