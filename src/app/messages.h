#pragma once
// Messages that workers post to the main window; wParam carries an id, never a pointer.
#include <windows.h>

constexpr UINT WM_QB_REFRESH = WM_APP + 1;          // a download task changed; wParam 0
constexpr UINT WM_QB_DOWNLOAD_DONE = WM_APP + 2;    // wParam: task id (the app id)
constexpr UINT WM_QB_ICON_READY = WM_APP + 3;       // wParam: app id
constexpr UINT WM_QB_CATALOG_LOADED = WM_APP + 4;   // wParam: 1 success, 0 failure
constexpr UINT WM_QB_DOWNLOAD_FAILED = WM_APP + 5;  // wParam: task id

constexpr UINT_PTR kSpeedTimerId = 1;       // 500 ms speed sampling and periodic repaint
constexpr UINT_PTR kPageRepeatTimerId = 2;  // repeats page-wise scrolling while a track is held
