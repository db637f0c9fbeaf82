// The wait for the application's data to be closed, with the clock moved by the test:
// when it looks, how long it waits for an open file, and when it asks the user.
#include "app/DataSafety.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Verdict = InUseWait::Verdict;

class InUseWaiting : public ::testing::Test {
protected:
    DWORD now = 100000;
    InUseWait wait{[this] { return now; }};
    bool open = false;  // whether the data has a file open at the next look
    int looks = 0;

    Verdict LookAt(DWORD at) {
        now = at;
        std::string file;
        const Verdict verdict = wait.Next(
            [this](std::string& f) {
                ++looks;
                if (open) f = "C:\\Data\\notes.txt";
                return open;
            },
            file);
        if (verdict == Verdict::AskUser) {
            EXPECT_EQ(file, "C:\\Data\\notes.txt");
        }
        return verdict;
    }
};

TEST_F(InUseWaiting, AHandedOverProgramGetsAMomentBeforeTheDataCountsAsFree) {
    EXPECT_EQ(LookAt(100000), Verdict::Wait);
    EXPECT_EQ(LookAt(100000 + InUseWait::kHandOverMs - 1), Verdict::Wait);
    EXPECT_EQ(looks, 0);
    EXPECT_EQ(LookAt(100000 + InUseWait::kHandOverMs), Verdict::Free);
    EXPECT_EQ(looks, 1);
}

// The job saw every process end: no hand-over grace, but a file still open (a program
// saving on exit) is waited for and then asked about as before.
TEST_F(InUseWaiting, OnceEveryProcessWasSeenToEndTheFirstLookComesAtOnce) {
    wait.HandOverSeen();
    EXPECT_EQ(LookAt(100000), Verdict::Free);
    EXPECT_EQ(looks, 1);

    InUseWait held{[this] { return now; }};
    held.HandOverSeen();
    open = true;
    std::string file;
    const auto look = [this](std::string& f) {
        ++looks;
        f = "C:\\Data\\notes.txt";
        return open;
    };
    now = 200000;
    EXPECT_EQ(held.Next(look, file), Verdict::Wait);
    now = 200000 + InUseWait::kPatienceMs - 1;
    EXPECT_EQ(held.Next(look, file), Verdict::Wait);
    now = 200000 + InUseWait::kPatienceMs - 1 + InUseWait::kLookIntervalMs;
    EXPECT_EQ(held.Next(look, file), Verdict::AskUser);
    EXPECT_EQ(file, "C:\\Data\\notes.txt");
}

TEST_F(InUseWaiting, AnOpenFileIsWaitedForThenTheUserIsAsked) {
    const DWORD start = 100000 + InUseWait::kHandOverMs;
    LookAt(100000);
    open = true;
    EXPECT_EQ(LookAt(start), Verdict::Wait);
    // Between looks nothing is looked at.
    EXPECT_EQ(LookAt(start + InUseWait::kLookIntervalMs - 1), Verdict::Wait);
    EXPECT_EQ(looks, 1);
    EXPECT_EQ(LookAt(start + InUseWait::kPatienceMs - 1), Verdict::Wait);
    EXPECT_EQ(looks, 2);
    EXPECT_EQ(LookAt(start + InUseWait::kPatienceMs - 1 + InUseWait::kLookIntervalMs), Verdict::AskUser);
}

TEST_F(InUseWaiting, AFileClosedInTimeFreesTheData) {
    const DWORD start = 100000 + InUseWait::kHandOverMs;
    LookAt(100000);
    open = true;
    EXPECT_EQ(LookAt(start), Verdict::Wait);
    open = false;
    EXPECT_EQ(LookAt(start + InUseWait::kLookIntervalMs), Verdict::Free);
}

TEST_F(InUseWaiting, RetryWaitsAnewBeforeAskingAgain) {
    const DWORD start = 100000 + InUseWait::kHandOverMs;
    LookAt(100000);
    open = true;
    LookAt(start);
    ASSERT_EQ(LookAt(start + InUseWait::kPatienceMs), Verdict::AskUser);
    wait.WaitAnew();
    const DWORD retried = start + InUseWait::kPatienceMs + 10;
    EXPECT_EQ(LookAt(retried), Verdict::Wait);
    EXPECT_EQ(LookAt(retried + InUseWait::kPatienceMs - 1), Verdict::Wait);
    EXPECT_EQ(LookAt(retried + InUseWait::kPatienceMs - 1 + InUseWait::kLookIntervalMs), Verdict::AskUser);
}

// The tick count wraps after 49.7 days: the differences still hold across it.
TEST_F(InUseWaiting, TheTickCountWrappingDoesNotCutTheWaitShort) {
    const DWORD ended = 0xFFFFFFFFu - 200;
    LookAt(ended);
    open = true;
    const DWORD first = ended + InUseWait::kHandOverMs;  // wrapped past 0
    EXPECT_EQ(LookAt(first), Verdict::Wait);
    EXPECT_EQ(LookAt(first + InUseWait::kPatienceMs - 1), Verdict::Wait);
    EXPECT_EQ(LookAt(first + InUseWait::kPatienceMs - 1 + InUseWait::kLookIntervalMs), Verdict::AskUser);
}

}  // namespace
