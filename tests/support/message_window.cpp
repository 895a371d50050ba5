#include "support/message_window.h"

#include "support/test_support.h"

namespace qbtest {

namespace {

constexpr wchar_t kClassName[] = L"QBTestMessageWindow";

void registerClassOnce() {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClassName;
        return ::RegisterClassW(&windowClass) != 0;
    }();
    (void)registered;
}

}  // namespace

MessageWindow::MessageWindow() {
    registerClassOnce();
    window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ::GetModuleHandleW(nullptr),
                                nullptr);
}

MessageWindow::~MessageWindow() {
    if (window_) ::DestroyWindow(window_);
}

bool MessageWindow::takePosted(UINT message, WPARAM* wParam, LPARAM* lParam) {
    MSG msg{};
    if (!::PeekMessageW(&msg, window_, message, message, PM_REMOVE)) return false;
    if (wParam) *wParam = msg.wParam;
    if (lParam) *lParam = msg.lParam;
    return true;
}

bool MessageWindow::waitFor(UINT message, DWORD timeoutMs, WPARAM* wParam, LPARAM* lParam) {
    return waitUntil([&] { return takePosted(message, wParam, lParam); }, timeoutMs);
}

}  // namespace qbtest
