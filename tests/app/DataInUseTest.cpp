// The application ends, but the data is still open in another process of it: the period
// waits for the data before it copies back. Share modes are enforced between Wine's
// processes as on Windows, so the second process really holds the file.
#include "app/PeriodFixture.h"

#include <gtest/gtest.h>

using namespace e2e;
using namespace testsupport;

namespace {

const std::string kShared = "shared v1\r\n";

class DataInUse : public PeriodFixture {
protected:
    std::string Go() const { return PeriodFixture::Go("go"); }
    // Written by the second process once it holds the notes open.
    std::string Opened() const { return root / "opened"; }
    std::string HoldsNotes(const std::string& then) const {
        return "--open " + pc.local + "\\notes.txt --write-held begun --write " + Opened() + " yes " + then;
    }
    // The run command is a stub: it hands these options to a second process and ends
    // once that one has opened the notes.
    void StubHandsOver(const std::string& options) const {
        pc.WriteSetting("RunCommandOptions", "--hand-over " + options + " --then --wait-for " + Opened() + " 60000");
    }
    // Whether a program still holds the file, seen as the period sees it.
    bool HeldOpen(const std::string& path) const {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    }
};

TEST_F(DataInUse, TheCopyBackWaitsForTheSecondProcessAndCarriesItsLastWrite) {
    StubHandsOver(HoldsNotes("--wait-for " + Go() + " 120000 --write-held \"last write\" --close"));
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(WaitFor([&] { return Exists(Opened()); }));
    // The stub has ended, the data is still being written: nothing goes back yet.
    ASSERT_FALSE(run.Ended(1500));
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_TRUE(Exists(pc.Token("Ann")));
    WriteFile(Go(), "go");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "begun\r\nlast write\r\n");
    EXPECT_FALSE(Exists(pc.Token("Ann")));
    EXPECT_FALSE(Exists(pc.local + ".unsaved"));
}

TEST_F(DataInUse, AFileThatStaysOpenIsNamedAndRetryGoesOnOnceItIsClosed) {
    const std::string notes = pc.local + "\\notes.txt";
    StubHandsOver(HoldsNotes("--wait-for " + Go() + " 120000 --close"));
    ProgramRun run(pc.program, "Ann");
    const MessageBoxSeen box = AwaitMessageBox("Local Data In Use", run.Pid());
    ASSERT_NE(box.window, nullptr);
    EXPECT_NE(box.text.find(notes), std::string::npos) << box.text;
    EXPECT_EQ(SharedNotes(), kShared);
    WriteFile(Go(), "go");
    ASSERT_TRUE(WaitFor([&] { return !HeldOpen(notes); }));
    PressButton(box.window, "&Retry");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "begun\r\n");
    EXPECT_FALSE(Exists(pc.local + ".unsaved"));
}

TEST_F(DataInUse, CancelLeavesTheSharedDataAndKeepsTheWorkAsUnsaved) {
    StubHandsOver(HoldsNotes("--wait-for " + Go() + " 120000 --close"));
    ProgramRun run(pc.program, "Ann");
    run.Box("Local Data In Use", "Cancel");
    ASSERT_TRUE(run.Ended());
    WriteFile(Go(), "go");
    EXPECT_EQ(SharedNotes(), kShared);
    EXPECT_FALSE(Exists(share.data + ".saved"));
    EXPECT_TRUE(Exists(pc.local + ".unsaved"));
    EXPECT_FALSE(Exists(pc.Token("Ann")));
}

// A tray helper left running holds no data: it does not keep the period waiting.
TEST_F(DataInUse, AHelperProcessLeftRunningDoesNotDelayThePeriod) {
    pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt edited --hand-over --wait-for " +
                                             Go() + " 120000");
    ProgramRun run(pc.program, "Ann");
    // Well before the user would be asked about open files.
    // Ends while the helper still runs, and without asking: a box would hold it up.
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "edited\r\n");
    WriteFile(Go(), "go");
}

}  // namespace
