// The launcher against real processes: the project's helper program is the run command.
#include "launcher/Winappcontrol.h"

#include "support/Gui.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <direct.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::string CurrentFolder() {
    char buffer[MAX_PATH * 2];
    const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    return std::string(buffer, n);
}

std::string WithoutTrailingSeparator(std::string path) {
    if (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

bool SameFolder(const std::string& a, const std::string& b) {
    return lstrcmpiA(WithoutTrailingSeparator(a).c_str(), WithoutTrailingSeparator(b).c_str()) == 0;
}

// cvhelper.exe is built beside the test programs.
std::string BuiltHelper() {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, n);
    return path.substr(0, path.find_last_of("\\/") + 1) + "cvhelper.exe";
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Key=value lines of the helper's report.
std::string ReportValue(const std::string& report, const std::string& key) {
    const std::string prefix = key + "=";
    size_t at = 0;
    while (at < report.size()) {
        const size_t end = report.find('\n', at);
        const std::string line = report.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
        if (end == std::string::npos) break;
        at = end + 1;
    }
    ADD_FAILURE() << "no " << key << " in the report:\n" << report;
    return {};
}

bool WaitUntilEnded(AppControl& app) {
    return WaitFor([&] { return !app.IsRunning(); });
}

bool Alive(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// Whether a process of this program file runs, as a user would see it in a task list.
bool ProgramRunning(const std::string& path) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        char image[MAX_PATH * 2];
        DWORD size = sizeof image;
        found = QueryFullProcessImageNameA(process, 0, image, &size) && lstrcmpiA(image, path.c_str()) == 0 &&
                Alive(process);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

// A program the test starts itself, as a user would have; ended at the end of the test
// if it still runs then.
class OwnStart {
public:
    OwnStart(const std::string& program, const std::string& options) {
        std::string commandLine = Quoted(program) + " " + options;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                            &startup, &info_))
            ADD_FAILURE() << "cannot start " << commandLine;
    }
    ~OwnStart() {
        if (!info_.hProcess) return;
        if (Alive(info_.hProcess)) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, kPatience);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    OwnStart(const OwnStart&) = delete;
    OwnStart& operator=(const OwnStart&) = delete;
    HANDLE Process() const { return info_.hProcess; }

private:
    PROCESS_INFORMATION info_{};
};

using Names = std::vector<std::string>;

class Launcher : public ::testing::Test {
protected:
    void SetUp() override {
        savedFolder_ = CurrentFolder();
        helper_ = BuiltHelper();
        ASSERT_TRUE(Exists(helper_)) << helper_;
    }

    // The launcher changes the process's current folder: put it back before the
    // temporary folders go.
    void TearDown() override {
        SetCurrentDirectoryA(savedFolder_.c_str());
        SetEnvironmentVariableA("CVHELPER_REPORT", nullptr);
    }

    // A copy of the helper in its own folder below the temporary folder.
    std::string HelperIn(const std::string& relativeFolder) {
        const std::string folder = temp_ / relativeFolder;
        MakeFolder(folder);
        const std::string copy = folder + "\\cvhelper.exe";
        EXPECT_TRUE(CopyFileA(helper_.c_str(), copy.c_str(), FALSE)) << copy;
        return copy;
    }

    // A copy of the helper under another program file name, beside the run command.
    std::string HelperNamed(const std::string& relativeFolder, const std::string& name) {
        const std::string copy = temp_ / (relativeFolder + "\\" + name);
        EXPECT_TRUE(CopyFileA(helper_.c_str(), copy.c_str(), FALSE)) << copy;
        return copy;
    }

    // Until the process that Start created has ended.
    static bool StarterEnded(const AppControl& app) {
        return WaitForSingleObject(app.ProcessInfo.hProcess, kPatience) == WAIT_OBJECT_0;
    }

    std::string savedFolder_;
    std::string helper_;
    TempDir temp_;
};

TEST(AppControlSplit, DriveFolderAndDriveIndexFromTheRunCommand) {
    const std::string a250(250, 'a');
    struct Case {
        std::string command;
        const char* drive;
        std::string folder;
        int32_t driveIndex;
    } cases[] = {
        {"c:\\Palm\\PALM.exe", "c:", "\\Palm\\", 2},
        {"runDLL32.exe url.dll,OpenURL", "", "", -1},
        {"Z:prog.exe", "Z:", "", 25},
        {"C:/a/b\\x.exe", "C:", "/a/b\\", 2},
        {"\\\\server\\share\\app\\x.exe", "", "\\\\server\\share\\app\\", -1},
        {"1:\\x.exe", "1:", "\\", -1},
        {"", "", "", -1},
        // Only the first 260 characters count: the separator after them is not seen.
        {"C:\\" + std::string(300, 'a') + "\\x.exe", "C:", "\\", 2},
        // A folder longer than 255 characters falls back to the separator before.
        {"C:\\" + a250 + "\\bbb\\x.exe", "C:", "\\" + a250 + "\\", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command.substr(0, 40));
        AppControl app(c.command.c_str(), nullptr);
        EXPECT_STREQ(app.Drive.Str(), c.drive);
        EXPECT_EQ(std::string(app.Folder.Str()), c.folder);
        EXPECT_EQ(app.DriveIndex, c.driveIndex);
        EXPECT_EQ(std::string(app.Command.Str()), c.command);
        EXPECT_STREQ(app.Options.Str(), "");
        EXPECT_EQ(app.GetErrorText(), nullptr);
        EXPECT_FALSE(app.IsRunning());
    }
}

TEST_F(Launcher, CommandLineIsCommandBlankOptionsWithAProgramPathWithBlanksQuoted) {
    const std::string report = temp_ / "report.txt";
    SetEnvironmentVariableA("CVHELPER_REPORT", report.c_str());
    struct Case {
        const char* folder;
        const char* options;
        bool quoted;
    } cases[] = {
        {"app", "", false},  // ends in the blank
        {"app", "--write \"out file.txt\" \"x  y\"", false},
        {"my app", "--sleep 0", true},
        {"my app", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " / " + c.options);
        const std::string command = HelperIn(c.folder);
        DeleteFileA(report.c_str());
        AppControl app(command.c_str(), c.options);
        ASSERT_TRUE(app.Start()) << app.GetErrorText();
        ASSERT_TRUE(WaitUntilEnded(app));
        const std::string program = c.quoted ? Quoted(command) : command;
        EXPECT_EQ(ReportValue(ReadFile(report), "CommandLine"), program + " " + c.options);
    }
    // The quoted arguments reached the program as two arguments.
    EXPECT_EQ(ReadFile(temp_ / "app\\out file.txt"), "x  y");
}

// Unquoted, "...\prog dir\cvhelper.exe" would start "...\prog.exe" first.
TEST_F(Launcher, AProgramBesideTheFolderWithABlankIsNotStartedInstead) {
    const std::string command = HelperIn("prog dir");
    const std::string decoy = temp_ / "prog.exe";
    ASSERT_TRUE(CopyFileA(helper_.c_str(), decoy.c_str(), FALSE));
    const std::string marker = temp_ / "ran.txt";
    for (const std::string& run : {command, Quoted(command)}) {
        SCOPED_TRACE(run);
        DeleteFileA(marker.c_str());
        AppControl app(run.c_str(), ("--write " + Quoted(marker) + " configured").c_str());
        ASSERT_TRUE(app.Start()) << app.GetErrorText();
        ASSERT_TRUE(WaitUntilEnded(app));
        DWORD exitCode = 99;
        GetExitCodeProcess(app.ProcessInfo.hProcess, &exitCode);
        EXPECT_EQ(exitCode, 0u) << "the decoy refuses the configured program's path as an option";
        EXPECT_EQ(ReadFileOr(marker, "<not written>"), "configured");
    }
}

TEST_F(Launcher, LowerCaseDriveAndFolderBecomeCurrentForTheProgramAndTheProcess) {
    const std::string command = HelperIn("run");
    const std::string runFolder = temp_ / "run";
    ASSERT_EQ(toupper(static_cast<unsigned char>(runFolder[0])), 'C') << runFolder;
    ASSERT_NE(_getdrive(), 3) << "the tests must start on another drive than C:";
    const std::string lowerCase = "c" + command.substr(1);

    AppControl app(lowerCase.c_str(), "--report report.txt --write relative.txt here");
    EXPECT_EQ(app.DriveIndex, 2);
    ASSERT_TRUE(app.Start()) << app.GetErrorText();

    EXPECT_EQ(_getdrive(), 3);
    EXPECT_TRUE(SameFolder(CurrentFolder(), runFolder)) << CurrentFolder();
    ASSERT_TRUE(WaitUntilEnded(app));
    const std::string report = ReadFile(runFolder + "\\report.txt");
    EXPECT_TRUE(SameFolder(ReportValue(report, "CurrentFolder"), runFolder)) << report;
    // A relative name in this process now means the run command's folder too.
    EXPECT_EQ(ReadFile("relative.txt"), "here");
}

TEST_F(Launcher, BareProgramNameChangesNeitherDriveNorFolder) {
    ASSERT_TRUE(SetCurrentDirectoryA(temp_.Path().c_str()));
    const int drive = _getdrive();

    // Found through the system's search: the test program's own folder holds it.
    AppControl app("cvhelper.exe", "--report report.txt");
    EXPECT_STREQ(app.Drive.Str(), "");
    EXPECT_STREQ(app.Folder.Str(), "");
    EXPECT_TRUE(app.EnterFolder()) << "nothing to change is no failure";
    ASSERT_TRUE(app.Start()) << app.GetErrorText();

    EXPECT_EQ(_getdrive(), drive);
    EXPECT_TRUE(SameFolder(CurrentFolder(), temp_.Path())) << CurrentFolder();
    ASSERT_TRUE(WaitUntilEnded(app));
    const std::string report = ReadFile(temp_ / "report.txt");
    EXPECT_EQ(ReportValue(report, "CommandLine"), "cvhelper.exe --report report.txt");
    EXPECT_TRUE(SameFolder(ReportValue(report, "CurrentFolder"), temp_.Path())) << report;
}

TEST_F(Launcher, EnterFolderRefusesAnUnmappedDriveAndAMissingFolder) {
    const DWORD mapped = GetLogicalDrives();
    char letter = 'Q';
    while (letter <= 'Y' && (mapped & (1u << (letter - 'A')))) ++letter;
    ASSERT_LE(letter, 'Y') << "no unmapped drive letter";
    ASSERT_TRUE(SetCurrentDirectoryA(temp_.Path().c_str()));

    const std::string unmapped = std::string(1, letter) + ":\\apps\\prog.exe";
    AppControl onUnmapped(unmapped.c_str(), nullptr);
    EXPECT_FALSE(onUnmapped.EnterFolder());
    EXPECT_TRUE(SameFolder(CurrentFolder(), temp_.Path())) << CurrentFolder();

    const std::string missing = temp_ / "no such folder\\prog.exe";
    AppControl inMissing(missing.c_str(), nullptr);
    EXPECT_FALSE(inMissing.EnterFolder());
    EXPECT_TRUE(SameFolder(CurrentFolder(), temp_.Path())) << CurrentFolder();
}

TEST_F(Launcher, RefusedStartGivesTheErrorNameAndNoProcess) {
    WriteFile(temp_ / "notes.exe", "plain text, not a program");
    struct Case {
        std::string command;
        const char* expected;
    } cases[] = {
        {temp_ / "missing.exe", "Unable to run command : ERROR FILE NOT FOUND"},
        {temp_ / "notes.exe", "Unable to run command : ERROR BAD EXE FORMAT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        AppControl app(c.command.c_str(), "");
        EXPECT_FALSE(app.Start());
        ASSERT_NE(app.GetErrorText(), nullptr);
        EXPECT_STREQ(app.GetErrorText(), c.expected);
        EXPECT_FALSE(app.IsRunning());
        EXPECT_EQ(app.ProcessInfo.hProcess, nullptr);
    }
}

TEST_F(Launcher, IsRunningUntilTheProgramEndsThenStaysFalse) {
    const std::string command = HelperIn("app");
    const std::string go = temp_ / "go";
    AppControl app(command.c_str(), ("--wait-for " + Quoted(go) + " 60000").c_str());
    EXPECT_FALSE(app.IsRunning()) << "not started yet";
    ASSERT_TRUE(app.Start()) << app.GetErrorText();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(app.IsRunning());

    WriteFile(go, "");
    ASSERT_TRUE(WaitUntilEnded(app));
    EXPECT_EQ(WaitForSingleObject(app.ProcessInfo.hProcess, 0), WAIT_OBJECT_0) << "really ended";
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(app.IsRunning());
}

// 259 is also the platform's "still active" code: the end must be seen all the same.
TEST_F(Launcher, EndIsSeenWhateverTheExitCode) {
    const std::string command = HelperIn("app");
    for (DWORD code : {1ul, 259ul}) {
        SCOPED_TRACE(code);
        AppControl app(command.c_str(), ("--exit " + std::to_string(code)).c_str());
        ASSERT_TRUE(app.Start()) << app.GetErrorText();
        ASSERT_TRUE(WaitUntilEnded(app));
        EXPECT_FALSE(app.IsRunning());
        DWORD exitCode = 0;
        ASSERT_TRUE(GetExitCodeProcess(app.ProcessInfo.hProcess, &exitCode));
        EXPECT_EQ(exitCode, code);
    }
}

TEST_F(Launcher, ProgramOutlivesTheObjectWhichReleasesItsHandles) {
    const std::string command = HelperIn("app");
    const std::string go = temp_ / "go";
    const std::string done = temp_ / "done.txt";
    DWORD processId = 0;
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    {
        AppControl app(command.c_str(),
                       ("--wait-for " + Quoted(go) + " 60000 --write " + Quoted(done) + " survived").c_str());
        ASSERT_TRUE(app.Start()) << app.GetErrorText();
        processId = app.ProcessInfo.dwProcessId;
        process = app.ProcessInfo.hProcess;
        thread = app.ProcessInfo.hThread;
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation(process, &flags));
        ASSERT_TRUE(GetHandleInformation(thread, &flags));
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(process, &flags)) << "process handle still open";
    EXPECT_FALSE(GetHandleInformation(thread, &flags)) << "thread handle still open";

    HANDLE still = OpenProcess(SYNCHRONIZE, FALSE, processId);
    ASSERT_NE(still, nullptr) << "the program is gone";
    EXPECT_EQ(WaitForSingleObject(still, 0), WAIT_TIMEOUT);
    WriteFile(go, "");
    EXPECT_EQ(WaitForSingleObject(still, kPatience), WAIT_OBJECT_0);
    CloseHandle(still);
    EXPECT_EQ(ReadFile(done), "survived");
}

// A start-up stub: the run command starts a program that starts another and both end,
// while the last one still works. Only the job can see it: it is another program file.
TEST_F(Launcher, TheWatchLastsUntilTheLastProcessTheRunCommandStartedHasEnded) {
    const std::string command = HelperIn("app");
    const std::string child = HelperNamed("app", "cvchild.exe");
    const std::string grandchild = HelperNamed("app", "cvgrand.exe");
    const std::string go = temp_ / "go";
    const std::string late = temp_ / "late.txt";
    AppControl app(command.c_str(), ("--hand-over-to " + Quoted(child) + " --hand-over-to " + Quoted(grandchild) +
                                     " --wait-for " + Quoted(go) + " 60000 --sleep 2500 --write " + Quoted(late) +
                                     " \"written late\"")
                                        .c_str());
    ASSERT_TRUE(app.Start()) << app.GetErrorText();
    ASSERT_TRUE(StarterEnded(app));
    ASSERT_TRUE(WaitFor([&] { return app.ProgramsWaitedFor() == Names{"cvgrand.exe"}; }))
        << "the grandchild, alone once the child has ended";
    EXPECT_TRUE(app.IsRunning());
    EXPECT_FALSE(app.EndAccountedFor()) << "while the grandchild runs";

    WriteFile(go, "");
    ASSERT_TRUE(WaitUntilEnded(app));
    EXPECT_EQ(ReadFileOr(late, "<not yet written>"), "written late") << "the watch ended before the last write";
    EXPECT_FALSE(ProgramRunning(grandchild));
    EXPECT_EQ(app.ProgramsWaitedFor(), Names{});
    // The period then looks at the data at once, with no grace for a hand-over.
    EXPECT_TRUE(app.EndAccountedFor()) << "the job saw every process end";
}

// A single-instance program: the run command hands the work to the copy that ran before
// and ends at once. A program of the same file name in another folder is not that program.
TEST_F(Launcher, ACopyOfTheProgramRunningBeforeIsWaitedForOnceItHasTheWork) {
    const std::string command = HelperIn("app");
    const std::string other = HelperIn("other");
    const std::string handed = temp_ / "handed";
    const std::string done = temp_ / "done";
    const std::string finished = temp_ / "finished.txt";
    OwnStart earlier(command, "--wait-for " + Quoted(handed) + " 60000 --wait-for " + Quoted(done) +
                                  " 60000 --write " + Quoted(finished) + " \"saved by the earlier copy\"");
    OwnStart namesake(other, "--wait-for " + Quoted(temp_ / "never") + " 60000");

    AppControl app(command.c_str(), ("--write " + Quoted(handed) + " work").c_str());
    ASSERT_TRUE(app.Start()) << app.GetErrorText();
    ASSERT_TRUE(StarterEnded(app));
    EXPECT_TRUE(app.IsRunning());
    EXPECT_EQ(app.ProgramsWaitedFor(), Names{"cvhelper.exe"});
    EXPECT_TRUE(app.IsRunning());

    WriteFile(done, "");
    ASSERT_TRUE(WaitUntilEnded(app)) << "kept waiting for the namesake in another folder";
    EXPECT_EQ(ReadFileOr(finished, "<not yet written>"), "saved by the earlier copy");
    EXPECT_FALSE(Alive(earlier.Process()));
    EXPECT_TRUE(Alive(namesake.Process()));
    EXPECT_EQ(app.ProgramsWaitedFor(), Names{});
}

// A program that runs other people's work (a command interpreter for a batch file, a
// script or Java host, the DLL runner, the shell) has no copies that take the work over:
// another instance of it, running beside the period, is never waited for. Any other
// program's copy is.
TEST_F(Launcher, AnotherInstanceOfAHostProgramIsNeverTakenForTheApplication) {
    struct Case {
        const char* name;
        bool waited;
    } cases[] = {{"cmd.exe", false},     {"javaw.exe", false},    {"rundll32.exe", false}, {"wscript.exe", false},
                 {"explorer.exe", false}, {"powershell.exe", false}, {"pythonw.exe", false}, {"PALM.exe", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = std::string("host-") + c.name;
        MakeFolder(temp_ / folder);
        const std::string program = HelperNamed(folder, c.name);
        const std::string go = temp_ / (folder + "\\go");
        OwnStart unrelated(program, "--wait-for " + Quoted(go) + " 60000");
        AppControl app(program.c_str(), "--exit 0");
        ASSERT_TRUE(app.Start()) << app.GetErrorText();
        ASSERT_TRUE(StarterEnded(app));
        if (c.waited) {
            EXPECT_TRUE(app.IsRunning());
            EXPECT_EQ(app.ProgramsWaitedFor(), Names{c.name});
        } else {
            EXPECT_TRUE(WaitUntilEnded(app)) << "waited for an unrelated instance";
        }
        EXPECT_TRUE(Alive(unrelated.Process()));
        WriteFile(go, "");
        EXPECT_TRUE(WaitUntilEnded(app));
    }
}

ULONGLONG g_now = 0;  // the clock of the test below: it moves only when told

// Looking at every running process is dear, so it happens at most once a second; the
// copy found may hand the work on to a fresh copy before it ends, and that one is found
// at the next look.
TEST_F(Launcher, ACopyThatHandsTheWorkOnIsFollowedAtTheNextLookASecondLater) {
    const std::string command = HelperIn("app");
    const std::string first = temp_ / "first";
    const std::string second = temp_ / "second";
    OwnStart earlier(command, "--wait-for " + Quoted(first) + " 60000 --hand-over --wait-for " + Quoted(second) +
                                  " 60000");
    g_now = 5000;
    AppControl app(command.c_str(), "--exit 0", [] { return g_now; });
    ASSERT_TRUE(app.Start()) << app.GetErrorText();
    ASSERT_TRUE(StarterEnded(app));
    EXPECT_TRUE(app.IsRunning());

    WriteFile(first, "");
    ASSERT_EQ(WaitForSingleObject(earlier.Process(), kPatience), WAIT_OBJECT_0);
    EXPECT_TRUE(app.IsRunning()) << "it may have handed the work on";
    g_now += 999;
    EXPECT_TRUE(app.IsRunning());
    g_now += 1;
    EXPECT_TRUE(app.IsRunning()) << "the fresh copy was not found";
    EXPECT_EQ(app.ProgramsWaitedFor(), Names{"cvhelper.exe"});

    WriteFile(second, "");
    ASSERT_TRUE(WaitFor([&] { return !ProgramRunning(command); }));
    EXPECT_TRUE(app.IsRunning()) << "looked again within the second";
    g_now += 1000;
    EXPECT_FALSE(app.IsRunning());
}

// A tray icon or an updater left running for good: the user ends the wait, and nothing
// is ended with it, neither then nor when the object goes.
TEST_F(Launcher, StopWaitingEndsTheWatchAtOnceAndEndsNoProcess) {
    const std::string command = HelperIn("app");
    const std::string child = HelperNamed("app", "cvchild.exe");
    const std::string go = temp_ / "go";
    const std::string after = temp_ / "after.txt";
    {
        AppControl app(command.c_str(), ("--hand-over-to " + Quoted(child) + " --wait-for " + Quoted(go) +
                                         " 60000 --write " + Quoted(after) + " \"still there\"")
                                            .c_str());
        ASSERT_TRUE(app.Start()) << app.GetErrorText();
        ASSERT_TRUE(StarterEnded(app));
        ASSERT_TRUE(WaitFor([&] { return app.ProgramsWaitedFor() == Names{"cvchild.exe"}; }));
        ASSERT_TRUE(app.IsRunning());

        app.StopWaiting();
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(app.IsRunning());
        EXPECT_EQ(app.ProgramsWaitedFor(), Names{});
        EXPECT_FALSE(app.EndAccountedFor()) << "the programs still run: the hand-over grace must stay";
        EXPECT_TRUE(ProgramRunning(child));
    }
    EXPECT_TRUE(ProgramRunning(child)) << "gone with the object";
    WriteFile(go, "");
    ASSERT_TRUE(WaitFor([&] { return Exists(after); }));
    EXPECT_TRUE(WaitFor([&] { return !ProgramRunning(child); }));
    EXPECT_EQ(ReadFile(after), "still there");
}

// This very program as the run command: it runs, but it is not a copy to wait for.
TEST_F(Launcher, TheWatchingProgramItselfIsNeverWaitedFor) {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    AppControl app(std::string(self, n).c_str(), "--gtest_list_tests");
    ASSERT_TRUE(app.Start()) << app.GetErrorText();
    ASSERT_TRUE(StarterEnded(app));
    EXPECT_TRUE(WaitUntilEnded(app));
}

// Where the platform refuses the job, the program still runs and its end is still seen.
TEST_F(Launcher, WithoutAJobTheProgramRunsAndIsWatchedAlone) {
    struct RefuseJobs {
        decltype(AppControl::AssignToJob) saved = AppControl::AssignToJob;
        RefuseJobs() {
            AppControl::AssignToJob = [](HANDLE, HANDLE) -> BOOL {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            };
        }
        ~RefuseJobs() { AppControl::AssignToJob = saved; }
    } refuse;
    const std::string command = HelperIn("app");
    const std::string go = temp_ / "go";
    const std::string ran = temp_ / "ran.txt";
    AppControl app(command.c_str(),
                   ("--write " + Quoted(ran) + " yes --wait-for " + Quoted(go) + " 60000").c_str());
    ASSERT_TRUE(app.Start()) << app.GetErrorText();
    EXPECT_EQ(app.GetErrorText(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return Exists(ran); })) << "left suspended";
    EXPECT_TRUE(app.IsRunning());
    EXPECT_EQ(app.ProgramsWaitedFor(), Names{"cvhelper.exe"});
    WriteFile(go, "");
    ASSERT_TRUE(WaitUntilEnded(app));
    DWORD exitCode = 99;
    GetExitCodeProcess(app.ProcessInfo.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(app.EndAccountedFor()) << "a child of its own would not have been seen: the grace must stay";
}

}  // namespace
