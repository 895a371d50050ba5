#include "render/app_grid_painter.h"

#include <algorithm>

#include "render/app_icon.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/state_texts.h"

namespace {

constexpr int kGridBar = 1;  // dragBar / pageRepeatBar value of the grid's bar
constexpr wchar_t kCommonCategoryName[] = L"常用软件";

std::wstring selectedCategoryName(const AppState& app) {
    for (const CategoryInfo& category : app.catalog.categories)
        if (category.id == app.selectedCategoryId) return category.name;
    return std::wstring();
}

void paintCardButton(PaintContext& ctx, const AppInfo& app, const RECT& button) {
    const bool hovered = ctx.hovered(HitKind::CardAction, app.id);
    const CardButtonLook look = cardButtonLook(ctx.taskFor(app.id), app.hasPackage, hovered);
    FillRoundRect(ctx.canvas, button, 14, look.fill);
    if (look.showsProgress && look.percent > 0) {
        // One pixel of the 100-pixel button stands for one percent.
        const RECT filled{button.left, button.top, button.left + look.percent, button.bottom};
        FillRoundRect(ctx.canvas, filled, 14, palette::kCardProgress);
    }
    ctx.canvas.drawText(look.label, button, FontButton, look.labelRgb, kTextCentred);
}

void paintCard(PaintContext& ctx, AppInfo& app, const RECT& card, bool nameOnly) {
    Canvas& canvas = ctx.canvas;
    const int x = card.left, y = card.top, cx2 = card.right;
    FillRoundRect(canvas, card, 10, palette::kWhite);
    const bool hovered = ctx.hovered(HitKind::CardAction, app.id);
    StrokeRoundRect(canvas, card, 10, hovered ? palette::kCardBorderHover : palette::kCardBorder, 1.0f);

    DrawAppIcon(ctx, &app, layout::cardIcon(card));
    drawCardNameLine(ctx, app, card, nameOnly);
    canvas.drawText(app.description, {x + 8, y + 130, cx2 - 8, y + 150}, FontBody, palette::kTextTertiary,
                    kTextCentredCut);
    const std::wstring meta = cardMetaLine(app.packageSize, app.updatedAt);
    if (!meta.empty()) {
        canvas.drawText(meta, {x + 8, y + 152, cx2 - 8, y + 172}, FontSmall, palette::kTextTertiary, kTextCentredCut);
    }
    canvas.drawLine(static_cast<float>(x + 18), static_cast<float>(y + 180), static_cast<float>(cx2 - 18),
                    static_cast<float>(y + 180), {palette::kCardBorder, 1.0f});

    const RECT button = layout::cardButton(card);
    ctx.record(button, HitKind::CardAction, app.id);  // the whole button, even where the clip hides it
    paintCardButton(ctx, app, button);
}

}  // namespace

void drawCardNameLine(PaintContext& ctx, const AppInfo& app, const RECT& card, bool nameOnly) {
    Canvas& canvas = ctx.canvas;
    const int x = card.left, y = card.top, cx2 = card.right;
    const RECT line{x + 8, y + 104, cx2 - 8, y + 128};
    if (nameOnly || app.version.empty()) {
        canvas.drawText(app.name, line, FontCardTitle, palette::kTextPrimary, kTextCentredCut);
        return;
    }
    const std::wstring label = L"v" + app.version;
    if (app.name.empty()) {
        canvas.drawText(label, line, FontCardTitle, palette::kTextPrimary, kTextCentredCut);
        return;
    }
    const int nw = canvas.textExtent(app.name, FontCardTitle);
    const int vw = canvas.textExtent(label, FontCardTitle);
    const int total = nw + 5 + vw;
    const int room = (cx2 - x) - 16;
    if (total > room) {
        // Only the name is cut; the version keeps its place at the right.
        canvas.drawText(label, {cx2 - 8 - vw, y + 104, cx2 - 8, y + 128}, FontCardTitle, palette::kTextPrimary,
                        kTextLeft);
        canvas.drawText(app.name, {x + 8, y + 104, cx2 - 8 - vw - 5, y + 128}, FontCardTitle, palette::kTextPrimary,
                        kTextLeftCut);
        return;
    }
    const int start = x + 8 + (room - total) / 2;
    canvas.drawText(app.name, {start, y + 104, start + nw, y + 128}, FontCardTitle, palette::kTextPrimary, kTextLeft);
    canvas.drawText(label, {start + nw + 5, y + 104, cx2 - 8, y + 128}, FontCardTitle, palette::kTextPrimary,
                    kTextLeft);
}

void PaintAppGrid(PaintContext& ctx, const RECT& rect, const std::vector<AppInfo*>& apps,
                  const std::wstring& heading) {
    AppState& app = ctx.app;
    const layout::GridColumns grid = layout::gridColumns(rect.right);
    const int top = heading.empty() ? rect.top : layout::kGridTopWithHeading;
    const int contentHeight = layout::gridContentHeight(static_cast<int>(apps.size()), grid.columns);
    const int viewHeight = rect.bottom - top;
    const int maxScroll = layout::gridMaxScroll(contentHeight, viewHeight);
    app.contentScroll = std::clamp(app.contentScroll, 0, maxScroll);

    ctx.canvas.drawText(heading, {layout::kGridLeft, 78, rect.right, 118}, FontSectionTitle, palette::kTextPrimary,
                        kTextLeft);

    const bool nameOnly = selectedCategoryName(app) == kCommonCategoryName;
    {
        ClipScope clip(ctx.canvas, {layout::kGridLeft, top, rect.right, rect.bottom});
        for (int i = 0; i < static_cast<int>(apps.size()); ++i) {
            const RECT card = layout::cardRect(grid, i, top, app.contentScroll);
            if (card.top >= rect.bottom || card.bottom <= top) continue;
            paintCard(ctx, *apps[i], card, nameOnly);
        }
    }

    const RECT track{rect.right - 7, top, rect.right - 3, rect.bottom};
    app.contentScrollBar =
        layout::scrollBarGeometry(track, viewHeight, contentHeight, maxScroll, app.contentScroll, layout::kGridMinThumb);
    drawScrollBar(ctx.canvas, app.contentScrollBar, app.dragBar == kGridBar || app.pageRepeatBar == kGridBar);
}
