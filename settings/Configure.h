// Configure: the dialog in which the five settings are edited, checked and saved.
#pragma once

#include "app/PeriodChoices.h"
#include "forms/Form.h"
#include "shell/Wintools.h"

// Shown modally by the title window; reports a Cancel through TitleWindow.SetCancel(), and
// whether Save completed (Saved). Everything else reaches the working period through the
// settings store. The first fill of an empty shared folder is the title window's work
// (a lock, a transfer): the dialog asks it for that.
class TCarvelund : public forms::Form {
public:
    explicit TCarvelund(PeriodChoices& titleWindow);
    ~TCarvelund() override;

    // The last showing ended with a completed Save; not with Cancel, Escape or a close.
    bool Saved() const { return saved_; }

    PeriodChoices& TitleWindow;  // not owned; its Title picks the edition, its flag takes a Cancel
    // The focused box's text as it was when the box got the focus; Escape goes back to it.
    OwnedText EntryText;

    // In tab order.
    forms::Button& bt_Cancel;
    forms::EditBox& tb_LockFolder;
    forms::Button& bt_BrowweLockFolder;
    forms::EditBox& tb_SharedFolder;
    forms::Button& bt_BrowseSharedFolder;
    forms::EditBox& tb_LocalFolder;
    forms::Button& tb_BrowseLocalFolder;
    forms::EditBox& tb_RunCommand;
    forms::Button& bt_BrowseRunCommand;
    forms::EditBox& tb_RunCommandOptions;
    forms::Button& bt_Save;
    forms::Button& bt_History;  // the History window of the shared data folder in the box
    // Not in the tab order.
    forms::Label& Label3;
    forms::Label& Label1;
    forms::Label& Label2;
    forms::Label& Label4;
    forms::Label& Label5;
    forms::Label& lb_error;

private:
    void FormCreate();
    void FormShow();
    bool CheckFields();
    void HandleEditKey(char key, forms::EditBox& box, forms::Control& successor);
    void BrowseFolderInto(forms::EditBox& box, const char* title);
    // The open-file dialog for the run command; false when the user cancels.
    bool FindRunProg(OwnedText& chosen);
    static bool FolderHasFiles(const char* folder);
    // Anything at all in it, a subfolder or a hidden file too: data that a fill would bury.
    // A folder that cannot be listed may hold such data too.
    static bool FolderHasEntries(const char* folder);
    // The first fill, asked of the title window. False with the reason in lb_error.
    bool FillSharedFolder();

    void bt_CancelClick();
    void bt_SaveClick();
    void bt_HistoryClick();
    void bt_BrowweLockFolderClick();
    void bt_BrowseSharedFolderClick();
    void tb_BrowseLocalFolderClick();
    void bt_BrowseRunCommandClick();
    void tb_LockFolderEnter();
    void tb_SharedFolderEnter();
    void tb_LocalFolderEnter();
    void tb_RunCommandEnter();
    void tb_RunCommandOptionsEnter();
    void tb_LockFolderKeyPress(char key);
    void tb_SharedFolderKeyPress(char key);
    void tb_LocalFolderKeyPress(char key);
    // Serves the run command and its options: acts on the box the key was pressed in.
    void tb_RunCommandKeyPress(forms::EditBox& sender, char key);

    bool saved_ = false;
};
