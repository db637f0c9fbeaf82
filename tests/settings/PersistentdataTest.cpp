// The settings store on real INI files.
#include "settings/Persistentdata.h"

#include "shell/Handles.h"
#include "shell/TreeListing.h"
#include "shell/Wintools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// Taken before any test names a file: the name the store derives on its own.
const std::string g_firstIniName = GetIniFileName();

using Setter = const char* (*)(const char*);
using Getter = const char* (*)();
const Setter kSetters[] = {SetRemoteLockFolder, SetRemoteSharedDataFolder, SetLocalDataFolder, SetRunCommand,
                           SetRunCommandOptions};
const Getter kGetters[] = {GetRemoteLockFolder, GetRemoteSharedDataFolder, GetLocalDataFolder, GetRunCommand,
                           GetRunCommandOptions};
const char* const kKeys[] = {"RemoteLockFolder", "RemoteSharedDataFolder", "LocalDataFolder", "RunCommand",
                             "RunCommandOptions"};

void SetAll(const char* value) {
    for (Setter set : kSetters) set(value);
}

// What the file holds, read past the store and without its 1023-character limit.
std::string InFile(const std::string& ini, const char* key, const char* section = "RunTime") {
    std::vector<char> buffer(8192);
    GetPrivateProfileStringA(section, key, "<missing>", buffer.data(), static_cast<DWORD>(buffer.size()), ini.c_str());
    return buffer.data();
}

class SettingsStore : public ::testing::Test {
protected:
    // The store is named after a program in the test's own folder: <folder>\Carvelund.Ini.
    void SetUp() override {
        ini_ = temp_ / "Carvelund.Ini";
        ASSERT_EQ(std::string(MakeIniFileName((temp_ / "Carvelund.exe").c_str())), ini_);
        SetAll("unchanged");
    }

    TempDir temp_;
    std::string ini_;
};

TEST(IniFileName, LastDotOfTheWholePathGivesWayToIni) {
    struct Case {
        const char* program;
        const char* ini;
    } cases[] = {
        {"C:\\Tools\\Carvelund.exe", "C:\\Tools\\Carvelund.Ini"},
        {"C:\\Tools\\CARVELUND.EXE", "C:\\Tools\\CARVELUND.Ini"},
        {"C:\\A.B\\Prog", "C:\\A.Ini"},  // no extension: the folder's dot is the last one
        {"C:\\Tools\\Prog", "C:\\Tools\\Prog.Ini"},
        {"C:\\Apps\\.exe", "C:\\Apps\\.Ini"},
        {"\\\\srv\\share\\my.tool.exe", "\\\\srv\\share\\my.tool.Ini"},
        {"", ".Ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const char* made = MakeIniFileName(c.program);
        EXPECT_STREQ(made, c.ini);
        EXPECT_EQ(made[std::strlen(c.ini) + 1], '\0') << "a made text ends in two NULs";
        EXPECT_EQ(GetIniFileName(), made);
    }
}

TEST(IniFileName, WithoutANameTheProgramsOwnPathIsUsed) {
    char self[MAX_PATH];
    const std::string program(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    ASSERT_EQ(program.substr(program.size() - 4), ".exe");
    EXPECT_EQ(g_firstIniName, program.substr(0, program.size() - 4) + ".Ini");
}

TEST_F(SettingsStore, MissingFileIsNotReadAndKeepsTheValues) {
    EXPECT_FALSE(ReadSettings());
    for (Getter get : kGetters) EXPECT_STREQ(get(), "unchanged");
}

TEST_F(SettingsStore, EmptyFileGivesFiveEmptySettingsThatFailTheCheck) {
    WriteFile(ini_, "");
    ASSERT_TRUE(ReadSettings());
    for (Getter get : kGetters) EXPECT_STREQ(get(), "");
    EXPECT_EQ(CheckSettings(GetRemoteLockFolder(), GetRemoteSharedDataFolder(), GetLocalDataFolder(), GetRunCommand()),
              1);
}

TEST_F(SettingsStore, MissingKeysReadAsEmpty) {
    WriteFile(ini_, "[RunTime]\r\nRunCommand=C:\\Palm\\PALM.exe\r\n[Other]\r\nRemoteLockFolder=elsewhere\r\n");
    ASSERT_TRUE(ReadSettings());
    EXPECT_STREQ(GetRunCommand(), "C:\\Palm\\PALM.exe");
    EXPECT_STREQ(GetRemoteLockFolder(), "") << "only the RunTime section counts";
    EXPECT_STREQ(GetRunCommandOptions(), "");
}

// Any text goes in through the setters, out to the file, and back through the accessors:
// only blanks around it, a trailing separator and what is beyond 1023 characters go.
TEST_F(SettingsStore, ValuesSurviveTheFileAsTyped) {
    const std::string long1023(1023, 'x');
    const std::string long2000 = "C:\\" + std::string(1997, 'y');
    struct Case {
        std::string value;
        std::string readBack;
    } cases[] = {
        {"\\\\server\\share\\locks\\", "\\\\server\\share\\locks"},
        {"C:\\", "C:\\"},  // a drive root stays a root: "C:" is the current folder on C:
        {"D:/", "D:/"},
        {"C:\\a\\", "C:\\a"},
        {"C:\\a\\\\", "C:\\a\\"},
        {"/x -y /", "/x -y "},
        {"", ""},
        {long1023, long1023},
        {long2000, long2000.substr(0, 1023)},
        {"  C:\\My Data  ", "C:\\My Data"},  // blanks around go, blanks inside stay
        // Quotes are part of the value: the options of a command line need them.
        {"\"C:\\Program Files\\App\\app.exe\"", "\"C:\\Program Files\\App\\app.exe\""},
        {"\"C:\\My Data\\x.db\" /ro", "\"C:\\My Data\\x.db\" /ro"},
        {"/ro \"C:\\My Data\\x.db\"", "/ro \"C:\\My Data\\x.db\""},
        {"'single'", "'single'"},
        {"a;b=c#d [x]", "a;b=c#d [x]"},
        {"C:\\B\xfc\x63her\\\xe9t\xe9\x81\xff", "C:\\B\xfc\x63her\\\xe9t\xe9\x81\xff"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.substr(0, 40));
        SetAll(c.value.c_str());
        const char* error = WriteSettings();
        EXPECT_EQ(error, nullptr) << error;
        if (c.value.size() > 1023) {
            EXPECT_EQ(InFile(ini_, "RunCommand"), c.value) << "the file holds all of it";
        }
        SetAll("unchanged");
        ASSERT_TRUE(ReadSettings());
        for (Getter get : kGetters) EXPECT_EQ(std::string(get()), c.readBack);
    }
}

TEST_F(SettingsStore, AccessorDropsOneSeparatorFromTheStoredValueOnce) {
    SetRemoteLockFolder("C:\\Locks\\\\");
    SetRunCommandOptions("/q/");
    ASSERT_EQ(WriteSettings(), nullptr);
    EXPECT_EQ(InFile(ini_, "RemoteLockFolder"), "C:\\Locks\\\\") << "setters keep the value as typed";

    EXPECT_STREQ(GetRemoteLockFolder(), "C:\\Locks\\");
    EXPECT_STREQ(GetRemoteLockFolder(), "C:\\Locks\\") << "a second read takes nothing more";
    EXPECT_STREQ(GetRunCommandOptions(), "/q");
    ASSERT_EQ(WriteSettings(), nullptr);
    EXPECT_EQ(InFile(ini_, "RemoteLockFolder"), "C:\\Locks\\") << "the stored value itself lost it";
    EXPECT_EQ(InFile(ini_, "RunCommandOptions"), "/q");
}

TEST_F(SettingsStore, SettersKeepTheirOwnCopy) {
    char typed[] = "C:\\Data";
    EXPECT_EQ(SetLocalDataFolder(typed), typed);
    typed[0] = 'D';
    EXPECT_STREQ(GetLocalDataFolder(), "C:\\Data");
    // A value may be set from the store's own text.
    SetLocalDataFolder(GetLocalDataFolder());
    EXPECT_STREQ(GetLocalDataFolder(), "C:\\Data");
}

TEST_F(SettingsStore, WritingLeavesOtherSectionsAndKeysAlone) {
    WriteFile(ini_,
              "[Before]\r\nkeep=1\r\n"
              "[RunTime]\r\nMyOwnKey=mine\r\nRunCommand=old\r\n"
              "[After]\r\nRemoteLockFolder=not ours\r\n");
    SetAll("new");
    ASSERT_EQ(WriteSettings(), nullptr);
    EXPECT_EQ(InFile(ini_, "keep", "Before"), "1");
    EXPECT_EQ(InFile(ini_, "MyOwnKey"), "mine");
    EXPECT_EQ(InFile(ini_, "RemoteLockFolder", "After"), "not ours");
    for (const char* key : kKeys) EXPECT_EQ(InFile(ini_, key), "new") << key;
}

TEST_F(SettingsStore, CheckNamesTheFirstMissingPathInOrder) {
    const std::string lockFolder = temp_ / "locks", sharedFolder = temp_ / "shared", localFolder = temp_ / "local";
    for (const auto& folder : {lockFolder, sharedFolder, localFolder}) MakeFolder(folder);
    const std::string file = temp_ / "prog.exe";
    const std::string otherFile = temp_ / "other.txt";
    const std::string missing = temp_ / "missing";
    WriteFile(file, "");
    WriteFile(otherFile, "");
    const char* l = lockFolder.c_str();
    const char* s = sharedFolder.c_str();
    const char* d = localFolder.c_str();
    const char* p = file.c_str();
    const char* o = otherFile.c_str();
    const char* m = missing.c_str();
    struct Case {
        const char* lock;
        const char* shared;
        const char* local;
        const char* run;
        int code;
    } cases[] = {
        {m, s, d, m, 1},  // the lock folder comes before the run command
        {l, m, m, p, 2},
        {l, s, m, m, 3},
        {l, s, d, m, 4},
        {l, s, d, p, 0},
        {l, s, d, l, 0},  // only existence counts: a folder passes as run command
        {l, p, o, p, 0},  // and a file as a folder
        {"", s, d, p, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(CheckSettings(c.lock, c.shared, c.local, c.run), c.code);
    }
}

// A transfer switches a data folder by renaming it, and the lock belongs beside the data,
// not in it: a root as data folder and folders that overlap are refused.
TEST_F(SettingsStore, CheckRefusesRootsAndOverlappingFolders) {
    const std::string root = temp_.Path();
    const std::string run = temp_ / "prog.exe";
    WriteFile(run, "");
    for (const char* folder : {"locks", "shared", "local", "shared\\inner", "Shared.saved"})
        MakeFolder(temp_ / folder);
    char drive[] = "X:\\";
    drive[0] = root[0];  // the drive the test's folders are on
    std::string unc = "\\\\localhost\\" + std::string(1, root[0]) + "$";
    struct Case {
        std::string lock, shared, local;
        int code;
    } cases[] = {
        {root + "\\locks", root + "\\shared", root + "\\local", 0},
        {root + "\\locks", root + "\\Shared.saved", root + "\\shared", 0},  // a common start is no overlap
        {root + "\\locks", drive, root + "\\local", 5},
        {root + "\\locks", std::string(drive, 2) + "/", root + "\\local", 5},
        {root + "\\locks", root + "\\shared", drive, 6},
        {root + "\\locks", root + "\\shared", unc, 6},
        {root + "\\shared", root + "\\SHARED\\", root + "\\local", 7},
        {root + "\\shared\\inner", root + "\\shared", root + "\\local", 7},
        {root + "\\locks", root + "\\shared", root + "/locks", 8},
        {root + "\\locks", root + "\\shared\\inner", root + "\\Shared", 9},
        {root + "\\locks", root + "\\shared\\..\\local", root + "\\local", 9},  // compared as full paths
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lock + " | " + c.shared + " | " + c.local);
        EXPECT_EQ(CheckFolderLayout(c.lock.c_str(), c.shared.c_str(), c.local.c_str()), c.code);
        if (c.local != unc) EXPECT_EQ(CheckSettings(c.lock.c_str(), c.shared.c_str(), c.local.c_str(), run.c_str()), c.code);
    }
    // Existence is asked first; a shared folder awaiting its repair may be missing.
    const std::string missing = temp_ / "missing";
    EXPECT_EQ(CheckSettings(drive, missing.c_str(), drive, run.c_str()), 2);
    EXPECT_EQ(CheckSettings((root + "\\locks").c_str(), missing.c_str(), (root + "\\local").c_str(), run.c_str(), true), 0);
    EXPECT_EQ(CheckSettings((root + "\\locks").c_str(), missing.c_str(), (root + "\\locks").c_str(), run.c_str(), true), 8);
}

// Folders are compared by what they are, not by how they are written: the same folder
// through a network share's name, or through a link (a junction on Windows), overlaps
// as surely as when it is written the same way. The lock folder then would be data.
TEST_F(SettingsStore, CheckKnowsAFolderByEveryNameItHas) {
    const std::string root = temp_.Path();
    for (const char* folder : {"locks", "shared\\locks", "local", "elsewhere"}) MakeFolder(temp_ / folder);
    ShareAlias share(root);
    ASSERT_TRUE(share.Made());
    ASSERT_TRUE(MakeLink(temp_ / "link", temp_ / "shared", true));
    struct Case {
        const char* what;
        std::string lock, shared, local;
        int code;
    } cases[] = {
        {"the share's name for the shared folder's inside", share.Unc() + "\\shared\\locks", root + "\\shared",
         root + "\\local", 7},
        {"a link into the shared folder", root + "\\link\\locks", root + "\\shared", root + "\\local", 7},
        {"a link to the shared folder as the local one", root + "\\locks", root + "\\shared", root + "\\link", 9},
        {"the share's name for the local folder", root + "\\locks", root + "\\shared", share.Unc() + "\\local", 0},
        {"the share's name for the lock folder's parent", share.Unc() + "\\locks", root + "\\shared",
         root + "\\locks\\inner", 8},
        {"a folder not made yet inside a link", root + "\\link\\new\\locks", root + "\\shared", root + "\\local", 7},
        {"other folders through the share", share.Unc() + "\\locks", share.Unc() + "\\shared", root + "\\elsewhere", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CheckFolderLayout(c.lock.c_str(), c.shared.c_str(), c.local.c_str()), c.code);
    }
    RemoveLink(temp_ / "link");
}

TEST_F(SettingsStore, RefusedWriteStopsAtTheFirstKeyWithTheErrorName) {
    MakeFolder(ini_);  // the file cannot be written where a folder has its name
    SetAll("C:\\Data");
    const char* error = WriteSettings();
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, "Error updating RemoteLockFolder - ERROR ACCESS DENIED");
    EXPECT_TRUE(IsFolder(ini_));
    EXPECT_STREQ(GetRunCommand(), "C:\\Data") << "the values in memory stay";
}

// A value that one line of the file cannot hold fails its own key: the keys before it are
// written, the keys after it keep their old values.
TEST_F(SettingsStore, FailureMidwayKeepsEarlierKeysWrittenAndLaterOnesOld) {
    SetAll("old");
    ASSERT_EQ(WriteSettings(), nullptr);
    SetAll("new");
    SetLocalDataFolder("C:\\Data\r\nInjected=1");
    const char* error = WriteSettings();
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, "Error updating LocalDataFolder - ERROR WRITE FAULT");
    EXPECT_EQ(InFile(ini_, "RemoteLockFolder"), "new");
    EXPECT_EQ(InFile(ini_, "RemoteSharedDataFolder"), "new");
    EXPECT_EQ(InFile(ini_, "RunCommand"), "old");
    EXPECT_EQ(InFile(ini_, "RunCommandOptions"), "old");
}

TEST(SettingsStoreMessages, EveryKeyHasItsOwnPrefixInItsOwnOrder) {
    // Each key in turn gets a value the file cannot hold; the ones before it are fine.
    const char* expected[] = {
        "Error updating RemoteLockFolder - ERROR WRITE FAULT",
        "Error updating RemoteShareFolder - ERROR WRITE FAULT",
        "Error updating LocalDataFolder - ERROR WRITE FAULT",
        "Error updating RunCommand - ERROR WRITE FAULT",
        "Error updating RunCommandOptions - ERROR WRITE FAULT",
    };
    TempDir temp;
    MakeIniFileName((temp / "Carvelund.exe").c_str());
    for (int bad = 0; bad < 5; ++bad) {
        SCOPED_TRACE(bad);
        SetAll("fine");
        kSetters[bad]("two\nlines");
        const char* error = WriteSettings();
        ASSERT_NE(error, nullptr);
        EXPECT_STREQ(error, expected[bad]);
    }
}

// Wine reports a write to a full disk as done and loses the keys; /dev/full is such a disk.
TEST(SettingsStoreFullDisk, LostWriteIsReportedAsAFailure) {
    const char* build = std::getenv("CARVELUND_BUILD_DIR");
    if (!build) GTEST_SKIP() << "no CARVELUND_BUILD_DIR";
    std::string full = std::string("Z:") + build + "/tests/settings/full-disk/Carvelund.Ini";
    for (char& c : full)
        if (c == '/') c = '\\';
    // Wine gives no attributes for a device, but opens it.
    HANDLE device = CreateFileA(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (device == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no link to a full device at " << full;
    CloseHandle(device);

    MakeIniFileName((full.substr(0, full.size() - 4) + ".exe").c_str());
    SetAll("C:\\Data");
    const char* error = WriteSettings();
    ASSERT_NE(error, nullptr) << "the lost write went unnoticed";
    EXPECT_STREQ(error, "Error updating RemoteLockFolder - ERROR WRITE FAULT");
}

}  // namespace

namespace {

// Started by the test below, from a copy of this program in a folder outside the code page.
TEST(SettingsOutsideTheCodePage, DISABLED_TheProgramReadsAndWritesTheIniBesideItself) {
    OwnedText programPath(ProgramPath());
    MakeIniFileName(programPath.Str());  // as the period's first step does
    ASSERT_TRUE(ReadSettings());
    EXPECT_STREQ(GetRemoteLockFolder(), "C:\\Locks");
    EXPECT_STREQ(GetRunCommandOptions(), "\"C:\\My Data\\x.db\" /ro");
    SetRunCommand("C:\\Other\\app.exe");
    EXPECT_EQ(WriteSettings(), nullptr);
}

std::string ReadWide(const std::wstring& path) {
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "<unreadable>";
    std::string content(65536, '\0');
    DWORD n = 0;
    ::ReadFile(file.Get(), &content[0], static_cast<DWORD>(content.size()), &n, nullptr);
    content.resize(n);
    return content;
}

TEST(SettingsOutsideTheCodePage, AProgramInAGreekFolderReadsAndWritesItsIni) {
    ASSERT_EQ(GetACP(), 1252u) << "Greek is outside code page 1252";
    TempDir temp;
    const std::wstring folder = Widen(temp.Path()) + L"\\\u0394\u03b5\u03b4\u03bf\u03bc\u03ad\u03bd\u03b1";
    const std::wstring program = folder + L"\\Carvelund.exe";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    ASSERT_TRUE(CopyFileW(self, program.c_str(), FALSE));
    {
        KernelHandle ini(CreateFileW((folder + L"\\Carvelund.Ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(ini);
        const std::string content =
            "[RunTime]\r\nRemoteLockFolder=C:\\Locks\\\r\nRunCommandOptions=\"C:\\My Data\\x.db\" /ro\r\n";
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(ini.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    }

    const std::string report = temp / "report.xml";
    std::wstring commandLine = L"\"" + program + L"\" --gtest_also_run_disabled_tests " +
                               L"--gtest_filter=SettingsOutsideTheCodePage.DISABLED_* --gtest_output=xml:" +
                               Widen(report);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    KernelHandle process(info.hProcess), thread(info.hThread);
    ASSERT_EQ(WaitForSingleObject(process.Get(), 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process.Get(), &code);
    const std::string result = ReadFileOr(report, "<no report>");
    EXPECT_EQ(code, 0u) << result;
    EXPECT_NE(result.find("tests=\"1\" failures=\"0\""), std::string::npos) << result;
    EXPECT_NE(ReadWide(folder + L"\\Carvelund.Ini").find("RunCommand=C:\\Other\\app.exe\r\n"), std::string::npos);
}

}  // namespace
