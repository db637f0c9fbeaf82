// Two or three PCs on one share (a program folder and a local folder each), the real
// program on each: the holder's life sign as the others see it, and waiting for the lock.
#include "app/Workspace.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace e2e;
using namespace testsupport;

namespace {

const char* kSharedBefore = "shared v1\r\n";
const char* kLocalBefore = "local before\r\n";
const std::string kLifeSign = ".lifesign";

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    return name;
}

// A visible child window (of that class, when given) whose text starts with `text`.
HWND ChildWithText(HWND parent, const std::string& text, const char* className = nullptr) {
    if (!parent) return nullptr;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = "";
        GetClassNameA(child, cls, sizeof cls);
        if (IsWindowVisible(child) && (!className || lstrcmpiA(cls, className) == 0) &&
            WindowText(child).rfind(text, 0) == 0)
            return child;
    }
    return nullptr;
}

class LockWait : public ::testing::Test {
protected:
    // A renewal every 500 ms: a stopped holder is seen after 2.5 s instead of 25 s.
    LockWait() { SetEnvironmentVariableA("CARVELUND_LIFESIGN_MS", "500"); }
    ~LockWait() override { SetEnvironmentVariableA("CARVELUND_LIFESIGN_MS", nullptr); }

    TempDir root;
    Share share{root};
    Pc a{root, share, "pcA"};
    Pc b{root, share, "pcB"};

    std::string SharedNotes() const { return ReadFile(share.data + "\\notes.txt"); }
    static std::string LocalNotes(const Pc& pc) { return ReadFileOr(pc.local + "\\notes.txt", "<none>"); }
    // Waits until the PC's application has written its line into the local data.
    static bool AppRan(const Pc& pc, const std::string& name) {
        return WaitFor([&] { return LocalNotes(pc).find("edited on " + name) != std::string::npos; });
    }
    bool Holds(const std::string& user) const { return Exists(a.Token(user)); }
    bool HasLifeSign(const std::string& user) const { return Exists(a.Token(user) + kLifeSign); }

    // The start dialog's line about the holder's PC and life sign.
    static std::string DialogLifeSign(HWND dialog) { return WindowText(ChildWithText(dialog, "PC ", "Static")); }
    // The life sign line once it holds `part`; as last read when it never did.
    static std::string AwaitLifeSign(HWND dialog, const std::string& part) {
        std::string line;
        WaitFor([&] { return (line = DialogLifeSign(dialog)).find(part) != std::string::npos; });
        return line;
    }
    // The title window's text while it waits for the lock; empty when it does not wait.
    static std::string WaitingText(const ProgramRun& run) {
        return WindowText(ChildWithText(FindTopWindow("TLogo", nullptr, run.Pid()), "Waiting for the lock", "Static"));
    }
    static HWND WaitingButton(const ProgramRun& run, const char* caption) {
        return ChildWithText(FindTopWindow("TLogo", nullptr, run.Pid()), caption, "Button");
    }
    // Chooses Wait in the start dialog and waits until the title window says it waits.
    static std::string StartWaiting(const ProgramRun& run) {
        run.Choose("TStartLock", "Wait");
        std::string text;
        WaitFor([&] { return !(text = WaitingText(run)).empty(); });
        return text;
    }
};

// B waits while A works and takes the lock by itself as soon as A lets go: its period then
// runs as any other, on the data A copied back, and its window comes to the front.
TEST_F(LockWait, BWaitsWhileAWorksAndStartsByItselfWhenAEnds) {
    ProgramRun runA(a.program, "Ann");
    ASSERT_TRUE(AppRan(a, "pcA"));
    EXPECT_TRUE(HasLifeSign("Ann"));
    // The token is what older copies know: one byte, no attribute but archive.
    EXPECT_EQ(ReadFile(a.Token("Ann")), "1");
    EXPECT_EQ(Attributes(a.Token("Ann")) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM), 0u);
    EXPECT_EQ(Attributes(a.Token("Ann") + kLifeSign) & FILE_ATTRIBUTE_HIDDEN, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));

    ProgramRun runB(b.program, "Bea");
    HWND dialog = runB.Window("TStartLock");
    ASSERT_NE(dialog, nullptr);
    const std::string line = AwaitLifeSign(dialog, "last life sign");
    ASSERT_NE(line.find("last life sign"), std::string::npos) << line;
    EXPECT_EQ(line.rfind("PC " + ComputerName() + ", last life sign ", 0), 0u) << line;
    const std::string waiting = StartWaiting(runB);
    EXPECT_EQ(waiting.rfind("Waiting for the lock of Ann, held since ", 0), 0u) << waiting;
    EXPECT_NE(waiting.find("PC " + ComputerName() + ", last life sign"), std::string::npos) << waiting;
    EXPECT_EQ(waiting.find("stopped"), std::string::npos) << waiting;
    SaveScreenshot(FindTopWindow("TLogo", nullptr, runB.Pid()), "title-window-waiting-for-the-lock");
    EXPECT_NE(WaitingButton(runB, "Cancel"), nullptr);
    EXPECT_EQ(WaitingButton(runB, "Delete Lock"), nullptr) << "offered for a holder at work";
    EXPECT_FALSE(Holds("Bea"));
    EXPECT_EQ(LocalNotes(b), kLocalBefore);

    a.AppEnds();
    ASSERT_TRUE(WaitFor([&] { return !Holds("Ann"); }));
    const DWORD released = GetTickCount();
    ASSERT_TRUE(WaitFor([&] { return Holds("Bea"); }));
    const DWORD taken = GetTickCount() - released;
    std::printf("B took the lock %lu ms after A let go\n", static_cast<unsigned long>(taken));
    // It looks once a second: well within 2 s, with room for a slow machine.
    EXPECT_LT(taken, 5000u);
    ASSERT_TRUE(AppRan(b, "pcB"));
    EXPECT_EQ(LocalNotes(b), std::string(kSharedBefore) + "edited on pcA\r\nedited on pcB\r\n");
    EXPECT_TRUE(WaitingText(runB).empty());
    EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == FindTopWindow("TLogo", nullptr, runB.Pid()); }))
        << "the waiting window did not come to the front";
    ASSERT_TRUE(runA.Ended());
    EXPECT_FALSE(HasLifeSign("Ann"));
    EXPECT_TRUE(HasLifeSign("Bea"));

    b.AppEnds();
    ASSERT_TRUE(runB.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\nedited on pcB\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// A token of an older copy has no life sign: the dialog says so. Waiting for it ends with
// nothing changed anywhere, by the waiting window's Cancel or by closing the window.
TEST_F(LockWait, LeavingTheWaitForATokenWithoutLifeSignChangesNothing) {
    WriteFile(a.Token("Bob"), "1");
    const auto lockBefore = ListTree(share.lock);
    for (const char* way : {"Cancel", "closing the window"}) {
        SCOPED_TRACE(way);
        ProgramRun run(b.program, "Bea");
        HWND dialog = run.Window("TStartLock");
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(DialogLifeSign(dialog), "PC unknown: no life sign (an older copy of the program holds the lock)");
        const std::string waiting = StartWaiting(run);
        EXPECT_NE(waiting.find("no life sign"), std::string::npos) << waiting;
        if (std::string(way) == "Cancel") {
            HWND cancel = WaitingButton(run, "Cancel");
            ASSERT_NE(cancel, nullptr);
            Click(cancel);
        } else {
            PostMessageA(FindTopWindow("TLogo", nullptr, run.Pid()), WM_CLOSE, 0, 0);
        }
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(run.ExitCode(), 0u);
        EXPECT_EQ(ListTree(share.lock), lockBefore);
        EXPECT_EQ(ReadFile(a.Token("Bob")), "1");
        EXPECT_EQ(LocalNotes(b), kLocalBefore);
        EXPECT_FALSE(Exists(b.local + ".saved"));
        EXPECT_FALSE(Exists(b.local + ".unsaved"));
        EXPECT_EQ(SharedNotes(), kSharedBefore);
    }
}

// A's program is killed while its application runs (a crash, a PC switched off): B's
// start dialog soon says that A's PC seems to have stopped, and deleting its lock starts
// B's period.
TEST_F(LockWait, AKilledHoldersPcIsSeenToHaveStoppedInTheStartDialog) {
    {
        ProgramRun runA(a.program, "Ann");
        ASSERT_TRUE(AppRan(a, "pcA"));
        runA.Kill();
    }
    ASSERT_TRUE(Holds("Ann"));
    ASSERT_TRUE(HasLifeSign("Ann"));
    ProgramRun runB(b.program, "Bea");
    HWND dialog = runB.Window("TStartLock");
    ASSERT_NE(dialog, nullptr);
    const std::string line = AwaitLifeSign(dialog, "seems to have stopped");
    ASSERT_NE(line.find("seems to have stopped"), std::string::npos) << line;
    EXPECT_NE(line.find("PC " + ComputerName()), std::string::npos) << line;
    runB.Choose("TStartLock", "Delete Lock && Proceed");
    ASSERT_TRUE(AppRan(b, "pcB"));
    EXPECT_FALSE(Holds("Ann"));
    EXPECT_FALSE(HasLifeSign("Ann"));
    a.AppEnds();  // the killed period's application, still running
    b.AppEnds();
    ASSERT_TRUE(runB.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcB\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// A stops while B waits for it: the waiting window says so and offers to delete that lock,
// which starts B's period.
TEST_F(LockWait, AHolderThatStopsWhileWaitedForIsSaidSoAndItsLockCanBeDeleted) {
    ProgramRun runA(a.program, "Ann");
    ASSERT_TRUE(AppRan(a, "pcA"));
    ProgramRun runB(b.program, "Bea");
    const std::string before = StartWaiting(runB);
    EXPECT_EQ(before.find("stopped"), std::string::npos) << before;

    runA.Kill();
    const DWORD killed = GetTickCount();
    std::string waiting;
    ASSERT_TRUE(WaitFor([&] { return (waiting = WaitingText(runB)).find("seems to have stopped") != std::string::npos; }))
        << waiting;
    const DWORD seen = GetTickCount() - killed;
    std::printf("the waiting window said A had stopped %lu ms after the kill\n", static_cast<unsigned long>(seen));
    // Five 500 ms intervals after the last renewal, looked at once a second: a few seconds.
    EXPECT_LT(seen, 10000u);
    HWND remove = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (remove = WaitingButton(runB, "Delete Lock")) != nullptr; }));
    EXPECT_FALSE(Holds("Bea"));
    Click(remove);
    ASSERT_TRUE(AppRan(b, "pcB"));
    EXPECT_FALSE(Holds("Ann"));
    EXPECT_FALSE(HasLifeSign("Ann"));
    EXPECT_TRUE(Holds("Bea"));
    a.AppEnds();
    b.AppEnds();
    ASSERT_TRUE(runB.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcB\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// Two PCs wait for A: when A lets go, exactly one takes the lock and the other waits on,
// now for the winner; once the winner ends, the other's turn comes.
TEST_F(LockWait, OfTwoWaitersOneTakesTheLockAndTheOtherWaitsOn) {
    Pc c(root, share, "pcC");
    ProgramRun runA(a.program, "Ann");
    ASSERT_TRUE(AppRan(a, "pcA"));
    ProgramRun runB(b.program, "Bea");
    StartWaiting(runB);
    ProgramRun runC(c.program, "Cy");
    StartWaiting(runC);

    a.AppEnds();
    ASSERT_TRUE(WaitFor([&] { return Holds("Bea") || Holds("Cy"); }));
    const bool beaFirst = Holds("Bea");
    const Pc& winner = beaFirst ? b : c;
    const Pc& loser = beaFirst ? c : b;
    const ProgramRun& loserRun = beaFirst ? runC : runB;
    const std::string winnerName = beaFirst ? "Bea" : "Cy";
    ASSERT_TRUE(AppRan(winner, beaFirst ? "pcB" : "pcC"));
    std::string waiting;
    ASSERT_TRUE(WaitFor([&] { return (waiting = WaitingText(loserRun)).find("of " + winnerName + ",") != std::string::npos; }))
        << waiting;
    EXPECT_FALSE(Holds(beaFirst ? "Cy" : "Bea"));
    EXPECT_EQ(LocalNotes(loser), kLocalBefore);
    EXPECT_EQ(ListTree(share.lock).size(), 2u) << "the winner's token and life sign only";

    winner.AppEnds();
    ASSERT_TRUE(AppRan(loser, beaFirst ? "pcC" : "pcB"));
    loser.AppEnds();
    ASSERT_TRUE(runA.Ended());
    ASSERT_TRUE(runB.Ended());
    ASSERT_TRUE(runC.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\nedited on " +
                                 (beaFirst ? "pcB" : "pcC") + "\r\nedited on " + (beaFirst ? "pcC" : "pcB") + "\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// B deletes A's lock while A works: at A's end, "Caution - Lock Lost" shows B's PC and
// last life sign, so that "Delete Lock && Save" is an informed choice too. A's own life
// sign went with its token.
TEST_F(LockWait, TheLockLostDialogShowsTheNewHoldersPcAndLifeSign) {
    ProgramRun runA(a.program, "Ann");
    ASSERT_TRUE(AppRan(a, "pcA"));
    ProgramRun runB(b.program, "Bea");
    runB.Choose("TStartLock", "Delete Lock && Proceed");
    ASSERT_TRUE(AppRan(b, "pcB"));
    std::vector<std::string> names;
    for (const TreeEntry& e : ListTree(share.lock)) names.push_back(e.relative);
    EXPECT_EQ(names, (std::vector<std::string>{"Bea.tokenlockforcarvelund", "Bea.tokenlockforcarvelund.lifesign"}));

    a.AppEnds();
    HWND dialog = runA.Window("TFinishLockStolen");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(FindWindowExA(dialog, nullptr, "Edit", nullptr)), "Bea");
    const std::string line = AwaitLifeSign(dialog, "last life sign");
    ASSERT_NE(line.find("last life sign"), std::string::npos) << line;
    EXPECT_EQ(line.rfind("PC " + ComputerName() + ", last life sign ", 0), 0u) << line;
    EXPECT_EQ(line.find("stopped"), std::string::npos) << line;
    runA.Choose("TFinishLockStolen", "Cancel - Lose Changes");
    ASSERT_TRUE(runA.Ended());
    EXPECT_TRUE(Holds("Bea"));
    EXPECT_EQ(SharedNotes(), kSharedBefore);

    b.AppEnds();
    ASSERT_TRUE(runB.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcB\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// Killed between the delete of its token and of its life sign, a period leaves a life sign
// alone: the next start of that name works as ever, signs anew, and leaves nothing.
TEST_F(LockWait, ALifeSignLeftAloneByAKillIsHarmlessAtTheNextStart) {
    WriteFile(a.Token("Ann") + kLifeSign, "Carvelund life sign\r\nPC=GONE\r\nToken=01D0000000000000\r\nEvery=300\r\nBeat=9\r\n");
    SetFileAttributesA((a.Token("Ann") + kLifeSign).c_str(), FILE_ATTRIBUTE_HIDDEN);
    ProgramRun runA(a.program, "Ann");
    ASSERT_TRUE(AppRan(a, "pcA"));
    EXPECT_EQ(FindTopWindow("TStartLock", nullptr, runA.Pid()), nullptr);
    // Another PC sees Ann's new life sign, not the leftover.
    ProgramRun runB(b.program, "Bea");
    HWND dialog = runB.Window("TStartLock");
    ASSERT_NE(dialog, nullptr);
    const std::string line = AwaitLifeSign(dialog, "last life sign");
    ASSERT_NE(line.find("last life sign"), std::string::npos) << line;
    EXPECT_EQ(line.find("GONE"), std::string::npos) << line;
    runB.Choose("TStartLock", "Cancel");
    ASSERT_TRUE(runB.Ended());
    a.AppEnds();
    ASSERT_TRUE(runA.Ended());
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

}  // namespace
