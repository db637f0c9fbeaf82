#include "support/Gui.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdint>
#include <fstream>
#include <vector>

namespace testsupport {

namespace {

struct FindArgs {
    const char* className;
    const char* caption;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchTop(HWND hwnd, LPARAM lp) {
    auto* a = reinterpret_cast<FindArgs*>(lp);
    if (!IsWindowVisible(hwnd)) return TRUE;
    if (a->processId) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != a->processId) return TRUE;
    }
    char buffer[512];
    if (a->className) {
        GetClassNameA(hwnd, buffer, sizeof buffer);
        if (lstrcmpiA(buffer, a->className) != 0) return TRUE;
    }
    if (a->caption) {
        GetWindowTextA(hwnd, buffer, sizeof buffer);
        if (lstrcmpA(buffer, a->caption) != 0) return TRUE;
    }
    a->found = hwnd;
    return FALSE;
}

struct ChildArgs {
    const char* className;
    const char* text;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND hwnd, LPARAM lp) {
    auto* a = reinterpret_cast<ChildArgs*>(lp);
    char buffer[1024];
    GetClassNameA(hwnd, buffer, sizeof buffer);
    if (a->className && lstrcmpiA(buffer, a->className) != 0) return TRUE;
    if (a->text && WindowText(hwnd) != a->text) return TRUE;
    a->found = hwnd;
    return FALSE;
}

// Input goes through the thread that owns the window, as the system's own input would.
void PostMouse(HWND window, UINT down, UINT up, int x, int y) {
    const LPARAM at = MAKELPARAM(x, y);
    PostMessageA(window, WM_MOUSEMOVE, 0, at);
    PostMessageA(window, down, MK_LBUTTON, at);
    PostMessageA(window, up, 0, at);
}

// ---- A small PNG writer: stored (uncompressed) deflate blocks. ----
uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBe32(out, Crc32(body.data(), body.size()));
}

std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgbRows) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBe32(header, width);
    PutBe32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});
    PutChunk(png, "IHDR", header);
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (size_t pos = 0; pos < rgbRows.size() || pos == 0;) {
        const size_t n = std::min<size_t>(65535, rgbRows.size() - pos);
        const bool last = pos + n >= rgbRows.size();
        z.push_back(last ? 1 : 0);
        z.push_back(n & 0xFF);
        z.push_back(n >> 8);
        z.push_back(~n & 0xFF);
        z.push_back((~n >> 8) & 0xFF);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t byte = rgbRows[pos + i];
            z.push_back(byte);
            a = (a + byte) % 65521;
            b = (b + a) % 65521;
        }
        pos += n;
        if (last) break;
    }
    PutBe32(z, (b << 16) | a);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    return png;
}

}  // namespace

bool AwaitCondition(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return condition();
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

HWND FindTopWindow(const char* className, const char* caption, DWORD processId) {
    FindArgs args{className, caption, processId, nullptr};
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

HWND WaitForTopWindow(const char* className, const char* caption, DWORD processId, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopWindow(className, caption, processId)) != nullptr; }, timeoutMs);
    return found;
}

HWND AwaitTopWindow(const char* className, const char* caption, DWORD processId, DWORD timeoutMs) {
    HWND found = nullptr;
    AwaitCondition([&] { return (found = FindTopWindow(className, caption, processId)) != nullptr; }, timeoutMs);
    return found;
}

bool AwaitGone(HWND window, DWORD timeoutMs) {
    return AwaitCondition([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

// WM_GETTEXT, not GetWindowText: across processes the latter does not ask the control,
// and an edit box keeps its text to itself.
std::string WindowText(HWND window) {
    char buffer[4096] = "";
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL,
                             kPatience, &copied))
        return "";
    return std::string(buffer, copied);
}

HWND FindChild(HWND parent, const char* className, const char* text) {
    ChildArgs args{className, text, nullptr};
    EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

void ClickAt(HWND window, int x, int y, bool doubleClick) {
    PostMouse(window, WM_LBUTTONDOWN, WM_LBUTTONUP, x, y);
    if (doubleClick) PostMouse(window, WM_LBUTTONDBLCLK, WM_LBUTTONUP, x, y);
}

void Click(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    ClickAt(window, r.right / 2, r.bottom / 2);
}

void DoubleClick(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    ClickAt(window, r.right / 2, r.bottom / 2, true);
}

void PressKey(HWND window, WORD virtualKey) {
    const UINT scan = MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
    PostMessageA(window, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    PostMessageA(window, WM_KEYUP, virtualKey, 1 | (scan << 16) | (3u << 30));
}

void TypeText(HWND window, const std::string& text) {
    for (unsigned char c : text) PostMessageA(window, WM_CHAR, c, 1);
}

void FocusWindow(HWND window) {
    DWORD pid = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &pid);
    if (thread == GetCurrentThreadId()) {
        SetFocus(window);
        return;
    }
    AttachThreadInput(GetCurrentThreadId(), thread, TRUE);
    SetFocus(window);
    AttachThreadInput(GetCurrentThreadId(), thread, FALSE);
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool AwaitFocus(HWND control, DWORD timeoutMs) {
    return AwaitCondition([&] { return FocusOf(control) == control; }, timeoutMs);
}

bool SwitchAwayAndBack(HWND window, DWORD timeoutMs) {
    HWND other = CreateWindowExA(0, "STATIC", "Another program", WS_POPUP | WS_VISIBLE | WS_BORDER, 0, 0, 200, 50,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!other) return false;
    SetForegroundWindow(other);
    SetActiveWindow(other);
    const bool away = AwaitCondition([&] { return GetForegroundWindow() == other && !FocusOf(window); }, timeoutMs);
    SetForegroundWindow(window);
    const bool back = AwaitCondition([&] { return GetForegroundWindow() == window && FocusOf(window); }, timeoutMs);
    DestroyWindow(other);
    return away && back;
}

MessageBoxSeen AwaitMessageBox(const char* caption, DWORD processId, DWORD timeoutMs) {
    MessageBoxSeen seen;
    seen.window = AwaitTopWindow("#32770", caption, processId, timeoutMs);
    if (!seen.window) return seen;
    seen.owner = GetWindow(seen.window, GW_OWNER);
    seen.caption = WindowText(seen.window);
    if (HWND text = GetDlgItem(seen.window, 0xFFFF)) seen.text = WindowText(text);
    return seen;
}

void PressButton(HWND dialog, const char* buttonText) {
    if (HWND button = FindChild(dialog, "Button", buttonText)) PostMessageA(button, BM_CLICK, 0, 0);
}

namespace {

std::string SelectedTreeItem(HWND tree) {
    char text[MAX_PATH] = "";
    TVITEMA item{};
    item.mask = TVIF_TEXT;
    item.hItem = TreeView_GetSelection(tree);
    item.pszText = text;
    item.cchTextMax = sizeof text;
    if (!item.hItem || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return "";
    return text;
}

}  // namespace

bool SelectInFolderChooser(HWND chooser, const std::string& folder) {
    HWND tree = FindChild(chooser, WC_TREEVIEWA, nullptr);
    if (!tree) return false;
    const std::string name = folder.substr(folder.find_last_of("\\/") + 1);
    return WaitFor([&] {
        SendMessageA(chooser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
        return lstrcmpiA(SelectedTreeItem(tree).c_str(), name.c_str()) == 0;
    });
}

std::string HintOf(HWND form, HWND tool) {
    HWND tips = nullptr;
    for (HWND w = FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr); w && !tips;
         w = FindWindowExA(nullptr, w, TOOLTIPS_CLASSA, nullptr))
        if (GetWindow(w, GW_OWNER) == form) tips = w;
    if (!tips) return "<no tooltips>";
    char text[256] = "";
    TOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.hwnd = form;
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = text;
    if (!SendMessageA(tips, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&info))) return "<no hint>";
    SendMessageA(tips, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&info));
    return text;
}

bool SaveScreenshot(HWND window, const std::string& name) {
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> rows;
    rows.reserve(static_cast<size_t>(h) * (w * 3 + 1));
    const auto* px = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < h; ++y) {
        rows.push_back(0);
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = px + (static_cast<size_t>(y) * w + x) * 4;
            rows.insert(rows.end(), {p[2], p[1], p[0]});
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    char dir[MAX_PATH] = "screenshots";
    if (const char* build = getenv("CARVELUND_BUILD_DIR")) {
        // The build folder is a Unix path; Wine maps it on drive Z:.
        snprintf(dir, sizeof dir, "Z:%s/screenshots", build);
    }
    CreateDirectoryA(dir, nullptr);
    const auto png = EncodePng(w, h, rows);
    std::ofstream out(std::string(dir) + "/" + name + ".png", std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return static_cast<bool>(out);
}

}  // namespace testsupport
