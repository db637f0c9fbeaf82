#include "support/MessageBoxes.h"

#include "shell/Wintools.h"

#include <stdexcept>

namespace testsupport {

namespace {

constexpr int kMessageTextId = 0xFFFF;  // the static that holds a message box's text
constexpr DWORD kPoll = 10;

struct BoxSearch {
    DWORD processId;
    HWND found;
};

// A message box is a visible dialog with the message-text static; this keeps other
// dialogs of the process (a folder chooser, say) out of the watcher's hands.
BOOL CALLBACK MatchBox(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<BoxSearch*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->processId || !IsWindowVisible(hwnd)) return TRUE;
    char cls[64];
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || !GetDlgItem(hwnd, kMessageTextId)) return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND FindMessageBox() {
    BoxSearch search{GetCurrentProcessId(), nullptr};
    EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Gone(HWND box) { return !IsWindow(box) || !IsWindowVisible(box); }

MessageBoxCalls* activeCalls = nullptr;
std::mutex activeCallsMutex;

}  // namespace

MessageBoxWatcher::MessageBoxWatcher(const char* button) : button_(button ? button : "OK") {
    thread_ = std::thread([this] { Run(); });
}

MessageBoxWatcher::~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
}

void MessageBoxWatcher::Run() {
    while (!stop_) {
        HWND box = FindMessageBox();
        if (!box) {
            Sleep(kPoll);
            continue;
        }
        MessageBoxSeen seen;
        seen.window = box;
        seen.owner = GetWindow(box, GW_OWNER);
        seen.caption = WindowText(box);
        seen.text = WindowText(GetDlgItem(box, kMessageTextId));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(seen);
        }
        Close(box);
    }
}

// Presses the button; a click may be lost while the box is not yet active, so it is
// repeated, and in the end the box gets the command its button would have sent.
void MessageBoxWatcher::Close(HWND box) {
    HWND button = FindChild(box, "Button", button_.c_str());
    const DWORD start = GetTickCount();
    DWORD lastPress = 0;
    bool pressed = false;
    while (!Gone(box)) {
        const DWORD now = GetTickCount();
        if (now - start > kPatience) {
            std::lock_guard<std::mutex> lock(mutex_);
            stuck_ = WindowText(box);
            // Leave it to the test's time-out rather than hang here.
            PostMessageA(box, WM_CLOSE, 0, 0);
            return;
        }
        if (!pressed || now - lastPress > 1000) {
            if (button && now - start < 3000) {
                PostMessageA(button, BM_CLICK, 0, 0);
            } else {
                const int id = button ? GetDlgCtrlID(button) : IDOK;
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            }
            pressed = true;
            lastPress = now;
        }
        Sleep(kPoll);
    }
}

std::vector<MessageBoxSeen> MessageBoxWatcher::Seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

std::vector<std::pair<std::string, std::string>> MessageBoxWatcher::CaptionsAndTexts() const {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& s : Seen()) pairs.emplace_back(s.caption, s.text);
    return pairs;
}

size_t MessageBoxWatcher::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_.size();
}

bool MessageBoxWatcher::WaitForCount(size_t count, DWORD timeoutMs) const {
    const DWORD start = GetTickCount();
    while (Count() < count) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(kPoll);
    }
    return true;
}

void MessageBoxWatcher::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.clear();
}

std::string MessageBoxWatcher::Stuck() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stuck_;
}

MessageBoxCalls::MessageBoxCalls() {
    std::lock_guard<std::mutex> lock(activeCallsMutex);
    if (activeCalls) throw std::logic_error("one MessageBoxCalls at a time");
    activeCalls = this;
    previous_ = Platform().messageBox;
    Platform().messageBox = Record;
}

MessageBoxCalls::~MessageBoxCalls() {
    std::lock_guard<std::mutex> lock(activeCallsMutex);
    Platform().messageBox = previous_;
    activeCalls = nullptr;
}

int WINAPI MessageBoxCalls::Record(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    MessageBoxCalls* self;
    {
        std::lock_guard<std::mutex> lock(activeCallsMutex);
        self = activeCalls;
    }
    const int result = MessageBoxA(owner, text, caption, style);
    if (self) {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->calls_.push_back({owner, caption ? caption : "", text ? text : "", style, result});
    }
    return result;
}

std::vector<MessageBoxCall> MessageBoxCalls::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

}  // namespace testsupport
