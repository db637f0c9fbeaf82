// The configuration dialog on real windows, real folders and a real INI file, driven by a
// "user" thread with clicks and keys while the test's thread runs the dialog modally.
#include "app/Clogo.h"
#include "settings/Configure.h"

#include "lock/LifeSign.h"
#include "lock/Tokenlock.h"

#include "settings/Persistentdata.h"
#include "shell/Handles.h"
#include "shell/transfer/Transfer.h"
#include "support/Gui.h"
#include "support/MessageBoxes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <shlobj.h>

#include <atomic>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

const char* const kLockMessage = "Remote Lock Folder NOT found!";
const char* const kSharedMessage = "Remote Shared Data Folder NOT found!";
const char* const kLocalMessage = "Local Data Folder NOT found!";
const char* const kRunMessage = "Run Command NOT found!";
const char* const kPilotMessage = "PILOT.exe does not work with Marrowkeep!";
const char* const kCopyFailedMessage = "Error copying local data to Remote Shared Data Folder";

std::string Text(const forms::Control& control) { return WindowText(control.Handle()); }

bool AwaitText(const forms::Control& control, const std::string& expected) {
    return WaitFor([&] { return Text(control) == expected; });
}

// Returns once the dialog's thread has served a message sent now: whatever it did while
// being shown (the check on show) is done.
void Settle(HWND window) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kPatience, &ignored);
}

// Clicks into the box, goes to the end, deletes what is there and types `text`.
// Returns whether the box then shows `shown` (the text itself unless given).
bool Retype(forms::EditBox& box, const std::string& text, const std::string* shown = nullptr) {
    Click(box.Handle());
    if (!AwaitFocus(box.Handle())) return false;
    PressKey(box.Handle(), VK_END);
    TypeText(box.Handle(), std::string(Text(box).size(), '\b') + text);
    return AwaitText(box, shown ? *shown : text);
}

std::string Parent(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

// Lines of a text file, without their line ends.
std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// A visible top-level window of the platform's dialog class, owned by `owner`.
HWND AwaitOwnedDialog(HWND owner) {
    HWND found = nullptr;
    WaitFor([&] {
        found = nullptr;
        for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", nullptr); w;
             w = FindWindowExA(nullptr, w, "#32770", nullptr))
            if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == owner) found = w;
        return found != nullptr;
    });
    return found;
}

// Shows the dialog modally on this thread while `user` acts on it from a second thread,
// as the person at the keyboard. True when the user's actions closed the dialog; if they
// did not, it is closed from outside so that the test can go on and report.
bool RunDialog(TCarvelund& dialog, const std::function<void(HWND)>& user) {
    std::atomic<bool> closedByUser{false};
    std::thread person([&] {
        HWND window = AwaitTopWindow("TCarvelund", "Configure", GetCurrentProcessId());
        if (window) {
            Settle(window);
            user(window);
        }
        closedByUser = window && AwaitGone(window);
        if (!closedByUser) PostMessageA(dialog.Handle(), WM_CLOSE, 0, 0);
    });
    dialog.ShowModal();
    person.join();
    return closedByUser;
}

// c:\Palm\PALM.exe, the Marrowkeep edition's program, for as long as this lives.
class EditionProgram {
public:
    EditionProgram() {
        if (Exists("c:\\Palm")) throw std::runtime_error("c:\\Palm exists before the test");
        MakeFolder("c:\\Palm");
        WriteFile("c:\\Palm\\PALM.exe", "MZ");
    }
    ~EditionProgram() { RemoveTree("c:\\Palm"); }
    EditionProgram(const EditionProgram&) = delete;
    EditionProgram& operator=(const EditionProgram&) = delete;
};

// One installation in a fresh folder: lock, shared and local folders, a program, and the
// INI file beside a program path. The store holds these valid settings at the start.
class ConfigureTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeFolder(lock);
        MakeFolder(shared);
        MakeFolder(local);
        WriteFile(program, "MZ");
        MakeIniFileName((dir / "Carvelund.exe").c_str());
        Store(lock, shared, local, program, "-q");
        logo.Title.Reset(ConcatText("Carvelund"));
    }

    static void Store(const std::string& lockFolder, const std::string& sharedFolder,
                      const std::string& localFolder, const std::string& runCommand, const std::string& options) {
        SetRemoteLockFolder(lockFolder.c_str());
        SetRemoteSharedDataFolder(sharedFolder.c_str());
        SetLocalDataFolder(localFolder.c_str());
        SetRunCommand(runCommand.c_str());
        SetRunCommandOptions(options.c_str());
    }

    std::vector<std::string> StoredSettings() const {
        return {GetRemoteLockFolder(), GetRemoteSharedDataFolder(), GetLocalDataFolder(), GetRunCommand(),
                GetRunCommandOptions()};
    }

    std::vector<std::string> IniLines(const std::string& lockFolder, const std::string& sharedFolder,
                                      const std::string& localFolder, const std::string& runCommand,
                                      const std::string& options) const {
        return {"[RunTime]",
                "RemoteLockFolder=" + lockFolder,
                "RemoteSharedDataFolder=" + sharedFolder,
                "LocalDataFolder=" + localFolder,
                "RunCommand=" + runCommand,
                "RunCommandOptions=" + options};
    }

    TempDir dir;
    const std::string lock = dir / "Locks";
    const std::string shared = dir / "Shared";
    const std::string local = dir / "Local";
    const std::string program = dir / "Prog.exe";
    const std::string missing = dir / "Missing";
    const std::string ini = dir / "Carvelund.Ini";
    TLogo logo;
};

TEST_F(ConfigureTest, ShowsTheStoredSettingsInAFixedCentredDialogWithItsControlsInTabOrder) {
    // One trailing separator goes, through the store's accessors.
    Store(lock + "\\", shared, local + "/", program, "-a /b/");
    TCarvelund dialog(logo);
    EXPECT_EQ(Text(dialog.tb_LockFolder), lock);
    EXPECT_EQ(Text(dialog.tb_SharedFolder), shared);
    EXPECT_EQ(Text(dialog.tb_LocalFolder), local);
    EXPECT_EQ(Text(dialog.tb_RunCommand), program);
    EXPECT_EQ(Text(dialog.tb_RunCommandOptions), "-a /b");

    const std::vector<forms::Control*> tabOrder = {
        &dialog.bt_Cancel,     &dialog.tb_LockFolder,        &dialog.bt_BrowweLockFolder, &dialog.tb_SharedFolder,
        &dialog.bt_BrowseSharedFolder, &dialog.tb_LocalFolder, &dialog.tb_BrowseLocalFolder, &dialog.tb_RunCommand,
        &dialog.bt_BrowseRunCommand, &dialog.tb_RunCommandOptions, &dialog.bt_Save, &dialog.bt_History};
    std::vector<HWND> expectedFocus, seenFocus;
    for (size_t i = 1; i <= tabOrder.size(); ++i) expectedFocus.push_back(tabOrder[i % tabOrder.size()]->Handle());
    bool startedOnCancel = false;
    std::string errorAtStart = "?";
    LONG style = 0, exStyle = 0;
    RECT client{}, outer{};

    const bool closed = RunDialog(dialog, [&](HWND window) {
        style = GetWindowLongA(window, GWL_STYLE);
        exStyle = GetWindowLongA(window, GWL_EXSTYLE);
        GetClientRect(window, &client);
        GetWindowRect(window, &outer);
        startedOnCancel = FocusOf(window) == dialog.bt_Cancel.Handle();
        errorAtStart = Text(dialog.lb_error);
        for (HWND expected : expectedFocus) {
            PressKey(FocusOf(window), VK_TAB);
            AwaitFocus(expected);
            seenFocus.push_back(FocusOf(window));
        }
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_TRUE(startedOnCancel);
    EXPECT_EQ(errorAtStart, "");
    EXPECT_EQ(seenFocus, expectedFocus);

    EXPECT_EQ(client.right, 482);
    EXPECT_EQ(client.bottom, 333);
    EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((outer.top + outer.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME);
}

// Positions in the dialog's client area.
RECT Place(const forms::Control& control) {
    RECT r;
    GetWindowRect(control.Handle(), &r);
    MapWindowPoints(nullptr, GetParent(control.Handle()), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(ConfigureTest, RowsOfLabelBoxAndBrowseAboveSaveAndCancelAboveTheErrorLine) {
    TCarvelund dialog(logo);
    struct Row {
        forms::Label* label;
        const char* caption;
        forms::EditBox* box;
        forms::Button* browse;
    };
    const std::vector<Row> rows = {
        {&dialog.Label3, "Remote Lock Folder", &dialog.tb_LockFolder, &dialog.bt_BrowweLockFolder},
        {&dialog.Label1, "Remote Shared Data Folder", &dialog.tb_SharedFolder, &dialog.bt_BrowseSharedFolder},
        {&dialog.Label2, "Local Data Folder", &dialog.tb_LocalFolder, &dialog.tb_BrowseLocalFolder},
        {&dialog.Label4, "Local Run Command", &dialog.tb_RunCommand, &dialog.bt_BrowseRunCommand},
        {&dialog.Label5, "Run Command Options", &dialog.tb_RunCommandOptions, nullptr},
    };
    LONG previousBottom = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption);
        EXPECT_EQ(Text(*row.label), row.caption);
        const RECT label = Place(*row.label), box = Place(*row.box);
        EXPECT_GE(label.top, previousBottom);
        EXPECT_LE(label.bottom, box.top);
        EXPECT_EQ(box.right - box.left, 400);
        if (row.browse) {
            const RECT browse = Place(*row.browse);
            EXPECT_EQ(Text(*row.browse), "Browse");
            EXPECT_EQ(browse.right - browse.left, 50);
            EXPECT_EQ(browse.top, box.top);
            EXPECT_GE(browse.left, box.right);
            EXPECT_LE(browse.left, box.right + 8);
        }
        previousBottom = box.bottom;
    }
    const RECT save = Place(dialog.bt_Save), cancel = Place(dialog.bt_Cancel), error = Place(dialog.lb_error);
    EXPECT_EQ(Text(dialog.bt_Save), "Save");
    EXPECT_EQ(Text(dialog.bt_Cancel), "Cancel");
    for (const RECT& button : {save, cancel}) {
        EXPECT_EQ(button.right - button.left, 75);
        EXPECT_EQ(button.bottom - button.top, 25);
        EXPECT_GE(button.top, previousBottom);
        EXPECT_LE(button.bottom, error.top);
    }
    EXPECT_LT(save.right, cancel.left);
    EXPECT_EQ(error.left, 0);
    EXPECT_EQ(error.right, 482);
    EXPECT_LE(error.bottom, 333);
    EXPECT_TRUE(GetWindowLongA(dialog.lb_error.Handle(), GWL_STYLE) & SS_CENTER);
    EXPECT_EQ(Text(dialog.lb_error), "");
}

TEST_F(ConfigureTest, HintsForTheBrowseButtonsTheOptionsBoxAndItsLabel) {
    TCarvelund dialog(logo);
    const auto hintOf = [&](const forms::Control& control) { return HintOf(dialog.Handle(), control.Handle()); };
    EXPECT_EQ(hintOf(dialog.bt_BrowweLockFolder), "Select Remote Lock folder from tree");
    EXPECT_EQ(hintOf(dialog.bt_BrowseSharedFolder), "Select Remote Shared Data folder from tree");
    EXPECT_EQ(hintOf(dialog.tb_BrowseLocalFolder), "Select local data folder from tree");
    EXPECT_EQ(hintOf(dialog.bt_BrowseRunCommand), "Select local program name");
    EXPECT_EQ(hintOf(dialog.tb_RunCommandOptions), "Options for Run Command");
    EXPECT_EQ(hintOf(dialog.Label5), "Options for Run Command");
    EXPECT_EQ(hintOf(dialog.tb_LockFolder), "<no hint>");
    EXPECT_EQ(hintOf(dialog.bt_Save), "<no hint>");
}

TEST_F(ConfigureTest, OffersTheEditionProgramOnlyInMarrowkeepAndOnlyWhenItExists) {
    struct Case {
        const char* title;
        bool programPresent;
        const char* storedRunCommand;
        const char* shown;
    };
    const Case cases[] = {
        {"Marrowkeep", true, "", "c:\\Palm\\PALM.exe"},
        {"mARROWkEEP", true, "", "c:\\Palm\\PALM.exe"},
        {"Marrowkeep", false, "", ""},
        {"Carvelund", true, "", ""},
        {"Marrowkeep", true, "D:\\Other\\Run.exe", "D:\\Other\\Run.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.title) + (c.programPresent ? " with" : " without") + " PALM.exe, stored '" +
                     c.storedRunCommand + "'");
        std::unique_ptr<EditionProgram> present;
        if (c.programPresent) present = std::make_unique<EditionProgram>();
        logo.Title.Reset(ConcatText(c.title));
        SetRunCommand(c.storedRunCommand);
        TCarvelund dialog(logo);
        EXPECT_EQ(Text(dialog.tb_RunCommand), c.shown);
        EXPECT_STREQ(GetRunCommand(), c.storedRunCommand);  // shown, not stored
    }
}

TEST_F(ConfigureTest, TheOfferedEditionProgramIsStoredBySave) {
    EditionProgram present;
    logo.Title.Reset(ConcatText("Marrowkeep"));
    SetRunCommand("");
    TCarvelund dialog(logo);
    std::string shownAtStart;
    const bool closed = RunDialog(dialog, [&](HWND) {
        shownAtStart = Text(dialog.tb_RunCommand);
        Click(dialog.bt_Save.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(shownAtStart, "c:\\Palm\\PALM.exe");
    EXPECT_STREQ(GetRunCommand(), "c:\\Palm\\PALM.exe");
    EXPECT_EQ(Lines(ini), IniLines(lock, shared, local, "c:\\Palm\\PALM.exe", "-q"));
}

std::string UpperCase(std::string text) {
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

TEST_F(ConfigureTest, OnShowOnlyTheFirstProblemIsReportedWithTheFocusInItsBox) {
    enum Box { kLock, kShared, kLocal, kRun, kCancel };
    struct Case {
        const char* what;
        std::string lockFolder, sharedFolder, localFolder, runCommand;
        const char* message;
        Box focus;
    };
    const Case cases[] = {
        {"all present", lock, shared, local, program, "", kCancel},
        {"lock folder missing", missing, shared, local, program, kLockMessage, kLock},
        {"lock folder on a missing server", "\\\\nosuchserver\\share\\Locks", shared, local, program, kLockMessage,
         kLock},
        {"shared folder missing", lock, missing, local, program, kSharedMessage, kShared},
        {"local folder missing", lock, shared, missing, program, kLocalMessage, kLocal},
        {"run command missing", lock, shared, local, missing + "\\Prog.exe", kRunMessage, kRun},
        {"run command empty", lock, shared, local, "", kRunMessage, kRun},
        {"all four missing", missing, missing + "2", missing + "3", missing + "4", kLockMessage, kLock},
        {"shared and run command missing", lock, missing, local, missing, kSharedMessage, kShared},
        {"shared folder a drive root", lock, lock.substr(0, 3), local, program,
         "Remote Shared Data Folder can't be a drive root!", kShared},
        {"local folder inside the lock folder", lock, shared, lock + "\\Data", program,
         "Remote Lock Folder and Local Data Folder overlap!", kLocal},
        {"shared and local folder the same but for letter case", lock, shared, UpperCase(shared), program,
         "Remote Shared Data Folder and Local Data Folder overlap!", kLocal},
    };
    MakeFolder(lock + "\\Data");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store(c.lockFolder, c.sharedFolder, c.localFolder, c.runCommand, "");
        TCarvelund dialog(logo);
        const HWND boxes[] = {dialog.tb_LockFolder.Handle(), dialog.tb_SharedFolder.Handle(),
                              dialog.tb_LocalFolder.Handle(), dialog.tb_RunCommand.Handle(),
                              dialog.bt_Cancel.Handle()};
        HWND focus = nullptr;
        std::string message = "?";
        const bool closed = RunDialog(dialog, [&](HWND window) {
            focus = FocusOf(window);
            message = Text(dialog.lb_error);
            if (c.focus == kLock && c.lockFolder == missing) {
                // Painted in full first: the screen is what the picture shows.
                RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
                Settle(window);
                EXPECT_TRUE(SaveScreenshot(window, "configure_lock_folder_missing"));
            }
            Click(dialog.bt_Cancel.Handle());
        });
        EXPECT_TRUE(closed);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(focus, boxes[c.focus]);
        EXPECT_FALSE(Exists(ini));
    }
}

TEST_F(ConfigureTest, MarrowkeepRefusesPilotWhichTheOtherEditionAccepts) {
    const std::string pilot = dir / "Pilot\\Pilot.EXE";
    MakeFolder(dir / "Pilot");
    WriteFile(pilot, "MZ");
    Store(lock, shared, local, pilot, "");
    struct Case {
        const char* title;
        bool refused;
    };
    for (const Case& c : {Case{"Marrowkeep", true}, Case{"MARROWKEEP", true}, Case{"Carvelund", false}}) {
        SCOPED_TRACE(c.title);
        logo.Title.Reset(ConcatText(c.title));
        RemoveTree(ini);
        TCarvelund dialog(logo);
        std::string onShow = "?", onSave = "?";
        bool focusOnShow = false, focusOnSave = false;
        const bool closed = RunDialog(dialog, [&](HWND window) {
            onShow = Text(dialog.lb_error);
            focusOnShow = FocusOf(window) == (c.refused ? dialog.tb_RunCommand.Handle() : dialog.bt_Cancel.Handle());
            if (!c.refused) {
                Click(dialog.bt_Save.Handle());
                return;
            }
            // Away from the box, then Save: the check sends the focus back to it.
            Click(dialog.tb_LockFolder.Handle());
            AwaitFocus(dialog.tb_LockFolder.Handle());
            Click(dialog.bt_Save.Handle());
            focusOnSave = AwaitFocus(dialog.tb_RunCommand.Handle());
            onSave = Text(dialog.lb_error);
            Click(dialog.bt_Cancel.Handle());
        });
        EXPECT_TRUE(closed);
        EXPECT_TRUE(focusOnShow);
        if (c.refused) {
            EXPECT_EQ(onShow, kPilotMessage);
            EXPECT_TRUE(focusOnSave);
            EXPECT_EQ(onSave, kPilotMessage);
            EXPECT_FALSE(Exists(ini));
        } else {
            EXPECT_EQ(onShow, "");
            EXPECT_EQ(Lines(ini), IniLines(lock, shared, local, pilot, ""));
        }
    }
}

TEST_F(ConfigureTest, AMessageStaysAfterTheProblemIsCorrectedUntilAnotherReplacesIt) {
    Store(missing, shared, local, program, "-q");
    WriteFile(local + "\\a.dat", "local");  // so that a good Save asks before it closes
    TCarvelund dialog(logo);
    std::string afterCorrection = "?", afterSecondProblem = "?", duringQuestion = "?";
    bool focusOnRunCommand = false;
    const bool closed = RunDialog(dialog, [&](HWND) {
        EXPECT_TRUE(Retype(dialog.tb_LockFolder, lock));
        PressKey(dialog.tb_LockFolder.Handle(), VK_RETURN);
        AwaitFocus(dialog.tb_SharedFolder.Handle());
        afterCorrection = Text(dialog.lb_error);

        EXPECT_TRUE(Retype(dialog.tb_RunCommand, missing + "\\Run.exe"));
        Click(dialog.bt_Save.Handle());
        focusOnRunCommand = AwaitText(dialog.lb_error, kRunMessage) && AwaitFocus(dialog.tb_RunCommand.Handle());
        afterSecondProblem = Text(dialog.lb_error);

        // A good Save leaves the old message up: it goes only with the dialog.
        EXPECT_TRUE(Retype(dialog.tb_RunCommand, program));
        Click(dialog.bt_Save.Handle());
        const MessageBoxSeen question = AwaitMessageBox("Remote Shared folder empty", GetCurrentProcessId());
        duringQuestion = Text(dialog.lb_error);
        // A press may be lost while the box is not yet active: press until it is gone.
        WaitFor([&] {
            PressButton(question.window, "&No");
            return AwaitGone(question.window, 100);
        });
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(afterCorrection, kLockMessage);
    EXPECT_EQ(afterSecondProblem, kRunMessage);
    EXPECT_EQ(duringQuestion, kRunMessage);
    EXPECT_TRUE(focusOnRunCommand);
    EXPECT_EQ(Lines(ini), IniLines(lock, shared, local, program, "-q"));
    EXPECT_FALSE(logo.CancelFlag);
}

TEST_F(ConfigureTest, SaveStoresAndWritesAllFiveAsTypedThenCloses) {
    // 8-bit letters in a folder name, quotes and blanks in the options.
    const std::string otherLocal = dir / "D\xE4ten \xC9t\xE9";
    MakeFolder(otherLocal);
    const std::string options = "-f \"C:\\My Files\\x.dat\" -n \xFC";
    TCarvelund dialog(logo);
    const bool closed = RunDialog(dialog, [&](HWND) {
        EXPECT_TRUE(Retype(dialog.tb_LockFolder, lock + "\\"));  // written as typed
        EXPECT_TRUE(Retype(dialog.tb_LocalFolder, otherLocal));
        EXPECT_TRUE(Retype(dialog.tb_RunCommandOptions, options));
        Click(dialog.bt_Save.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_FALSE(logo.CancelFlag);
    EXPECT_TRUE(dialog.Saved());
    EXPECT_EQ(Lines(ini), IniLines(lock + "\\", shared, otherLocal, program, options));
    EXPECT_EQ(StoredSettings(), (std::vector<std::string>{lock, shared, otherLocal, program, options}));
    // And read back by a later run as saved.
    Store("", "", "", "", "");
    ASSERT_TRUE(ReadSettings());
    EXPECT_EQ(StoredSettings(), (std::vector<std::string>{lock, shared, otherLocal, program, options}));
}

TEST_F(ConfigureTest, AnEntryLongerThanTheStoreKeepsIsCutWhileTypingSoItComesBackAsSaved) {
    const std::string typed(1100, 'o');
    const std::string kept(1023, 'o');
    TCarvelund dialog(logo);
    const bool closed = RunDialog(dialog, [&](HWND) {
        EXPECT_TRUE(Retype(dialog.tb_RunCommandOptions, typed, &kept));
        Click(dialog.bt_Save.Handle());
    });
    EXPECT_TRUE(closed);
    Store("", "", "", "", "");
    ASSERT_TRUE(ReadSettings());
    EXPECT_EQ(GetRunCommandOptions(), kept);
}

TEST_F(ConfigureTest, AFailingIniWriteIsShownAndTheDialogStaysOpen) {
    MakeFolder(ini);  // a folder where the INI file should be
    WriteFile(ini + "\\keep.txt", "kept");
    TCarvelund dialog(logo);
    std::string shown = "?";
    bool stillOpen = false;
    const std::string expected = std::string("Error updating RemoteLockFolder - ") + SystemErrorName(ERROR_ACCESS_DENIED);
    const bool closed = RunDialog(dialog, [&](HWND window) {
        EXPECT_TRUE(Retype(dialog.tb_RunCommandOptions, "-new"));
        Click(dialog.bt_Save.Handle());
        AwaitText(dialog.lb_error, expected);
        shown = Text(dialog.lb_error);
        stillOpen = IsWindowVisible(window);
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(logo.CancelFlag);
    EXPECT_EQ(ReadFile(ini + "\\keep.txt"), "kept");
    // The values were set before the write failed, and stay set.
    EXPECT_STREQ(GetRunCommandOptions(), "-new");
}

// Anything in the shared folder is data a fill would bury: a subfolder, even empty, too.
TEST_F(ConfigureTest, FirstCopyIsOfferedOnlyWhenLocalHoldsAFileAndSharedNothing) {
    struct Case {
        const char* what;
        std::vector<std::string> localFiles, sharedFiles;
        bool asked;
    };
    const Case cases[] = {
        {"local file, shared empty", {"a.dat"}, {}, true},
        {"local file, shared only a subfolder with files", {"a.dat"}, {"old\\b.dat"}, false},
        {"local file, shared only an empty subfolder", {"a.dat"}, {"old\\"}, false},
        {"local only a subfolder with files", {"sub\\a.dat"}, {}, false},
        {"local file, shared file", {"a.dat"}, {"b.dat"}, false},
        {"both empty", {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(local);
        RemoveTree(shared);
        RemoveTree(ini);
        MakeFolder(local);
        MakeFolder(shared);
        for (const auto& f : c.localFiles) {
            MakeFolder(Parent(local + "\\" + f));
            WriteFile(local + "\\" + f, "local");
        }
        for (const auto& f : c.sharedFiles) {
            MakeFolder(Parent(shared + "\\" + f));
            if (f.back() != '\\') WriteFile(shared + "\\" + f, "shared");
        }
        const auto sharedBefore = ListTree(shared);
        TCarvelund dialog(logo);
        MessageBoxCalls calls;
        MessageBoxWatcher boxes("&No");
        const bool closed = RunDialog(dialog, [&](HWND) { Click(dialog.bt_Save.Handle()); });
        EXPECT_TRUE(closed);
        EXPECT_EQ(Lines(ini), IniLines(lock, shared, local, program, "-q"));
        EXPECT_EQ(ListTree(shared), sharedBefore);
        EXPECT_FALSE(Exists(shared + ".saved"));
        const auto seen = calls.Calls();
        ASSERT_EQ(seen.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(seen[0].owner, dialog.Handle());
            EXPECT_EQ(seen[0].text, "Copy files from Local to Remote Shared Data folder");
            EXPECT_EQ(seen[0].caption, "Remote Shared folder empty");
            EXPECT_EQ(seen[0].style, static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION));
            EXPECT_EQ(seen[0].result, IDNO);
        }
    }
}

TEST_F(ConfigureTest, YesCopiesLocalToSharedKeepingTheOldSharedTreeAsSaved) {
    WriteFile(local + "\\a.dat", "alpha");
    MakeFolder(local + "\\sub");
    WriteFile(local + "\\sub\\b.dat", "beta");
    const auto sharedBefore = ListTree(shared);
    TCarvelund dialog(logo);
    MessageBoxWatcher boxes("&Yes");
    const bool closed = RunDialog(dialog, [&](HWND) { Click(dialog.bt_Save.Handle()); });
    EXPECT_TRUE(closed);
    EXPECT_EQ(boxes.CaptionsAndTexts(),
              (Boxes{{"Remote Shared folder empty", "Copy files from Local to Remote Shared Data folder"}}));
    std::string difference;
    EXPECT_TRUE(SameTree(local, shared, &difference)) << difference;
    EXPECT_EQ(ListTree(shared + ".saved"), sharedBefore);
    EXPECT_FALSE(Exists(shared + ".2delete"));
    EXPECT_EQ(Lines(ini), IniLines(lock, shared, local, program, "-q"));
    EXPECT_FALSE(logo.CancelFlag);
}

// The fill writes into the shared folder as a period's copy back does: under the lock,
// which it lets go afterwards, and never while another PC holds it. The dialog names the
// holder and, where its life sign tells, the holder's PC.
TEST_F(ConfigureTest, TheFirstCopyTakesTheLockAndLeavesAHeldShareAlone) {
    WriteFile(local + "\\a.dat", "alpha");
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof computer;
    GetComputerNameA(computer, &size);
    struct Case {
        const char* holder;  // none: the lock is free
        bool lifeSign;       // an older copy's token has none
        std::string shown;
    } cases[] = {
        {"Bob", false, "Locked by Bob (PC unknown): nothing was copied"},
        {"Carl", true, std::string("Locked by Carl on PC ") + computer + ": nothing was copied"},
        {nullptr, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holder ? c.holder : "free");
        TokenIdentity token;
        LifeSignRenewer renewer;
        if (c.holder) {
            const TokenTake take = TryTakeTokenLock(lock.c_str(), c.holder);
            ASSERT_EQ(take.result, TakeResult::Taken);
            token = take.identity;
            if (c.lifeSign) renewer.Start(lock.c_str(), token, 1000);
        }
        TCarvelund dialog(logo);
        MessageBoxWatcher boxes("&Yes");
        std::string shown = "?";
        const bool closed = RunDialog(dialog, [&](HWND) {
            Click(dialog.bt_Save.Handle());
            if (!c.holder) return;
            AwaitText(dialog.lb_error, c.shown);
            shown = Text(dialog.lb_error);
            Click(dialog.bt_Cancel.Handle());
        });
        EXPECT_TRUE(closed);
        if (c.holder) {
            EXPECT_EQ(shown, c.shown);
            EXPECT_TRUE(ListTree(shared).empty());
            EXPECT_EQ(LookAtToken(lock.c_str(), token), TokenPresence::Same);
            renewer.Stop();
            EXPECT_EQ(DeleteOwnToken(lock.c_str(), token).result, TokenDelete::Deleted);
            EXPECT_TRUE(ListTree(lock).empty());
        } else {
            EXPECT_EQ(ReadFile(shared + "\\a.dat"), "alpha");
            EXPECT_TRUE(ListTree(lock).empty());
        }
    }
}

// The question comes from a look taken before the lock: another PC may fill the shared
// folder while it is open. Under the lock the fill looks again and buries nothing.
TEST_F(ConfigureTest, TheFirstCopyLooksAtTheSharedFolderAgainUnderTheLock) {
    WriteFile(local + "\\a.dat", "alpha");
    TCarvelund dialog(logo);
    std::string shown = "?";
    const bool closed = RunDialog(dialog, [&](HWND) {
        Click(dialog.bt_Save.Handle());
        const MessageBoxSeen question = AwaitMessageBox("Remote Shared folder empty", GetCurrentProcessId());
        if (!question.window) return;
        WriteFile(shared + "\\bob.dat", "Bob's first save");  // another PC, meanwhile
        // A press may be lost while the box is not yet active: press until it is gone.
        WaitFor([&] {
            PressButton(question.window, "&Yes");
            return AwaitGone(question.window, 100);
        });
        AwaitText(dialog.lb_error, "The shared folder is not empty any more: nothing was copied");
        shown = Text(dialog.lb_error);
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(shown, "The shared folder is not empty any more: nothing was copied");
    EXPECT_EQ(ListTree(shared).size(), 1u);
    EXPECT_EQ(ReadFile(shared + "\\bob.dat"), "Bob's first save");
    EXPECT_FALSE(Exists(shared + ".saved"));
    EXPECT_TRUE(ListTree(lock).empty()) << "the fill's lock was let go";
}

// A shared folder that cannot be listed (a share that dropped, a folder held by another
// program) may hold data: it is never taken for empty, so no fill is offered.
TEST_F(ConfigureTest, ASharedFolderThatCannotBeListedIsNeverOfferedAFill) {
    WriteFile(local + "\\a.dat", "alpha");
    WriteFile(shared + "\\bob.dat", "Bob's save");
    KernelHandle exclusive(CreateFileA(shared.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(exclusive);
    TCarvelund dialog(logo);
    MessageBoxCalls calls;
    MessageBoxWatcher boxes("&Yes");
    const bool closed = RunDialog(dialog, [&](HWND) { Click(dialog.bt_Save.Handle()); });
    exclusive.Reset();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(calls.Calls().empty());
    EXPECT_EQ(ReadFile(shared + "\\bob.dat"), "Bob's save");
    EXPECT_FALSE(Exists(shared + ".saved"));
    EXPECT_TRUE(dialog.Saved());
}

TEST_F(ConfigureTest, AFailedFirstCopyIsShownTheDialogStaysOpenAndNothingIsLost) {
    WriteFile(local + "\\a.dat", "alpha");
    WriteFile(local + "\\held.dat", "held open without sharing");
    const auto localBefore = ListTree(local);
    const auto sharedBefore = ListTree(shared);
    // Nobody else may read it: the copy cannot take it.
    HANDLE held = CreateFileA((local + "\\held.dat").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TCarvelund dialog(logo);
    MessageBoxWatcher boxes("&Yes");  // the copy's own failure boxes have only OK, which it presses
    std::string shown = "?";
    bool stillOpen = false;
    const bool closed = RunDialog(dialog, [&](HWND window) {
        Click(dialog.bt_Save.Handle());
        AwaitText(dialog.lb_error, kCopyFailedMessage);
        shown = Text(dialog.lb_error);
        stillOpen = IsWindowVisible(window) && IsWindowEnabled(window);
        Click(dialog.bt_Cancel.Handle());
    });
    CloseHandle(held);
    EXPECT_TRUE(closed);
    EXPECT_EQ(shown, kCopyFailedMessage);
    EXPECT_TRUE(stillOpen);
    const auto seen = boxes.CaptionsAndTexts();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front().first, "Remote Shared folder empty");
    EXPECT_EQ(seen.back(), (std::pair<std::string, std::string>{"Copying", "Error occuried during filecopy"}));
    EXPECT_EQ(boxes.Stuck(), "");
    // The settings were written before the copy; both trees are as they were.
    EXPECT_EQ(Lines(ini), IniLines(lock, shared, local, program, "-q"));
    EXPECT_EQ(ListTree(local), localBefore);
    EXPECT_EQ(ListTree(shared), sharedBefore);
    EXPECT_FALSE(Exists(shared + ".saved"));
    EXPECT_TRUE(logo.CancelFlag);
}

TEST_F(ConfigureTest, ReturnMovesTheFocusToTheSuccessorWithoutSaving) {
    TCarvelund dialog(logo);
    struct Step {
        forms::EditBox* box;
        forms::Control* successor;
    };
    const Step steps[] = {
        {&dialog.tb_LockFolder, &dialog.tb_SharedFolder}, {&dialog.tb_SharedFolder, &dialog.tb_LocalFolder},
        {&dialog.tb_LocalFolder, &dialog.tb_RunCommand},  {&dialog.tb_RunCommand, &dialog.bt_Save},
        {&dialog.tb_RunCommandOptions, &dialog.bt_Save},
    };
    std::vector<HWND> expected, seen;
    for (const Step& s : steps) expected.push_back(s.successor->Handle());
    bool openAfterReturns = false;
    const bool closed = RunDialog(dialog, [&](HWND window) {
        for (const Step& s : steps) {
            Click(s.box->Handle());
            AwaitFocus(s.box->Handle());
            PressKey(s.box->Handle(), VK_RETURN);
            AwaitFocus(s.successor->Handle());
            seen.push_back(FocusOf(window));
        }
        openAfterReturns = IsWindowVisible(window);
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(openAfterReturns);
    EXPECT_FALSE(Exists(ini));
}

TEST_F(ConfigureTest, EscapeRestoresTheTextTheBoxHadOnEntryThenCloses) {
    TCarvelund dialog(logo);
    std::string lockRestored = "?", optionsRestored = "?", runCommandAfter = "?";
    bool openAfterRestores = false;
    const bool closed = RunDialog(dialog, [&](HWND window) {
        Click(dialog.tb_LockFolder.Handle());
        AwaitFocus(dialog.tb_LockFolder.Handle());
        TypeText(dialog.tb_LockFolder.Handle(), "X");
        WaitFor([&] { return Text(dialog.tb_LockFolder) != lock; });
        PressKey(dialog.tb_LockFolder.Handle(), VK_ESCAPE);
        AwaitText(dialog.tb_LockFolder, lock);
        lockRestored = Text(dialog.tb_LockFolder);

        // The run command changed, then the options: Escape in the options box is about
        // the options only.
        EXPECT_TRUE(Retype(dialog.tb_RunCommand, program + "R"));
        EXPECT_TRUE(Retype(dialog.tb_RunCommandOptions, "-changed"));
        PressKey(dialog.tb_RunCommandOptions.Handle(), VK_ESCAPE);
        AwaitText(dialog.tb_RunCommandOptions, "-q");
        optionsRestored = Text(dialog.tb_RunCommandOptions);
        runCommandAfter = Text(dialog.tb_RunCommand);
        openAfterRestores = IsWindowVisible(window);

        PressKey(dialog.tb_RunCommandOptions.Handle(), VK_ESCAPE);
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(lockRestored, lock);
    EXPECT_EQ(optionsRestored, "-q");
    EXPECT_EQ(runCommandAfter, program + "R");
    EXPECT_TRUE(openAfterRestores);
    EXPECT_FALSE(logo.CancelFlag);
    EXPECT_FALSE(dialog.Saved()) << "the period must not go on with what was not saved";
    EXPECT_FALSE(Exists(ini));
    EXPECT_EQ(StoredSettings(), (std::vector<std::string>{lock, shared, local, program, "-q"}));
}

// A switch to another program and back is no new entry into the box: Escape still
// restores the text the box had before the edit, and only a second Escape closes.
TEST_F(ConfigureTest, EscapeAfterAWindowSwitchStillRestoresTheTextOfTheEntry) {
    TCarvelund dialog(logo);
    bool switched = false, openAfterFirstEscape = false;
    std::string restored = "?";
    const bool closed = RunDialog(dialog, [&](HWND window) {
        EXPECT_TRUE(Retype(dialog.tb_SharedFolder, shared + "X"));
        switched = SwitchAwayAndBack(window);
        AwaitFocus(dialog.tb_SharedFolder.Handle());
        PressKey(dialog.tb_SharedFolder.Handle(), VK_ESCAPE);
        AwaitText(dialog.tb_SharedFolder, shared);
        restored = Text(dialog.tb_SharedFolder);
        openAfterFirstEscape = IsWindowVisible(window) != FALSE;
        PressKey(dialog.tb_SharedFolder.Handle(), VK_ESCAPE);
    });
    EXPECT_TRUE(switched);
    EXPECT_EQ(restored, shared);
    EXPECT_TRUE(openAfterFirstEscape);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(logo.CancelFlag);
    EXPECT_FALSE(Exists(ini));
}

TEST_F(ConfigureTest, CancelSetsTheCancelFlagAndStoresNothing) {
    const std::string otherLock = dir / "OtherLocks";
    MakeFolder(otherLock);
    TCarvelund dialog(logo);
    const bool closed = RunDialog(dialog, [&](HWND) {
        EXPECT_TRUE(Retype(dialog.tb_LockFolder, otherLock));
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_TRUE(logo.CancelFlag);
    EXPECT_FALSE(dialog.Saved());
    EXPECT_FALSE(Exists(ini));
    EXPECT_EQ(StoredSettings(), (std::vector<std::string>{lock, shared, local, program, "-q"}));
}

// "History..." shows the history of the shared data folder the box names, saved or not, and
// stores nothing; with no folder in the box it says what is missing.
TEST_F(ConfigureTest, TheHistoryButtonShowsTheHistoryOfTheSharedFolderInTheBox) {
    const std::string other = dir / "OtherShared";
    MakeFolder(other);
    TCarvelund dialog(logo);
    std::string folderLine, statusLine;
    MessageBoxSeen missing;
    const bool closed = RunDialog(dialog, [&](HWND window) {
        EXPECT_EQ(Text(dialog.bt_History), "History...");
        ASSERT_TRUE(Retype(dialog.tb_SharedFolder, other));
        Click(dialog.bt_History.Handle());
        HWND history = AwaitTopWindow("THistory", "History", GetCurrentProcessId());
        ASSERT_NE(history, nullptr);
        EXPECT_EQ(GetWindow(history, GW_OWNER), window);
        HWND folder = FindChild(history, "Static", nullptr);
        HWND status = FindWindowExA(history, folder, "Static", nullptr);
        AwaitCondition([&] { return WindowText(status).find("No history") != std::string::npos; });
        folderLine = WindowText(folder);
        statusLine = WindowText(status);
        Click(FindChild(history, "Button", "Close"));
        ASSERT_TRUE(AwaitGone(history));
        ASSERT_TRUE(Retype(dialog.tb_SharedFolder, ""));
        Click(dialog.bt_History.Handle());
        missing = AwaitMessageBox("History", GetCurrentProcessId());
        PressButton(missing.window, "OK");
        AwaitGone(missing.window);
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(folderLine, "Shared data folder: " + other);
    EXPECT_EQ(statusLine.rfind("No history is kept for " + other, 0), 0u) << statusLine;
    EXPECT_EQ(missing.owner, dialog.Handle());
    EXPECT_NE(missing.text.find("Remote Shared Data Folder"), std::string::npos) << missing.text;
    EXPECT_EQ(StoredSettings(), (std::vector<std::string>{lock, shared, local, program, "-q"}));
    EXPECT_FALSE(Exists(ini));
    EXPECT_FALSE(Exists(HistoryFolder(other)));
}

TEST_F(ConfigureTest, ACancelledFolderChooserLeavesTheBoxAsItWas) {
    // Longer than the chooser's buffer: the box must not lose its tail.
    const std::string longLock = "C:\\" + std::string(300, 'L');
    Store(longLock, shared, local, program, "-q");
    TCarvelund dialog(logo);
    struct Case {
        forms::Button* browse;
        forms::EditBox* box;
        const char* title;
    };
    const Case cases[] = {
        {&dialog.bt_BrowweLockFolder, &dialog.tb_LockFolder, "Select a Remote Lock Folder"},
        {&dialog.bt_BrowseSharedFolder, &dialog.tb_SharedFolder, "Select a Remote Shared Data Folder"},
        {&dialog.tb_BrowseLocalFolder, &dialog.tb_LocalFolder, "Select a Local Data Folder"},
    };
    std::vector<std::string> titlesShown, textsAfter;
    std::string messageAtSave = "?";
    const bool closed = RunDialog(dialog, [&](HWND window) {
        for (const Case& c : cases) {
            Click(c.browse->Handle());
            HWND chooser = AwaitOwnedDialog(window);
            if (!chooser) {
                ADD_FAILURE() << "no folder chooser for " << c.title;
                continue;
            }
            titlesShown.push_back(FindChild(chooser, "Static", c.title) ? c.title : "(title not shown)");
            Click(GetDlgItem(chooser, IDCANCEL));
            AwaitGone(chooser);
            Settle(window);
            textsAfter.push_back(Text(*c.box));
        }
        Click(dialog.bt_Save.Handle());
        AwaitText(dialog.lb_error, kLockMessage);
        messageAtSave = Text(dialog.lb_error);
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(titlesShown, (std::vector<std::string>{cases[0].title, cases[1].title, cases[2].title}));
    EXPECT_EQ(textsAfter, (std::vector<std::string>{longLock, shared, local}));
    EXPECT_EQ(messageAtSave, kLockMessage);
}

TEST_F(ConfigureTest, AFolderChosenInTheChooserGoesIntoItsBox) {
    const std::string chosen = dir / "Chosen";
    MakeFolder(chosen);
    TCarvelund dialog(logo);
    std::string after = "?";
    const bool closed = RunDialog(dialog, [&](HWND window) {
        Click(dialog.tb_BrowseLocalFolder.Handle());
        HWND chooser = AwaitOwnedDialog(window);
        ASSERT_NE(chooser, nullptr);
        EXPECT_TRUE(SelectInFolderChooser(chooser, chosen));
        Click(GetDlgItem(chooser, IDOK));
        AwaitGone(chooser);
        WaitFor([&] { return Text(dialog.tb_LocalFolder) != local; });
        after = Text(dialog.tb_LocalFolder);
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(lstrcmpiA(after.c_str(), chosen.c_str()), 0) << after;
}

// The open-file dialog's file name box (a combo box's edit in the explorer style).
HWND FileNameBox(HWND fileDialog) {
    HWND box = GetDlgItem(fileDialog, cmb13);
    if (!box) return GetDlgItem(fileDialog, edt1);
    if (HWND edit = FindChild(box, "Edit", nullptr)) return edit;
    return box;
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[256] = "";
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

TEST_F(ConfigureTest, TheRunCommandBrowserPutsTheChosenProgramIntoItsBoxAndCancelChangesNothing) {
    const std::string other = dir / "Tools\\Other.exe";
    MakeFolder(dir / "Tools");
    WriteFile(other, "MZ");
    TCarvelund dialog(logo);
    std::vector<std::string> fileTypes;
    std::string afterCancel = "?", afterOpen = "?";
    const bool closed = RunDialog(dialog, [&](HWND window) {
        Click(dialog.bt_BrowseRunCommand.Handle());
        HWND files = AwaitOwnedDialog(window);
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(WindowText(files), "Select Local Program");
        fileTypes = ComboItems(GetDlgItem(files, cmb1));
        Click(GetDlgItem(files, IDCANCEL));
        AwaitGone(files);
        Settle(window);
        afterCancel = Text(dialog.tb_RunCommand);

        Click(dialog.bt_BrowseRunCommand.Handle());
        files = AwaitOwnedDialog(window);
        ASSERT_NE(files, nullptr);
        HWND name = FileNameBox(files);
        FocusWindow(name);
        TypeText(name, other);
        WaitFor([&] { return WindowText(name) == other; });
        Click(GetDlgItem(files, IDOK));
        AwaitGone(files);
        AwaitText(dialog.tb_RunCommand, other);
        afterOpen = Text(dialog.tb_RunCommand);
        Click(dialog.bt_Cancel.Handle());
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(fileTypes, (std::vector<std::string>{"Executables", "All Files"}));
    EXPECT_EQ(afterCancel, program);
    EXPECT_EQ(lstrcmpiA(afterOpen.c_str(), other.c_str()), 0) << afterOpen;
}

}  // namespace
