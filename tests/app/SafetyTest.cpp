// No work is lost: periods killed or failing part-way, work that never reached the
// shared folder, another PC writing while the lock was not ours, odd settings. The real
// program on real folders, with the helper program as the application.
#include "app/PeriodFixture.h"

#include "shell/transfer/Transfer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace e2e;
using namespace testsupport;

namespace {

const std::string kShared = "shared v1\r\n";

std::string Hex(uint64_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(n));
    return text;
}

class Safety : public PeriodFixture {
protected:
    std::string Record() const { return pc.local + ".unsaved"; }
    bool Holds(const std::string& user) const { return Exists(pc.Token(user)); }

    // The application appends a line to the local notes, then waits for its go file.
    void AppAppends(const std::string& line, const std::string& go, const std::string& more = "") const {
        pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt \"" + line + "\" " + more +
                                                 " --wait-for " + Go(go) + " 120000");
    }
    bool LocalNotesBecome(const std::string& text) const {
        return WaitFor([&] { return ReadFileOr(pc.local + "\\notes.txt", "") == text; });
    }

    // A period killed while the application runs: its work is only in the local folder.
    void KilledWhileTheAppRuns() {
        AppAppends("first", "go1");
        {
            ProgramRun run(pc.program, "Ann");
            ASSERT_TRUE(LocalNotesBecome(kShared + "first\r\n")) << run.Shown();
            run.Kill();
        }
        LetAppEnd("go1");
        ASSERT_TRUE(Exists(Record()));
        ASSERT_EQ(SharedNotes(), kShared);
    }

    // The next period meets its own token, left by the killed one, and takes it over.
    void StartsOverTheStaleToken(const ProgramRun& run) const { run.Choose("TStartLock", "Delete Lock && Proceed"); }

    // After a kill: the next period takes the stale token over, is asked about the unsaved
    // work, sends it first, and its own line (`line`, go file `go`) follows it to the share.
    void NextPeriodSendsTheWork(const std::string& line, const std::string& go, const std::string& notes) const {
        AppAppends(line, go);
        ProgramRun run(pc.program, "Ann");
        StartsOverTheStaleToken(run);
        run.Box("Unsaved Local Data", "&Yes");
        ASSERT_TRUE(LocalNotesBecome(notes)) << run.Shown();
        LetAppEnd(go);
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(SharedNotes(), notes);
    }

    std::vector<std::string> NoTransientFolders() const {
        std::vector<std::string> found;
        for (const std::string& base : {pc.local, share.data}) {
            for (const char* suffix : {".next", ".next.undo", ".next.journal", ".next.check", ".next.manifest",
                                       ".incoming", ".complete", ".2delete"})
                if (Exists(base + suffix)) found.push_back(base + suffix);
        }
        return found;
    }

    static std::vector<std::string> LetGoFolders(const std::string& base) {
        std::vector<std::string> found;
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((base + ".deleting-*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return found;
        do {
            found.push_back(base.substr(0, base.find_last_of('\\') + 1) + entry.cFileName);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        return found;
    }
};

// ---- Unsaved local work ---------------------------------------------------------

TEST_F(Safety, UnsavedWorkYesBringsItToTheSharedFolderFirst) {
    KilledWhileTheAppRuns();
    AppAppends("second", "go2");
    ProgramRun run(pc.program, "Ann");
    StartsOverTheStaleToken(run);
    MessageBoxSeen box = run.Box("Unsaved Local Data", "&Yes");
    EXPECT_NE(box.text.find("has not changed"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find(pc.local), std::string::npos) << box.text;
    ASSERT_TRUE(LocalNotesBecome(kShared + "first\r\nsecond\r\n")) << run.Shown();
    EXPECT_EQ(SharedNotes(), kShared + "first\r\n");
    EXPECT_TRUE(Holds("Ann"));
    LetAppEnd("go2");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "first\r\nsecond\r\n");
    EXPECT_FALSE(Exists(Record()));
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// Another PC saved after this PC's work was cut short: Yes copies the work over that save,
// which is set aside first, named in the box, and outlives the next periods.
TEST_F(Safety, UnsavedWorkYesSetsAnotherPcsLaterSaveAside) {
    KilledWhileTheAppRuns();
    WriteFile(share.data + "\\bob.txt", "bob's later save");
    AppAppends("second", "go2");
    std::string aside;
    {
        ProgramRun run(pc.program, "Ann");
        StartsOverTheStaleToken(run);
        MessageBoxSeen box = run.Box("Unsaved Local Data", "&Yes");
        EXPECT_NE(box.text.find("HAS CHANGED"), std::string::npos) << box.text;
        const size_t at = box.text.find(share.data + ".setaside-");
        ASSERT_NE(at, std::string::npos) << box.text;
        aside = box.text.substr(at, box.text.find(',', at) - at);
        ASSERT_TRUE(LocalNotesBecome(kShared + "first\r\nsecond\r\n")) << run.Shown();
        LetAppEnd("go2");
        ASSERT_TRUE(run.Ended());
    }
    for (const char* period : {"third", "fourth"}) {
        AppAppends(period, period);
        LetAppEnd(period);
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(run.Ended()) << period;
    }
    EXPECT_EQ(ReadFileOr(aside + "\\bob.txt", "<gone>"), "bob's later save");
    EXPECT_EQ(ReadFileOr(aside + "\\notes.txt", "<gone>"), kShared);
    EXPECT_NE(SharedNotes().find("fourth"), std::string::npos);
}

TEST_F(Safety, UnsavedWorkNoSetsItAsideForGood) {
    KilledWhileTheAppRuns();
    AppAppends("second", "go2");
    std::string aside;
    {
        ProgramRun run(pc.program, "Ann");
        StartsOverTheStaleToken(run);
        run.Box("Unsaved Local Data", "&No");
        MessageBoxSeen told = run.Box("Unsaved Local Data", "OK");
        const size_t at = told.text.find(pc.local + ".setaside-");
        ASSERT_NE(at, std::string::npos) << told.text;
        aside = told.text.substr(at, told.text.find('\n', at) - at);
        ASSERT_TRUE(LocalNotesBecome(kShared + "second\r\n")) << LocalNotes() << run.Shown();
        LetAppEnd("go2");
        ASSERT_TRUE(run.Ended());
    }
    EXPECT_EQ(SharedNotes(), kShared + "second\r\n");
    EXPECT_FALSE(Exists(Record()));
    // Two more periods leave the set-aside work alone.
    for (const char* period : {"third", "fourth"}) {
        AppAppends(period, period);
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(WaitFor([&] { return LocalNotes().find(period) != std::string::npos; })) << period;
        LetAppEnd(period);
        ASSERT_TRUE(run.Ended()) << period;
    }
    EXPECT_EQ(SharedNotes(), kShared + "second\r\nthird\r\nfourth\r\n");
    EXPECT_EQ(ReadFileOr(aside + "\\notes.txt", "<gone>"), kShared + "first\r\n");
    EXPECT_EQ(ReadFileOr(aside + "\\sub\\table.dat", "<gone>"), std::string(5000, 'T'));
}

TEST_F(Safety, UnsavedWorkCancelChangesNothing) {
    KilledWhileTheAppRuns();
    ProgramRun run(pc.program, "Ann");
    StartsOverTheStaleToken(run);
    run.Box("Unsaved Local Data", "Cancel");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(LocalNotes(), kShared + "first\r\n");
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_FALSE(Exists(share.data + ".saved"));
    EXPECT_TRUE(Exists(Record()));
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// A read-only period cannot copy back: Yes is not offered, and the work can still be
// set aside before the copy in replaces it.
TEST_F(Safety, AReadOnlyPeriodOffersNoCopyBack) {
    KilledWhileTheAppRuns();
    WriteFile(pc.Token("Bob"), "1");
    DeleteFileA(pc.Token("Ann").c_str());
    ProgramRun run(pc.program, "Ann");
    run.Choose("TStartLock", "Proceed Read Only");
    MessageBoxSeen box = AwaitMessageBox("Unsaved Local Data", run.Pid());
    ASSERT_NE(box.window, nullptr);
    HWND yes = FindChild(box.window, "Button", "&Yes");
    ASSERT_NE(yes, nullptr);
    EXPECT_FALSE(IsWindowEnabled(yes));
    EXPECT_TRUE(IsWindowEnabled(FindChild(box.window, "Button", "&No")));
    PressButton(box.window, "Cancel");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(LocalNotes(), kShared + "first\r\n");
    EXPECT_TRUE(Exists(Record()));
}

// ---- Another PC wrote while the lock was not ours ------------------------------------

TEST_F(Safety, SharedDataChangedAsksBeforeTheCopyBack) {
    for (const bool overwrite : {true, false}) {
        SCOPED_TRACE(overwrite ? "Yes" : "No");
        RemoveTree(share.data + ".saved");
        WriteFile(share.data + "\\notes.txt", kShared);
        DeleteFileA((share.data + "\\other.txt").c_str());
        // While the application runs, the lock goes and another PC saves its work.
        pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt edited --delete " +
                                                 pc.Token("Ann") + " --write " + share.data + "\\other.txt bob");
        ProgramRun run(pc.program, "Ann");
        run.Choose("TFinishLockGone", "Save Anyway");
        MessageBoxSeen box = run.Box("Shared Data Changed", overwrite ? "&Yes" : "&No");
        // The other PC's save goes to a folder of its own, named in the box.
        const size_t at = box.text.find(share.data + ".setaside-");
        ASSERT_NE(at, std::string::npos) << box.text;
        const std::string aside = box.text.substr(at, box.text.find(',', at) - at);
        ASSERT_TRUE(run.Ended());
        if (overwrite) {
            EXPECT_EQ(SharedNotes(), kShared + "edited\r\n");
            EXPECT_FALSE(Exists(share.data + "\\other.txt"));
            EXPECT_EQ(ReadFileOr(aside + "\\other.txt", "<none>"), "bob");
            EXPECT_EQ(ReadFileOr(aside + "\\notes.txt", "<none>"), kShared);
            EXPECT_FALSE(Exists(aside + ".incoming"));
            EXPECT_FALSE(Exists(Record()));
            // Two more periods rotate the backups; the other PC's save stays.
            for (const char* period : {"second", "third"}) {
                pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt " + period);
                ProgramRun next(pc.program, "Ann");
                ASSERT_TRUE(next.Ended()) << period;
            }
            EXPECT_EQ(ReadFileOr(aside + "\\other.txt", "<none>"), "bob");
            RemoveTree(aside);
        } else {
            EXPECT_FALSE(Exists(aside));
            EXPECT_EQ(SharedNotes(), kShared);
            EXPECT_EQ(ReadFileOr(share.data + "\\other.txt", "<none>"), "bob");
            EXPECT_FALSE(Exists(share.data + ".saved"));
            EXPECT_EQ(LocalNotes(), kShared + "edited\r\n");
            EXPECT_TRUE(Exists(Record()));
        }
        EXPECT_TRUE(ListTree(share.lock).empty());
        DeleteFileA(Record().c_str());
    }
}

// Another PC's copy back, killed just before its switch, left its finished next tree on
// the share. The repair puts that save in place before the share is compared with what this
// period copied in: the question comes, and the other PC's save is set aside, not lost.
TEST_F(Safety, SharedDataChangedIsJudgedAfterTheShareIsPutRight) {
    AppAppends("edited", "go1");
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(LocalNotesBecome(kShared + "edited\r\n"));
    // Bob's copy back as a kill leaves it: its next tree whole and checked, not switched in.
    const std::string bob = root / "bob", kept = root / "bob's moment";
    MakeFolder(bob + "\\sub");
    WriteFile(bob + "\\notes.txt", "bob's page\r\n");
    WriteFile(bob + "\\sub\\table.dat", std::string(5000, 'T'));
    TransferOptions atTheSwitch;
    atTheSwitch.beforeSwitch = [&](uint64_t) {
        CopyTree(root / "share", kept);
        return false;
    };
    ASSERT_TRUE(TransferTree(bob, share.data, nullptr, atTheSwitch).stoppedBeforeSwitch);
    RemoveTree(root / "share\\data.saved");
    RemoveTree(root / "share\\data");
    CopyTree(kept + "\\data", share.data);
    CopyTree(kept + "\\data.next", share.data + ".next");
    for (const char* file : {".next.journal", ".next.check", ".next.manifest"})
        WriteFile(share.data + file, ReadFile(kept + "\\data" + file));
    ASSERT_TRUE(TransferInterrupted(share.data));

    LetAppEnd("go1");
    MessageBoxSeen box = run.Box("Shared Data Changed", "&Yes");
    const size_t at = box.text.find(share.data + ".setaside-");
    ASSERT_NE(at, std::string::npos) << box.text;
    const std::string aside = box.text.substr(at, box.text.find(',', at) - at);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(ReadFileOr(aside + "\\notes.txt", "<none>"), "bob's page\r\n");
    EXPECT_EQ(SharedNotes(), kShared + "edited\r\n");
    EXPECT_EQ(ReadFileOr(share.data + ".saved\\notes.txt", "<none>"), "bob's page\r\n");
    EXPECT_TRUE(NoTransientFolders().empty()) << NoTransientFolders().front();
    EXPECT_FALSE(Exists(Record()));
}

// A record of unsaved work that is there but cannot be read (a program holds it open)
// still stands for the work: the next start asks before its copy in.
TEST_F(Safety, ARecordThatCannotBeReadStillStandsForTheWork) {
    KilledWhileTheAppRuns();
    HANDLE held = CreateFileA(Record().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ProgramRun run(pc.program, "Ann");
    StartsOverTheStaleToken(run);
    run.Box("Unsaved Local Data", "Cancel");
    ASSERT_TRUE(run.Ended());
    CloseHandle(held);
    EXPECT_EQ(LocalNotes(), kShared + "first\r\n");
    EXPECT_EQ(SharedNotes(), kShared);
}

// "Save Anyway" takes the token again; when another user's token appeared meanwhile,
// the lock-stolen dialog decides instead.
TEST_F(Safety, SaveAnywayTakesTheTokenAgain) {
    pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt edited --delete " + pc.Token("Ann"));
    ProgramRun run(pc.program, "Ann");
    ASSERT_NE(run.Window("TFinishLockGone"), nullptr);
    WriteFile(pc.Token("Bob"), "1");
    run.Choose("TFinishLockGone", "Save Anyway");
    HWND stolen = run.Window("TFinishLockStolen");
    ASSERT_NE(stolen, nullptr);
    EXPECT_EQ(WindowText(FindWindowExA(stolen, nullptr, "Edit", nullptr)), "Bob");
    run.Choose("TFinishLockStolen", "Cancel - Lose Changes");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_TRUE(Holds("Bob"));
    EXPECT_FALSE(Holds("Ann"));
    EXPECT_FALSE(Exists(Record()));  // the user chose to lose the changes
}

// ---- Killed during a transfer -----------------------------------------------------

class KilledDuringTransfer : public Safety {
protected:
    void SetUp() override {
        // Enough data that a copy takes a while to watch.
        MakeFolder(share.data + "\\big");
        const std::string block(256 * 1024, 'B');
        for (int i = 0; i < 120; ++i) WriteFile(share.data + "\\big\\file" + std::to_string(i) + ".bin", block);
    }
    // Kills the program once `path` appears; false when the program ended first.
    bool KillWhenPresent(const ProgramRun& run, const std::string& path) const {
        const bool seen = WaitFor([&] { return Exists(path) || run.Ended(0); }, 120000) && Exists(path);
        run.Kill();
        return seen;
    }
};

TEST_F(KilledDuringTransfer, CopyInThenTheNextPeriodWorksOnWholeTrees) {
    AppAppends("edited", "go1");
    {
        ProgramRun run(pc.program, "Ann");
        EXPECT_TRUE(KillWhenPresent(run, pc.local + ".next")) << "the copy in ended before it was seen";
    }
    // Whatever the moment, the local folder is the last whole tree.
    EXPECT_EQ(LocalNotes(), "local before\r\n");
    EXPECT_FALSE(Exists(Record()));

    AppAppends("edited", "go2");
    ProgramRun run(pc.program, "Ann");
    StartsOverTheStaleToken(run);
    ASSERT_TRUE(LocalNotesBecome(kShared + "edited\r\n")) << run.Shown();
    EXPECT_EQ(ReadFileOr(pc.local + ".saved\\notes.txt", "<none>"), "local before\r\n");
    LetAppEnd("go2");
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(NoTransientFolders().empty());
    std::string difference;
    EXPECT_TRUE(SameTree(pc.local, share.data, &difference)) << difference;
}

TEST_F(KilledDuringTransfer, CopyBackThenTheNextPeriodOffersTheWork) {
    AppAppends("edited", "go1");
    {
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(LocalNotesBecome(kShared + "edited\r\n")) << run.Shown();
        LetAppEnd("go1");
        EXPECT_TRUE(KillWhenPresent(run, share.data + ".next")) << "the copy back ended before it was seen";
    }
    // The shared folder keeps its last whole tree; the work is recorded as unsaved.
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_TRUE(Exists(Record()));

    ASSERT_NO_FATAL_FAILURE(NextPeriodSendsTheWork("again", "go2", kShared + "edited\r\nagain\r\n"));
    EXPECT_EQ(ReadFileOr(share.data + ".saved\\notes.txt", "<none>"), kShared + "edited\r\n");
    EXPECT_TRUE(NoTransientFolders().empty());
    EXPECT_FALSE(Exists(Record()));
}

// An earlier version of the program, killed while it deleted its old saves in the
// background, left them, partly deleted, under names of their own: the next period deletes
// them on both sides, and touches no folder that only looks like one.
TEST_F(Safety, OldSavesAnEarlierVersionWasDeletingGoWithTheNextPeriod) {
    const std::string leftover = ".deleting-01dc0123456789ab-4d2";
    for (const std::string& base : {pc.local, share.data}) {
        MakeFolder(base + leftover + "\\part");
        WriteFile(base + leftover + "\\part\\x.txt", "partly deleted");
        WriteFile(base + leftover + "\\y.txt", "partly deleted");
    }
    MakeFolder(share.data + "2" + leftover);
    WriteFile(share.data + "2" + leftover + "\\keep.txt", "another data folder's");
    MakeFolder(pc.local + ".deleting-mine");
    WriteFile(pc.local + ".deleting-mine\\keep.txt", "the user's");
    MakeFolder(pc.local + ".saved.deleting-01");
    AppAppends("edited", "go1");
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(LocalNotesBecome(kShared + "edited\r\n")) << run.Shown();
    LetAppEnd("go1");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "edited\r\n");
    EXPECT_FALSE(Exists(pc.local + leftover));
    EXPECT_FALSE(Exists(share.data + leftover));
    EXPECT_EQ(ReadFileOr(share.data + "2" + leftover + "\\keep.txt", "<gone>"), "another data folder's");
    EXPECT_EQ(ReadFileOr(pc.local + ".deleting-mine\\keep.txt", "<gone>"), "the user's");
    EXPECT_TRUE(Exists(pc.local + ".saved.deleting-01"));
    EXPECT_EQ(LetGoFolders(pc.local), std::vector<std::string>{pc.local + ".deleting-mine"});
    EXPECT_TRUE(LetGoFolders(share.data).empty());
    EXPECT_FALSE(Exists(Record()));
}

// After another PC's save the copy in makes the local save the next tree. The
// application then writes a file in place: the save, a tree of its own, keeps what it had.
// A kill while such a copy in is built leaves the local data whole, and the save too once
// the next start has put it back.
TEST_F(KilledDuringTransfer, TheApplicationsWritesInPlaceNeverChangeTheSave) {
    const std::string block(256 * 1024, 'B');
    const auto bobSaves = [&](int save) {
        WriteFile(share.data + "\\bob.txt", "bob's save " + std::to_string(save));
    };
    const auto period = [&](int n, const std::string& more) {
        AppAppends("period " + std::to_string(n), "go" + std::to_string(n), more);
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(LocalNotesBecome(SharedNotes() + "period " + std::to_string(n) + "\r\n")) << run.Shown();
        LetAppEnd("go" + std::to_string(n));
        ASSERT_TRUE(run.Ended());
    };
    period(1, "");
    bobSaves(1);
    period(2, "");
    bobSaves(2);
    // The application also appends to a big file, in place.
    const std::string big = "\\big\\file7.bin";
    period(3, "--append " + pc.local + big + " tail");
    EXPECT_TRUE(ReadFileOr(pc.local + big, "") == block + "tail") << pc.local + big;
    EXPECT_TRUE(ReadFileOr(share.data + big, "") == block + "tail") << share.data + big;
    EXPECT_TRUE(ReadFileOr(pc.local + ".saved" + big, "") == block) << "the save changed with the data";
    EXPECT_EQ(ReadFileOr(pc.local + ".saved\\bob.txt", ""), "bob's save 1");

    // Bob saves much new data; Ann's copy in is killed while it is built.
    for (int i = 0; i < 120; ++i) WriteFile(share.data + "\\big\\bob" + std::to_string(i) + ".bin", block);
    bobSaves(3);
    const std::string notes = LocalNotes();
    {
        AppAppends("killed", "go4");
        ProgramRun run(pc.program, "Ann");
        EXPECT_TRUE(KillWhenPresent(run, pc.local + ".next")) << "the copy in ended before it was seen";
    }
    LetAppEnd("go4");
    EXPECT_EQ(LocalNotes(), notes);
    EXPECT_TRUE(ReadFileOr(pc.local + big, "") == block + "tail") << pc.local + big;
    {
        // What the next start does first.
        const RepairResult repaired = RepairTransfer(pc.local);
        EXPECT_TRUE(repaired.ok);
    }
    EXPECT_TRUE(ReadFileOr(pc.local + ".saved" + big, "") == block) << pc.local + ".saved" + big;
    EXPECT_EQ(ReadFileOr(pc.local + ".saved\\bob.txt", ""), "bob's save 1");

    AppAppends("period 5", "go5", "--append " + pc.local + big + " again");
    ProgramRun run(pc.program, "Ann");
    StartsOverTheStaleToken(run);
    ASSERT_TRUE(LocalNotesBecome(SharedNotes() + "period 5\r\n")) << run.Shown();
    LetAppEnd("go5");
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(ReadFileOr(share.data + big, "") == block + "tailagain") << share.data + big;
    EXPECT_TRUE(ReadFileOr(pc.local + ".saved" + big, "") == block + "tail") << pc.local + ".saved" + big;
    EXPECT_EQ(ReadFileOr(pc.local + ".saved\\bob.txt", ""), "bob's save 2");
    EXPECT_TRUE(NoTransientFolders().empty()) << NoTransientFolders().front();
    std::string difference;
    EXPECT_TRUE(SameTree(pc.local, share.data, &difference)) << difference;
}

// A copy back that was switched in, cut short before its record was cleared (killed just
// after the switch): the share holds exactly the recorded work, so
// the next start neither asks nor reports another PC's save, and keeps the older backup.
TEST_F(Safety, WorkThatReachedTheShareIsNotOfferedAgain) {
    AppAppends("edited", "go1");
    {
        ProgramRun run(pc.program, "Ann");
        ASSERT_TRUE(LocalNotesBecome(kShared + "edited\r\n")) << run.Shown();
        LetAppEnd("go1");
        ASSERT_TRUE(run.Ended());
    }
    ASSERT_EQ(SharedNotes(), kShared + "edited\r\n");
    uint64_t sent = 0;
    ASSERT_TRUE(FingerprintFolder(share.data, sent));
    // The record as the copy back left it just before its switch.
    WriteFile(Record(), "[UnsavedWork]\r\nBegan=01dd000000000000\r\nSharedFingerprint=0000000000000001\r\n"
                        "SentFingerprint=" + Hex(sent) + "\r\n");

    AppAppends("again", "go2");
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(LocalNotesBecome(kShared + "edited\r\nagain\r\n")) << run.Shown();
    LetAppEnd("go2");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "edited\r\nagain\r\n");
    EXPECT_EQ(ReadFileOr(share.data + ".saved\\notes.txt", "<none>"), kShared + "edited\r\n");
    EXPECT_FALSE(Exists(Record()));
}

// A record whose write was cut short before its rename still stands for the work.
TEST_F(Safety, ARecordLeftUnderItsNewNameStillStandsForTheWork) {
    KilledWhileTheAppRuns();
    ASSERT_TRUE(MoveFileA(Record().c_str(), (Record() + ".new").c_str()));
    ProgramRun run(pc.program, "Ann");
    StartsOverTheStaleToken(run);
    run.Box("Unsaved Local Data", "Cancel");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(LocalNotes(), kShared + "first\r\n");
    EXPECT_EQ(SharedNotes(), kShared);
}

// Without the lock, another PC may switch in its save while the copy in runs. Its files
// have the same names and sizes, so the copy's own check cannot tell: the copy counts
// only when the shared tree was the same before and after it.
TEST_F(KilledDuringTransfer, AReadOnlyCopyInNeverMixesTwoSharedTrees) {
    const std::string next = root / "next", old = root / "old";
    MakeFolder(next + "\\big");
    MakeFolder(next + "\\sub");
    const std::string block(256 * 1024, 'N');
    for (int i = 0; i < 120; ++i) WriteFile(next + "\\big\\file" + std::to_string(i) + ".bin", block);
    WriteFile(next + "\\notes.txt", "shared v2\r\n");
    WriteFile(next + "\\sub\\table.dat", std::string(5000, 'U'));
    WriteFile(pc.Token("Bob"), "1");
    ProgramRun switcher(pc.helper, "--wait-for " + pc.local + ".next 120000 --rename " + share.data + " " + old +
                                       " --rename " + next + " " + share.data);
    pc.WriteSetting("RunCommandOptions", "--sleep 10");
    ProgramRun run(pc.program, "Ann");
    run.Choose("TStartLock", "Proceed Read Only");
    ASSERT_TRUE(run.Ended());
    ASSERT_TRUE(switcher.Ended());
    ASSERT_EQ(switcher.ExitCode(), 0u);
    std::string toNew, toOld;
    const bool wholeNew = SameTree(pc.local, share.data, &toNew);
    const bool wholeOld = SameTree(pc.local, old, &toOld);
    EXPECT_TRUE(wholeNew || wholeOld) << toNew << " / " << toOld;
    EXPECT_TRUE(Holds("Bob"));
}

// ---- Settings and shares that would lose data -------------------------------------------

TEST_F(Safety, AnEmptiedSharedFolderLeavesTheLocalDataAlone) {
    RemoveTree(share.data);
    MakeFolder(share.data);
    ProgramRun run(pc.program, "Ann");
    MessageBoxSeen empty = run.Box("Copying");
    MessageBoxSeen step = run.Box("Copying");
    MessageBoxSeen period = run.Box("Copy Remote Data");
    EXPECT_EQ(empty.text.rfind("The source folder is empty: " + share.data, 0), 0u) << empty.text;
    EXPECT_EQ(step.text, "Error occuried during filecopy");
    EXPECT_EQ(period.text, "Error copying remote shared data");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(LocalNotes(), "local before\r\n");
    EXPECT_FALSE(Exists(pc.local + ".saved"));
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// A shared data folder deleted or moved by mistake is not an interrupted transfer: its
// backup, one generation old, must not quietly become the data.
TEST_F(Safety, ASharedFolderThatIsGoneIsReportedNotReplaced) {
    AppAppends("edited", "go1");
    {
        ProgramRun run(pc.program, "Ann");
        LetAppEnd("go1");
        ASSERT_TRUE(run.Ended());
    }
    ASSERT_TRUE(Exists(share.data + ".saved"));
    ASSERT_TRUE(MoveFileA(share.data.c_str(), (root / "moved by mistake").c_str()));
    ProgramRun run(pc.program, "Ann");
    MessageBoxSeen box = run.Box("Repairing interrupted transfer");
    EXPECT_NE(box.text.find(share.data + " is missing"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find(share.data + ".saved"), std::string::npos) << box.text;
    ASSERT_TRUE(run.Ended());
    EXPECT_FALSE(Exists(share.data));
    EXPECT_EQ(ReadFileOr(share.data + ".saved\\notes.txt", "<none>"), kShared);
    EXPECT_EQ(LocalNotes(), kShared + "edited\r\n");
    EXPECT_TRUE(ListTree(share.lock).empty());
}

// Relative folders mean the folders beside the folder the program was started in, for
// every step: the launch moves the current folder to the run command's.
TEST_F(Safety, RelativeFoldersMeanTheSameFoldersInEveryStep) {
    const std::string tools = root / "tools";
    MakeFolder(tools);
    ASSERT_TRUE(CopyFileA(pc.helper.c_str(), (tools + "\\cvhelper.exe").c_str(), FALSE));
    pc.WriteSetting("RunCommand", tools + "\\cvhelper.exe");
    pc.WriteSetting("LocalDataFolder", "..\\data");
    pc.WriteSetting("RemoteSharedDataFolder", "..\\..\\share\\data");
    pc.WriteSetting("RemoteLockFolder", "..\\..\\share\\locks");
    AppAppends("edited", "go1");
    ProgramRun run(pc.program, "Ann", pc.folder);
    ASSERT_TRUE(LocalNotesBecome(kShared + "edited\r\n")) << run.Shown();
    LetAppEnd("go1");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "edited\r\n");
    EXPECT_FALSE(Exists(root / "data"));
    EXPECT_TRUE(ListTree(share.lock).empty());
    EXPECT_EQ(VisibleWindows(run.Pid()), 0);
}

// ---- One period for a local data folder at a time ---------------------------------------

// Started again while the first start's application runs, the second start meets the
// user's own token; it must not repair, copy over or set aside the running period's data.
TEST_F(Safety, ASecondStartOnTheLocalDataInUseTouchesNothing) {
    AppAppends("first", "go1");
    ProgramRun first(pc.program, "Ann");
    ASSERT_TRUE(LocalNotesBecome(kShared + "first\r\n")) << first.Shown();
    // The same PC started again, and another program folder whose settings spell the
    // same local folder another way.
    Pc other(root, share, "pcB");
    std::string spelledOtherwise = pc.local + "\\";
    CharLowerBuffA(&spelledOtherwise[0], static_cast<DWORD>(spelledOtherwise.size()));
    other.WriteSetting("LocalDataFolder", spelledOtherwise);
    for (const std::string& program : {pc.program, other.program}) {
        SCOPED_TRACE(program);
        ProgramRun second(program, "Ann");
        MessageBoxSeen box = second.Box("Period Already Running");
        std::string named = box.text, local = pc.local;
        CharLowerBuffA(&named[0], static_cast<DWORD>(named.size()));
        CharLowerBuffA(&local[0], static_cast<DWORD>(local.size()));
        EXPECT_NE(named.find(local), std::string::npos) << box.text;
        ASSERT_TRUE(second.Ended());
        EXPECT_TRUE(Holds("Ann"));
        EXPECT_TRUE(Exists(Record()));
        EXPECT_EQ(LocalNotes(), kShared + "first\r\n");
    }
    for (const auto& entry : ListTree(root / "pcA"))
        EXPECT_EQ(entry.relative.find("setaside"), std::string::npos) << entry.relative;
    LetAppEnd("go1");
    ASSERT_TRUE(first.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "first\r\n");
    EXPECT_FALSE(Exists(Record()));
    EXPECT_TRUE(ListTree(share.lock).empty());
}

}  // namespace
