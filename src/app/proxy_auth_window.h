#pragma once
// The proxy's question for a user name and password: a worker's 407 travels by id to the window thread,
// which shows one small window in the settings window's look and answers by the same id. The worker
// waits for the answer, or for its cancel.
#include <windows.h>

#include <cstdint>

inline constexpr wchar_t kProxyAuthWindowClass[] = L"QBProxyAuth";

enum ProxyAuthControlId : int {
    kProxyAuthCancelId = 1,
    kProxyAuthOkId = 2,
    kProxyAuthUserId = 101,
    kProxyAuthPasswordId = 102,
    kProxyAuthRememberId = 103,  // a switch; its window text is "1" when on
};

// Lets workers ask through this program's windows from now on; their questions go to `window` (the main
// window) by WM_QB_PROXY_AUTH once it is given. nullptr: no window any more, every question is answered
// at once with "no window".
void installProxyQuestions();
void setProxyQuestionWindow(HWND window);
// WM_QB_PROXY_AUTH on the main window: shows the question `id` unless it is answered or withdrawn.
LRESULT onProxyAuthAsked(HWND main, uint32_t id);
// The main window is shown: questions that waited while it was hidden in the tray are asked now.
void askWaitingProxyQuestions(HWND main);
// Keyboard handling of the open login window for the message loop; true when consumed.
bool proxyAuthDialogMessage(MSG* msg);
