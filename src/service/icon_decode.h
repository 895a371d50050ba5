#pragma once
// Turns the bytes of an icon file into the bitmap the painters draw as it is: decoded once and scaled
// once to the size it is drawn at. No thread or window behind it; icon workers call it.
#include <windows.h>

#include <string>

#include "base/win_handles.h"

// Icons are drawn at most this large (the card tile is 84 pixels).
constexpr int kMaxDrawnIconSide = 256;

// A side x side premultiplied 32-bit top-down DIB section of the icon stretched into the square, as
// GDI+ scales it with bicubic interpolation; empty when the header check refuses the bytes (unknown
// format, a side beyond 1024 pixels), GDI+ cannot decode them, or side is outside 1..kMaxDrawnIconSide.
qb::UniqueBitmap decodeIconAtSize(const std::string& body, int side);
