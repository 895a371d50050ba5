#pragma once
// The main window: one custom-drawn surface whose procedure is the program's event hub.
#include <windows.h>

inline constexpr wchar_t kMainWindowClass[] = L"QBMainWnd";

// How long a closing program (or an ending Windows session) waits for its transfers to record where
// they stopped.
inline constexpr DWORD kExitPauseMs = 2000;

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// Invalidates the whole client area without erasing; painting happens in WM_PAINT.
void repaintMainWindow();

// The twice-a-second tick that samples speeds and repaints moving rows. It runs while the window is
// shown: a hidden window stops it at its next tick, and showing the window starts it again.
void startSpeedTimer(HWND hwnd);
