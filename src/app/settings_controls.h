#pragma once
// The settings window's drawn controls: the segmented choices (同时连接数 1 to 8; 代理 系统, 不使用 and
// 手动) and the on/off switches. Each keeps its value in its window text.
#include <windows.h>

#include "access/control_object.h"
#include "base/dpi_scale.h"
#include "model/app_state.h"

inline constexpr wchar_t kChoiceClass[] = L"QBChoice";
inline constexpr wchar_t kProxyChoiceClass[] = L"QBProxyChoice";
inline constexpr wchar_t kSwitchClass[] = L"QBSwitch";
// The pointer's hover on a drawn control or button: 0 for none, else the segment or 1.
inline constexpr wchar_t kHoverProperty[] = L"QBHover";

// The settings window's scale and its painters' fonts (settings_window.cpp); its controls draw with them.
const qb::DpiScale& settingsScale();
const HFONT (&settingsCanvasFonts())[kUiFontCount];

void registerSettingsControls();

// A choice's value, 1 to its count; setting one outside is clamped.
int choiceValue(HWND choice);
void setChoiceValue(HWND choice, int value);

// A switch is on when its window text is "1"; its label names it to accessibility clients.
bool switchIsOn(HWND control);
const wchar_t* switchLabel(int id);

// Asks once for WM_MOUSELEAVE, so that a hover ends when the pointer leaves.
void trackLeave(HWND hwnd);
// What accessibility clients read of a drawn control: its text as its name and default action.
AccessNode drawnControl(HWND hwnd, AccessRole role);
