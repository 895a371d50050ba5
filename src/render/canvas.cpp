#include "render/canvas.h"

namespace {

gp::UniqueBrush solidBrush(Canvas& canvas, uint32_t argb) {
    Gdiplus::GpSolidFill* brush = nullptr;
    canvas.note(gp::GdipCreateSolidFill(argb, &brush));
    return gp::UniqueBrush(brush);
}

gp::UniquePen pen(Canvas& canvas, uint32_t argb, float width) {
    gp::GpPen* created = nullptr;
    canvas.note(gp::GdipCreatePen1(argb, width, Gdiplus::UnitWorld, &created));
    return gp::UniquePen(created);
}

}  // namespace

Canvas::Canvas(HDC dc, const HFONT (&fonts)[kUiFontCount]) : dc_(dc), fonts_(fonts) {
    note(gp::GdipCreateFromHDC(dc, graphics_.put()));
    if (!graphics_) return;
    note(gp::GdipSetSmoothingMode(graphics(), Gdiplus::SmoothingModeAntiAlias));
    note(gp::GdipSetTextRenderingHint(graphics(), Gdiplus::TextRenderingHintClearTypeGridFit));
    note(gp::GdipSetInterpolationMode(graphics(), Gdiplus::InterpolationModeHighQualityBicubic));
}

void Canvas::fillRect(float x, float y, float width, float height, uint32_t argb) {
    gp::UniqueBrush brush = solidBrush(*this, argb);
    if (brush) note(gp::GdipFillRectangle(graphics(), brush.get(), x, y, width, height));
}

void Canvas::fillEllipse(float x, float y, float width, float height, uint32_t argb) {
    gp::UniqueBrush brush = solidBrush(*this, argb);
    if (brush) note(gp::GdipFillEllipse(graphics(), brush.get(), x, y, width, height));
}

void Canvas::drawEllipse(float x, float y, float width, float height, uint32_t argb, float penWidth) {
    gp::UniquePen p = pen(*this, argb, penWidth);
    if (p) note(gp::GdipDrawEllipse(graphics(), p.get(), x, y, width, height));
}

void Canvas::drawRect(float x, float y, float width, float height, uint32_t argb, float penWidth) {
    gp::UniquePen p = pen(*this, argb, penWidth);
    if (p) note(gp::GdipDrawRectangle(graphics(), p.get(), x, y, width, height));
}

void Canvas::drawLine(float x1, float y1, float x2, float y2, uint32_t argb, float penWidth) {
    gp::UniquePen p = pen(*this, argb, penWidth);
    if (p) note(gp::GdipDrawLine(graphics(), p.get(), x1, y1, x2, y2));
}

void Canvas::fillPath(gp::GpPath* path, uint32_t argb) {
    gp::UniqueBrush brush = solidBrush(*this, argb);
    if (brush && path) note(gp::GdipFillPath(graphics(), brush.get(), path));
}

void Canvas::drawPath(gp::GpPath* path, uint32_t argb, float penWidth) {
    gp::UniquePen p = pen(*this, argb, penWidth);
    if (p && path) note(gp::GdipDrawPath(graphics(), p.get(), path));
}

void Canvas::drawText(const std::wstring& text, const RECT& rect, UiFont font, uint32_t rgb, UINT flags) {
    qb::SelectGuard selected(dc_, fonts_[font]);
    ::SetTextColor(dc_, palette::text(rgb));
    ::SetBkMode(dc_, TRANSPARENT);
    RECT box = rect;
    ::DrawTextW(dc_, text.c_str(), -1, &box, flags);
}

int Canvas::measureLine(const std::wstring& text, UiFont font) {
    qb::SelectGuard selected(dc_, fonts_[font]);
    RECT box{0, 0, 0, 0};
    ::DrawTextW(dc_, text.c_str(), -1, &box, kTextMeasure);
    return box.right - box.left;
}

int Canvas::textExtent(const std::wstring& text, UiFont font) {
    qb::SelectGuard selected(dc_, fonts_[font]);
    SIZE size{0, 0};
    ::GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

ClipScope::ClipScope(Canvas& canvas, const RECT& rect) : canvas_(canvas), savedDc_(::SaveDC(canvas.dc())) {
    qb::UniqueRegion region(::CreateRectRgn(rect.left, rect.top, rect.right, rect.bottom));
    ::SelectClipRgn(canvas.dc(), region.get());
    canvas.note(gp::GdipSetClipRectI(canvas.graphics(), rect.left, rect.top, rect.right - rect.left,
                                     rect.bottom - rect.top, Gdiplus::CombineModeReplace));
}

ClipScope::~ClipScope() {
    canvas_.note(gp::GdipResetClip(canvas_.graphics()));
    ::RestoreDC(canvas_.dc(), savedDc_);
}

void AddRoundRect(gp::GpPath* path, const RECT& rect, int radius) {
    const int d = 2 * radius;
    gp::GdipAddPathArcI(path, rect.left, rect.top, d, d, 180.0f, 90.0f);
    gp::GdipAddPathArcI(path, rect.right - d, rect.top, d, d, 270.0f, 90.0f);
    gp::GdipAddPathArcI(path, rect.right - d, rect.bottom - d, d, d, 0.0f, 90.0f);
    gp::GdipAddPathArcI(path, rect.left, rect.bottom - d, d, d, 90.0f, 90.0f);
    gp::GdipClosePathFigure(path);
}

void FillRoundRect(Canvas& canvas, const RECT& rect, int radius, uint32_t argb) {
    gp::UniquePath path;
    canvas.note(gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.put()));
    if (!path) return;
    AddRoundRect(path.get(), rect, radius);
    canvas.fillPath(path.get(), argb);
}

void StrokeRoundRect(Canvas& canvas, const RECT& rect, int radius, uint32_t argb, float penWidth) {
    gp::UniquePath path;
    canvas.note(gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.put()));
    if (!path) return;
    AddRoundRect(path.get(), rect, radius);
    canvas.drawPath(path.get(), argb, penWidth);
}

void drawScrollBar(Canvas& canvas, const ScrollBarInfo& bar, bool active) {
    if (!bar.visible) return;
    FillRoundRect(canvas, bar.track, 2, palette::kTrack);
    FillRoundRect(canvas, bar.thumb, 2, active ? palette::kThumbActive : palette::kThumb);
}
