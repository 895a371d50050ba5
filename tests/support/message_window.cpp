#include "support/message_window.h"

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

bool MessageWindow::takePosted(UINT message, WPARAM* wParam) {
    MSG msg{};
    if (!::PeekMessageW(&msg, window_, message, message, PM_REMOVE)) return false;
    if (wParam) *wParam = msg.wParam;
    return true;
}

bool MessageWindow::waitFor(UINT message, DWORD timeoutMs, WPARAM* wParam, LPARAM* lParam) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg{};
        if (::PeekMessageW(&msg, window_, message, message, PM_REMOVE)) {
            if (wParam) *wParam = msg.wParam;
            if (lParam) *lParam = msg.lParam;
            return true;
        }
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        // Short slices: a wake-up missed by the queue-status bookkeeping costs at most one of them.
        const DWORD slice = static_cast<DWORD>(deadline - now < 100 ? deadline - now : 100);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_POSTMESSAGE);
    }
}

}  // namespace qbtest
