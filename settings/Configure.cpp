#include "settings/Configure.h"

#include "settings/Persistentdata.h"

#include "app/Chistory.h"

#include "shell/FileSystem.h"

#include <commdlg.h>
#include <objbase.h>

#include <cstring>
#include <string>

namespace {

constexpr int kWidth = 482;
constexpr int kHeight = 333;
constexpr int kLeft = 14;
constexpr int kBoxWidth = 400;
constexpr int kBoxHeight = 21;
constexpr int kBrowseLeft = kLeft + kBoxWidth + 4;
constexpr int kBrowseWidth = 50;
constexpr int kRowTop = 10;
constexpr int kRowPitch = 50;
constexpr int kButtonsTop = 262;
constexpr int kErrorTop = 302;

// The store reads a value back with at most 1023 characters: accept no more in a box,
// so that what is saved comes back as it was typed.
constexpr int kLongestValue = 1023;
// The folder chooser gets the box's text in a buffer of MAX_PATH characters.
constexpr size_t kChooserBuffer = 260;

constexpr const char* kEdition = "MARROWKEEP";
constexpr const char* kRefusedProgram = "PILOT";
constexpr const char* kEditionRunCommand = "c:\\Palm\\PALM.exe";
constexpr int kRefusedProgramCode = 100;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Case-blind for ASCII letters only: the names compared are fixed ASCII words, and a
// locale's rules (ignored hyphens, folded accents) must not make another name match.
bool SameTextIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (AsciiUpper(*a) != AsciiUpper(*b)) return false;
    return *a == *b;
}

forms::ControlLayout At(int left, int top, int width, int height, const char* text = "",
                      const char* hint = nullptr) {
    forms::ControlLayout params;
    params.bounds = {left, top, width, height};
    params.text = text;
    params.hint = hint;
    return params;
}

int RowTop(int row) { return kRowTop + row * kRowPitch; }
int BoxTop(int row) { return RowTop(row) + 15; }

forms::ControlLayout Box(int row, const char* hint = nullptr) {
    return At(kLeft, BoxTop(row), kBoxWidth, kBoxHeight, "", hint);
}

forms::ControlLayout Browse(int row, const char* hint) {
    return At(kBrowseLeft, BoxTop(row), kBrowseWidth, kBoxHeight, "Browse", hint);
}

forms::ControlLayout RowLabel(int row, const char* text, const char* hint = nullptr) {
    forms::ControlLayout params = At(kLeft, RowTop(row), kBoxWidth, 13, text, hint);
    params.tabStop = false;
    return params;
}

forms::ControlLayout ErrorLabel() {
    forms::ControlLayout params = At(0, kErrorTop, kWidth, 18);
    params.tabStop = false;
    params.align = forms::Align::Center;
    params.textColour = RGB(255, 0, 0);
    params.transparent = true;
    params.font = forms::FontStyle{"MS Sans Serif", 13, false, false};
    return params;
}

forms::FormLayout DialogLayout() {
    forms::FormLayout params;
    params.className = "TCarvelund";
    params.caption = "Configure";
    params.width = kWidth;
    params.height = kHeight;
    params.border = forms::Border::Dialog;
    return params;
}

// COM for the platform's file dialogs on this thread; only our own initialisation is undone.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result_;
};

}  // namespace

TCarvelund::TCarvelund(PeriodChoices& titleWindow)
    : forms::Form(DialogLayout(), &titleWindow.Window()),
      TitleWindow(titleWindow),
      bt_Cancel(Add<forms::Button>(At(287, kButtonsTop, 75, 25, "Cancel"))),
      tb_LockFolder(Add<forms::EditBox>(Box(0))),
      bt_BrowweLockFolder(Add<forms::Button>(Browse(0, "Select Remote Lock folder from tree"))),
      tb_SharedFolder(Add<forms::EditBox>(Box(1))),
      bt_BrowseSharedFolder(Add<forms::Button>(Browse(1, "Select Remote Shared Data folder from tree"))),
      tb_LocalFolder(Add<forms::EditBox>(Box(2))),
      tb_BrowseLocalFolder(Add<forms::Button>(Browse(2, "Select local data folder from tree"))),
      tb_RunCommand(Add<forms::EditBox>(Box(3))),
      bt_BrowseRunCommand(Add<forms::Button>(Browse(3, "Select local program name"))),
      tb_RunCommandOptions(Add<forms::EditBox>(Box(4, "Options for Run Command"))),
      bt_Save(Add<forms::Button>(At(120, kButtonsTop, 75, 25, "Save"))),
      bt_History(Add<forms::Button>(At(kLeft, kButtonsTop, 75, 25, "History...", "Who worked with the shared data when, and earlier versions of it"))),
      Label3(Add<forms::Label>(RowLabel(0, "Remote Lock Folder"))),
      Label1(Add<forms::Label>(RowLabel(1, "Remote Shared Data Folder"))),
      Label2(Add<forms::Label>(RowLabel(2, "Local Data Folder"))),
      Label4(Add<forms::Label>(RowLabel(3, "Local Run Command"))),
      Label5(Add<forms::Label>(RowLabel(4, "Run Command Options", "Options for Run Command"))),
      lb_error(Add<forms::Label>(ErrorLabel())) {
    for (forms::EditBox* box : {&tb_LockFolder, &tb_SharedFolder, &tb_LocalFolder, &tb_RunCommand,
                                &tb_RunCommandOptions})
        SendMessageA(box->Handle(), EM_LIMITTEXT, kLongestValue, 0);

    bt_Cancel.onClick = [this] { bt_CancelClick(); };
    bt_Save.onClick = [this] { bt_SaveClick(); };
    bt_History.onClick = [this] { bt_HistoryClick(); };
    bt_BrowweLockFolder.onClick = [this] { bt_BrowweLockFolderClick(); };
    bt_BrowseSharedFolder.onClick = [this] { bt_BrowseSharedFolderClick(); };
    tb_BrowseLocalFolder.onClick = [this] { tb_BrowseLocalFolderClick(); };
    bt_BrowseRunCommand.onClick = [this] { bt_BrowseRunCommandClick(); };
    tb_LockFolder.onEnter = [this] { tb_LockFolderEnter(); };
    tb_SharedFolder.onEnter = [this] { tb_SharedFolderEnter(); };
    tb_LocalFolder.onEnter = [this] { tb_LocalFolderEnter(); };
    tb_RunCommand.onEnter = [this] { tb_RunCommandEnter(); };
    tb_RunCommandOptions.onEnter = [this] { tb_RunCommandOptionsEnter(); };
    tb_LockFolder.onKeyPress = [this](char key) { tb_LockFolderKeyPress(key); };
    tb_SharedFolder.onKeyPress = [this](char key) { tb_SharedFolderKeyPress(key); };
    tb_LocalFolder.onKeyPress = [this](char key) { tb_LocalFolderKeyPress(key); };
    tb_RunCommand.onKeyPress = [this](char key) { tb_RunCommandKeyPress(tb_RunCommand, key); };
    tb_RunCommandOptions.onKeyPress = [this](char key) { tb_RunCommandKeyPress(tb_RunCommandOptions, key); };
    onShow = [this] { FormShow(); };
    FormCreate();
}

TCarvelund::~TCarvelund() { Destroy(); }

void TCarvelund::FormCreate() {
    // The edition's usual program is offered, not stored: only Save stores it.
    const char* runCommand = GetRunCommand();
    if (!runCommand[0] && SameTextIgnoringCase(TitleWindow.ProgramTitle(), kEdition) &&
        PathReadable(kEditionRunCommand))
        runCommand = kEditionRunCommand;
    tb_RunCommand.SetText(runCommand);
    tb_RunCommandOptions.SetText(GetRunCommandOptions());
    tb_LocalFolder.SetText(GetLocalDataFolder());
    tb_SharedFolder.SetText(GetRemoteSharedDataFolder());
    tb_LockFolder.SetText(GetRemoteLockFolder());
}

// A problem shows at once, with the focus in its box.
void TCarvelund::FormShow() { CheckFields(); }

bool TCarvelund::CheckFields() {
    OwnedText lockFolder(tb_LockFolder.GetText());
    OwnedText sharedFolder(tb_SharedFolder.GetText());
    OwnedText localFolder(tb_LocalFolder.GetText());
    OwnedText runCommand(tb_RunCommand.GetText());
    int code = CheckSettings(lockFolder.Str(), sharedFolder.Str(), localFolder.Str(), runCommand.Str());
    if (code == 0 && SameTextIgnoringCase(TitleWindow.ProgramTitle(), kEdition)) {
        OwnedText program(BaseTitle(runCommand.Str()));
        if (SameTextIgnoringCase(program.Str(), kRefusedProgram)) code = kRefusedProgramCode;
    }

    if (code == 0) return true;  // an earlier message stays until another replaces it
    forms::EditBox* box = &tb_RunCommand;
    const char* message = "Run Command NOT found!";
    switch (code) {
        case 1:
            box = &tb_LockFolder;
            message = "Remote Lock Folder NOT found!";
            break;
        case 2:
            box = &tb_SharedFolder;
            message = "Remote Shared Data Folder NOT found!";
            break;
        case 3:
            box = &tb_LocalFolder;
            message = "Local Data Folder NOT found!";
            break;
        case 5:
            box = &tb_SharedFolder;
            message = "Remote Shared Data Folder can't be a drive root!";
            break;
        case 6:
            box = &tb_LocalFolder;
            message = "Local Data Folder can't be a drive root!";
            break;
        case 7:
            box = &tb_SharedFolder;
            message = "Remote Lock Folder and Remote Shared Data Folder overlap!";
            break;
        case 8:
            box = &tb_LocalFolder;
            message = "Remote Lock Folder and Local Data Folder overlap!";
            break;
        case 9:
            box = &tb_LocalFolder;
            message = "Remote Shared Data Folder and Local Data Folder overlap!";
            break;
        case kRefusedProgramCode:
            message = "PILOT.exe does not work with Marrowkeep!";
            break;
        default:
            break;
    }
    box->SetFocus();
    lb_error.SetText(message);
    return false;
}

void TCarvelund::HandleEditKey(char key, forms::EditBox& box, forms::Control& successor) {
    if (key == '\r') {
        successor.SetFocus();
    } else if (key == '\x1b') {
        OwnedText current(box.GetText());
        if (std::strcmp(current.Str(), EntryText.Str()) != 0)
            box.SetText(EntryText.Str());
        else
            Close();  // nothing stored, no Cancel reported
    }
}

void TCarvelund::BrowseFolderInto(forms::EditBox& box, const char* title) {
    OwnedText text(box.GetText());
    char defaultPath[kChooserBuffer];
    lstrcpynA(defaultPath, text.Str(), sizeof defaultPath);
    const char* chosen = ChooseFolder(defaultPath, title, Handle());
    // A cancelled chooser hands back the default; the box keeps its whole text then,
    // not the first 259 characters that fitted the chooser.
    if (chosen != defaultPath) box.SetText(chosen);
}

bool TCarvelund::FindRunProg(OwnedText& chosen) {
    ComScope com;
    char file[kLongestValue + 1] = "";
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Handle();
    dialog.lpstrFilter = "Executables\0*.exe;*.com\0All Files\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrTitle = "Select Local Program";
    dialog.lpstrDefExt = "exe";
    // The current folder is the period's business, not the file dialog's.
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_SHAREAWARE | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&dialog)) return false;
    chosen.Reset(ConcatText(file));
    return true;
}

bool TCarvelund::FolderHasFiles(const char* folder) {
    std::string pattern(folder ? folder : "");
    if (!pattern.empty() && IsSeparator(pattern.back())) pattern.pop_back();
    pattern += "\\*.*";
    return FindFirstEntry(pattern.c_str()) != nullptr;
}

bool TCarvelund::FolderHasEntries(const char* folder) {
    return LookInFolder(Widen(folder ? folder : "")) != FolderContent::Empty;
}

bool TCarvelund::FillSharedFolder() {
    // No second Save or Cancel while the fill runs.
    HWND focus = GetFocus();
    EnableWindow(Handle(), FALSE);
    std::string problem;
    const bool filled = TitleWindow.FillSharedFolder(problem);
    EnableWindow(Handle(), TRUE);
    if (focus && IsWindow(focus)) ::SetFocus(focus);
    if (!filled) lb_error.SetText(problem.c_str());
    return filled;
}

void TCarvelund::bt_CancelClick() {
    TitleWindow.SetCancel();
    Close();
}

void TCarvelund::bt_SaveClick() {
    saved_ = false;
    if (!CheckFields()) return;

    const auto setFrom = [](forms::EditBox& box, const char* (*setter)(const char*)) {
        OwnedText text(box.GetText());
        setter(text.Str());
    };
    setFrom(tb_LockFolder, SetRemoteLockFolder);
    setFrom(tb_SharedFolder, SetRemoteSharedDataFolder);
    setFrom(tb_LocalFolder, SetLocalDataFolder);
    setFrom(tb_RunCommand, SetRunCommand);
    setFrom(tb_RunCommandOptions, SetRunCommandOptions);
    if (const char* failure = WriteSettings()) {
        lb_error.SetText(failure);
        return;
    }

    OwnedText localFolder(tb_LocalFolder.GetText());
    OwnedText sharedFolder(tb_SharedFolder.GetText());
    if (FolderHasFiles(localFolder.Str()) && !FolderHasEntries(sharedFolder.Str())) {
        const int answer = Platform().messageBox(Handle(), "Copy files from Local to Remote Shared Data folder",
                                                 "Remote Shared folder empty", MB_YESNO | MB_ICONEXCLAMATION);
        if (answer == IDYES && !FillSharedFolder()) return;
    }
    saved_ = true;
    Close();
}

// The folders as the boxes name them now, saved or not: the history is only read.
void TCarvelund::bt_HistoryClick() {
    OwnedText shared(tb_SharedFolder.GetText());
    OwnedText local(tb_LocalFolder.GetText());
    ShowHistory(*this, shared.Str()[0] ? FullPathOf(shared.Str()) : "", local.Str()[0] ? FullPathOf(local.Str()) : "");
}

void TCarvelund::bt_BrowweLockFolderClick() { BrowseFolderInto(tb_LockFolder, "Select a Remote Lock Folder"); }

void TCarvelund::bt_BrowseSharedFolderClick() {
    BrowseFolderInto(tb_SharedFolder, "Select a Remote Shared Data Folder");
}

void TCarvelund::tb_BrowseLocalFolderClick() { BrowseFolderInto(tb_LocalFolder, "Select a Local Data Folder"); }

void TCarvelund::bt_BrowseRunCommandClick() {
    OwnedText chosen;
    if (FindRunProg(chosen)) tb_RunCommand.SetText(chosen.Str());
}

void TCarvelund::tb_LockFolderEnter() { EntryText.Reset(tb_LockFolder.GetText()); }
void TCarvelund::tb_SharedFolderEnter() { EntryText.Reset(tb_SharedFolder.GetText()); }
void TCarvelund::tb_LocalFolderEnter() { EntryText.Reset(tb_LocalFolder.GetText()); }
void TCarvelund::tb_RunCommandEnter() { EntryText.Reset(tb_RunCommand.GetText()); }
void TCarvelund::tb_RunCommandOptionsEnter() { EntryText.Reset(tb_RunCommandOptions.GetText()); }

void TCarvelund::tb_LockFolderKeyPress(char key) { HandleEditKey(key, tb_LockFolder, tb_SharedFolder); }
void TCarvelund::tb_SharedFolderKeyPress(char key) { HandleEditKey(key, tb_SharedFolder, tb_LocalFolder); }
void TCarvelund::tb_LocalFolderKeyPress(char key) { HandleEditKey(key, tb_LocalFolder, tb_RunCommand); }
void TCarvelund::tb_RunCommandKeyPress(forms::EditBox& sender, char key) { HandleEditKey(key, sender, bt_Save); }
