#pragma once
// The borderless frame: which client points resize or move the window, and its size limits.
#include <windows.h>

#include <vector>

#include "model/hit_region.h"

inline constexpr int kWindowCornerEllipse = 14;
inline constexpr SIZE kMinimumWindowSize{1000, 660};

// The WM_NCHITTEST answer for a client point: resize borders on the left, right and bottom (none at
// the top), the caption over the header except where a painted element lies, the client elsewhere.
LRESULT frameHitTest(POINT client, SIZE clientSize, const std::vector<HitRegion>& regions);
