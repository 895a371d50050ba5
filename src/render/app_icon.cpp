#include "render/app_icon.h"

#include "render/palette.h"

namespace {

constexpr uint32_t kPlaceholderPalette[5] = {0x0EA5E9, 0x06B6D4, 0x38BDF8, 0x22D3EE, 0x818CF8};

// Moves every channel towards white, keeping percent of its distance from white.
uint32_t towardsWhite(uint32_t rgb, int percent) {
    uint32_t result = 0xFF000000;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int v = static_cast<int>((rgb >> shift) & 0xFF);
        result |= static_cast<uint32_t>(255 - (255 - v) * percent / 100) << shift;
    }
    return result;
}

// The bitmap is premultiplied and already at the size of rect (in pixels): one AlphaBlend through the
// GDI+ context's own DC, so it lands on top of what GDI+ drew before.
bool drawDecodedIcon(Canvas& canvas, HBITMAP bitmap, const RECT& rect) {
    HDC dc = nullptr;
    if (gp::GdipGetDC(canvas.graphics(), &dc) != Gdiplus::Ok || !dc) return false;
    bool drawn = false;
    {
        qb::UniqueMemoryDc source(::CreateCompatibleDC(dc));
        if (source) {
            qb::SelectGuard selected(source.get(), bitmap);
            const int side = rect.right - rect.left;
            const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            drawn = ::AlphaBlend(dc, rect.left, rect.top, side, side, source.get(), 0, 0, side, side, blend) != FALSE;
        }
    }
    gp::GdipReleaseDC(canvas.graphics(), dc);
    return drawn;
}

// The letter goes through the GDI+ context's own DC so it lands on top of the tile just filled.
void drawLetter(Canvas& canvas, const std::wstring& letter, const RECT& rect, uint32_t rgb) {
    HDC dc = nullptr;
    if (gp::GdipGetDC(canvas.graphics(), &dc) != Gdiplus::Ok || !dc) return;
    {
        qb::SelectGuard selected(dc, canvas.font(FontIconLetter));
        ::SetTextColor(dc, palette::text(canvas.look().text(rgb)));
        ::SetBkMode(dc, TRANSPARENT);
        RECT box = canvas.pixels(rect);
        ::DrawTextW(dc, letter.c_str(), -1, &box, kTextCentred);
    }
    gp::GdipReleaseDC(canvas.graphics(), dc);
}

}  // namespace

PlaceholderColours placeholderColours(const AppInfo* app) {
    uint32_t base = kPlaceholderPalette[0];
    if (app) {
        const int index = ((app->id % 5) + 5) % 5;
        base = kPlaceholderPalette[index];
    }
    return {base, towardsWhite(base, 14), towardsWhite(base, 30)};
}

std::wstring placeholderLetter(const AppInfo* app) {
    if (!app || app->name.empty()) return L"?";
    // A character beyond the first plane (a rare CJK one, an emoji) takes two UTF-16 units.
    return app->name.substr(0, IS_HIGH_SURROGATE(app->name[0]) && app->name.size() > 1 ? 2 : 1);
}

uint32_t iconStamp(const AppState& state, const AppInfo& app, int drawnSize) {
    return state.icons.stamp(app.id, drawnSize);
}

void drawAppIcon(PaintContext& ctx, const AppInfo* app, const RECT& rect) {
    // Decoded at the tile's size in pixels, the same wherever the tile lands.
    const RECT pixels = ctx.canvas.pictureBox(rect.left, rect.top, rect.right - rect.left);
    const int side = pixels.right - pixels.left;
    if (app) {
        if (HBITMAP bitmap = ctx.app.icons.bitmap(app->id, side); bitmap && drawDecodedIcon(ctx.canvas, bitmap, pixels))
            return;
    }
    const PlaceholderColours colours = placeholderColours(app);
    const int radius = (rect.right - rect.left) * 12 / 64;
    // In high contrast the tile takes the window's colours, and its letter the window's text colour.
    const bool contrast = ctx.canvas.look().contrast.has_value();
    fillRoundRect(ctx.canvas, rect, radius, contrast ? palette::kWhite : colours.fill);
    strokeRoundRect(ctx.canvas, rect, radius, contrast ? palette::kCardBorder : colours.border, 1.0f);
    drawLetter(ctx.canvas, placeholderLetter(app), rect, colours.base);
}
