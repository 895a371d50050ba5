#pragma once
// The drawing surface of one paint: a 32-bit top-down pixel buffer with its DC, GDI text, a GDI+
// context for pictures and gradients, and anti-aliased vector shapes.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/dpi_scale.h"
#include "model/app_state.h"
#include "render/contrast.h"
#include "render/coverage_raster.h"
#include "render/gdiplus_api.h"
#include "render/palette.h"

// DrawTextW flag sets used by the painters. Every text is drawn as given: an "&" in an app's name or a
// folder's path marks no keyboard shortcut (DT_NOPREFIX).
constexpr UINT kTextLeft = DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER;                                      // 0x824
constexpr UINT kTextCentred = DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | DT_CENTER;                       // 0x825
constexpr UINT kTextLeftCut = DT_NOPREFIX | DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER;                 // 0x8824
constexpr UINT kTextCentredCut = DT_NOPREFIX | DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER | DT_CENTER;  // 0x8825
constexpr UINT kTextPath = DT_NOPREFIX | DT_PATH_ELLIPSIS | DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER;  // 0xC824
constexpr UINT kTextMeasure = DT_NOPREFIX | DT_CALCRECT | DT_SINGLELINE;                                  // 0xC20

// The bits of a 32-bit top-down DIB section selected into the canvas's DC.
struct PixelBuffer {
    uint32_t* bits = nullptr;
    int width = 0;
    int height = 0;
};

// A picture kept at the size it is drawn: premultiplied BGRA rows, top-down.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    bool empty() const { return pixels.empty(); }
};

// Blends picture over target with its top-left corner at (x, y), inside clip; colourScale scales the
// picture's colour channels (0.8 darkens it as a highlight does). Alpha bytes of target stay.
void blendPicture(const PixelBuffer& target, const RECT& clip, const Picture& picture, int x, int y,
                  float colourScale = 1.0f);
// Fills band, inside clip, with a left-to-right blend of two colours taken at the pixel centres.
void fillHorizontalGradient(const PixelBuffer& target, const RECT& clip, const RECT& band, uint32_t leftRgb,
                            uint32_t rightRgb);

// How a canvas turns what the painters give it into pixels: their 96-DPI units into its device pixels,
// and, in high contrast, the palette's colours into the system's.
struct CanvasLook {
    qb::DpiScale scale;
    std::optional<SystemColours> contrast;  // set while high contrast is on

    uint32_t fill(uint32_t argb) const { return contrast ? contrastFill(argb, *contrast) : argb; }
    uint32_t text(uint32_t rgb) const { return contrast ? contrastText(rgb, *contrast) : rgb; }
    // A surface's background colour, #RRGGBB.
    uint32_t background(uint32_t rgb) const { return fill(0xFF000000 | rgb) & 0xFFFFFF; }
    bool operator==(const CanvasLook& other) const {
        return scale.dpi == other.scale.dpi && contrast.has_value() == other.contrast.has_value() &&
               (!contrast || (contrast->window == other.contrast->window &&
                              contrast->windowText == other.contrast->windowText &&
                              contrast->highlight == other.contrast->highlight &&
                              contrast->highlightText == other.contrast->highlightText &&
                              contrast->grayText == other.contrast->grayText));
    }
    bool operator!=(const CanvasLook& other) const { return !(*this == other); }
};

struct Pen {
    uint32_t argb;
    float width;
    bool roundCaps = false;
};

// Painters draw in 96-DPI units; the canvas places them on its pixels through its look's scale, with
// fonts made for that DPI. At 96 DPI a unit is a pixel and nothing is converted.
class Canvas {
public:
    // Creates the GDI+ context on dc: anti-aliased shapes, grid-fitted ClearType, bicubic images.
    Canvas(HDC dc, const PixelBuffer& pixels, const HFONT (&fonts)[kUiFontCount], const CanvasLook& look = {});
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    gp::GpGraphics* graphics() const { return graphics_.get(); }
    HFONT font(UiFont f) const { return fonts_[f]; }
    const CanvasLook& look() const { return look_; }
    const qb::DpiScale& scale() const { return look_.scale; }
    // Makes the surface a face of something the window shows: its pixel (0, 0) is the pixel of the unit
    // origin in the window, and the painters draw on it in units from there. A face is then the same
    // pixels as painting it in place, wherever a fraction of a pixel its place falls (at 96 DPI, and
    // at whole scales, nothing changes).
    void setOrigin(POINT origin);
    // A rectangle in units as the canvas's pixels; the surface's far edges in units are its own.
    RECT pixels(const RECT& units) const;
    // A square picture of side units drawn with its top-left corner at (x, y): where it lands in pixels,
    // always scale().length(side) pixels wide, wherever it is placed.
    RECT pictureBox(int x, int y, int side) const;
    // Status of the last GDI+ call that failed; painting goes on after a failure.
    gp::GpStatus lastStatus() const { return lastStatus_; }
    void note(gp::GpStatus status) {
        if (status != Gdiplus::Ok) lastStatus_ = status;
    }

    // Vector shapes in client pixels (pixel centres on whole numbers, as GDI+ places them).
    void fillRect(float x, float y, float width, float height, uint32_t argb);
    void fillEllipse(float x, float y, float width, float height, uint32_t argb);
    void fillPolygon(const std::vector<RasterPoint>& points, uint32_t argb);
    void fillPath(gp::GpPath* path, uint32_t argb);
    void drawEllipse(float x, float y, float width, float height, const Pen& pen);
    void drawRect(float x, float y, float width, float height, const Pen& pen);
    void drawLine(float x1, float y1, float x2, float y2, const Pen& pen);
    void drawLines(const std::vector<RasterPoint>& points, const Pen& pen);
    void drawArc(float x, float y, float width, float height, float startDegrees, float sweepDegrees, const Pen& pen);
    void drawPath(gp::GpPath* path, const Pen& pen);

    // Text through GDI: select the font, colour #RRGGBB, transparent background, restore the font.
    void drawText(const std::wstring& text, const RECT& rect, UiFont font, uint32_t rgb, UINT flags);
    // Width of a single line as DrawTextW measures it (DT_CALCRECT | DT_SINGLELINE).
    int measureLine(const std::wstring& text, UiFont font);
    // Width from GetTextExtentPoint32W.
    int textExtent(const std::wstring& text, UiFont font);

    // Pictures and gradients written straight into the pixels (no decoder, no GDI+ brush). A picture
    // is made at the size it is drawn in pixels; its top-left corner lands on the pixel of (x, y).
    void drawPicture(const Picture& picture, int x, int y, float colourScale = 1.0f);
    // Copies the part of a face (sourcePixels large, its origin the unit sourceOrigin) that lies in dest.
    void copyFrom(HDC source, SIZE sourcePixels, POINT sourceOrigin, const RECT& dest);
    void fillGradient(const RECT& band, uint32_t leftArgb, uint32_t rightArgb);

    // Finishes what GDI+ and GDI still hold, before pixels are touched by other means.
    void flush();

    // The clip in pixels.
    const RECT& clip() const { return clip_; }
    void setClip(const RECT& clip) { clip_ = clip; }

private:
    struct Figure {
        std::vector<RasterPoint> points;
        bool closed = false;
    };
    std::vector<Figure> flatten(gp::GpPath* path);
    gp::UniquePath newPath();
    void fillFigures(const std::vector<Figure>& figures, uint32_t argb);
    void strokeFigures(const std::vector<Figure>& figures, const Pen& pen);
    void paint(const PolygonSet& shape, uint32_t argb);

    // A unit's pixel on this surface; a surface's own far edges in units are its far edges.
    int pixelX(LONG x) const;
    int pixelY(LONG y) const;
    int unitPixelX(LONG x) const { return look_.scale.pixel(x + origin_.x) - originPixels_.x; }
    int unitPixelY(LONG y) const { return look_.scale.pixel(y + origin_.y) - originPixels_.y; }

    HDC dc_;
    PixelBuffer pixels_;
    const HFONT (&fonts_)[kUiFontCount];
    CanvasLook look_;
    SIZE units_;  // the surface's size in units
    POINT origin_{0, 0};        // in units, in the window
    POINT originPixels_{0, 0};  // its pixel there
    gp::UniqueGraphics graphics_;
    gp::GpStatus lastStatus_ = Gdiplus::Ok;
    RECT clip_;
    CoverageRaster raster_;
};

// Clips text, pictures and shapes to a rectangle in units (within the current clip) for as long as it lives.
class ClipScope {
public:
    ClipScope(Canvas& canvas, const RECT& rect);
    ~ClipScope();
    ClipScope(const ClipScope&) = delete;
    ClipScope& operator=(const ClipScope&) = delete;

private:
    Canvas& canvas_;
    RECT previous_;
    int savedDc_;
};

// Appends one closed rounded-rectangle figure: four arcs of diameter 2 * radius, edges from the closing.
void addRoundRect(gp::GpPath* path, const RECT& rect, int radius);
void fillRoundRect(Canvas& canvas, const RECT& rect, int radius, uint32_t argb);
// The outline of the same figure.
void strokeRoundRect(Canvas& canvas, const RECT& rect, int radius, uint32_t argb, float penWidth);

// Draws a scroll bar from its record: the track, and the thumb darker while dragged or paged.
void drawScrollBar(Canvas& canvas, const ScrollBarInfo& bar, bool active);
