#include "ShellTestKit.h"
#include "shell/Wintools.h"
#include "support/Gui.h"
#include "support/MessageBoxes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <thread>

using namespace testsupport;
using shelltest::HeldOpen;

namespace {

// A plain visible top-level window to own boxes and dialogs.
class OwnerWindow {
public:
    OwnerWindow()
        : window_(CreateWindowExA(0, "STATIC", "Carvelund test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                  300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)) {}
    ~OwnerWindow() { DestroyWindow(window_); }
    HWND Get() const { return window_; }

private:
    HWND window_;
};

TEST(ShowErrorMessage, ShowsAStopBoxAndReturnsFalse) {
    OwnerWindow owner;
    ASSERT_NE(owner.Get(), nullptr);
    const struct {
        HWND owner;
        const char* title;
        const char* text;
        UINT style;
        const char* shownTitle;
        const char* shownText;
    } cases[] = {
        {nullptr, "Copying", "User aborted copy", 0x10, "Copying", "User aborted copy"},
        {owner.Get(), "Deleting", "ERROR ACCESS DENIED", 0x2010, "Deleting", "ERROR ACCESS DENIED"},
        {nullptr, nullptr, nullptr, 0x10, "", ""},
    };
    for (const auto& c : cases) {
        MessageBoxWatcher boxes;
        MessageBoxCalls calls;
        EXPECT_EQ(ShowErrorMessage(c.owner, c.title, c.text), FALSE);

        ASSERT_EQ(calls.Calls().size(), 1u);
        const MessageBoxCall call = calls.Calls()[0];
        EXPECT_EQ(call.style, c.style);
        EXPECT_EQ(call.owner, c.owner);
        ASSERT_EQ(boxes.Seen().size(), 1u) << c.shownTitle;
        const MessageBoxSeen seen = boxes.Seen()[0];
        EXPECT_EQ(seen.owner, c.owner);
        EXPECT_EQ(seen.caption, c.shownTitle);
        EXPECT_EQ(seen.text, c.shownText);
        EXPECT_EQ(boxes.Stuck(), "");
    }
}

TEST(ShowErrorMessage, BoxesFollowOneAnotherInOrder) {
    MessageBoxWatcher boxes;
    ShowErrorMessage(nullptr, "renaming", "first");
    ShowErrorMessage(nullptr, "Renaming folder to save", "second");
    EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"renaming", "first"}, {"Renaming folder to save", "second"}}));
}

// A result's messages, shown by the window thread: each as ShowErrorMessage shows it.
TEST(ShowMessages, ShowsEachMessageInOrder) {
    OwnerWindow owner;
    const Messages messages = {{"renaming", "ERROR ACCESS DENIED"}, {"Renaming folder to save", "Error occuried during rename"}};
    for (HWND window : {static_cast<HWND>(nullptr), owner.Get()}) {
        MessageBoxWatcher boxes;
        MessageBoxCalls calls;
        ShowMessages(window, messages);
        EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"renaming", "ERROR ACCESS DENIED"},
                                                  {"Renaming folder to save", "Error occuried during rename"}}));
        ASSERT_EQ(calls.Calls().size(), 2u);
        for (const auto& call : calls.Calls()) {
            EXPECT_EQ(call.owner, window);
            EXPECT_EQ(call.style, window ? 0x2010u : 0x10u);
        }
    }
    MessageBoxWatcher none;
    ShowMessages(nullptr, {});
    EXPECT_EQ(none.Count(), 0u);
}

TEST(PathTests, ExistingFilesAndFoldersOnly) {
    TempDir dir;
    WriteFile(dir / "plain.txt", "x");
    WriteFile(dir / "locked.ini", "x");
    SetFileAttributesA((dir / "locked.ini").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    MakeFolder(dir / "sub");
    const struct {
        std::string path;
        bool exists;
    } cases[] = {
        {dir / "plain.txt", true},      {dir / "locked.ini", true}, {dir / "sub", true},
        {dir / "sub\\", true},          {dir.Path(), true},         {dir / "missing.txt", false},
        {dir / "missing\\x.txt", false}, {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathExists(c.path.c_str()), c.exists) << c.path;
        EXPECT_EQ(PathReadable(c.path.c_str()), c.exists) << c.path;
    }
    EXPECT_FALSE(PathExists(nullptr));
    EXPECT_FALSE(PathReadable(nullptr));
    SetFileAttributesA((dir / "locked.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(DeleteFileForced, DeletesWhateverTheAttributes) {
    TempDir dir;
    const DWORD attributeSets[] = {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY,
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
    for (DWORD attributes : attributeSets) {
        const std::string path = dir / ("token" + std::to_string(attributes) + ".tokenlockforcarvelund");
        WriteFile(path, "1");
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes));
        EXPECT_TRUE(DeleteFileForced(path.c_str())) << attributes;
        EXPECT_FALSE(Exists(path)) << attributes;
    }
}

TEST(DeleteFileForced, TrueOnlyWhenThePathIsGone) {
    TempDir dir;
    EXPECT_TRUE(DeleteFileForced((dir / "never.there").c_str()));

    MakeFolder(dir / "folder");
    EXPECT_FALSE(DeleteFileForced((dir / "folder").c_str()));
    EXPECT_TRUE(IsFolder(dir / "folder"));

    WriteFile(dir / "busy.tokenlockforcarvelund", "1");
    HeldOpen holder(dir / "busy.tokenlockforcarvelund");
    ASSERT_TRUE(holder.Held());
    EXPECT_FALSE(DeleteFileForced((dir / "busy.tokenlockforcarvelund").c_str()));
    EXPECT_TRUE(Exists(dir / "busy.tokenlockforcarvelund"));
}

TEST(FindFirstEntry, SkipsFoldersHiddenAndSystemFiles) {
    TempDir dir;
    MakeFolder(dir / "a folder");
    WriteFile(dir / "b hidden", "hh");
    WriteFile(dir / "c system", "sss");
    SetFileAttributesA((dir / "b hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA((dir / "c system").c_str(), FILE_ATTRIBUTE_SYSTEM);
    const std::string pattern = dir / "*.*";

    EXPECT_EQ(FindFirstEntry(pattern.c_str()), nullptr) << "only a folder, a hidden and a system file";

    WriteFile(dir / "d plain.txt", "plain");
    SetFileAttributesA((dir / "d plain.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const FindRecord* found = FindFirstEntry(pattern.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->name, "d plain.txt");
    EXPECT_EQ(found->size, 5);
    EXPECT_EQ(found->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                                   FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    SetFileAttributesA((dir / "d plain.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FindFirstEntry, NoneForAnEmptyOrMissingFolder) {
    TempDir dir;
    EXPECT_EQ(FindFirstEntry((dir / "*.*").c_str()), nullptr);
    EXPECT_EQ(FindFirstEntry((dir / "missing\\*.*").c_str()), nullptr);
    EXPECT_EQ(FindFirstEntry(""), nullptr);
    EXPECT_EQ(FindFirstEntry(nullptr), nullptr);
}

TEST(FindFirstEntry, AFixedSuffixMustEndTheLongName) {
    TempDir dir;
    // Its short name DELTA~1.TXT matches "*.txt" on the platform.
    WriteFile(dir / "delta.txtx", "x");
    EXPECT_EQ(FindFirstEntry((dir / "*.txt").c_str()), nullptr);

    WriteFile(dir / "gamma.TXT", "x");
    const FindRecord* found = FindFirstEntry((dir / "*.txt").c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->name, "gamma.TXT");

    const FindRecord* named = FindFirstEntry((dir / "delta.txtx").c_str());
    ASSERT_NE(named, nullptr);
    EXPECT_STREQ(named->name, "delta.txtx");
}

// The local time of a UTC moment at the current offset, computed from the zone data.
SYSTEMTIME LocalNow(const SYSTEMTIME& utc) {
    TIME_ZONE_INFORMATION zone;
    const DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    FILETIME ft;
    SystemTimeToFileTime(&utc, &ft);
    ULARGE_INTEGER t{{ft.dwLowDateTime, ft.dwHighDateTime}};
    t.QuadPart -= static_cast<ULONGLONG>(static_cast<LONGLONG>(bias) * 60 * 10000000LL);
    ft = {t.LowPart, t.HighPart};
    SYSTEMTIME local;
    FileTimeToSystemTime(&ft, &local);
    return local;
}

TEST(FindFirstEntry, RecordsLocalDosTimeAndTheLowSizeBits) {
    TempDir dir;
    const std::string path = dir / "big.dat";
    {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        // 6 GiB + 3: the low 32 bits, 0x80000003, read as a negative size.
        LARGE_INTEGER end;
        end.QuadPart = 0x180000003LL;
        ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h));
        const SYSTEMTIME utc{2021, 7, 4, 15, 10, 20, 31, 0};
        FILETIME written;
        SystemTimeToFileTime(&utc, &written);
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
        CloseHandle(h);
    }
    const FindRecord* found = FindFirstEntry((dir / "*.dat").c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->size, static_cast<int32_t>(0x80000003u));

    const SYSTEMTIME local = LocalNow({2021, 7, 4, 15, 10, 20, 31, 0});
    EXPECT_EQ(found->date >> 9, local.wYear - 1980);
    EXPECT_EQ((found->date >> 5) & 0xF, local.wMonth);
    EXPECT_EQ(found->date & 0x1F, local.wDay);
    EXPECT_EQ(found->time >> 11, local.wHour);
    EXPECT_EQ((found->time >> 5) & 0x3F, local.wMinute);
    EXPECT_EQ((found->time & 0x1F) * 2, 30) << "two-second steps";
    DeleteFileA(path.c_str());
}

// Acts in the folder chooser as a user would, from a second thread, while ChooseFolder waits.
class ChooserUser {
public:
    // `pick`: the folder to choose, or empty to cancel.
    explicit ChooserUser(std::string pick) : pick_(std::move(pick)) {
        thread_ = std::thread([this] {
            HWND dialog = AwaitTopWindow("#32770", nullptr, GetCurrentProcessId());
            if (!dialog) return;
            titleShown_ = FindChild(dialog, "Static", "Pick the data folder") != nullptr;
            if (pick_.empty()) {
                PressButton(dialog, "Cancel");
            } else {
                selected_ = SelectInFolderChooser(dialog, pick_);
                PressButton(dialog, "OK");
            }
            answered_ = AwaitGone(dialog);
        });
    }
    ~ChooserUser() { Finish(); }
    void Finish() {
        if (thread_.joinable()) thread_.join();
    }
    bool TitleShown() const { return titleShown_; }
    bool Answered() const { return answered_; }
    bool Selected() const { return selected_; }

private:
    std::string pick_;
    std::atomic<bool> titleShown_{false};
    std::atomic<bool> answered_{false};
    std::atomic<bool> selected_{false};
    std::thread thread_;
};

TEST(ChooseFolder, GivesTheChosenFolder) {
    TempDir dir;
    MakeFolder(dir / "Local Data");
    OwnerWindow owner;
    const char* defaultPath = "C:\\Previous";
    ChooserUser user(dir / "Local Data");
    const char* chosen = ChooseFolder(defaultPath, "Pick the data folder", owner.Get());
    user.Finish();
    EXPECT_TRUE(user.TitleShown());
    EXPECT_TRUE(user.Selected());
    EXPECT_TRUE(user.Answered());
    ASSERT_NE(chosen, defaultPath);
    EXPECT_EQ(lstrcmpiA(chosen, (dir / "Local Data").c_str()), 0) << chosen;
}

TEST(ChooseFolder, GivesTheDefaultItselfWhenCancelled) {
    OwnerWindow owner;
    const char* defaultPath = "C:\\Previous";
    ChooserUser user("");
    const char* chosen = ChooseFolder(defaultPath, "Pick the data folder", owner.Get());
    user.Finish();
    EXPECT_TRUE(user.TitleShown());
    EXPECT_TRUE(user.Answered());
    EXPECT_EQ(chosen, defaultPath);
}

}  // namespace
