#include "info/Creginfo.h"

#include "launcher/Winappcontrol.h"

#include <cstring>

namespace {

// The edition name follows as the page's path.
constexpr const char* kHomePage = "http://carvelund.example.org/";

// The memo shows these lines as they are; none may be wider than the memo, and
// together they must fit its height, since it has no scroll bar.
constexpr const char* kSupportText =
    "Questions, comments and problem\r\n"
    "reports are welcome at either\r\n"
    "of these addresses:\r\n"
    "\r\n"
    "support@carvelund.example.org\r\n"
    "help@carvelund.example.org\r\n"
    "\r\n"
    "This program is user-supported.\r\n"
    "If it serves you well, please\r\n"
    "send a voluntary contribution\r\n"
    "of 20 euros by post to:\r\n"
    "\r\n"
    "The Carvelund Project\r\n"
    "7 Harbour Row, Eastholm 4021\r\n"
    "\r\n"
    "Source code and installation\r\n"
    "help are on our web page:\r\n"
    "http://carvelund.example.org/\r\n"
    "\r\n"
    "Thank you for your support!\r\n"
    "\r\n"
    "Double-Click closes this window";

forms::FormLayout RegInfoLayout() {
    forms::FormLayout params;
    params.className = "TRegInfo";
    params.caption = "RegInfo";
    params.width = 252;
    params.height = 410;
    params.border = forms::Border::None;
    params.background = GetSysColor(COLOR_INFOBK);
    params.font = forms::FontStyle{"MS Sans Serif", 11, false, false};
    return params;
}

forms::ControlLayout TextLayout() {
    forms::ControlLayout params;
    params.bounds = {9, 14, 233, 363};
    params.text = kSupportText;
    params.font = forms::FontStyle{"MS Sans Serif", 13, false, false};
    params.background = GetSysColor(COLOR_INFOBK);
    params.align = forms::Align::Center;
    params.readOnly = true;
    params.border = false;
    return params;
}

forms::ControlLayout HomePageLayout() {
    forms::ControlLayout params;
    params.bounds = {0, 384, 252, 17};
    params.hint = "Click here for homepage";
    params.font = forms::FontStyle{"MS Sans Serif", 11, false, true};
    params.textColour = RGB(0, 0, 255);
    params.align = forms::Align::Center;
    return params;
}

bool WriteAll(HANDLE file, const char* text) {
    const DWORD length = static_cast<DWORD>(std::strlen(text));
    DWORD written = 0;
    return WriteFile(file, text, length, &written, nullptr) && written == length;
}

// By its full path: found through the search path, a runDLL32.exe in the current
// folder would run first. Null when the system folder cannot be named.
char* UrlHandlerPath() {
    char folder[MAX_PATH];
    const UINT n = Platform().systemDirectory(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    return ConcatText(folder, "\\runDLL32.exe");
}

}  // namespace

TRegInfo::TRegInfo(forms::Form* owner, const char* titlePath)
    : forms::Form(RegInfoLayout(), owner),
      m_Text(Add<forms::Memo>(TextLayout())),
      lb_HomePage(Add<forms::Label>(HomePageLayout())) {
    OwnedText folder(FolderOf(titlePath));
    OwnedText programName(BaseTitle(titlePath));
    EditionName.Reset(ConcatText(_stricmp(programName.Str(), "MARROWKEEP") == 0 ? "Marrowkeep" : "Carvelund"));
    ShortcutPath.Reset(ConcatText(folder.Str(), "/", EditionName.Str(), "_HomePage.url"));
    OwnedText caption(ConcatText(EditionName.Str(), " home page"));
    lb_HomePage.SetText(caption.Str());

    onClick = [this] { FormClick(); };
    onDestroy = [this] { FormDestroy(); };
    m_Text.onClick = [this] { m_TextClick(); };
    m_Text.onDblClick = [this] { m_TextDblClick(); };
    lb_HomePage.onClick = [this] { lb_HomePageClick(); };
}

TRegInfo::~TRegInfo() { Destroy(); }

void TRegInfo::FormClick() { Close(); }

void TRegInfo::FormDestroy() {
    EditionName.Reset();
    ShortcutPath.Reset();
}

// A single click may only select text; the double-click is the way out.
void TRegInfo::m_TextClick() {}

void TRegInfo::m_TextDblClick() { Close(); }

bool TRegInfo::WriteShortcut(DWORD& error) {
    // A read-only or hidden shortcut left from before would refuse the rewrite.
    const DWORD attributes = GetFileAttributesA(ShortcutPath.Str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        SetFileAttributesA(ShortcutPath.Str(), FILE_ATTRIBUTE_ARCHIVE);
    KernelHandle file(CreateFileA(ShortcutPath.Str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = GetLastError();
        return false;
    }
    OwnedText content(ConcatText("[InternetShortcut]\r\nURL=", kHomePage, EditionName.Str(), "\r\n"));
    // An earlier, longer file must not leave its tail behind the new lines.
    if (!WriteAll(file.Get(), content.Str()) || !SetEndOfFile(file.Get())) {
        error = GetLastError();
        return false;
    }
    file.Reset();
    SetFileAttributesA(ShortcutPath.Str(), FILE_ATTRIBUTE_ARCHIVE);
    return true;
}

void TRegInfo::lb_HomePageClick() {
    DWORD error = 0;
    if (!WriteShortcut(error)) {
        // Without its shortcut the browser would open nothing useful.
        OwnedText message(
            ConcatText("Can't write ", ShortcutPath.Str(), " : ", SystemErrorName(static_cast<int32_t>(error))));
        ShowErrorMessage(Handle(), "Home Page Link", message.Str());
        return;
    }
    // The platform's URL handler opens the shortcut in the browser; whether it
    // could be started is not the window's concern, and nothing waits for it.
    // The handler's name is the program part: the rest goes after it as options.
    OwnedText handler(UrlHandlerPath());
    if (!handler) return;
    OwnedText options(ConcatText("url.dll,OpenURL ", ShortcutPath.Str()));
    AppControl urlHandler("runDLL32.exe", options.Str());
    urlHandler.ProgramFile.Reset(handler.Release());
    urlHandler.Start();
}

void ShowRegInfo(forms::Form& owner, const char* titlePath) {
    TRegInfo regInfo(&owner, titlePath);
    regInfo.ShowModal();
}
