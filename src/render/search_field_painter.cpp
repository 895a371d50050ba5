#include "render/search_field_painter.h"

#include <cmath>

#include "render/layout.h"
#include "render/palette.h"

namespace {

constexpr int kFieldRadius = 18;

uint32_t mix(uint32_t below, uint32_t above, double a) {
    uint32_t rgb = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double b = (below >> shift) & 0xFF, t = (above >> shift) & 0xFF;
        rgb |= static_cast<uint32_t>(std::lround(b + (t - b) * a)) << shift;
    }
    return rgb;
}

void drawMagnifier(Canvas& canvas, const RECT& field) {
    const float x0 = static_cast<float>(field.left);
    const Pen glyph = headerGlyphPen(canvas, true);
    canvas.drawEllipse(x0 + 14, 24, 11, 11, glyph);
    canvas.drawLine(x0 + 23, 33, x0 + 28, 38, glyph);
}

void drawClearButton(PaintContext& ctx) {
    Canvas& canvas = ctx.canvas;
    const RECT button = layout::searchClear(ctx.w);
    const float left = static_cast<float>(button.left), top = static_cast<float>(button.top);
    const float width = static_cast<float>(button.right - button.left);
    const float height = static_cast<float>(button.bottom - button.top);
    if (ctx.hovered(HitKind::SearchClear)) {
        // High contrast fills the field with the window's colour: a hovered button is ringed in the highlight.
        if (canvas.look().contrast)
            canvas.drawEllipse(left, top, width, height, {palette::kPrimary, 1.0f});
        else
            canvas.fillEllipse(left, top, width, height, palette::kCaptionHover);
    }
    const float cx = left + width / 2, cy = top + height / 2;
    const Pen glyph = headerGlyphPen(canvas, true);
    canvas.drawLine(cx - 4, cy - 4, cx + 4, cy + 4, glyph);
    canvas.drawLine(cx - 4, cy + 4, cx + 4, cy - 4, glyph);
}

}  // namespace

Pen headerGlyphPen(const Canvas& canvas, bool onWindowColour) {
    constexpr Pen kGlyph{0xFFFFFFFF, 1.6f};
    return onWindowColour && canvas.look().contrast ? Pen{palette::kPillBorder, kGlyph.width} : kGlyph;
}

uint32_t headerGradientAt(int x, int w) {
    const double t = w > 0 ? (x + 0.5) / w : 0.0;
    return mix(palette::kHeaderLeft & 0xFFFFFF, palette::kHeaderRight & 0xFFFFFF, t);
}

uint32_t searchFieldBackground(int w) {
    const RECT edit = layout::searchEdit(w);
    const uint32_t below = headerGradientAt((edit.left + edit.right) / 2, w);
    return mix(below, palette::kSearchFieldFill & 0xFFFFFF, (palette::kSearchFieldFill >> 24) / 255.0);
}

void paintSearchField(PaintContext& ctx) {
    Canvas& canvas = ctx.canvas;
    const SearchState& search = ctx.app.search;
    const RECT field = layout::searchField(ctx.w);
    fillRoundRect(canvas, field, kFieldRadius, palette::kSearchFieldFill);
    if (search.focused) strokeRoundRect(canvas, field, kFieldRadius, palette::kPillBorder, 1.0f);
    drawMagnifier(canvas, field);
    // The edit control shows the text and the caret; it is hidden while the field is empty and idle.
    if (!search.hasText && !search.focused) {
        const RECT edit = layout::searchEdit(ctx.w);
        canvas.drawText(L"搜索软件", {edit.left, field.top, edit.right, field.bottom}, FontLabel,
                        palette::kTextSearchPlaceholder, kTextLeftCut);
    }
    if (search.hasText) drawClearButton(ctx);
}
