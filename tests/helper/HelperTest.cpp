// The helper program itself, started as a real process: other tests rely on its options.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using namespace testsupport;

namespace {

constexpr DWORD kPatienceMs = 30000;

std::string BuiltHelper() {
    char self[MAX_PATH];
    const std::string path(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of("\\/") + 1) + "cvhelper.exe";
}

// Runs the helper in `folder` and returns its exit code.
DWORD RunHelper(const std::string& folder, const std::string& options) {
    std::string commandLine = "\"" + BuiltHelper() + "\" " + options;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder.c_str(), &startup, &process)) {
        ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
        return ~0u;
    }
    EXPECT_EQ(WaitForSingleObject(process.hProcess, kPatienceMs), WAIT_OBJECT_0) << commandLine;
    DWORD code = ~0u;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST(Helper, FileOptionsRunInOrder) {
    TempDir temp;
    const DWORD code = RunHelper(temp.Path(),
                                 "--mkdir a\\b "
                                 "--write a\\b\\f.txt one "
                                 "--append a\\b\\f.txt \" two\" "
                                 "--append-line a\\b\\lines.txt first --append-line a\\b\\lines.txt second "
                                 "--copy a\\b\\f.txt copy.txt "
                                 "--rename copy.txt moved.txt "
                                 "--mkdir gone\\deep --write gone\\deep\\x y --delete gone "
                                 "--sleep 1 --wait-for moved.txt 0 "
                                 "--report report.txt");
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ReadFile(temp / "a\\b\\f.txt"), "one two");
    EXPECT_EQ(ReadFile(temp / "a\\b\\lines.txt"), "first\r\nsecond\r\n");
    EXPECT_EQ(ReadFile(temp / "moved.txt"), "one two");
    EXPECT_FALSE(Exists(temp / "copy.txt"));
    EXPECT_FALSE(Exists(temp / "gone"));
    const std::string report = ReadFile(temp / "report.txt");
    EXPECT_EQ(report.rfind("CommandLine=\"" + BuiltHelper() + "\" --mkdir a\\b ", 0), 0u) << report;
    EXPECT_NE(report.find("\nCurrentFolder=" + temp.Path() + "\n"), std::string::npos) << report;
}

TEST(Helper, ExitCodes) {
    TempDir temp;
    struct Case {
        const char* options;
        DWORD code;
    } cases[] = {
        {"", 0},
        {"--exit 259", 259},
        {"--exit -1", 0xFFFFFFFFu},
        {"--exit 7 --write later.txt x", 7},  // nothing after --exit is done
        {"--bogus", 1},
        {"--write", 1},
        {"--delete missing.txt", 2},
        {"--wait-for never.txt 0", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        EXPECT_EQ(RunHelper(temp.Path(), c.options), c.code);
    }
    EXPECT_FALSE(Exists(temp / "later.txt"));
}

TEST(Helper, ReportGoesWhereTheEnvironmentSaysBeforeAnyOption) {
    TempDir temp;
    const std::string report = temp / "env report.txt";
    SetEnvironmentVariableA("CVHELPER_REPORT", report.c_str());
    const DWORD code = RunHelper(temp.Path(), "--exit 4");
    SetEnvironmentVariableA("CVHELPER_REPORT", nullptr);
    EXPECT_EQ(code, 4u);
    EXPECT_NE(ReadFile(report).find("\" --exit 4\n"), std::string::npos) << ReadFile(report);
}

}  // namespace
