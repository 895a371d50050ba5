#pragma once
// A 32-bit DIB section with its own memory DC, for rendering the main window off-screen in tests.
#include <windows.h>

#include <cstdint>
#include <string>

namespace qbtest {

class PaintSurface {
public:
    PaintSurface(int width, int height);
    ~PaintSurface();
    PaintSurface(const PaintSurface&) = delete;
    PaintSurface& operator=(const PaintSurface&) = delete;

    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    RECT client() const { return {0, 0, width_, height_}; }
    // The pixels, 0x00RRGGBB per pixel, rows top to bottom.
    uint32_t* bits() const { return bits_; }
    // Colour at (x, y) as 0xRRGGBB.
    uint32_t pixel(int x, int y) const;
    // Writes the image as PNG through the GDI+ encoder; false on failure.
    bool savePng(const std::wstring& path) const;

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// True when the surface shows, inside `compare`, exactly the pixels of text drawn with DrawTextW into
// rect (font, #RRGGBB colour, flags) over a plain #RRGGBB background: the text a painter drew there.
bool showsText(const PaintSurface& surface, const RECT& rect, const RECT& compare, const std::wstring& text,
               HFONT font, uint32_t rgb, uint32_t backgroundRgb, UINT flags);

// Starts GDI+ once for the process (painting needs it running).
void ensureGdiplus();

}  // namespace qbtest
