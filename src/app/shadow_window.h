#pragma once
// The layered, click-through window that draws the main window's drop shadow.
#include <windows.h>

inline constexpr wchar_t kShadowWindowClass[] = L"QBShadow";

void createShadowWindow(HWND main);
void updateShadow(HWND main);
LRESULT CALLBACK ShadowWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
