// A long transfer as a user meets it: the title window keeps answering throughout, and
// the progress display counts what is done.
#include "app/PeriodFixture.h"

#include <gtest/gtest.h>

#include <string>

using namespace e2e;
using namespace testsupport;

namespace {

constexpr int kManyFiles = 6000;

class LongTransfer : public PeriodFixture {
protected:
    // The same many small files on both sides, times kept: nothing to fetch, every file
    // copied on the local side, as after a day of work elsewhere that changed nothing.
    void ManyUnchangedFiles() const {
        for (int i = 0; i < kManyFiles; ++i) {
            const std::string folder = "\\many\\" + std::to_string(i / 500);
            if (i % 500 == 0) {
                MakeFolder(share.data + folder);
                MakeFolder(pc.local + folder);
            }
            const std::string name = folder + "\\f" + std::to_string(i) + ".dat";
            WriteFile(share.data + name, std::string(200 + i % 300, 'x'));
            ASSERT_TRUE(CopyFileA((share.data + name).c_str(), (pc.local + name).c_str(), FALSE));
        }
    }
};

// Windows calls a window hung when it does not answer a message within a few seconds,
// and offers to end the program in the middle of the transfer.
TEST_F(LongTransfer, TheTitleWindowAnswersThroughoutTheCopies) {
    ManyUnchangedFiles();
    LetAppEnd("go");
    pc.WriteSetting("RunCommandOptions", "--wait-for " + Go("go") + " 120000");
    ProgramRun run(pc.program, "Ann");
    HWND title = run.Window("TLogo");
    ASSERT_NE(title, nullptr);

    int probes = 0, probesDuringTransfer = 0, unanswered = 0;
    while (!run.Ended(0) && IsWindow(title)) {
        const bool transferring = FindTopWindow("TProgress", nullptr, run.Pid()) != nullptr;
        DWORD_PTR answer = 0;
        const LRESULT answered = SendMessageTimeoutA(title, WM_NULL, 0, 0, SMTO_NORMAL, 500, &answer);
        if (!answered && IsWindow(title)) ++unanswered;
        ++probes;
        if (transferring) ++probesDuringTransfer;
    }
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(unanswered, 0) << "of " << probes << " probes";
    // The probes must have met the transfers, or nothing was shown.
    EXPECT_GE(probesDuringTransfer, 5) << "of " << probes << " probes";
    EXPECT_TRUE(SameTree(share.data, pc.local));
    EXPECT_TRUE(ListTree(share.lock).empty());
}

}  // namespace
