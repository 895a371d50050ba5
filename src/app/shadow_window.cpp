#include "app/shadow_window.h"

#include <dwmapi.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "model/app_state.h"

namespace {

constexpr uint32_t kShadowColour = 0x1E2230;
constexpr double kRingPenWidth = 2.0;

// Signed distance from (x, y) to the outline of a rectangle with rounded corners; negative inside.
double roundRectDistance(double x, double y, const RECT& rect, double radius) {
    const double qx = std::fabs(x - (rect.left + rect.right) / 2.0) - ((rect.right - rect.left) / 2.0 - radius);
    const double qy = std::fabs(y - (rect.top + rect.bottom) / 2.0) - ((rect.bottom - rect.top) / 2.0 - radius);
    const double ox = std::max(qx, 0.0);
    const double oy = std::max(qy, 0.0);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - radius;
}

// The rings as anti-aliased strokes laid over one another, straight (not premultiplied) alpha. Computed
// per pixel of the band along the edges: GDI+ under Wine spent 600 ms stroking them over the whole picture.
// The rings are laid out in units; a pixel looks at the unit its centre lies on (f pixels a unit).
void drawRings(uint32_t* pixels, int width, int height, int windowWidth, int windowHeight, double f) {
    const int unitsWide = static_cast<int>(windowWidth / f + 0.5);
    const int unitsHigh = static_cast<int>(windowHeight / f + 0.5);
    ShadowRing rings[kShadowRingCount];
    for (int i = 0; i < kShadowRingCount; ++i) rings[i] = shadowRing(i, unitsWide, unitsHigh);
    const int band = static_cast<int>(std::ceil((kShadowMargin + rings[0].radius + 2) * f));
    for (int y = 0; y < height; ++y) {
        const bool edgeRow = y < band || y >= height - band;
        for (int x = 0; x < width; ++x) {
            if (!edgeRow && x == band) x = std::max(band, width - band);
            double alpha = 0;
            for (const ShadowRing& ring : rings) {
                if ((ring.alpha & 0xFF) == 0) continue;
                const double d = std::fabs(roundRectDistance((x + 0.5) / f, (y + 0.5) / f, ring.rect, ring.radius));
                const double coverage = std::clamp((kRingPenWidth / 2 + 0.5 / f - d) * f, 0.0, 1.0);
                const double a = coverage * ring.alpha / 255.0;
                alpha = a + alpha * (1 - a);
            }
            const uint32_t alphaByte = static_cast<uint32_t>(alpha * 255 + 0.5);
            if (alphaByte > 0) pixels[static_cast<size_t>(y) * width + x] = (alphaByte << 24) | kShadowColour;
        }
    }
}

}  // namespace

ShadowRing shadowRing(int i, int width, int height) {
    const double fade = 1.0 - i / 18.0;
    const int grow = i + 1;
    ShadowRing ring;
    ring.alpha = static_cast<int>(64.0 * fade * fade);
    ring.rect = RECT{kShadowMargin - grow, kShadowMargin - grow, kShadowMargin + width + grow,
                     kShadowMargin + height + grow};
    ring.radius = i + 15;
    return ring;
}

RECT shadowWindowRect(const RECT& mainRect, const qb::DpiScale& scale) {
    const int margin = scale.length(kShadowMargin);
    return RECT{mainRect.left - margin, mainRect.top - margin, mainRect.right + margin, mainRect.bottom + margin};
}

void premultiplyAlpha(uint32_t* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t p = pixels[i];
        const uint32_t a = p >> 24;
        if (a == 0 || a == 255) continue;
        const uint32_t r = ((p >> 16) & 0xFF) * a / 255;
        const uint32_t g = ((p >> 8) & 0xFF) * a / 255;
        const uint32_t b = (p & 0xFF) * a / 255;
        pixels[i] = (a << 24) | (r << 16) | (g << 8) | b;
    }
}

bool ShadowImage::create(int windowWidth, int windowHeight, const qb::DpiScale& scale) {
    const int margin = scale.length(kShadowMargin);
    const int w = windowWidth + 2 * margin;
    const int h = windowHeight + 2 * margin;
    qb::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    if (!dc) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    qb::UniqueBitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return false;

    selected_.reset();
    bitmap_ = std::move(bitmap);
    dc_ = std::move(dc);
    selected_.emplace(dc_.get(), bitmap_.get());
    pixels_ = static_cast<uint32_t*>(bits);
    size_ = SIZE{w, h};
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    std::memset(pixels_, 0, count * sizeof(uint32_t));
    drawRings(pixels_, w, h, windowWidth, windowHeight, static_cast<double>(margin) / kShadowMargin);
    premultiplyAlpha(pixels_, count);
    return true;
}

bool desktopComposesWindows() {
    BOOL enabled = FALSE;
    return SUCCEEDED(::DwmIsCompositionEnabled(&enabled)) && enabled;
}

HWND createShadowWindowFor(HWND target) {
    RECT targetRect{};
    ::GetWindowRect(target, &targetRect);
    const RECT rect = shadowWindowRect(targetRect, appState().scale);
    return ::CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TRANSPARENT,
                             kShadowWindowClass, L"", WS_POPUP, rect.left, rect.top, rect.right - rect.left,
                             rect.bottom - rect.top, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

bool followWithShadow(HWND target, HWND shadow, SIZE& bitmapSize) {
    if (!shadow || !target) return false;
    if (::IsIconic(target) || ::IsZoomed(target) || !::IsWindowVisible(target)) {
        ::ShowWindow(shadow, SW_HIDE);
        return false;
    }
    bool built = false;
    RECT targetRect{};
    ::GetWindowRect(target, &targetRect);
    const qb::DpiScale& scale = appState().scale;  // every window of the program is at the main window's
    const RECT rect = shadowWindowRect(targetRect, scale);
    SIZE size{rect.right - rect.left, rect.bottom - rect.top};
    if (size.cx != bitmapSize.cx || size.cy != bitmapSize.cy) {
        ShadowImage image;
        // Without a new picture the shadow keeps its old one but still follows the window.
        if (image.create(targetRect.right - targetRect.left, targetRect.bottom - targetRect.top, scale)) {
            POINT source{0, 0};
            BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            ::UpdateLayeredWindow(shadow, nullptr, nullptr, &size, image.dc(), &source, 0, &blend, ULW_ALPHA);
            bitmapSize = size;
            built = true;
        }
    }
    ::SetWindowPos(shadow, target, rect.left, rect.top, size.cx, size.cy, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    return built;
}

void createShadowWindow(HWND main) {
    HWND shadow = createShadowWindowFor(main);
    appState().shadowWnd = shadow;
    if (shadow) updateShadow(main);
}

void updateShadow(HWND main) {
    AppState& app = appState();
    if (followWithShadow(main, app.shadowWnd, app.shadowBitmapSize)) ++app.shadowImageBuilds;
}

// The layered window's content comes only from UpdateLayeredWindow.
LRESULT CALLBACK shadowWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: ::ValidateRect(hwnd, nullptr); return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
