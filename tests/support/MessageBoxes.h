// Message boxes as a user meets them: seen, read and closed with OK.
#pragma once

#include "support/Gui.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// While it lives, a background thread finds the message boxes of this process as they
// appear, records owner, caption and text in order, and presses the box's OK button.
// Boxes are modal, so once the code that showed them returns, Seen() holds them all.
//
//   MessageBoxWatcher boxes;
//   EXPECT_FALSE(DoSomethingThatFails());
//   EXPECT_EQ(boxes.CaptionsAndTexts(), (Boxes{{"Copying", "User aborted copy"}}));
class MessageBoxWatcher {
public:
    // `button`: the caption of the button to press, "OK" for the usual error box.
    explicit MessageBoxWatcher(const char* button = "OK");
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    std::vector<MessageBoxSeen> Seen() const;
    std::vector<std::pair<std::string, std::string>> CaptionsAndTexts() const;
    size_t Count() const;
    // For boxes shown by another thread or process: waits until `count` boxes were seen.
    bool WaitForCount(size_t count, DWORD timeoutMs = kPatience) const;
    void Clear();
    // A box that would not close: its caption (empty when all closed).
    std::string Stuck() const;

private:
    void Run();
    void Close(HWND box);

    std::string button_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<MessageBoxSeen> seen_;
    std::string stuck_;
    std::thread thread_;
};

using Boxes = std::vector<std::pair<std::string, std::string>>;

// Records each call of Platform().messageBox, style included, and calls through to the
// real MessageBoxA, so a MessageBoxWatcher still sees and closes the box. One at a time;
// the previous function is put back on destruction.
struct MessageBoxCall {
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    UINT style = 0;
    int result = 0;
};

class MessageBoxCalls {
public:
    MessageBoxCalls();
    ~MessageBoxCalls();
    MessageBoxCalls(const MessageBoxCalls&) = delete;
    MessageBoxCalls& operator=(const MessageBoxCalls&) = delete;

    std::vector<MessageBoxCall> Calls() const;

private:
    static int WINAPI Record(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

    int(WINAPI* previous_)(HWND, LPCSTR, LPCSTR, UINT);
    mutable std::mutex mutex_;
    std::vector<MessageBoxCall> calls_;
};

}  // namespace testsupport
