#pragma once
// A message-only window on the test thread that collects what workers post to "the main window".
#include <windows.h>

namespace qbtest {

class MessageWindow {
public:
    MessageWindow();
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND handle() const { return window_; }
    // Waits until `message` has been posted to the window; false after timeoutMs without it.
    bool waitFor(UINT message, DWORD timeoutMs, WPARAM* wParam = nullptr, LPARAM* lParam = nullptr);
    // Takes an already posted `message` without waiting; false when none is queued.
    bool takePosted(UINT message, WPARAM* wParam = nullptr, LPARAM* lParam = nullptr);

private:
    HWND window_ = nullptr;
};

}  // namespace qbtest
