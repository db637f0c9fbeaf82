// The program's fixed failure texts: box captions and messages as users, their support
// and the other PCs' copies of the program know them.
//
// Their spelling is kept on purpose, slips included ("occuried", "Lanuching", a caption
// in lower case): people search for these exact words. Do not correct them.
#pragma once

struct FixedText {
    const char* title;
    const char* message;
};

// ---- The tree transfer's steps ------------------------------------------------------
constexpr FixedText kCopyStepFailed{"Copying", "Error occuried during filecopy"};
constexpr const char* kRenameFailedText = "Error occuried during rename";
// The switch's renames by their captions. The copy is named twice, once as checked and
// once as the data; both renames have always carried this one caption.
constexpr const char* kRenameCopyTitle = "Renaming new copy to folder";
constexpr const char* kRenameSaveTitle = "Renaming save to old save";
constexpr const char* kRenameFolderTitle = "Renaming folder to save";

// ---- The working period's steps -----------------------------------------------------
constexpr FixedText kCopyInFailed{"Copy Remote Data", "Error copying remote shared data"};
constexpr FixedText kCopyBackFailed{"Copy Local Data", "Error copying local data back to Shared Data Folder"};
constexpr const char* kLaunchFailedTitle = "Lanuching Application";  // the launcher's text follows
constexpr FixedText kLauncherLost{"Internal Error", "Lost application handle"};
constexpr FixedText kHolderNotDeleted{"Lock Delete", "Can't delete existing lock : "};  // the holder's name follows
