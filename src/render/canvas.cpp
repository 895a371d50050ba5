#include "render/canvas.h"

#include <algorithm>
#include <cmath>

namespace {

// GDI+ puts pixel centres on whole numbers; the raster's pixels are unit squares from whole numbers.
constexpr float kPixelCentre = 0.5f;

void blend(uint32_t& target, uint32_t argb, float coverage) {
    const float a = static_cast<float>(argb >> 24) / 255.0f * coverage;
    // An opaque colour over a fully covered pixel is the colour itself: the sum below gives exactly that.
    if (a >= 1.0f) {
        target = (target & 0xFF000000) | (argb & 0x00FFFFFF);
        return;
    }
    uint32_t result = target & 0xFF000000;
    for (int shift = 0; shift <= 16; shift += 8) {
        const float below = static_cast<float>((target >> shift) & 0xFF);
        const float above = static_cast<float>((argb >> shift) & 0xFF);
        result |= static_cast<uint32_t>(below + (above - below) * a + 0.5f) << shift;
    }
    target = result;
}

// The part of rect inside clip and inside the buffer.
RECT bounded(const PixelBuffer& target, const RECT& clip, const RECT& rect) {
    return {std::max({rect.left, clip.left, 0L}), std::max({rect.top, clip.top, 0L}),
            std::min<LONG>({rect.right, clip.right, target.width}), std::min<LONG>({rect.bottom, clip.bottom, target.height})};
}

}  // namespace

void blendPicture(const PixelBuffer& target, const RECT& clip, const Picture& picture, int x, int y,
                  float colourScale) {
    if (!target.bits || picture.empty()) return;
    const RECT area = bounded(target, clip, {x, y, x + picture.width, y + picture.height});
    const uint32_t scale = static_cast<uint32_t>(std::clamp(colourScale, 0.0f, 1.0f) * 256.0f + 0.5f);
    for (LONG row = area.top; row < area.bottom; ++row) {
        uint32_t* out = target.bits + static_cast<size_t>(row) * target.width;
        const uint32_t* in = picture.pixels.data() + static_cast<size_t>(row - y) * picture.width - x;
        for (LONG column = area.left; column < area.right; ++column) {
            const uint32_t above = in[column];
            const uint32_t alpha = above >> 24;
            if (alpha == 0) continue;
            uint32_t result = out[column] & 0xFF000000;
            for (int shift = 0; shift <= 16; shift += 8) {
                const uint32_t colour = (((above >> shift) & 0xFF) * scale + 128) >> 8;
                const uint32_t below = (out[column] >> shift) & 0xFF;
                result |= std::min<uint32_t>(255, colour + (below * (255 - alpha) + 127) / 255) << shift;
            }
            out[column] = result;
        }
    }
}

void fillHorizontalGradient(const PixelBuffer& target, const RECT& clip, const RECT& band, uint32_t leftRgb,
                            uint32_t rightRgb) {
    const RECT area = bounded(target, clip, band);
    if (!target.bits || area.left >= area.right || area.top >= area.bottom) return;
    const float width = static_cast<float>(band.right - band.left);
    std::vector<uint32_t> colours(static_cast<size_t>(area.right - area.left));
    for (LONG column = area.left; column < area.right; ++column) {
        const float t = (static_cast<float>(column - band.left) + kPixelCentre) / width;
        uint32_t colour = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const float left = static_cast<float>((leftRgb >> shift) & 0xFF);
            const float right = static_cast<float>((rightRgb >> shift) & 0xFF);
            colour |= static_cast<uint32_t>(left + (right - left) * t + 0.5f) << shift;
        }
        colours[static_cast<size_t>(column - area.left)] = colour;
    }
    for (LONG row = area.top; row < area.bottom; ++row) {
        uint32_t* out = target.bits + static_cast<size_t>(row) * target.width + area.left;
        for (size_t i = 0; i < colours.size(); ++i) out[i] = (out[i] & 0xFF000000) | colours[i];
    }
}

Canvas::Canvas(HDC dc, const PixelBuffer& pixels, const HFONT (&fonts)[kUiFontCount], const CanvasLook& look)
    : dc_(dc),
      pixels_(pixels),
      fonts_(fonts),
      look_(look),
      units_(look.scale.unitsOfClient({pixels.width, pixels.height})),
      clip_{0, 0, pixels.width, pixels.height} {
    note(gp::GdipCreateFromHDC(dc, graphics_.put()));
    if (!graphics_) return;
    note(gp::GdipSetSmoothingMode(graphics(), Gdiplus::SmoothingModeAntiAlias));
    note(gp::GdipSetTextRenderingHint(graphics(), Gdiplus::TextRenderingHintClearTypeGridFit));
    note(gp::GdipSetInterpolationMode(graphics(), Gdiplus::InterpolationModeHighQualityBicubic));
}

gp::UniquePath Canvas::newPath() {
    gp::UniquePath path;
    note(gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.put()));
    return path;
}

// Curves are flattened here with a fixed number of steps: Wine's GdipFlattenPath can recurse
// without end on small arcs far from the origin.
std::vector<Canvas::Figure> Canvas::flatten(gp::GpPath* path) {
    std::vector<Figure> figures;
    INT count = 0;
    if (!path || gp::GdipGetPointCount(path, &count) != Gdiplus::Ok || count <= 0) return figures;
    std::vector<Gdiplus::GpPointF> points(count);
    std::vector<BYTE> types(count);
    note(gp::GdipGetPathPoints(path, points.data(), count));
    note(gp::GdipGetPathTypes(path, types.data(), count));
    for (INT i = 0; i < count; ++i) {
        const BYTE type = types[i] & Gdiplus::PathPointTypePathTypeMask;
        if (type == Gdiplus::PathPointTypeStart || figures.empty()) figures.emplace_back();
        std::vector<RasterPoint>& figure = figures.back().points;
        if (type == Gdiplus::PathPointTypeBezier && i + 2 < count && !figure.empty()) {
            const RasterPoint p0 = figure.back();
            const RasterPoint p1{points[i].X, points[i].Y}, p2{points[i + 1].X, points[i + 1].Y},
                p3{points[i + 2].X, points[i + 2].Y};
            const float length = std::hypot(p1.x - p0.x, p1.y - p0.y) + std::hypot(p2.x - p1.x, p2.y - p1.y) +
                                 std::hypot(p3.x - p2.x, p3.y - p2.y);
            const float scale = std::max(1.0f, look_.scale.factor());  // steps of 1.5 pixels, as drawn
            const int most = static_cast<int>(96 * scale);
            const int steps = std::clamp(static_cast<int>(std::ceil(length * scale / 1.5f)), 2, most);
            for (int k = 1; k <= steps; ++k) {
                const float t = static_cast<float>(k) / steps, u = 1 - t;
                const float a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
                figure.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
            }
            i += 2;
        } else {
            figure.push_back({points[i].X, points[i].Y});
        }
        if (types[i] & Gdiplus::PathPointTypeCloseSubpath) figures.back().closed = true;
    }
    return figures;
}

void Canvas::paint(const PolygonSet& shape, uint32_t argb) {
    if (!pixels_.bits || (argb >> 24) == 0) return;
    argb = look_.fill(argb);
    const RECT bounds{std::max(clip_.left, 0L), std::max(clip_.top, 0L), std::min<LONG>(clip_.right, pixels_.width),
                      std::min<LONG>(clip_.bottom, pixels_.height)};
    // A unit's pixel is the square from (x, y) to (x + 1, y + 1) in units; scaled, it spans the pixels
    // that square covers, so strokes and radii grow with it.
    const float scale = look_.scale.factor();
    const float ox = static_cast<float>(origin_.x), oy = static_cast<float>(origin_.y);
    const float px = static_cast<float>(originPixels_.x), py = static_cast<float>(originPixels_.y);
    PolygonSet shifted = shape;
    for (auto& polygon : shifted.polygons) {
        for (RasterPoint& p : polygon) {
            p.x = (p.x + kPixelCentre + ox) * scale - px;
            p.y = (p.y + kPixelCentre + oy) * scale - py;
        }
    }
    raster_.rasterise(shifted, bounds);
    // Text and pictures go through GDI and GDI+; both must be done before the bits are touched.
    flush();
    raster_.resolve([this, argb](int x, int y, float coverage) {
        blend(pixels_.bits[static_cast<size_t>(y) * pixels_.width + x], argb, coverage);
    });
}

void Canvas::setOrigin(POINT origin) {
    if (look_.scale.unity()) return;  // a unit is a pixel wherever it lies
    origin_ = origin;
    originPixels_ = {look_.scale.pixel(origin.x), look_.scale.pixel(origin.y)};
}

int Canvas::pixelX(LONG x) const {
    const bool face = origin_.x != 0 || origin_.y != 0;
    return x == units_.cx && !face ? pixels_.width : unitPixelX(x);
}

int Canvas::pixelY(LONG y) const {
    const bool face = origin_.x != 0 || origin_.y != 0;
    return y == units_.cy && !face ? pixels_.height : unitPixelY(y);
}

RECT Canvas::pixels(const RECT& units) const {
    if (look_.scale.unity()) return units;
    return {pixelX(units.left), pixelY(units.top), pixelX(units.right), pixelY(units.bottom)};
}

RECT Canvas::pictureBox(int x, int y, int side) const {
    const int left = unitPixelX(x), top = unitPixelY(y), pixels = look_.scale.length(side);
    return {left, top, left + pixels, top + pixels};
}

void Canvas::drawPicture(const Picture& picture, int x, int y, float colourScale) {
    flush();
    blendPicture(pixels_, clip_, picture, unitPixelX(x), unitPixelY(y), colourScale);
}

void Canvas::copyFrom(HDC source, SIZE sourcePixels, POINT sourceOrigin, const RECT& dest) {
    const RECT target = pixels(dest);
    RECT shown{};
    if (!::IntersectRect(&shown, &target, &clip_)) return;
    const int sx = shown.left - unitPixelX(sourceOrigin.x);
    const int sy = shown.top - unitPixelY(sourceOrigin.y);
    if (sx < 0 || sy < 0) return;  // dest begins before the face
    const int width = std::min<int>(shown.right - shown.left, sourcePixels.cx - sx);
    const int height = std::min<int>(shown.bottom - shown.top, sourcePixels.cy - sy);
    if (width <= 0 || height <= 0) return;
    flush();
    ::BitBlt(dc_, shown.left, shown.top, width, height, source, sx, sy, SRCCOPY);
}

void Canvas::fillGradient(const RECT& band, uint32_t leftArgb, uint32_t rightArgb) {
    flush();
    if (look_.contrast) leftArgb = rightArgb = look_.fill(leftArgb);
    fillHorizontalGradient(pixels_, clip_, pixels(band), leftArgb & 0xFFFFFF, rightArgb & 0xFFFFFF);
}

void Canvas::flush() {
    if (graphics_) gp::GdipFlush(graphics(), Gdiplus::FlushIntentionSync);
    ::GdiFlush();
}

void Canvas::fillFigures(const std::vector<Figure>& figures, uint32_t argb) {
    PolygonSet shape;
    for (const Figure& figure : figures)
        if (figure.points.size() >= 3) shape.add(figure.points.data(), figure.points.size());
    paint(shape, argb);
}

void Canvas::strokeFigures(const std::vector<Figure>& figures, const Pen& pen) {
    PolygonSet shape;
    for (const Figure& figure : figures) strokePolyline(shape, figure.points, figure.closed, {pen.width, pen.roundCaps});
    paint(shape, pen.argb);
}

void Canvas::fillRect(float x, float y, float width, float height, uint32_t argb) {
    const RasterPoint corners[4] = {{x, y}, {x + width, y}, {x + width, y + height}, {x, y + height}};
    PolygonSet shape;
    shape.add(corners, 4);
    paint(shape, argb);
}

void Canvas::fillEllipse(float x, float y, float width, float height, uint32_t argb) {
    gp::UniquePath path = newPath();
    if (!path) return;
    note(gp::GdipAddPathEllipse(path.get(), x, y, width, height));
    fillFigures(flatten(path.get()), argb);
}

void Canvas::fillPolygon(const std::vector<RasterPoint>& points, uint32_t argb) {
    PolygonSet shape;
    if (points.size() >= 3) shape.add(points.data(), points.size());
    paint(shape, argb);
}

void Canvas::fillPath(gp::GpPath* path, uint32_t argb) { fillFigures(flatten(path), argb); }

void Canvas::drawEllipse(float x, float y, float width, float height, const Pen& pen) {
    gp::UniquePath path = newPath();
    if (!path) return;
    note(gp::GdipAddPathEllipse(path.get(), x, y, width, height));
    strokeFigures(flatten(path.get()), pen);
}

void Canvas::drawRect(float x, float y, float width, float height, const Pen& pen) {
    strokeFigures({{{{x, y}, {x + width, y}, {x + width, y + height}, {x, y + height}}, true}}, pen);
}

void Canvas::drawLine(float x1, float y1, float x2, float y2, const Pen& pen) {
    strokeFigures({{{{x1, y1}, {x2, y2}}, false}}, pen);
}

void Canvas::drawLines(const std::vector<RasterPoint>& points, const Pen& pen) {
    strokeFigures({{points, false}}, pen);
}

void Canvas::drawArc(float x, float y, float width, float height, float startDegrees, float sweepDegrees,
                     const Pen& pen) {
    gp::UniquePath path = newPath();
    if (!path) return;
    note(gp::GdipAddPathArc(path.get(), x, y, width, height, startDegrees, sweepDegrees));
    strokeFigures(flatten(path.get()), pen);
}

void Canvas::drawPath(gp::GpPath* path, const Pen& pen) { strokeFigures(flatten(path), pen); }

void Canvas::drawText(const std::wstring& text, const RECT& rect, UiFont font, uint32_t rgb, UINT flags) {
    qb::SelectGuard selected(dc_, fonts_[font]);
    ::SetTextColor(dc_, palette::text(look_.text(rgb)));
    ::SetBkMode(dc_, TRANSPARENT);
    RECT box = pixels(rect);
    // A line cut with an ellipsis needs only as many characters as could ever fit, and measuring the
    // rest (a whole description) is most of the cost. Every glyph is at least 2 units wide, so a
    // prefix of width / 2 + 2 characters still overflows and is cut at the same place.
    const size_t enough = static_cast<size_t>(std::max(0L, rect.right - rect.left)) / 2 + 2;
    const bool cutLine = (flags & (DT_SINGLELINE | DT_END_ELLIPSIS | DT_PATH_ELLIPSIS)) == (DT_SINGLELINE | DT_END_ELLIPSIS);
    const int count = cutLine && text.size() > enough ? static_cast<int>(enough) : -1;
    ::DrawTextW(dc_, text.c_str(), count, &box, flags);
}

int Canvas::measureLine(const std::wstring& text, UiFont font) {
    qb::SelectGuard selected(dc_, fonts_[font]);
    RECT box{0, 0, 0, 0};
    ::DrawTextW(dc_, text.c_str(), -1, &box, kTextMeasure);
    return look_.scale.unitLength(box.right - box.left);
}

int Canvas::textExtent(const std::wstring& text, UiFont font) {
    qb::SelectGuard selected(dc_, fonts_[font]);
    SIZE size{0, 0};
    ::GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    return look_.scale.unitLength(size.cx);
}

ClipScope::ClipScope(Canvas& canvas, const RECT& rect)
    : canvas_(canvas), previous_(canvas.clip()), savedDc_(::SaveDC(canvas.dc())) {
    RECT clip{};
    const RECT pixels = canvas.pixels(rect);
    ::IntersectRect(&clip, &previous_, &pixels);
    canvas.setClip(clip);
    qb::UniqueRegion region(::CreateRectRgn(clip.left, clip.top, clip.right, clip.bottom));
    ::SelectClipRgn(canvas.dc(), region.get());
    canvas.note(gp::GdipSetClipRectI(canvas.graphics(), clip.left, clip.top, clip.right - clip.left,
                                     clip.bottom - clip.top, Gdiplus::CombineModeReplace));
}

ClipScope::~ClipScope() {
    canvas_.setClip(previous_);
    canvas_.note(gp::GdipSetClipRectI(canvas_.graphics(), previous_.left, previous_.top,
                                      previous_.right - previous_.left, previous_.bottom - previous_.top,
                                      Gdiplus::CombineModeReplace));
    ::RestoreDC(canvas_.dc(), savedDc_);
}

void addRoundRect(gp::GpPath* path, const RECT& rect, int radius) {
    const int d = 2 * radius;
    gp::GdipAddPathArcI(path, rect.left, rect.top, d, d, 180.0f, 90.0f);
    gp::GdipAddPathArcI(path, rect.right - d, rect.top, d, d, 270.0f, 90.0f);
    gp::GdipAddPathArcI(path, rect.right - d, rect.bottom - d, d, d, 0.0f, 90.0f);
    gp::GdipAddPathArcI(path, rect.left, rect.bottom - d, d, d, 90.0f, 90.0f);
    gp::GdipClosePathFigure(path);
}

void fillRoundRect(Canvas& canvas, const RECT& rect, int radius, uint32_t argb) {
    gp::UniquePath path;
    canvas.note(gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.put()));
    if (!path) return;
    addRoundRect(path.get(), rect, radius);
    canvas.fillPath(path.get(), argb);
}

void strokeRoundRect(Canvas& canvas, const RECT& rect, int radius, uint32_t argb, float penWidth) {
    gp::UniquePath path;
    canvas.note(gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.put()));
    if (!path) return;
    addRoundRect(path.get(), rect, radius);
    canvas.drawPath(path.get(), {argb, penWidth});
}

void drawScrollBar(Canvas& canvas, const ScrollBarInfo& bar, bool active) {
    if (!bar.visible) return;
    // In high contrast both would be the window text: the track is only outlined, so the thumb shows.
    if (canvas.look().contrast)
        strokeRoundRect(canvas, bar.track, 2, palette::kTrack, 1.0f);
    else
        fillRoundRect(canvas, bar.track, 2, palette::kTrack);
    fillRoundRect(canvas, bar.thumb, 2, active ? palette::kThumbActive : palette::kThumb);
}
