#include "app/drawn_window.h"

#include <windowsx.h>

#include <utility>

#include "app/frame.h"
#include "render/contrast.h"

UiFontSet::~UiFontSet() { deleteUiFonts(fonts_); }

bool UiFontSet::make(int dpi) {
    HFONT made[kUiFontCount] = {};
    if (!createUiFonts(made, dpi)) {
        deleteUiFonts(made);
        return false;
    }
    std::swap(made, fonts_);
    deleteUiFonts(made);
    return true;
}

namespace drawn_window {

SIZE clientSize(HWND hwnd) {
    RECT client{};
    ::GetClientRect(hwnd, &client);
    return {client.right, client.bottom};
}

CanvasLook lookAt(const qb::DpiScale& scale) {
    CanvasLook look;
    look.scale = scale;
    if (appState().highContrast) look.contrast = readSystemColours();
    return look;
}

std::optional<LRESULT> contrastControlColours(HDC dc, bool title) {
    if (!appState().highContrast) return std::nullopt;
    if (title) {
        ::SetTextColor(dc, ::GetSysColor(COLOR_HIGHLIGHTTEXT));
        return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    }
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
}

HWND createControl(HWND parent, const qb::DpiScale& scale, const wchar_t* className, const RECT& units, int id,
                   DWORD style, const std::wstring& text) {
    const RECT place = scale.pixels(units);
    return ::CreateWindowExW(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, place.left, place.top,
                             place.right - place.left, place.bottom - place.top, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                             nullptr);
}

HFONT createFont(const qb::DpiScale& scale, int height, int weight) {
    return ::CreateFontW(scale.length(height), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft YaHei");
}

void roundCorners(HWND hwnd, const qb::DpiScale& scale, int width, int height, BOOL redraw) {
    const int corner = scale.length(kWindowCornerEllipse);
    HRGN region = ::CreateRoundRectRgn(0, 0, width + 1, height + 1, corner, corner);
    if (region && !::SetWindowRgn(hwnd, region, redraw)) ::DeleteObject(region);
}

std::wstring textOf(HWND control) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool registerClass(const wchar_t* name, WNDPROC procedure, LPCWSTR cursor, HICON icon, HBRUSH background) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hIcon = icon;
    wc.hCursor = ::LoadCursorW(nullptr, cursor);
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    return ::RegisterClassExW(&wc) != 0;
}

LRESULT hitTest(HWND hwnd, WPARAM wp, LPARAM lp, const qb::DpiScale& scale, bool (*drags)(POINT units)) {
    POINT point{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    ::ScreenToClient(hwnd, &point);
    if (drags(scale.units(point))) return HTCAPTION;
    return ::DefWindowProcW(hwnd, WM_NCHITTEST, wp, lp);
}

}  // namespace drawn_window
