// A lock that is lost is never written through: another PC takes the lock while a copy
// back builds, a live holder meets "Caution - Lock Lost", a lock folder or a share that
// cannot be read, and a network lock folder whose listing may hide a rival for seconds.
// The real program on real folders, another PC played by this test.
#include "app/PeriodFixture.h"

#include "lock/LifeSign.h"
#include "lock/Tokenlock.h"
#include "shell/Handles.h"

#include <gtest/gtest.h>

#include <string>

using namespace e2e;
using namespace testsupport;

namespace {

const std::string kShared = "shared v1\r\n";
const std::string kSuffix = ".tokenlockforcarvelund";

class LostLock : public PeriodFixture {
protected:
    // Renewals every half second: the tests watch a holder's life sign change quickly.
    LostLock() { SetEnvironmentVariableA("CARVELUND_LIFESIGN_MS", "500"); }
    ~LostLock() override {
        bob.Stop();
        if (bobsToken.Known()) DeleteOwnToken(share.lock.c_str(), bobsToken);
        SetEnvironmentVariableA("CARVELUND_LIFESIGN_MS", nullptr);
    }

    std::string Record() const { return pc.local + ".unsaved"; }
    bool Holds(const std::string& user) const { return Exists(pc.Token(user)); }
    void AppAppends(const std::string& more = "") const {
        pc.WriteSetting("RunCommandOptions",
                        "--append-line " + pc.local + "\\notes.txt edited " + more + " --wait-for " + Go("go") + " 120000");
    }
    bool AppRan() const {
        return WaitFor([&] { return ReadFileOr(pc.local + "\\notes.txt", "") == kShared + "edited\r\n"; });
    }

    // Another PC deletes Ann's lock as its start dialog allows ("Delete Lock && Proceed"),
    // takes the lock and renews its life sign.
    void BobTakesTheLock() {
        ShownToken ann;
        ASSERT_TRUE(FirstShownToken(share.lock.c_str(), ann));
        ASSERT_EQ(DeleteShownToken(share.lock.c_str(), ann).result, TokenDelete::Deleted);
        const TokenTake take = TryTakeTokenLock(share.lock.c_str(), "Bob");
        ASSERT_EQ(take.result, TakeResult::Taken);
        bobsToken = take.identity;
        bob.Start(share.lock.c_str(), bobsToken, 500);
    }
    // A folder nobody else can list, as a share that dropped, until the handle goes.
    static KernelHandle HeldWithoutSharing(const std::string& folder) {
        return KernelHandle(CreateFileA(folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    }
    // The application ends; the period asks with the box of this caption, which names `folder`.
    MessageBoxSeen AppEndsAndAsks(const ProgramRun& run, const char* caption, const std::string& folder) const {
        LetAppEnd("go");
        const MessageBoxSeen box = AwaitMessageBox(caption, run.Pid());
        EXPECT_NE(box.text.find(folder), std::string::npos) << box.text;
        return box;
    }
    void BobLetsGo() {
        bob.Stop();
        DeleteOwnToken(share.lock.c_str(), bobsToken);
        bobsToken = TokenIdentity{};
    }

    TokenIdentity bobsToken;
    LifeSignRenewer bob;
};

// ---- The copy back ---------------------------------------------------------------

// While the copy back builds its tree on the share (a large changed file keeps it busy),
// another PC deletes the token and takes the lock. Just before its switch the copy back
// looks at its token by its exact path: it switches nothing, the new tree goes, the work
// stays recorded, and a box says what happened and who holds the lock now.
TEST_F(LostLock, ACopyBackWhoseLockIsTakenDuringItsBuildSwitchesNothing) {
    const std::string block(4 << 20, 'B');
    std::string big;
    for (int i = 0; i < 40; ++i) big += block;
    WriteFile(share.data + "\\big.bin", big);
    AppAppends("--append-line " + pc.local + "\\big.bin changed");
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppRan());
    LetAppEnd("go");
    ASSERT_TRUE(WaitFor([&] { return Exists(share.data + ".next") || run.Ended(0); }, 120000));
    ASSERT_TRUE(Exists(share.data + ".next")) << "the copy back ended before it was seen";
    ASSERT_NO_FATAL_FAILURE(BobTakesTheLock());
    const MessageBoxSeen box = run.Box("Lock Lost");
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text.rfind("The lock was lost during the copy back: Bob (PC ", 0), 0u) << box.text;
    EXPECT_NE(box.text.find("Nothing was copied to the shared data folder; your work stays in " + pc.local), std::string::npos)
        << box.text;
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_EQ(ReadFile(share.data + "\\big.bin").size(), big.size());
    EXPECT_FALSE(Exists(share.data + ".saved"));
    EXPECT_FALSE(Exists(share.data + ".next"));
    EXPECT_FALSE(Exists(share.data + ".next.undo"));
    EXPECT_TRUE(Exists(Record()));
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_FALSE(Holds("Ann"));
}

// ---- Caution - Lock Lost --------------------------------------------------------------

// Over another PC's live lock the work can wait: "Keep Work for Later", which has the
// focus, deletes and copies nothing and keeps the record, and the next start offers the
// work. "Delete Lock && Save" over a holder whose life sign is fresh asks once more first.
TEST_F(LostLock, KeepWorkForLaterOverALiveHolderKeepsTheWorkForTheNextStart) {
    AppAppends();
    {
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(AppRan());
        ASSERT_NO_FATAL_FAILURE(BobTakesTheLock());
        LetAppEnd("go");
        HWND dialog = run.Window("TFinishLockStolen");
        ASSERT_NE(dialog, nullptr);
        HWND keep = FindChild(dialog, "Button", "Keep Work for Later");
        ASSERT_NE(keep, nullptr);
        EXPECT_TRUE(AwaitFocus(keep));
        Click(FindChild(dialog, "Button", "Delete Lock && Save"));
        const MessageBoxSeen again = run.Box("Delete Lock && Save", "&No");
        EXPECT_NE(again.text.find("Bob is most likely working with the shared data right now"), std::string::npos)
            << again.text;
        EXPECT_TRUE(Holds("Bob")) << "deleted before the second answer";
        run.Choose("TFinishLockStolen", "Keep Work for Later");
        ASSERT_TRUE(run.Ended());
    }
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_FALSE(Exists(share.data + ".saved"));
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_TRUE(Exists(pc.Token("Bob") + ".lifesign"));
    EXPECT_FALSE(Holds("Ann"));
    EXPECT_TRUE(Exists(Record()));
    EXPECT_EQ(LocalNotes(), kShared + "edited\r\n");

    BobLetsGo();
    ProgramRun next(pc.program, "Ann");
    const MessageBoxSeen offered = next.Box("Unsaved Local Data", "Cancel");
    EXPECT_NE(offered.text.find("never reached the shared data folder"), std::string::npos) << offered.text;
    ASSERT_TRUE(next.Ended());
    EXPECT_EQ(LocalNotes(), kShared + "edited\r\n");
    EXPECT_TRUE(Exists(Record()));
}

// With the lock gone and nobody holding it, the work can wait too.
TEST_F(LostLock, KeepWorkForLaterWithTheLockGoneKeepsTheWork) {
    AppAppends("--delete " + pc.Token("Ann"));
    LetAppEnd("go");
    ProgramRun run(pc.program, "Ann");
    HWND dialog = run.Window("TFinishLockGone");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(AwaitFocus(FindChild(dialog, "Button", "Keep Work for Later")));
    run.Choose("TFinishLockGone", "Keep Work for Later");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_TRUE(Exists(Record()));
}

// ---- What cannot be read is not lost, and never unchanged -----------------------------

// A lock folder that cannot be listed at the end (a share that dropped; here a program
// that holds the folder without sharing) is no lost lock: the period asks to retry, and
// copies back once it can look again.
TEST_F(LostLock, ALockFolderThatCannotBeListedIsNoLostLock) {
    AppAppends();
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppRan());
    KernelHandle exclusive = HeldWithoutSharing(share.lock);
    ASSERT_TRUE(exclusive);
    const MessageBoxSeen box = AppEndsAndAsks(run, "Lock Folder Unreadable", share.lock);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(FindTopWindow("TFinishLockGone", nullptr, run.Pid()), nullptr);
    exclusive.Reset();
    PressButton(box.window, "&Retry");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "edited\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_FALSE(Exists(Record()));
}

// The shared data cannot be listed before the copy back: whether another PC saved there
// is unknown, so it never passes as unchanged. Cancel keeps the work; Retry, once the
// share answers again, copies back.
TEST_F(LostLock, ASharedFolderThatCannotBeListedNeverPassesAsUnchanged) {
    for (const char* answer : {"Cancel", "&Retry"}) {
        SCOPED_TRACE(answer);
        const bool retry = answer[0] == '&';
        DeleteFileA(Go("go").c_str());
        AppAppends();
        WriteFile(pc.local + "\\notes.txt", "whatever the last period left\r\n");
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(WaitFor([&] { return ReadFileOr(pc.local + "\\notes.txt", "").find("edited") != std::string::npos; }));
        KernelHandle exclusive = HeldWithoutSharing(share.data);
        ASSERT_TRUE(exclusive);
        const MessageBoxSeen box = AppEndsAndAsks(run, "Shared Data Unreadable", share.data);
        ASSERT_NE(box.window, nullptr);
        exclusive.Reset();
        PressButton(box.window, answer);
        ASSERT_TRUE(run.Ended());
        EXPECT_TRUE(ListTree(share.lock).empty());
        if (retry) {
            EXPECT_NE(SharedNotes().find("edited"), std::string::npos);
            EXPECT_FALSE(Exists(Record()));
        } else {
            EXPECT_EQ(SharedNotes(), kShared);
            EXPECT_TRUE(Exists(Record()));
            DeleteFileA(Record().c_str());
        }
    }
}

// ---- A network lock folder: ten seconds before the first write --------------------------

// A network client may list a folder from a cache up to ten seconds old: a rival's token
// made in the same moment as ours may show only then. So the first write after a take (here
// the repair of a copy another period left unfinished on the share) waits until ten
// seconds after the take and looks again; with the rival's token there, nothing is written.
class NetworkLockFolder : public LostLock {
protected:
    void SetUp() override {
        ASSERT_TRUE(alias.Made());
        pc.WriteSetting("RemoteLockFolder", alias.Unc() + "\\locks");
    }
    // Bob's take saw no token (his cache was older than Ann's create) and made his.
    void BobsTokenAppearsAfterAnns() const {
        ASSERT_TRUE(WaitFor([&] { return Holds("Ann"); }));
        WriteFile(pc.Token("Bob"), "1");
    }
    ShareAlias alias{root / "share"};
};

TEST_F(NetworkLockFolder, TheRepairAfterTheTakeWaitsForTheListingAndARivalStopsIt) {
    MakeFolder(share.data + ".incoming");
    WriteFile(share.data + ".incoming\\half.txt", "half a copy");
    ProgramRun run(pc.program, "Ann");
    ASSERT_NO_FATAL_FAILURE(BobsTokenAppearsAfterAnns());
    const MessageBoxSeen box = run.Box("Lock Lost");
    EXPECT_EQ(box.text.rfind("The lock was lost before anything was written to the shared data folder: Bob (PC ", 0), 0u)
        << box.text;
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(ReadFileOr(share.data + ".incoming\\half.txt", "<repaired>"), "half a copy");
    EXPECT_EQ(LocalNotes(), "local before\r\n");
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_FALSE(Holds("Ann"));
}

// "Save Anyway" takes the lock again: that take too is followed by the wait and the look.
TEST_F(NetworkLockFolder, SaveAnywayWaitsForTheListingAndARivalStopsTheCopyBack) {
    AppAppends("--delete " + pc.Token("Ann"));
    LetAppEnd("go");
    ProgramRun run(pc.program, "Ann");
    run.Choose("TFinishLockGone", "Save Anyway");
    ASSERT_NO_FATAL_FAILURE(BobsTokenAppearsAfterAnns());
    const MessageBoxSeen box = run.Box("Lock Lost");
    EXPECT_NE(box.text.find("Bob (PC "), std::string::npos) << box.text;
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_FALSE(Exists(share.data + ".saved"));
    EXPECT_TRUE(Exists(Record()));
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_FALSE(Holds("Ann"));
}

}  // namespace
