#include "app/settings_window.h"

// The settings window arrives with the frame work; until then its class only exists.
void openSettingsWindow() {}

LRESULT CALLBACK SettingsWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
