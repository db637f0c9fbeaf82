// The check for data files still open in another program, against real second processes:
// this test program started again in a role (holding a file, or opening one over and over).
#include "shell/Wintools.h"
#include "support/Gui.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

using namespace testsupport;

namespace {

// What the opener tells through memory shared with the test.
struct OpenerCounts {
    volatile LONG stop;
    volatile LONG opens;
    volatile LONG sharingViolations;
    volatile LONG otherFailures;
};

std::string Env(const char* name) {
    char value[MAX_PATH * 2] = "";
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n && n < sizeof value ? value : "";
}

// Holds the file with the given sharing until `ready` is deleted again.
int HoldRole(const std::string& file, DWORD share, const std::string& ready) {
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 2;
    WriteFile(ready, "held");
    while (Exists(ready)) Sleep(10);
    CloseHandle(held);
    return 0;
}

// Opens the file for writing with the given sharing and closes it, over and over, as a
// program saving its data does, counting every failure.
int OpenerRole(const std::string& file, DWORD share, const std::string& mappingName) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, mappingName.c_str());
    if (!mapping) return 2;
    auto* counts = static_cast<OpenerCounts*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(OpenerCounts)));
    while (counts && !counts->stop) {
        HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            InterlockedIncrement(&counts->opens);
        } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
            InterlockedIncrement(&counts->sharingViolations);
        } else {
            InterlockedIncrement(&counts->otherFailures);
        }
    }
    return counts ? 0 : 2;
}

// Started again with a role, this program plays the second process and never reaches
// the tests.
const int kRoleDone = [] {
    const std::string role = Env("CARVELUND_ROLE");
    if (role.empty()) return 0;
    const std::string file = Env("CARVELUND_ROLE_FILE"), other = Env("CARVELUND_ROLE_OTHER");
    const DWORD share = static_cast<DWORD>(std::atoi(Env("CARVELUND_ROLE_SHARE").c_str()));
    ExitProcess(role == "hold" ? HoldRole(file, share, other) : role == "opener" ? OpenerRole(file, share, other) : 1);
}();

// This program started again in a role; ended (at the latest) when the test ends.
class SecondProcess {
public:
    SecondProcess(const char* role, const std::string& file, DWORD share, const std::string& other) {
        SetEnvironmentVariableA("CARVELUND_ROLE", role);
        SetEnvironmentVariableA("CARVELUND_ROLE_FILE", file.c_str());
        SetEnvironmentVariableA("CARVELUND_ROLE_SHARE", std::to_string(share).c_str());
        SetEnvironmentVariableA("CARVELUND_ROLE_OTHER", other.c_str());
        char self[MAX_PATH];
        std::string commandLine = "\"" + std::string(self, GetModuleFileNameA(nullptr, self, MAX_PATH)) + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &startup, &info_) != FALSE;
        SetEnvironmentVariableA("CARVELUND_ROLE", nullptr);
    }
    ~SecondProcess() {
        if (!started_) return;
        if (WaitForSingleObject(info_.hProcess, kPatience) != WAIT_OBJECT_0) TerminateProcess(info_.hProcess, 9);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    SecondProcess(const SecondProcess&) = delete;
    SecondProcess& operator=(const SecondProcess&) = delete;

    bool Started() const { return started_; }
    bool EndedWell() const {
        DWORD code = 1;
        return WaitForSingleObject(info_.hProcess, kPatience) == WAIT_OBJECT_0 &&
               GetExitCodeProcess(info_.hProcess, &code) && code == 0;
    }

private:
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

// Another process holds one file of the tree for as long as this lives.
class HeldFile {
public:
    HeldFile(const std::string& file, DWORD share, const std::string& ready)
        : ready_(ready), process_("hold", file, share, ready) {
        held_ = process_.Started() && AwaitCondition([&] { return Exists(ready_); });
    }
    ~HeldFile() { DeleteFileA(ready_.c_str()); }
    bool Held() const { return held_; }

private:
    std::string ready_;
    SecondProcess process_;
    bool held_ = false;
};

class FilesInUse : public ::testing::Test {
protected:
    TempDir temp;
    std::string data = temp / "Data";
    std::string ready = temp / "held";
    // The data file the other process uses, deep in a tree of others.
    std::string notes = data + "\\journal\\2024\\notes.txt";

    void SetUp() override {
        for (const char* folder : {"journal\\2024", "pictures"}) MakeFolder(data + "\\" + folder);
        for (const char* name : {"a.txt", "journal\\index.db", "journal\\2024\\z.txt", "pictures\\p.bin"})
            WriteFile(data + "\\" + name, name);
        WriteFile(notes, "notes\r\n");
    }

    // Repeats the check while another process opens the notes over and over with `share`;
    // returns the opener's counts once it has opened them `rounds` times.
    OpenerCounts OpenWhileChecking(DWORD share, LONG rounds) {
        const std::string name = "Local\\CarvelundOpener" + std::to_string(GetCurrentProcessId());
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(OpenerCounts),
                                            name.c_str());
        auto* counts = static_cast<OpenerCounts*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(OpenerCounts)));
        OpenerCounts seen{};
        {
            SecondProcess opener("opener", notes, share, name);
            EXPECT_TRUE(opener.Started());
            int checks = 0;
            const bool done = AwaitCondition([&] {
                for (int i = 0; i < 20; ++i, ++checks) {
                    std::string inUse;
                    if (FirstFileInUse(data.c_str(), inUse)) EXPECT_EQ(inUse, notes);
                }
                return counts->opens >= rounds && checks >= 200;
            }, 120000);
            EXPECT_TRUE(done) << "opens " << counts->opens << ", checks " << checks;
            counts->stop = 1;
            EXPECT_TRUE(opener.EndedWell());
            seen = *const_cast<OpenerCounts*>(counts);
        }
        UnmapViewOfFile(counts);
        CloseHandle(mapping);
        return seen;
    }
};

// A holder that shares no reading is seen by every way of looking (the Restart Manager
// sees any holder; the open that stands in for it under Wine sees these).
TEST_F(FilesInUse, AFileAnotherProcessHoldsWithoutSharingReadingIsNamed) {
    const struct {
        DWORD share;
        const char* what;
    } cases[] = {
        {0, "nothing shared"},
        {FILE_SHARE_WRITE, "only writing shared"},
        {FILE_SHARE_WRITE | FILE_SHARE_DELETE, "writing and deleting shared"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HeldFile held(notes, c.share, ready);
        ASSERT_TRUE(held.Held());
        std::string inUse;
        EXPECT_TRUE(FirstFileInUse(data.c_str(), inUse));
        EXPECT_EQ(inUse, notes);
    }
}

TEST_F(FilesInUse, ATreeNobodyHoldsIsFree) {
    std::string inUse;
    EXPECT_FALSE(FirstFileInUse(data.c_str(), inUse));
    EXPECT_EQ(inUse, "");
    // Released by its holder: free again.
    {
        HeldFile held(notes, 0, ready);
        ASSERT_TRUE(held.Held());
        EXPECT_TRUE(FirstFileInUse(data.c_str(), inUse));
    }
    EXPECT_TRUE(AwaitCondition([&] { return !FirstFileInUse(data.c_str(), inUse); }));
}

// A program saving its data opens it for writing, sharing reading, at any moment: the
// check must never be the reason that open fails. An open that shared nothing (as the
// check once made) collides within a few hundred rounds.
TEST_F(FilesInUse, TheProgramsOpensThatShareReadingNeverFailBecauseOfTheCheck) {
    const OpenerCounts counts = OpenWhileChecking(FILE_SHARE_READ, 20000);
    EXPECT_GE(counts.opens, 20000);
    EXPECT_EQ(counts.sharingViolations, 0);
    EXPECT_EQ(counts.otherFailures, 0);
}

// Exclusive opens too, where the Restart Manager answers. Under Wine it sees nothing and
// the check must open the files: any open that can tell a holder then also makes an
// exclusive open that comes in its microseconds fail, so no such run could be exact.
TEST_F(FilesInUse, TheProgramsExclusiveOpensNeverFailWhereTheRestartManagerAnswers) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "Wine's Restart Manager sees no open file";
    const OpenerCounts counts = OpenWhileChecking(0, 20000);
    EXPECT_GE(counts.opens, 20000);
    EXPECT_EQ(counts.sharingViolations, 0);
    EXPECT_EQ(counts.otherFailures, 0);
}

}  // namespace
