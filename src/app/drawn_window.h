#pragma once
// What the drawn small windows (下载设置 and the proxy's login) share: controls placed in units at the
// window's own scale, fonts made for that scale, and double-buffered painting with them.
#include <windows.h>

#include <optional>
#include <string>

#include "base/dpi_scale.h"
#include "model/app_state.h"
#include "render/canvas.h"
#include "render/paint_cache.h"

// The painters' fonts made for one DPI, freed with their holder.
class UiFontSet {
public:
    UiFontSet() = default;
    ~UiFontSet();
    UiFontSet(const UiFontSet&) = delete;
    UiFontSet& operator=(const UiFontSet&) = delete;

    // Replaces the set only when every font could be made for dpi.
    bool make(int dpi);
    bool empty() const { return fonts_[0] == nullptr; }
    const HFONT (&fonts() const)[kUiFontCount] { return fonts_; }

private:
    HFONT fonts_[kUiFontCount] = {};
};

namespace drawn_window {

// A line saying why something did not go through.
inline constexpr COLORREF kErrorTextColour = RGB(0xF5, 0x3F, 0x3F);

SIZE clientSize(HWND hwnd);
// The canvas look at scale, in the system's colours under high contrast.
CanvasLook lookAt(const qb::DpiScale& scale);
// WM_CTLCOLOR* in high contrast: a control in the window's text on the window's colour, or the title in the
// highlight's text colour over the painted band. Null when high contrast is off: the window's own colours apply.
std::optional<LRESULT> contrastControlColours(HDC dc, bool title);
// A child of parent at a place in units.
HWND createControl(HWND parent, const qb::DpiScale& scale, const wchar_t* className, const RECT& units, int id,
                   DWORD style, const std::wstring& text);
// The controls' own font (Microsoft YaHei) of a height in units.
HFONT createFont(const qb::DpiScale& scale, int height, int weight);
// Rounds the window's corners as the main window's, at scale.
void roundCorners(HWND hwnd, const qb::DpiScale& scale, int width, int height, BOOL redraw);
std::wstring textOf(HWND control);
// Registers a window class of this program; false when it could not (also when it already was).
bool registerClass(const wchar_t* name, WNDPROC procedure, LPCWSTR cursor = IDC_ARROW, HICON icon = nullptr,
                   HBRUSH background = nullptr);
// WM_NCHITTEST: a point where `drags` (in units) says the window is dragged is its caption.
LRESULT hitTest(HWND hwnd, WPARAM wp, LPARAM lp, const qb::DpiScale& scale, bool (*drags)(POINT units));

// Paints into a fresh white surface of `size` pixels and copies it to dc in one go.
template <typename Paint>
void paintBuffered(HDC dc, SIZE size, const CanvasLook& look, const HFONT (&fonts)[kUiFontCount], Paint paint) {
    DibSurface surface;
    if (size.cx <= 0 || size.cy <= 0 || !surface.ensure(size.cx, size.cy)) return;
    fillBackground(surface, look.background(palette::kWhite & 0xFFFFFF));
    {
        Canvas canvas(surface.dc(), surface.pixels(), fonts, look);
        paint(canvas);
    }
    ::BitBlt(dc, 0, 0, size.cx, size.cy, surface.dc(), 0, 0, SRCCOPY);
}

}  // namespace drawn_window
