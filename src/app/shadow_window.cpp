#include "app/shadow_window.h"

// The shadow arrives with the frame work; until then the window runs without one.
void createShadowWindow(HWND) {}
void updateShadow(HWND) {}

LRESULT CALLBACK ShadowWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
