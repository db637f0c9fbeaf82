// Whole working periods of the real program, on real folders, with the helper program
// as the application, acted on as a user would.
#include "app/Workspace.h"

#include <gtest/gtest.h>

using namespace e2e;
using namespace testsupport;

namespace {

const char* kSharedBefore = "shared v1\r\n";
const char* kLocalBefore = "local before\r\n";

class Period : public ::testing::Test {
protected:
    TempDir root;
    Share share{root};
    Pc pc{root, share, "pcA"};

    std::string SharedNotes() const { return ReadFile(share.data + "\\notes.txt"); }
    std::string LocalNotes() const { return ReadFile(pc.local + "\\notes.txt"); }
    bool Holds(const std::string& user) const { return Exists(pc.Token(user)); }
    bool AppStarted() const {
        return WaitFor([&] { return Exists(pc.local + "\\notes.txt") && LocalNotes() != kLocalBefore && LocalNotes() != kSharedBefore; });
    }
};

TEST_F(Period, TakesTheLockCopiesInRunsCopiesBackAndReleases) {
    ProgramRun run(pc.program, "Ann");
    ASSERT_TRUE(AppStarted());
    // While the application runs: the lock is Ann's, the local copy is the shared data.
    EXPECT_TRUE(Holds("Ann"));
    EXPECT_EQ(LocalNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_EQ(ReadFile(pc.local + ".saved\\notes.txt"), kLocalBefore);
    EXPECT_EQ(ReadFile(pc.local + "\\sub\\table.dat"), std::string(5000, 'T'));
    EXPECT_EQ(SharedNotes(), kSharedBefore);
    HWND title = run.Window("TLogo", "Carvelund");
    EXPECT_NE(title, nullptr);
    SaveScreenshot(title, "title-window-during-period");

    pc.AppEnds();
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(SharedNotes(), std::string(kSharedBefore) + "edited on pcA\r\n");
    EXPECT_EQ(ReadFile(share.data + ".saved\\notes.txt"), kSharedBefore);
    EXPECT_FALSE(Exists(share.data + ".2delete"));
    EXPECT_FALSE(Exists(pc.local + ".2delete"));
    EXPECT_FALSE(Holds("Ann"));
}

}  // namespace
