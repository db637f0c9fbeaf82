// The working period's own failure texts, as users and their support know them.
//
// Their spelling is kept on purpose, slips included ("Lanuching"): people search for
// these exact words, and other PCs run copies of the program that show them so.
#pragma once

struct PeriodErrorText {
    const char* title;
    const char* message;
};

constexpr PeriodErrorText kCopyInFailed{"Copy Remote Data", "Error copying remote shared data"};
constexpr PeriodErrorText kCopyBackFailed{"Copy Local Data", "Error copying local data back to Shared Data Folder"};
constexpr const char* kLaunchFailedTitle = "Lanuching Application";  // the launcher's text follows
constexpr PeriodErrorText kLauncherLost{"Internal Error", "Lost application handle"};
constexpr PeriodErrorText kHolderNotDeleted{"Lock Delete", "Can't delete existing lock : "};  // the holder's name follows
