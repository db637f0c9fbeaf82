#include "app/DataQuestions.h"

#include "shell/Wintools.h"

namespace {

constexpr char kUnsavedCaption[] = "Unsaved Local Data";

// Greys out the Yes button of the message box this thread shows next.
class YesDisabled {
public:
    explicit YesDisabled(bool active)
        : hook_(active ? SetWindowsHookExA(WH_CBT, Disable, nullptr, GetCurrentThreadId()) : nullptr) {}
    ~YesDisabled() {
        if (hook_) UnhookWindowsHookEx(hook_);
    }
    YesDisabled(const YesDisabled&) = delete;
    YesDisabled& operator=(const YesDisabled&) = delete;

private:
    static LRESULT CALLBACK Disable(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE) {
            HWND yes = GetDlgItem(reinterpret_cast<HWND>(wParam), IDYES);
            if (yes) EnableWindow(yes, FALSE);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK hook_;
};

int Ask(HWND owner, const std::string& caption, const std::string& text, UINT style) {
    return Platform().messageBox(owner, text.c_str(), caption.c_str(), style | (owner ? MB_TASKMODAL : 0));
}

}  // namespace

UnsavedChoice AskAboutUnsavedWork(HWND owner, const char* localFolder, const UnsavedWork& work, bool sharedChanged,
                                  bool mayCopyBack, const std::string& otherSaveAside) {
    std::string text = std::string("The local data folder ") + localFolder + " holds work begun " +
                       LocalTimeText(work.began, MonthWidth::AsIs, "an unknown time") +
                       " that never reached the shared data folder.\n\n";
    text += sharedChanged ? "The shared data HAS CHANGED since that work began: another PC has saved there.\n\n"
                          : "The shared data has not changed since that work began.\n\n";
    if (!mayCopyBack)
        text += "(Yes is not offered: this period does not hold the lock.)\n";
    else if (sharedChanged)
        text += "Yes: copy this work to the shared data folder now, then go on; the other PC's version is set aside "
                "in " + otherSaveAside + ", which Carvelund never deletes.\n";
    else
        text += "Yes: copy this work to the shared data folder now, then go on.\n";
    text += "No: set this work aside in a folder of its own, then go on.\nCancel: stop here and change nothing.";
    YesDisabled yesDisabled(!mayCopyBack);
    for (;;) {
        switch (Ask(owner, kUnsavedCaption, text, MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON3)) {
            case IDYES:
                if (mayCopyBack) return UnsavedChoice::CopyBack;
                break;  // a greyed button cannot be chosen; ask again
            case IDNO: return UnsavedChoice::SetAside;
            default: return UnsavedChoice::Stop;
        }
    }
}

void TellWorkSetAside(HWND owner, const std::string& folder) {
    Ask(owner, kUnsavedCaption, "The unsaved work was set aside in\n" + folder + "\nCarvelund never deletes that folder.",
        MB_OK | MB_ICONINFORMATION);
}

bool CopyBackOverChangedShare(HWND owner, const char* sharedFolder, const std::string& otherSaveAside) {
    const std::string text =
        std::string("The shared data in ") + sharedFolder +
        " was changed by another PC while this PC did not hold the lock.\n\n"
        "Yes: copy your work over it anyway; the other version is set aside in " + otherSaveAside +
        ", which Carvelund never deletes.\n"
        "No: copy nothing; your work stays in the local data folder and is offered again at the next start.";
    return Ask(owner, "Shared Data Changed", text, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

bool RetryWhenDataClosed(HWND owner, const std::string& file) {
    const std::string text = file +
                             "\nis still open in another program.\n\n"
                             "Close the program that uses it, then choose Retry.\n"
                             "Cancel ends without copying your work back; it is offered again at the next start.";
    return Ask(owner, "Local Data In Use", text, MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

bool RetryUnreadableShare(HWND owner, const char* sharedFolder) {
    const std::string text = std::string("The shared data in ") + sharedFolder +
                             " cannot be read, so it cannot be told whether another PC saved there.\n\n"
                             "Retry once it can be reached again. Cancel copies nothing back; your work stays in the "
                             "local data folder and is offered again at the next start.";
    return Ask(owner, "Shared Data Unreadable", text, MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}
