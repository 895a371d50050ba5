#include "support/paint_surface.h"

#include <vector>

#include "render/gdiplus_api.h"

namespace qbtest {

PaintSurface::PaintSurface(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dc_ = ::CreateCompatibleDC(nullptr);
    bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    previous_ = ::SelectObject(dc_, bitmap_);
}

PaintSurface::~PaintSurface() {
    ::SelectObject(dc_, previous_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
}

uint32_t PaintSurface::pixel(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0xFFFFFFFF;
    ::GdiFlush();
    return bits_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF;
}

bool PaintSurface::savePng(const std::wstring& path) const {
    ensureGdiplus();
    ::GdiFlush();
    UINT count = 0, size = 0;
    if (gp::GdipGetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
    std::vector<BYTE> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gp::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
    const CLSID* png = nullptr;
    for (UINT i = 0; i < count; ++i)
        if (std::wstring(codecs[i].MimeType) == L"image/png") png = &codecs[i].Clsid;
    if (!png) return false;
    // 32bppRGB ignores the alpha byte, which GDI text leaves at zero.
    gp::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromScan0(width_, height_, width_ * 4, PixelFormat32bppRGB,
                                      reinterpret_cast<BYTE*>(bits_), &bitmap) != Gdiplus::Ok) {
        return false;
    }
    gp::UniqueImage image(bitmap);
    return gp::GdipSaveImageToFile(image.get(), path.c_str(), png, nullptr) == Gdiplus::Ok;
}

bool showsText(const PaintSurface& surface, const RECT& rect, const RECT& compare, const std::wstring& text,
               HFONT font, uint32_t rgb, uint32_t backgroundRgb, UINT flags) {
    auto colour = [](uint32_t v) { return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF); };
    PaintSurface stamp(surface.width(), surface.height());
    HBRUSH background = ::CreateSolidBrush(colour(backgroundRgb));
    ::FillRect(stamp.dc(), &compare, background);
    ::DeleteObject(background);
    HGDIOBJ previous = ::SelectObject(stamp.dc(), font);
    ::SetTextColor(stamp.dc(), colour(rgb));
    ::SetBkMode(stamp.dc(), TRANSPARENT);
    RECT box = rect;
    ::DrawTextW(stamp.dc(), text.c_str(), -1, &box, flags);
    ::SelectObject(stamp.dc(), previous);
    for (int y = compare.top; y < compare.bottom; ++y)
        for (int x = compare.left; x < compare.right; ++x)
            if (surface.pixel(x, y) != stamp.pixel(x, y)) return false;
    return true;
}

void ensureGdiplus() {
    static bool started = [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    (void)started;
}

}  // namespace qbtest
