// Acting on real windows as a user would, and waiting for what follows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

constexpr DWORD kPatience = 30000;  // generous: Wine on a loaded CI machine is slow

// Pumps this thread's messages until `condition` holds or the time runs out.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kPatience);

// The same from a thread that does not own the windows: it only looks, every 10 ms.
bool AwaitCondition(const std::function<bool()>& condition, DWORD timeoutMs = kPatience);

// A visible top-level window of this class and/or caption (either may be null).
HWND FindTopWindow(const char* className, const char* caption, DWORD processId = 0);
HWND WaitForTopWindow(const char* className, const char* caption, DWORD processId = 0,
                      DWORD timeoutMs = kPatience);
// Waits from a thread that does not own the windows (no message pumping).
HWND AwaitTopWindow(const char* className, const char* caption, DWORD processId = 0,
                    DWORD timeoutMs = kPatience);
bool AwaitGone(HWND window, DWORD timeoutMs = kPatience);

std::string WindowText(HWND window);
HWND FindChild(HWND parent, const char* className, const char* text);  // first match, text may be null

// User actions. They may be called from any thread.
void ClickAt(HWND window, int x, int y, bool doubleClick = false);  // client coordinates
void Click(HWND window);                                           // the centre
void DoubleClick(HWND window);
void PressKey(HWND window, WORD virtualKey);  // key down and up while `window` has the focus
void TypeText(HWND window, const std::string& text);
void FocusWindow(HWND window);
// The window that has the keyboard focus in the thread that owns `window`.
HWND FocusOf(HWND window);
bool AwaitFocus(HWND control, DWORD timeoutMs = kPatience);
// The user switches to another program's window and back to `window`'s: a top-level
// window of the calling thread is activated until `window`'s thread has lost the focus,
// then `window` is activated again until its thread has a focus again. False when
// either switch was not seen.
bool SwitchAwayAndBack(HWND window, DWORD timeoutMs = kPatience);

// A message box shown by this program or another: its caption, text and OK.
struct MessageBoxSeen {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
};
MessageBoxSeen AwaitMessageBox(const char* caption = nullptr, DWORD processId = 0, DWORD timeoutMs = kPatience);
void PressButton(HWND dialog, const char* buttonText);  // e.g. "OK", "&Yes"

// Selects `folder` in the platform's folder chooser where a user would click through the
// tree, until the tree shows it selected: the chooser may still be filling its tree when
// it appears, and an early selection is lost then.
bool SelectInFolderChooser(HWND chooser, const std::string& folder);

// The hint the form's tooltips give for `tool` (a control, or the form itself):
// "<no tooltips>" when the form has none, "<no hint>" when the tool has none.
std::string HintOf(HWND form, HWND tool);

// Saves a PNG of the screen area of `window` into the build folder's screenshots.
bool SaveScreenshot(HWND window, const std::string& name);

}  // namespace testsupport
