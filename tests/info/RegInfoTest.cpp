// The information window on real windows and real files: its edition, its look, the
// home-page link that writes the shortcut file, and the ways it closes.
#include "app/Clogo.h"
#include "info/Creginfo.h"
#include "support/Gui.h"
#include "support/TempDir.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

constexpr DWORD kAttributeMask =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

std::string ShortcutContent(const std::string& edition) {
    return "[InternetShortcut]\r\nURL=http://carvelund.example.org/" + edition + "\r\n";
}

// The file's bytes, or "" while it is missing or held by someone else.
std::string ContentOf(const std::string& path) {
    try {
        return Exists(path) ? ReadFile(path) : std::string();
    } catch (...) {
        return std::string();
    }
}

bool AwaitContent(const std::string& path, const std::string& expected) {
    return WaitFor([&] { return ContentOf(path) == expected; });
}

// The person at the keyboard, on a second thread, while the test's thread runs the
// window. Whatever the actions did, the window is closed at the end, so that a failed
// check is reported instead of leaving the modal showing to run forever.
class User {
public:
    explicit User(std::function<void(HWND window)> actions)
        : thread_([actions] {
              const HWND window = AwaitTopWindow("TRegInfo", "RegInfo", GetCurrentProcessId());
              EXPECT_NE(window, nullptr) << "the information window was not shown";
              if (!window) return;
              actions(window);
              if (IsWindow(window) && IsWindowVisible(window)) {
                  // A message box in the way is a fault in itself; take it away first.
                  if (HWND box = FindTopWindow("#32770", nullptr, GetCurrentProcessId())) {
                      ADD_FAILURE() << "unexpected message box: " << WindowText(box);
                      PostMessageA(box, WM_CLOSE, 0, 0);
                  }
                  PostMessageA(window, WM_CLOSE, 0, 0);
              }
          }) {}
    ~User() { thread_.join(); }

private:
    std::thread thread_;
};

// Recorders in place of the platform's URL handler: one as runDLL32.exe in a folder
// that the system-folder seam names, and a decoy of the same name in the current
// folder, which a start through the search path would run first. Each start of either
// notes the program's full path and its command line.
class UrlHandlerStandIn {
public:
    UrlHandlerStandIn() : log_(logDir_ / "starts.log"), previousSystemFolder_(Platform().systemDirectory) {
        char exe[MAX_PATH];
        const std::string self(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH));
        const std::string recorder = self.substr(0, self.find_last_of("\\/")) + "\\url_handler_standin.exe";
        EXPECT_TRUE(CopyFileA(recorder.c_str(), (system_ / "runDLL32.exe").c_str(), FALSE)) << recorder;
        EXPECT_TRUE(CopyFileA(recorder.c_str(), (current_ / "runDLL32.exe").c_str(), FALSE)) << recorder;
        systemFolder_ = system_.Path();
        Platform().systemDirectory = SystemFolder;
        char previous[MAX_PATH];
        previousFolder_.assign(previous, GetCurrentDirectoryA(MAX_PATH, previous));
        SetCurrentDirectoryA(current_.Path().c_str());
        SetEnvironmentVariableA("CARVELUND_URL_LOG", log_.c_str());
    }
    ~UrlHandlerStandIn() {
        SetEnvironmentVariableA("CARVELUND_URL_LOG", nullptr);
        SetCurrentDirectoryA(previousFolder_.c_str());
        Platform().systemDirectory = previousSystemFolder_;
    }
    UrlHandlerStandIn(const UrlHandlerStandIn&) = delete;
    UrlHandlerStandIn& operator=(const UrlHandlerStandIn&) = delete;

    // The starts so far, in order: the program that ran and its command line.
    struct Start {
        std::string program;
        std::string commandLine;
    };
    std::vector<Start> Starts() const {
        std::vector<Start> starts;
        const std::string text = ContentOf(log_);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = text.substr(start, end - start);
            const size_t bar = line.find('|');
            starts.push_back({line.substr(0, bar), bar == std::string::npos ? "" : line.substr(bar + 1)});
        }
        return starts;
    }
    std::vector<std::string> CommandLines() const {
        std::vector<std::string> lines;
        for (const Start& s : Starts()) lines.push_back(s.commandLine);
        return lines;
    }
    bool AwaitStarts(size_t count) const {
        return WaitFor([&] { return Starts().size() >= count; });
    }
    std::string SystemHandler() const { return system_ / "runDLL32.exe"; }

private:
    static UINT WINAPI SystemFolder(LPSTR buffer, UINT size) {
        if (systemFolder_.size() >= size) return static_cast<UINT>(systemFolder_.size() + 1);
        lstrcpynA(buffer, systemFolder_.c_str(), static_cast<int>(size));
        return static_cast<UINT>(systemFolder_.size());
    }

    static inline std::string systemFolder_;
    TempDir logDir_, system_, current_;
    std::string log_;
    std::string previousFolder_;
    decltype(PlatformCalls::systemDirectory) previousSystemFolder_;
};

// A click on the window's own surface: above the memo, beside it, and below the link.
void ClickSurface(HWND window) { ClickAt(window, 126, 5); }

std::string LinkText(const TRegInfo& info) { return WindowText(info.lb_HomePage.Handle()); }

RECT ClientRectIn(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

LOGFONTA FontOf(HWND control) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

// The colours the window paints a control with, as the control itself asks for them.
struct Colours {
    COLORREF text;
    COLORREF background;
};
Colours ColoursOf(HWND form, HWND control) {
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageA(form, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    const Colours colours{GetTextColor(dc), GetBkColor(dc)};
    DeleteDC(dc);
    return colours;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

TEST(RegInfo, EditionAndShortcutFollowTheProgramNameIgnoringCase) {
    struct Case {
        const char* titlePath;
        const char* edition;
        const char* shortcut;
    };
    const Case cases[] = {
        {"C:\\Tools\\MARROWKEEP", "Marrowkeep", "C:\\Tools/Marrowkeep_HomePage.url"},
        {"C:\\Tools\\Marrowkeep", "Marrowkeep", "C:\\Tools/Marrowkeep_HomePage.url"},
        {"C:\\Tools\\marrowkeep", "Marrowkeep", "C:\\Tools/Marrowkeep_HomePage.url"},
        {"D:/apps/x/mArRoWkEeP", "Marrowkeep", "D:/apps/x/Marrowkeep_HomePage.url"},
        {"C:\\Tools\\Carvelund", "Carvelund", "C:\\Tools/Carvelund_HomePage.url"},
        {"C:\\Tools\\office", "Carvelund", "C:\\Tools/Carvelund_HomePage.url"},
        {"C:\\Tools\\Marrowkeeper", "Carvelund", "C:\\Tools/Carvelund_HomePage.url"},
        {"C:\\Tools\\Marrow", "Carvelund", "C:\\Tools/Carvelund_HomePage.url"},
        {"C:\\Marrowkeep\\Office", "Carvelund", "C:\\Marrowkeep/Carvelund_HomePage.url"},
        {"C:\\Tools\\", "Carvelund", "C:\\Tools/Carvelund_HomePage.url"},  // empty program name
    };
    TLogo logo;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.titlePath);
        TRegInfo info(&logo, c.titlePath);
        EXPECT_STREQ(info.EditionName.Str(), c.edition);
        EXPECT_STREQ(info.ShortcutPath.Str(), c.shortcut);
        EXPECT_EQ(LinkText(info), std::string(c.edition) + " home page");
    }
}

TEST(RegInfo, BorderlessPanelWithTheSupportTextAndTheLinkBelowIt) {
    TempDir dir;
    TLogo logo;
    TRegInfo info(&logo, (dir / "Carvelund").c_str());
    const HWND form = info.Handle();
    const HWND memo = info.m_Text.Handle();
    const HWND link = info.lb_HomePage.Handle();

    EXPECT_EQ(WindowText(form), "RegInfo");
    EXPECT_EQ(GetWindowLongA(form, GWL_STYLE) & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_SYSMENU), 0);
    RECT client, outer;
    GetClientRect(form, &client);
    GetWindowRect(form, &outer);
    EXPECT_EQ(client.right, 252);
    EXPECT_EQ(client.bottom, 410);
    EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((outer.top + outer.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

    const RECT memoAt = ClientRectIn(form, memo);
    EXPECT_EQ(memoAt.left, 9);
    EXPECT_EQ(memoAt.top, 14);
    EXPECT_EQ(memoAt.right - memoAt.left, 233);
    EXPECT_EQ(memoAt.bottom - memoAt.top, 363);
    const LONG memoStyle = GetWindowLongA(memo, GWL_STYLE);
    EXPECT_EQ(memoStyle & (ES_MULTILINE | ES_READONLY | ES_CENTER), ES_MULTILINE | ES_READONLY | ES_CENTER);
    EXPECT_EQ(memoStyle & WS_BORDER, 0);
    EXPECT_EQ(GetWindowLongA(memo, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_EQ(GetNextDlgTabItem(form, nullptr, FALSE), memo);  // first in tab order
    EXPECT_EQ(FontOf(memo).lfHeight, -13);
    EXPECT_EQ(ColoursOf(form, memo).background, GetSysColor(COLOR_INFOBK));

    const RECT linkAt = ClientRectIn(form, link);
    EXPECT_EQ(linkAt.left, 0);
    EXPECT_EQ(linkAt.top, 384);
    EXPECT_EQ(linkAt.right, 252);
    EXPECT_EQ(linkAt.bottom - linkAt.top, 17);
    EXPECT_EQ(GetWindowLongA(link, GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
    const LOGFONTA linkFont = FontOf(link);
    EXPECT_EQ(linkFont.lfHeight, -11);
    EXPECT_TRUE(linkFont.lfUnderline);
    const Colours linkColours = ColoursOf(form, link);
    EXPECT_EQ(linkColours.text, RGB(0, 0, 255));
    EXPECT_EQ(linkColours.background, GetSysColor(COLOR_INFOBK));
    EXPECT_EQ(HintOf(form, link), "Click here for homepage");

    // 22 lines, none wider than the memo (it would wrap them into more), all in view.
    const std::string text = WindowText(memo);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines.back(), "Double-Click closes this window");
    EXPECT_EQ(SendMessageA(memo, EM_GETLINECOUNT, 0, 0), 22);
    EXPECT_NE(text.find("http://carvelund.example.org/"), std::string::npos);
    EXPECT_NE(text.find('@'), text.rfind('@')) << "two e-mail addresses";
    const LRESULT lastLineStart = SendMessageA(memo, EM_LINEINDEX, 21, 0);
    const LRESULT at = SendMessageA(memo, EM_POSFROMCHAR, lastLineStart, 0);
    HDC dc = GetDC(memo);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(memo, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(memo, dc);
    RECT memoClient;
    GetClientRect(memo, &memoClient);
    EXPECT_LE(static_cast<short>(HIWORD(at)) + metrics.tmHeight, memoClient.bottom) << "last line cut off";

    // Shown, for a look at the layout; a double-click in the memo then closes it.
    std::atomic<bool> saved{false}, ownerDisabled{false};
    {
        User user([&](HWND window) {
            ownerDisabled = !IsWindowEnabled(logo.Handle());
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            saved = SaveScreenshot(window, "RegInfo");
            DoubleClick(memo);
            EXPECT_TRUE(AwaitGone(window));
        });
        info.ShowModal();
    }
    EXPECT_TRUE(saved);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(logo.Handle()));
}

// The link writes exactly the two lines, leaves only the archive attribute, and keeps
// the window open; nothing else appears beside the program.
TEST(RegInfo, LinkWritesTheShortcutOfEachEdition) {
    struct Case {
        const char* programName;
        const char* edition;
    };
    for (const Case& c : {Case{"MARROWKEEP", "Marrowkeep"}, Case{"office", "Carvelund"}}) {
        SCOPED_TRACE(c.programName);
        TempDir dir;
        const std::string shortcut = dir / (std::string(c.edition) + "_HomePage.url");
        TLogo logo;
        TRegInfo info(&logo, (dir / c.programName).c_str());
        std::atomic<bool> written{false}, stayedOpen{false}, closed{false};
        {
            User user([&](HWND window) {
                Click(info.lb_HomePage.Handle());
                written = AwaitContent(shortcut, ShortcutContent(c.edition));
                stayedOpen = IsWindowVisible(window) != FALSE;
                ClickSurface(window);
                closed = AwaitGone(window);
            });
            info.ShowModal();
        }
        EXPECT_TRUE(written);
        EXPECT_TRUE(stayedOpen);
        EXPECT_TRUE(closed);
        EXPECT_EQ(ContentOf(shortcut), ShortcutContent(c.edition));
        EXPECT_EQ(Attributes(shortcut) & kAttributeMask, 0u);
        const std::vector<TreeEntry> beside = ListTree(dir.Path());
        ASSERT_EQ(beside.size(), 1u);
        EXPECT_EQ(beside[0].relative, std::string(c.edition) + "_HomePage.url");  // the name's letter case too
    }
}

// A shortcut left read-only, hidden or system from before is rewritten all the same.
// (Under Wine as root a read-only file can be written anyway; on Windows it cannot.)
TEST(RegInfo, LinkReplacesAnEarlierLongerShortcutWhateverItsAttributes) {
    for (DWORD attributes : {DWORD{FILE_ATTRIBUTE_READONLY}, DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
                             DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN}}) {
        SCOPED_TRACE(attributes);
        TempDir dir;
        const std::string shortcut = dir / "Carvelund_HomePage.url";
        WriteFile(shortcut,
                  "[InternetShortcut]\r\nURL=http://old.example.net/a/much/longer/address/than/today\r\n"
                  "IconIndex=3\r\nHotKey=0\r\n");
        ASSERT_TRUE(SetFileAttributesA(shortcut.c_str(), attributes));
        ASSERT_EQ(Attributes(shortcut) & kAttributeMask, attributes)
            << "this file system keeps no hidden or system attribute";
        UrlHandlerStandIn handler;
        TLogo logo;
        TRegInfo info(&logo, (dir / "Carvelund").c_str());
        std::atomic<bool> written{false};
        {
            User user([&](HWND window) {
                Click(info.lb_HomePage.Handle());
                written = AwaitContent(shortcut, ShortcutContent("Carvelund")) && handler.AwaitStarts(1);
                ClickSurface(window);
                AwaitGone(window);
            });
            info.ShowModal();
        }
        EXPECT_TRUE(written);
        EXPECT_EQ(ContentOf(shortcut), ShortcutContent("Carvelund"));
        EXPECT_EQ(Attributes(shortcut) & kAttributeMask, 0u);
    }
}

// Each click writes the file anew and hands it to the URL handler again.
TEST(RegInfo, EveryClickOnTheLinkWritesTheFileAndStartsTheUrlHandler) {
    TempDir dir;
    const std::string shortcut = dir / "Marrowkeep_HomePage.url";
    UrlHandlerStandIn handler;
    TLogo logo;
    TRegInfo info(&logo, (dir / "Marrowkeep").c_str());
    std::atomic<bool> first{false}, removed{false}, second{false}, stayedOpen{false};
    {
        User user([&](HWND window) {
            Click(info.lb_HomePage.Handle());
            first = AwaitContent(shortcut, ShortcutContent("Marrowkeep")) && handler.AwaitStarts(1);
            removed = DeleteFileA(shortcut.c_str()) != FALSE;
            Click(info.lb_HomePage.Handle());
            second = AwaitContent(shortcut, ShortcutContent("Marrowkeep")) && handler.AwaitStarts(2);
            stayedOpen = IsWindowVisible(window) != FALSE;
            ClickSurface(window);
            AwaitGone(window);
        });
        info.ShowModal();
    }
    EXPECT_TRUE(first);
    EXPECT_TRUE(removed);
    EXPECT_TRUE(second);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(Attributes(shortcut) & kAttributeMask, 0u);
    const std::string commandLine = "runDLL32.exe url.dll,OpenURL " + dir.Path() + "/Marrowkeep_HomePage.url";
    EXPECT_EQ(handler.CommandLines(), (std::vector<std::string>{commandLine, commandLine}));
    // From the system folder, by its full path: never the runDLL32.exe in the current folder.
    for (const auto& start : handler.Starts()) EXPECT_EQ(start.program, handler.SystemHandler());
}

// Root ignores read-only folders and files under Wine, so the file is made impossible
// to write other ways: its folder is missing, a folder has its name, or another program
// holds it open. The user is told which file and why; no browser is started.
TEST(RegInfo, LinkTellsTheUserWhenTheShortcutCannotBeWritten) {
    struct Case {
        const char* name;
        std::function<std::string(const TempDir&)> prepare;  // gives the title path
        const char* error;
        std::function<void(const TempDir&)> unchanged;
    };
    KernelHandle held;
    const Case cases[] = {
        {"missing folder", [](const TempDir& d) { return d / "gone\\Carvelund"; }, "ERROR PATH NOT FOUND",
         [](const TempDir& d) { EXPECT_FALSE(Exists(d / "gone")); }},
        {"a folder in the file's place",
         [](const TempDir& d) {
             MakeFolder(d / "Carvelund_HomePage.url");
             return d / "Carvelund";
         },
         "ERROR ACCESS DENIED",
         [](const TempDir& d) {
             EXPECT_TRUE(IsFolder(d / "Carvelund_HomePage.url"));
             EXPECT_EQ(ListTree(d.Path()).size(), 1u);
         }},
        {"held open by another program",
         [&held](const TempDir& d) {
             WriteFile(d / "Carvelund_HomePage.url", "kept");
             SetFileAttributesA((d / "Carvelund_HomePage.url").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
             held.Reset(CreateFileA((d / "Carvelund_HomePage.url").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    0, nullptr));
             EXPECT_TRUE(held);
             return d / "Carvelund";
         },
         "ERROR SHARING VIOLATION",
         [&held](const TempDir& d) {
             held.Reset();
             EXPECT_EQ(ContentOf(d / "Carvelund_HomePage.url"), "kept");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string titlePath = c.prepare(dir);
        UrlHandlerStandIn handler;
        TLogo logo;
        TRegInfo info(&logo, titlePath.c_str());
        MessageBoxSeen box;
        std::atomic<bool> closedByTheSurfaceClick{false};
        {
            User user([&](HWND window) {
                Click(info.lb_HomePage.Handle());
                box = AwaitMessageBox("Home Page Link", GetCurrentProcessId());
                if (box.window) {
                    PressButton(box.window, "OK");
                    AwaitGone(box.window);
                }
                ClickSurface(window);
                closedByTheSurfaceClick = AwaitGone(window);
            });
            info.ShowModal();
        }
        EXPECT_EQ(box.owner, info.Handle());
        EXPECT_EQ(box.text, "Can't write " + std::string(info.ShortcutPath.Str()) + " : " + c.error);
        EXPECT_TRUE(closedByTheSurfaceClick);
        c.unchanged(dir);
        EXPECT_TRUE(handler.Starts().empty()) << "no URL handler without a shortcut";
    }
}

// A single click in the memo leaves the window open; a double-click there closes it.
TEST(RegInfo, MemoClosesOnADoubleClickOnly) {
    TempDir dir;
    const std::string shortcut = dir / "Carvelund_HomePage.url";
    TLogo logo;
    TRegInfo info(&logo, (dir / "Carvelund").c_str());
    std::atomic<bool> openAfterClick{false}, closedByDoubleClick{false};
    {
        User user([&](HWND window) {
            Click(info.m_Text.Handle());
            // The link's click is served after the memo's: once the file is there,
            // the memo's click has been handled.
            Click(info.lb_HomePage.Handle());
            openAfterClick = AwaitContent(shortcut, ShortcutContent("Carvelund")) && IsWindowVisible(window);
            DoubleClick(info.m_Text.Handle());
            closedByDoubleClick = AwaitGone(window);
        });
        info.ShowModal();
    }
    EXPECT_TRUE(openAfterClick);
    EXPECT_TRUE(closedByDoubleClick);
}

TEST(RegInfo, AClickOnTheBareSurfaceClosesIt) {
    const POINT places[] = {{3, 3}, {126, 5}, {247, 200}, {126, 380}, {5, 406}};
    TempDir dir;
    TLogo logo;
    for (const POINT& p : places) {
        SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
        TRegInfo info(&logo, (dir / "Carvelund").c_str());
        std::atomic<bool> closed{false};
        {
            User user([&](HWND window) {
                ClickAt(window, p.x, p.y);
                closed = AwaitGone(window);
            });
            info.ShowModal();
        }
        EXPECT_TRUE(closed);
    }
    EXPECT_EQ(ListTree(dir.Path()).size(), 0u) << "no click reached the link";
}

// The title's click: the window opens over the title window with its title path,
// and is gone once closed.
TEST(RegInfo, ShowRegInfoOpensTheWindowForTheTitleWindowAndDestroysIt) {
    TempDir dir;
    const std::string shortcut = dir / "Marrowkeep_HomePage.url";
    TLogo logo;
    logo.TitlePath.Reset(ConcatText((dir / "MARROWKEEP").c_str()));
    std::atomic<HWND> shown{nullptr};
    std::atomic<bool> owned{false}, ownerDisabled{false}, written{false};
    std::string linkText;
    {
        User user([&](HWND window) {
            shown = window;
            owned = GetWindow(window, GW_OWNER) == logo.Handle();
            ownerDisabled = !IsWindowEnabled(logo.Handle());
            HWND link = FindChild(window, "Static", nullptr);
            linkText = link ? WindowText(link) : "";
            if (link) Click(link);
            written = AwaitContent(shortcut, ShortcutContent("Marrowkeep"));
            ClickSurface(window);
            AwaitGone(window);
        });
        ShowRegInfo(logo, logo.TitlePath.Str());
    }
    EXPECT_TRUE(owned);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_EQ(linkText, "Marrowkeep home page");
    EXPECT_TRUE(written);
    ASSERT_NE(shown.load(), nullptr);
    EXPECT_FALSE(IsWindow(shown.load()));
    EXPECT_TRUE(IsWindowEnabled(logo.Handle()));
}

}  // namespace
