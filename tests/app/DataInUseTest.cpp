// The run command ends, but the program goes on in another process: one it started, or a
// copy of it that was already running. The period waits for the program, and then for
// its data to be closed, before it copies back. Share modes are enforced between Wine's
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
    // The title window's offer while it waits for programs left running: which programs,
    // and its two ways out. Null when it does not appear.
    HWND WaitingOffer(const ProgramRun& run, const char* button) const {
        HWND title = run.Window("TLogo");
        HWND found = nullptr;
        AwaitCondition([&] {
            found = title ? FindChild(title, "Button", button) : nullptr;
            return found && IsWindowVisible(found);
        });
        return found && IsWindowVisible(found) ? found : nullptr;
    }
    std::string WaitingText(const ProgramRun& run) const {
        HWND title = run.Window("TLogo");
        for (HWND child = GetWindow(title, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (IsWindowVisible(child) && WindowText(child).find("while these run") != std::string::npos)
                return WindowText(child);
        return "";
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

// The program still holds a file when the user says the work is done: the file is named,
// and Retry goes on once it is closed.
TEST_F(DataInUse, AFileThatStaysOpenIsNamedAndRetryGoesOnOnceItIsClosed) {
    const std::string notes = pc.local + "\\notes.txt";
    StubHandsOver(HoldsNotes("--wait-for " + Go() + " 120000 --close"));
    ProgramRun run(pc.program, "Ann");
    HWND done = WaitingOffer(run, "Work Done");
    ASSERT_NE(done, nullptr);
    EXPECT_NE(WaitingText(run).find("cvhelper.exe"), std::string::npos) << WaitingText(run);
    Click(done);
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
    // Cancel in the box about the open file, and Cancel in the title window's offer.
    for (const bool fromTheOffer : {false, true}) {
        SCOPED_TRACE(fromTheOffer ? "the offer's Cancel" : "the box's Cancel");
        DeleteFileA(Opened().c_str());
        DeleteFileA(Go().c_str());
        ProgramRun run(pc.program, "Ann");
        if (fromTheOffer) {
            HWND cancel = WaitingOffer(run, "Cancel");
            ASSERT_NE(cancel, nullptr);
            Click(cancel);
        } else {
            HWND done = WaitingOffer(run, "Work Done");
            ASSERT_NE(done, nullptr);
            Click(done);
            run.Box("Local Data In Use", "Cancel");
        }
        ASSERT_TRUE(run.Ended());
        WriteFile(Go(), "go");
        EXPECT_EQ(SharedNotes(), kShared);
        EXPECT_FALSE(Exists(share.data + ".saved"));
        EXPECT_TRUE(Exists(pc.local + ".unsaved"));
        EXPECT_FALSE(Exists(pc.Token("Ann")));
        // The helper ends once the go file is there; the next round starts afresh.
        ASSERT_TRUE(WaitFor([&] { return !HeldOpen(pc.local + "\\notes.txt"); }));
        DeleteFileA((pc.local + ".unsaved").c_str());
    }
}

// A tray helper left running for good must never leave the user without a way to save:
// the period names it, and Work Done copies back.
TEST_F(DataInUse, AHelperLeftRunningIsNamedAndWorkDoneCopiesBack) {
    pc.WriteSetting("RunCommandOptions", "--append-line " + pc.local + "\\notes.txt edited --hand-over --wait-for " +
                                             Go() + " 120000");
    ProgramRun run(pc.program, "Ann");
    HWND done = WaitingOffer(run, "Work Done");
    ASSERT_NE(done, nullptr);
    EXPECT_NE(WaitingText(run).find("cvhelper.exe"), std::string::npos) << WaitingText(run);
    EXPECT_EQ(SharedNotes(), kShared);
    Click(done);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "edited\r\n");
    EXPECT_FALSE(Exists(pc.local + ".unsaved"));
    WriteFile(Go(), "go");
}

// A start-up stub ends at once; the program it started writes seconds later, holding no
// file open in between.
TEST_F(DataInUse, AWriteByTheStartedProgramAfterTheStubEndedReachesTheShare) {
    pc.WriteSetting("RunCommandOptions", "--hand-over --sleep 2500 --append-line " + pc.local + "\\notes.txt late");
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "late\r\n");
    EXPECT_FALSE(Exists(pc.local + ".unsaved"));
}

// A single-instance program: the run command hands the work to the copy that was already
// running before the period, and ends.
TEST_F(DataInUse, AWriteByACopyRunningBeforeThePeriodReachesTheShare) {
    const std::string handed = root / "handed";
    ProgramRun earlier(pc.helper, "--wait-for " + handed + " 120000 --sleep 1500 --append-line " + pc.local +
                                      "\\notes.txt \"from the copy\"");
    pc.WriteSetting("RunCommandOptions", "--write " + handed + " yes");
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(run.Ended());
    ASSERT_TRUE(earlier.Ended());
    EXPECT_EQ(SharedNotes(), kShared + "from the copy\r\n");
    EXPECT_FALSE(Exists(pc.local + ".unsaved"));
}

}  // namespace
