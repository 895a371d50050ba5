#pragma once
// Interface geometry is laid out in units of a 96-DPI pixel; a window at another DPI maps those units
// to its device pixels here, the same way for painting and for hit-testing.
#include <windows.h>

namespace qb {

constexpr int kBaseDpi = 96;

// Floor of a / b for a positive b, negative a included (rectangles scrolled above a view).
constexpr long long floorDiv(long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

struct DpiScale {
    int dpi = kBaseDpi;

    constexpr bool unity() const { return dpi == kBaseDpi; }
    constexpr float factor() const { return static_cast<float>(dpi) / kBaseDpi; }
    // A length (a font's height, an icon's side, a window's width), rounded to the nearest pixel.
    constexpr int length(int units) const {
        return static_cast<int>(floorDiv(2LL * units * dpi + kBaseDpi, 2LL * kBaseDpi));
    }
    // The pixel length back in units, rounded (a measured text's width).
    constexpr int unitLength(int pixels) const {
        return static_cast<int>(floorDiv(2LL * pixels * kBaseDpi + dpi, 2LL * dpi));
    }
    // The device edge of a unit edge: the first pixel whose centre lies at or past it.
    constexpr int pixel(int unit) const {
        return static_cast<int>(-floorDiv(-(2LL * unit * dpi - kBaseDpi), 2LL * kBaseDpi));
    }
    // The unit whose span holds the centre of a device pixel. A pixel lies inside pixel(rect) exactly
    // when its unit lies inside rect: hit-testing in units matches what was painted in pixels.
    constexpr int unit(int pixel) const {
        return static_cast<int>(floorDiv((2LL * pixel + 1) * kBaseDpi, 2LL * dpi));
    }
    // Pixels enough to hold a span of units whole: a surface that many pixels wide lays out exactly
    // that many units (unitsOfClient).
    constexpr int span(int units) const { return static_cast<int>(-floorDiv(-1LL * units * dpi, kBaseDpi)); }
    // The fraction of a pixel at which a unit's edge lies, in 96ths: 0 at 96 DPI and at whole scales.
    constexpr int phase(int unit) const {
        return static_cast<int>(1LL * unit * dpi - floorDiv(1LL * unit * dpi, kBaseDpi) * kBaseDpi);
    }
    RECT pixels(const RECT& r) const { return {pixel(r.left), pixel(r.top), pixel(r.right), pixel(r.bottom)}; }
    POINT units(POINT p) const { return {unit(p.x), unit(p.y)}; }
    // The units a client of w x h pixels lays out: whole units that fit in it.
    SIZE unitsOfClient(SIZE pixels) const {
        return {static_cast<LONG>(floorDiv(1LL * pixels.cx * kBaseDpi, dpi)),
                static_cast<LONG>(floorDiv(1LL * pixels.cy * kBaseDpi, dpi))};
    }
};

static_assert(DpiScale{}.pixel(7) == 7 && DpiScale{}.unit(7) == 7 && DpiScale{}.length(7) == 7 &&
                  DpiScale{}.span(7) == 7,
              "96 DPI is 1:1");
static_assert(DpiScale{192}.pixel(5) == 10 && DpiScale{192}.unit(11) == 5, "200 % doubles");

}  // namespace qb
