// The questions the working period asks before it would replace or overwrite work.
#pragma once

#include "app/UnsavedWork.h"

#include <windows.h>

#include <string>

enum class UnsavedChoice { CopyBack, SetAside, Stop };

// "Unsaved Local Data": work from an earlier period is still only in the local folder.
// Yes (copy it back now) is offered only when this period holds the lock.
// When the shared data changed, `otherSaveAside` names where Yes sets the other PC's save aside.
UnsavedChoice AskAboutUnsavedWork(HWND owner, const char* localFolder, const UnsavedWork& work, bool sharedChanged,
                                  bool mayCopyBack, const std::string& otherSaveAside);
void TellWorkSetAside(HWND owner, const std::string& folder);

// "Local Data In Use": a file is still open after the application ended. True for
// Retry, false for Cancel.
bool RetryWhenDataClosed(HWND owner, const std::string& file);

// "Shared Data Changed": another PC wrote to the shared data during this period. True
// when the user still wants this PC's work copied over it; the other PC's save is then
// set aside in `otherSaveAside`, never deleted.
bool CopyBackOverChangedShare(HWND owner, const char* sharedFolder, const std::string& otherSaveAside);

// "Shared Data Unreadable": the shared data cannot be listed before the copy back, so
// whether another PC saved there is unknown. True for Retry, false for Cancel.
bool RetryUnreadableShare(HWND owner, const char* sharedFolder);
