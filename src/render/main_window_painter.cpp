#include "render/main_window_painter.h"

#include "app/app_state.h"

void PaintMainWindow(HDC dc, const RECT& client) {
    AppState& app = appState();
    app.hitRegions.clear();
    const int w = client.right - client.left;
    const int h = client.bottom - client.top;
    HDC memory = ::CreateCompatibleDC(dc);
    HBITMAP bitmap = ::CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    RECT all{0, 0, w, h};
    HBRUSH background = ::CreateSolidBrush(RGB(0xF5, 0xF6, 0xF8));
    ::FillRect(memory, &all, background);
    ::DeleteObject(background);
    ::BitBlt(dc, 0, 0, w, h, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
}
