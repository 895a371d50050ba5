#pragma once
// The layered, click-through window that draws the main window's drop shadow.
#include <windows.h>

#include <cstdint>
#include <optional>

#include "base/dpi_scale.h"
#include "base/win_handles.h"

inline constexpr wchar_t kShadowWindowClass[] = L"QBShadow";
inline constexpr int kShadowMargin = 18;  // in 96-DPI units, as the rings: the shadow scales with the window
inline constexpr int kShadowRingCount = 18;

void createShadowWindow(HWND main);
// Follows the main window: hidden while it is minimised, maximised or hidden; the image is
// rebuilt only when the size changed.
void updateShadow(HWND main);
// The same for another window of the program: a shadow window made for `target`, and the step that
// keeps it under it. `bitmapSize` is the size of the picture the shadow holds, kept by the caller;
// followWithShadow is true when it pushed a new picture.
HWND createShadowWindowFor(HWND target);
// True when the desktop composes windows, so that a shadow's partly transparent pixels blend with
// what lies beneath; without it they are drawn opaque (near black) over other windows.
bool desktopComposesWindows();
bool followWithShadow(HWND target, HWND shadow, SIZE& bitmapSize);
LRESULT CALLBACK shadowWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

struct ShadowRing {
    int alpha;   // 0 means the ring is not drawn
    RECT rect;   // in shadow-window coordinates
    int radius;
};

// Ring i (0 innermost) around a width x height window, in units.
ShadowRing shadowRing(int i, int width, int height);
// The shadow window's screen rectangle for a main window rectangle, its margin scaled.
RECT shadowWindowRect(const RECT& mainRect, const qb::DpiScale& scale = {});
// Scales blue, green and red by alpha for the pixels that are partly transparent.
void premultiplyAlpha(uint32_t* pixels, size_t count);

// The shadow picture: a top-down 32-bit section selected into a memory DC.
class ShadowImage {
public:
    // Draws the rings for a window of that size in pixels, scaled; false when the section cannot be created.
    bool create(int windowWidth, int windowHeight, const qb::DpiScale& scale = {});
    HDC dc() const { return dc_.get(); }
    SIZE size() const { return size_; }
    const uint32_t* pixels() const { return pixels_; }

private:
    qb::UniqueMemoryDc dc_;
    qb::UniqueBitmap bitmap_;
    std::optional<qb::SelectGuard> selected_;  // declared last: deselected before the bitmap goes
    uint32_t* pixels_ = nullptr;
    SIZE size_{0, 0};
};
