#pragma once
// The small "下载设置" window that changes the download folder.
#include <windows.h>

inline constexpr wchar_t kSettingsWindowClass[] = L"QBSettings";

void openSettingsWindow();
LRESULT CALLBACK SettingsWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
