#pragma once
// The borderless frame: which client points resize or move the window, and its size limits.
#include <windows.h>

#include <vector>

#include "base/dpi_scale.h"
#include "model/hit_region.h"

// In 96-DPI units, scaled with the window.
inline constexpr int kWindowCornerEllipse = 14;
inline constexpr SIZE kMinimumWindowSize{1000, 660};

// The smallest the window may be made at scale: the minimum scaled, but never more than the work area of
// its monitor (a window that cannot shrink to fit would hang off-screen).
SIZE minimumWindowSize(const qb::DpiScale& scale, SIZE workArea);
// The work area of the window's monitor; 0 x 0 when it cannot be had.
SIZE monitorWorkArea(HWND hwnd);

// The WM_NCHITTEST answer for a client point (in units, as the client's size): resize borders on the
// left, right and bottom (none at the top), the caption over the header except where a painted element
// lies, the client elsewhere.
LRESULT frameHitTest(POINT client, SIZE clientSize, const std::vector<HitRegion>& regions);
