// Creginfo: the information window, with support information and the home-page link.
#pragma once

#include "forms/Form.h"
#include "shell/Wintools.h"

class TRegInfo : public forms::Form {
public:
    // titlePath: the program's folder, a backslash and the program's name (the title
    // window's TitlePath). The edition and the shortcut file follow from it.
    TRegInfo(forms::Form* owner, const char* titlePath);
    ~TRegInfo() override;

    OwnedText EditionName;   // "Marrowkeep" or "Carvelund"
    OwnedText ShortcutPath;  // written by a click on the link

    // In tab order.
    forms::Memo& m_Text;
    forms::Label& lb_HomePage;

private:
    void FormClick();
    void FormDestroy();
    void m_TextClick();
    void m_TextDblClick();
    void lb_HomePageClick();
    // The shortcut's two lines, archive attribute only; false with the platform's
    // error code when the file cannot be written.
    bool WriteShortcut(DWORD& error);
};

// The title's click: the information window for `owner`'s TitlePath, shown modally
// and destroyed once it has closed.
void ShowRegInfo(forms::Form& owner, const char* titlePath);
