#include "render/header_painter.h"

#include <cmath>

#include "render/canvas.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/resource_images.h"
#include "render/search_field_painter.h"

namespace {

enum PillGlyph : int { PillGlyphDownload = 0, PillGlyphGear = 1, PillGlyphUpdate = 2 };

// The logo picture at its drawn size in pixels, or a translucent tile with "云" when the resource cannot
// be decoded.
void paintLogo(Canvas& canvas) {
    const RECT tile{22, 9, 68, 55};
    const RECT pixels = canvas.pictureBox(tile.left, tile.top, kLogoSize);
    if (const Picture& logo = logoPicture(pixels.right - pixels.left); !logo.empty()) {
        canvas.drawPicture(logo, tile.left, tile.top);
        return;
    }
    fillRoundRect(canvas, tile, 10, palette::kLogoFallback);
    canvas.drawText(L"云", tile, FontLogoGlyph, palette::kTextWhite, kTextCentred);
}

void fillButton(Canvas& canvas, const RECT& r, uint32_t argb) {
    canvas.fillRect(static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.right - r.left),
                    static_cast<float>(r.bottom - r.top), argb);
}

void paintCaptionButtons(PaintContext& ctx) {
    Canvas& canvas = ctx.canvas;
    const int w = ctx.w;
    const float fw = static_cast<float>(w);
    const Pen glyph = headerGlyphPen(canvas, false);
    if (ctx.hovered(HitKind::Close)) fillButton(canvas, layout::closeButton(w), palette::kCloseHover);
    if (ctx.hovered(HitKind::Minimize)) fillButton(canvas, layout::minimizeButton(w), palette::kCaptionHover);
    if (ctx.hovered(HitKind::Maximize)) fillButton(canvas, layout::maximizeButton(w), palette::kCaptionHover);

    canvas.drawLine(fw - 122, 39, fw - 108, 39, glyph);
    if (ctx.inputs.maximized) {
        canvas.drawRect(fw - 77, 28, 10, 10, glyph);
        canvas.drawLine(fw - 74, 25, fw - 64, 25, glyph);
        canvas.drawLine(fw - 64, 25, fw - 64, 35, glyph);
        canvas.drawLine(fw - 64, 35, fw - 67, 35, glyph);
    } else {
        canvas.drawRect(fw - 76, 25, 14, 14, glyph);
    }
    canvas.drawLine(fw - 31, 24, fw - 15, 40, glyph);
    canvas.drawLine(fw - 31, 40, fw - 15, 24, glyph);
}

// A red count over the top-right corner of a pill; nothing for 0.
void paintBadge(Canvas& canvas, const RECT& badge, int count) {
    if (count <= 0) return;
    fillRoundRect(canvas, badge, 12, palette::kError);
    strokeRoundRect(canvas, badge, 12, palette::kWhite, 1.0f);
    canvas.drawText(std::to_wstring(count), badge, FontSmall, palette::kTextWhite, kTextCentred);
}

// One header pill; active wins over hovered. The pill's label starts 36 pixels in, after the glyph.
void drawHeaderPill(Canvas& canvas, const RECT& rect, const std::wstring& label, int glyph, bool hovered,
                    bool active) {
    if (active) {
        fillRoundRect(canvas, rect, 17, palette::kPillActive);
        strokeRoundRect(canvas, rect, 17, palette::kPillBorder, 1.0f);
    } else if (hovered) {
        fillRoundRect(canvas, rect, 17, palette::kPillHover);
    }
    // In high contrast the active pill is filled with the window's colour, as the search field is: its glyph and
    // label take the window's text colour, or they would vanish into it.
    const bool windowColoured = active && canvas.look().contrast.has_value();
    const Pen glyphPen = headerGlyphPen(canvas, active);
    const float x0 = static_cast<float>(rect.left);
    if (glyph == PillGlyphDownload) {
        canvas.drawLine(x0 + 21, 24, x0 + 21, 34, glyphPen);
        canvas.drawLine(x0 + 17, 30, x0 + 21, 34, glyphPen);
        canvas.drawLine(x0 + 25, 30, x0 + 21, 34, glyphPen);
        canvas.drawLine(x0 + 13, 37, x0 + 13, 40, glyphPen);
        canvas.drawLine(x0 + 29, 37, x0 + 29, 40, glyphPen);
        canvas.drawLine(x0 + 13, 40, x0 + 29, 40, glyphPen);
    } else if (glyph == PillGlyphUpdate) {
        // The download arrow turned upwards, over a bar.
        canvas.drawLine(x0 + 21, 24, x0 + 21, 35, glyphPen);
        canvas.drawLine(x0 + 17, 28, x0 + 21, 24, glyphPen);
        canvas.drawLine(x0 + 25, 28, x0 + 21, 24, glyphPen);
        canvas.drawLine(x0 + 13, 40, x0 + 29, 40, glyphPen);
    } else {
        canvas.drawEllipse(x0 + 17, 28, 8, 8, glyphPen);
        constexpr double kPi = 3.14159265;
        for (int i = 0; i < 8; ++i) {
            const double a = i * kPi / 4;
            const float c = static_cast<float>(std::cos(a)), s = static_cast<float>(std::sin(a));
            canvas.drawLine(x0 + 21 + 5 * c, 32 + 5 * s, x0 + 21 + 8 * c, 32 + 8 * s, glyphPen);
        }
    }
    canvas.drawText(label, {rect.left + 36, 14, rect.right - 6, 50}, FontLabel,
                    windowColoured      ? palette::kTextPrimary
                    : active || hovered ? palette::kTextWhite
                                        : palette::kTextPillIdle,
                    kTextLeft);
}

}  // namespace

void paintBrandGradient(Canvas& canvas, const RECT& band) {
    canvas.fillGradient(band, palette::kHeaderLeft, palette::kHeaderRight);
}

int downloadingCount(const TaskMap& tasks) {
    int downloading = 0;
    for (const auto& entry : tasks)
        if (entry.second.state == Downloading) ++downloading;
    return downloading;
}

void paintHeader(PaintContext& ctx) {
    Canvas& canvas = ctx.canvas;
    paintBrandGradient(canvas, RECT{0, 0, ctx.w, layout::kHeaderHeight});
    paintLogo(canvas);
    canvas.drawText(L"Quillbox", {82, 0, 282, 64}, FontBrandTitle, palette::kTextWhite, kTextLeft);
    canvas.fillRect(230, 22, 1, 20, palette::kHeaderSeparator);
    if (layout::sloganShown(ctx.w))
        canvas.drawText(L"高速下载 · 免费安装", layout::slogan(), FontBrandSubtitle, palette::kTextSubtitle, kTextLeft);
    paintSearchField(ctx);
    paintCaptionButtons(ctx);

    drawHeaderPill(canvas, layout::updatesPill(ctx.w), L"软件升级", PillGlyphUpdate, ctx.hovered(HitKind::UpdatesTab),
                   ctx.app.page == Page::Updates);
    const RECT downloads = layout::downloadsPill(ctx.w);
    drawHeaderPill(canvas, downloads, L"下载管理", PillGlyphDownload, ctx.hovered(HitKind::DownloadsTab),
                   ctx.app.page == Page::Downloads);
    const RECT settings = layout::settingsPill(ctx.w);
    drawHeaderPill(canvas, settings, L"下载设置", PillGlyphGear, ctx.hovered(HitKind::SettingsButton), false);
    paintBadge(canvas, layout::taskBadge(ctx.w), downloadingCount(ctx.inputs.tasks));
    paintBadge(canvas, layout::updatesBadge(ctx.w), static_cast<int>(updatableApps(ctx.app).size()));
}
