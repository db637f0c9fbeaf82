// The holder's life sign on real lock folders, with the real renewing thread.
#include "lock/LifeSign.h"

#include "lock/Tokenlock.h"
#include "shell/Handles.h"
#include "support/Gui.h"
#include "support/TempDir.h"
#include "support/TokenRival.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::string kSuffix = ".tokenlockforcarvelund";
const std::string kLifeSign = kSuffix + ".lifesign";
constexpr DWORD kShownAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
// Short, so that the tests watch many renewals and a stop quickly.
constexpr LifeSignTiming kQuick{100, 2000};

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const TreeEntry& e : ListTree(folder)) names.push_back(e.relative);
    return names;
}

TokenIdentity Take(const TempDir& locks, const char* user) {
    const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), user);
    EXPECT_EQ(take.result, TakeResult::Taken) << user;
    return take.identity;
}

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    return name;
}

// What a token looks like to another PC's copy of the program, old or new.
struct TokenSeen {
    std::string content;
    DWORD attributes = 0;
    FILETIME written{};
    bool operator==(const TokenSeen& o) const {
        return content == o.content && attributes == o.attributes && CompareFileTime(&written, &o.written) == 0;
    }
};

TokenSeen SeeToken(const std::string& path) {
    TokenSeen seen;
    seen.content = ReadFileOr(path, "<none>");
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        seen.attributes = data.dwFileAttributes & kShownAttributes;
        seen.written = data.ftLastWriteTime;
    }
    return seen;
}

LifeSignFacts Watched(const TempDir& locks, const TokenIdentity& token) {
    LifeSignWatch watch(kQuick);
    watch.Look(locks.Path().c_str(), token);
    return watch.Facts();
}

// ---- The file -------------------------------------------------------------------

// While the life sign renews, the token stays byte for byte what older copies read; the
// life sign is hidden, named after the token, names this PC, and goes with the token.
TEST(LifeSign, RenewsBesideAnUnchangedTokenAndGoesWithIt) {
    TempDir locks;
    const TokenIdentity token = Take(locks, "Ann");
    const std::string tokenPath = locks / ("Ann" + kSuffix), signPath = locks / ("Ann" + kLifeSign);
    const TokenSeen before = SeeToken(tokenPath);

    LifeSignRenewer renewer;
    renewer.Start(locks.Path().c_str(), token, kQuick.intervalMs);
    ASSERT_EQ(renewer.Writes(), 1u) << "the first life sign is written at once";
    const std::string first = ReadFile(signPath);
    ASSERT_TRUE(AwaitCondition([&] { return renewer.Writes() >= 5; }));
    const std::string later = ReadFile(signPath);

    EXPECT_NE(first, later) << "every renewal changes the content";
    EXPECT_NE(later.find("PC=" + ComputerName() + "\r\n"), std::string::npos) << later;
    EXPECT_EQ(Attributes(signPath) & kShownAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(Entries(locks.Path()), (std::vector<std::string>{"Ann" + kSuffix, "Ann" + kLifeSign}));
    EXPECT_TRUE(SeeToken(tokenPath) == before) << "the token was rewritten";
    EXPECT_EQ(SeeToken(tokenPath).content, "1");
    // The lookups of every copy see one token, Ann's, and a take by Bob meets it.
    OwnedText owner(TokenLockOwner(locks.Path().c_str()));
    EXPECT_STREQ(owner.Str(), "Ann");
    EXPECT_TRUE(OtherTokens(locks.Path().c_str(), token).Clear());
    EXPECT_EQ(TryTakeTokenLock(locks.Path().c_str(), "Bob").result, TakeResult::InTheWay);

    renewer.Stop();
    EXPECT_FALSE(renewer.Running());
    EXPECT_EQ(DeleteOwnToken(locks.Path().c_str(), token).result, TokenDelete::Deleted);
    EXPECT_TRUE(Entries(locks.Path()).empty());
}

// Another PC deletes the token it was shown ("Delete Lock"): the life sign goes with it,
// and the holder that lost its lock never makes it again, nor signs for the next token
// of its name.
TEST(LifeSign, AHolderWhoseLockWasDeletedNeverSignsAgain) {
    TempDir locks;
    const TokenIdentity lost = Take(locks, "Ann");
    LifeSignRenewer lostRenewer;
    lostRenewer.Start(locks.Path().c_str(), lost, kQuick.intervalMs);

    ShownToken shown;
    ASSERT_TRUE(FirstShownToken(locks.Path().c_str(), shown));
    EXPECT_EQ(DeleteShownToken(locks.Path().c_str(), shown).result, TokenDelete::Deleted);
    EXPECT_TRUE(Entries(locks.Path()).empty());
    // A renewal under way at the delete may still count; none after it may write.
    const unsigned rounds = lostRenewer.Rounds();
    ASSERT_TRUE(AwaitCondition([&] { return lostRenewer.Rounds() >= rounds + 2; }));
    const unsigned writes = lostRenewer.Writes();
    ASSERT_TRUE(AwaitCondition([&] { return lostRenewer.Rounds() >= rounds + 5; }));
    EXPECT_EQ(lostRenewer.Writes(), writes);
    EXPECT_TRUE(Entries(locks.Path()).empty()) << "a life sign was made again";

    // Ann on another PC takes the lock anew: the old renewer leaves the new life sign alone.
    const TokenIdentity next = Take(locks, "Ann");
    LifeSignRenewer nextRenewer;
    nextRenewer.Start(locks.Path().c_str(), next, kQuick.intervalMs);
    const unsigned later = lostRenewer.Rounds();
    ASSERT_TRUE(AwaitCondition([&] { return lostRenewer.Rounds() >= later + 5; }));
    EXPECT_EQ(Watched(locks, next).liveness, Liveness::Alive);
    EXPECT_EQ(Watched(locks, lost).liveness, Liveness::NoLifeSign);
    EXPECT_EQ(lostRenewer.Writes(), writes) << "the old holder signed for the new token";
}

// The token goes first, then its life sign: a kill between the two leaves a life sign
// without a token. Nobody takes it for a holder, the next take of that name overwrites
// it (also made read-only or system meanwhile), and a delete by the old token's identity
// never removes the new holder's life sign.
TEST(LifeSign, ALifeSignLeftWithoutItsTokenMisleadsNobody) {
    const DWORD leftovers[] = {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY,
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
    for (DWORD attributes : leftovers) {
        SCOPED_TRACE(attributes);
        TempDir locks;
        const std::string signPath = locks / ("Ann" + kLifeSign);
        const TokenIdentity killed = Take(locks, "Ann");
        ASSERT_TRUE(WriteFirstLifeSign(locks.Path().c_str(), killed, kQuick.intervalMs, 7));
        // Killed after the token's delete, before its life sign's.
        ASSERT_TRUE(DeleteFileA((locks / ("Ann" + kSuffix)).c_str()));
        SetFileAttributesA(signPath.c_str(), attributes);

        OwnedText owner(TokenLockOwner(locks.Path().c_str()));
        EXPECT_FALSE(owner) << "a life sign was taken for a token";
        ShownToken shown;
        EXPECT_FALSE(FirstShownToken(locks.Path().c_str(), shown));
        const TokenIdentity bob = Take(locks, "Bob");
        EXPECT_EQ(DeleteOwnToken(locks.Path().c_str(), bob).result, TokenDelete::Deleted);

        const TokenIdentity next = Take(locks, "Ann");
        EXPECT_EQ(Watched(locks, next).liveness, Liveness::NoLifeSign) << "the leftover was trusted";
        ASSERT_TRUE(WriteFirstLifeSign(locks.Path().c_str(), next, kQuick.intervalMs, 1));
        EXPECT_EQ(Watched(locks, next).liveness, Liveness::Alive);
        EXPECT_EQ(Attributes(signPath) & kShownAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));

        EXPECT_EQ(DeleteOwnToken(locks.Path().c_str(), killed).result, TokenDelete::Replaced);
        EXPECT_TRUE(Exists(signPath)) << "the new holder's life sign went with an old identity";
        EXPECT_EQ(DeleteOwnToken(locks.Path().c_str(), next).result, TokenDelete::Deleted);
        EXPECT_TRUE(Entries(locks.Path()).empty());
    }
}

// ---- The reader --------------------------------------------------------------------

// The renewer looks at its token before each renewal: once it is gone or another's, the
// holder knows at once that the lock is lost, and stays knowing it even if a token of its
// name comes back. A new take starts afresh.
TEST(LifeSign, TheRenewerTellsTheHolderAtOnceThatItsTokenWent) {
    TempDir locks;
    const TokenIdentity token = Take(locks, "Ann");
    LifeSignRenewer renewer;
    renewer.Start(locks.Path().c_str(), token, kQuick.intervalMs);
    const unsigned rounds = renewer.Rounds();
    ASSERT_TRUE(AwaitCondition([&] { return renewer.Rounds() >= rounds + 3; }));
    EXPECT_FALSE(renewer.TokenLost());

    ShownToken shown;
    ASSERT_TRUE(FirstShownToken(locks.Path().c_str(), shown));
    ASSERT_EQ(DeleteShownToken(locks.Path().c_str(), shown).result, TokenDelete::Deleted);
    WriteFile(locks / ("Ann" + kSuffix), "1");  // the same name, another PC's file
    EXPECT_TRUE(AwaitCondition([&] { return renewer.TokenLost(); }));

    ASSERT_TRUE(DeleteFileA((locks / ("Ann" + kSuffix)).c_str()));
    const TokenIdentity again = Take(locks, "Bob");
    renewer.Start(locks.Path().c_str(), again, kQuick.intervalMs);
    EXPECT_FALSE(renewer.TokenLost());
    renewer.Stop();
}

// A holder at work is never called stopped, however long it is watched; once its
// renewals end, it is, after the watch's own time of no change and not before.
TEST(LifeSignWatch, CallsAHolderStoppedOnlyAfterSeeingNoChangeForLong) {
    TempDir locks;
    const TokenIdentity token = Take(locks, "Ann");
    LifeSignRenewer renewer;
    renewer.Start(locks.Path().c_str(), token, kQuick.intervalMs);
    LifeSignWatch watch(kQuick);
    const ULONGLONG start = GetTickCount64();
    bool everStopped = false;
    ULONGLONG oldest = 0;
    while (GetTickCount64() - start < 2 * kQuick.stoppedAfterMs) {
        watch.Look(locks.Path().c_str(), token);
        const LifeSignFacts facts = watch.Facts();
        everStopped = everStopped || facts.liveness == Liveness::Stopped;
        oldest = std::max(oldest, facts.lastSignAgoMs);
        EXPECT_EQ(facts.pc, ComputerName());
        Sleep(50);
    }
    EXPECT_FALSE(everStopped);
    EXPECT_LT(oldest, kQuick.stoppedAfterMs);

    renewer.Stop();
    const ULONGLONG stopped = GetTickCount64();
    ASSERT_TRUE(AwaitCondition([&] {
        watch.Look(locks.Path().c_str(), token);
        return watch.Facts().liveness == Liveness::Stopped;
    }));
    // The last renewal came at most one interval before the stop.
    EXPECT_GE(GetTickCount64() - stopped + kQuick.intervalMs, kQuick.stoppedAfterMs);
    const std::string text = LifeSignText(watch.Facts());
    EXPECT_NE(text.find("PC " + ComputerName()), std::string::npos) << text;
    EXPECT_NE(text.find("seems to have stopped"), std::string::npos) << text;
}

// The file's time only starts the "ago" estimate: the clocks of PCs differ. A life sign
// written nine hours ago by the holder's clock reads as such, but the holder is called
// stopped only after this PC has seen it unchanged for long enough; one from a clock
// ahead of ours reads as just now.
TEST(LifeSignWatch, TheFilesTimeIsShownButNeverDecidesAlone) {
    struct Case {
        const char* name;
        LONGLONG writtenAgoMs;
        const char* ago;
    } cases[] = {{"nine hours ago", 9LL * 3600 * 1000, "last life sign 9 h ago"},
                 {"from a clock ten minutes ahead", -10LL * 60 * 1000, "last life sign 0 s ago"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir locks;
        const TokenIdentity token = Take(locks, "Ann");
        ASSERT_TRUE(WriteFirstLifeSign(locks.Path().c_str(), token, kQuick.intervalMs, 1));
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
        t.QuadPart -= c.writtenAgoMs * 10000;
        const FILETIME written{t.LowPart, t.HighPart};
        {
            KernelHandle file(CreateFileA((locks / ("Ann" + kLifeSign)).c_str(), FILE_WRITE_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(file);
            ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &written));
        }
        LifeSignWatch watch(kQuick);
        watch.Look(locks.Path().c_str(), token);
        EXPECT_EQ(watch.Facts().liveness, Liveness::Alive);
        const std::string text = LifeSignText(watch.Facts());
        EXPECT_NE(text.find(c.ago), std::string::npos) << text;
        ASSERT_TRUE(AwaitCondition([&] {
            watch.Look(locks.Path().c_str(), token);
            return watch.Facts().liveness == Liveness::Stopped;
        }));
    }
}

// A token from a copy that renews no life sign, or with only a leftover of an earlier
// token of that name, has none; a part-written one is no life sign yet, but counts as a
// renewal once it is whole.
TEST(LifeSignWatch, WhatIsNotThisTokensLifeSignIsNone) {
    TempDir locks;
    const TokenIdentity token = Take(locks, "Ann");
    const std::string signPath = locks / ("Ann" + kLifeSign);
    LifeSignWatch watch(kQuick);
    watch.Look(locks.Path().c_str(), token);
    EXPECT_EQ(watch.Facts().liveness, Liveness::NoLifeSign);
    EXPECT_EQ(LifeSignText(watch.Facts()), "PC unknown: no life sign (an older copy of the program holds the lock)");

    TokenIdentity earlier = token;
    earlier.lastWrite.dwLowDateTime ^= 0x1234;
    ASSERT_TRUE(WriteFirstLifeSign(locks.Path().c_str(), earlier, kQuick.intervalMs, 3));
    watch.Look(locks.Path().c_str(), token);
    EXPECT_EQ(watch.Facts().liveness, Liveness::NoLifeSign) << "a leftover of an earlier token";

    WriteFile(signPath, "Carvelund life sign\r\nPC=OFF");
    watch.Look(locks.Path().c_str(), token);
    EXPECT_EQ(watch.Facts().liveness, Liveness::NoLifeSign) << "a part-written life sign";

    ASSERT_TRUE(WriteFirstLifeSign(locks.Path().c_str(), token, kQuick.intervalMs, 4));
    watch.Look(locks.Path().c_str(), token);
    EXPECT_EQ(watch.Facts().liveness, Liveness::Alive);
    EXPECT_EQ(watch.Facts().pc, ComputerName());
}

// A life sign that is there but cannot be read (a share that answers the token and not
// the sign, a program holding the file) is not "no life sign": that would be an older copy,
// and would never be called stopped. It reads as unreadable, with the reason, and once
// no renewal was seen for the stopped time it is called possibly stopped, but never safe.
TEST(LifeSignWatch, ALifeSignThatCannotBeReadIsToldApartFromNone) {
    TempDir locks;
    const TokenIdentity token = Take(locks, "Ann");
    ASSERT_TRUE(WriteFirstLifeSign(locks.Path().c_str(), token, kQuick.intervalMs, 1));
    LifeSignWatch watch(kQuick);
    watch.Look(locks.Path().c_str(), token);
    ASSERT_EQ(watch.Facts().liveness, Liveness::Alive);

    KernelHandle held(CreateFileA((locks / ("Ann" + kLifeSign)).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  0, nullptr));
    ASSERT_TRUE(held);
    watch.Look(locks.Path().c_str(), token);
    LifeSignFacts facts = watch.Facts();
    EXPECT_EQ(facts.liveness, Liveness::Unreadable);
    EXPECT_EQ(facts.pc, ComputerName()) << "what was known of the PC stays";
    EXPECT_EQ(LifeSignText(facts), "PC " + ComputerName() + ": no life sign could be read (ERROR SHARING VIOLATION)");

    ASSERT_TRUE(AwaitCondition([&] {
        watch.Look(locks.Path().c_str(), token);
        return watch.Facts().liveness == Liveness::Stopped;
    }));
    facts = watch.Facts();
    EXPECT_TRUE(facts.unreadable);
    const std::string text = LifeSignText(facts);
    EXPECT_NE(text.find("no life sign could be read (ERROR SHARING VIOLATION), none seen for "), std::string::npos) << text;
    EXPECT_NE(text.find("that PC may have stopped"), std::string::npos) << text;
    EXPECT_EQ(text.find("is safe"), std::string::npos) << text;

    // Never read at all, from the first look on: no older copy is assumed either.
    LifeSignWatch fresh(kQuick);
    fresh.Look(locks.Path().c_str(), token);
    EXPECT_EQ(fresh.Facts().liveness, Liveness::Unreadable);
    EXPECT_EQ(LifeSignText(fresh.Facts()), "PC unknown: no life sign could be read (ERROR SHARING VIOLATION)");
    held.Reset();
    fresh.Look(locks.Path().c_str(), token);
    EXPECT_EQ(fresh.Facts().liveness, Liveness::Alive);
}

// A read in the middle of a renewal finds part of the text: it is no proof of a stopped
// holder but a sign of one at work, and what was known of its PC stays.
TEST(LifeSignWatch, APartReadDuringARenewalCountsAsARenewal) {
    TempDir locks;
    const TokenIdentity token = Take(locks, "Ann");
    ASSERT_TRUE(WriteFirstLifeSign(locks.Path().c_str(), token, kQuick.intervalMs, 1));
    LifeSignWatch watch(kQuick);
    ASSERT_TRUE(AwaitCondition([&] {
        watch.Look(locks.Path().c_str(), token);
        return watch.Facts().liveness == Liveness::Stopped;
    }));
    WriteFile(locks / ("Ann" + kLifeSign), "Carvelund life sign\r\nPC=");
    watch.Look(locks.Path().c_str(), token);
    EXPECT_EQ(watch.Facts().liveness, Liveness::Alive);
    EXPECT_EQ(watch.Facts().pc, ComputerName());
    EXPECT_LT(watch.Facts().lastSignAgoMs, kQuick.stoppedAfterMs);
}

// ---- Looking at the holder while waiting ----------------------------------------------

TEST(WaitingForTheLock, TheHoldersTokenIsLookedAtByItsExactPath) {
    TempDir locks;
    const TokenIdentity ann = Take(locks, "Ann");
    EXPECT_EQ(LookAtToken(locks.Path().c_str(), ann), TokenPresence::Same);
    ASSERT_EQ(DeleteOwnToken(locks.Path().c_str(), ann).result, TokenDelete::Deleted);
    EXPECT_EQ(LookAtToken(locks.Path().c_str(), ann), TokenPresence::Gone);
    Take(locks, "Ann");
    EXPECT_EQ(LookAtToken(locks.Path().c_str(), ann), TokenPresence::Other) << "taken again by that name";
    // A lock folder that is not there (a share that dropped, a folder renamed away) says
    // nothing about the token in it.
    DWORD error = 0;
    EXPECT_EQ(LookAtToken((locks / "missing").c_str(), ann, &error), TokenPresence::Unreadable);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// The share still lists the holder's token after it went. The ordinary take believes
// the listing and meets a holder; the take after a wait creates first, and its own create
// refreshes the listing: it takes the lock at once, and still never past a real holder.
TEST(WaitingForTheLock, TheTakeAfterAWaitIsNotHeldUpByAStaleListing) {
    TempDir locks;
    const std::string bobsToken = locks / ("Bob" + kSuffix);
    WriteFile(bobsToken, "1");
    {
        GoneButStillListed cache(bobsToken);
        ASSERT_TRUE(DeleteFileA(bobsToken.c_str()));
        EXPECT_EQ(TryTakeTokenLock(locks.Path().c_str(), "Ann").result, TakeResult::InTheWay);
        const TokenTake take = TryTakeFreedTokenLock(locks.Path().c_str(), "Ann");
        EXPECT_EQ(take.result, TakeResult::Taken);
        EXPECT_EQ(Entries(locks.Path()), std::vector<std::string>{"Ann" + kSuffix});
        DeleteOwnToken(locks.Path().c_str(), take.identity);
    }
    WriteFile(bobsToken, "1");
    EXPECT_EQ(TryTakeFreedTokenLock(locks.Path().c_str(), "Ann").result, TakeResult::InTheWay);
    EXPECT_EQ(Entries(locks.Path()), std::vector<std::string>{"Bob" + kSuffix}) << "a stray token of ours";
}

}  // namespace
