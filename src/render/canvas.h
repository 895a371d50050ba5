#pragma once
// The drawing surface of one paint: a 32-bit top-down pixel buffer with its DC, GDI text, a GDI+
// context for pictures and gradients, and anti-aliased vector shapes.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "model/app_state.h"
#include "render/coverage_raster.h"
#include "render/gdiplus_api.h"
#include "render/palette.h"

// DrawTextW flag sets used by the painters.
constexpr UINT kTextLeft = DT_SINGLELINE | DT_VCENTER;                                      // 0x24
constexpr UINT kTextCentred = DT_SINGLELINE | DT_VCENTER | DT_CENTER;                       // 0x25
constexpr UINT kTextLeftCut = DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER;                 // 0x8024
constexpr UINT kTextCentredCut = DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER | DT_CENTER;  // 0x8025
constexpr UINT kTextPath = DT_PATH_ELLIPSIS | DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER;  // 0xC024
constexpr UINT kTextMeasure = DT_CALCRECT | DT_SINGLELINE;                                  // 0x420

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

struct Pen {
    uint32_t argb;
    float width;
    bool roundCaps = false;
};

class Canvas {
public:
    // Creates the GDI+ context on dc: anti-aliased shapes, grid-fitted ClearType, bicubic images.
    Canvas(HDC dc, const PixelBuffer& pixels, const HFONT (&fonts)[kUiFontCount]);
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    gp::GpGraphics* graphics() const { return graphics_.get(); }
    HFONT font(UiFont f) const { return fonts_[f]; }
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

    // Pictures and gradients written straight into the pixels (no decoder, no GDI+ brush).
    void drawPicture(const Picture& picture, int x, int y, float colourScale = 1.0f);
    void fillGradient(const RECT& band, uint32_t leftArgb, uint32_t rightArgb);

    // Finishes what GDI+ and GDI still hold, before pixels are touched by other means.
    void flush();

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

    HDC dc_;
    PixelBuffer pixels_;
    const HFONT (&fonts_)[kUiFontCount];
    gp::UniqueGraphics graphics_;
    gp::GpStatus lastStatus_ = Gdiplus::Ok;
    RECT clip_;
    CoverageRaster raster_;
};

// Clips text, pictures and shapes to a rectangle (within the current clip) for as long as it lives.
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
