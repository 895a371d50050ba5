#include "render/sidebar_painter.h"

#include <algorithm>

#include "render/category_icons.h"
#include "render/layout.h"
#include "render/palette.h"

namespace {

void paintRow(PaintContext& ctx, const CategoryInfo& category, int index, int rowTop) {
    Canvas& canvas = ctx.canvas;
    const RECT row = layout::sidebarRow(index, ctx.app.sidebarScroll);
    const bool selected = ctx.app.page == Page::Catalogue && category.id == ctx.app.selectedCategoryId;
    const bool hovered = ctx.hovered(HitKind::Category, index);
    if (selected) {
        fillRoundRect(canvas, row, 8, palette::kSelectedRow);
        canvas.fillRect(12.0f, static_cast<float>(rowTop + 10), 3.0f, 26.0f, palette::kPrimary);
    } else if (hovered) {
        fillRoundRect(canvas, row, 8, palette::kNeutralFill);
        // In high contrast the fill is the window colour: the row is outlined in the highlight instead.
        if (canvas.look().contrast) strokeRoundRect(canvas, row, 8, palette::kPrimary, 1.0f);
    }

    // Icon, a 7-pixel gap and the name are centred together while the name is narrow enough.
    const int textWidth = canvas.measureLine(category.name, FontCategory);
    const int off = textWidth < 148 ? (149 - textWidth) / 2 : 0;
    const CategoryIcon kind = categoryIconFor(category.name);
    uint32_t colour = categoryIconColour(kind);
    if (selected || hovered) colour = darkenedIconColour(colour);
    drawCategoryIcon(canvas, kind, {off + 12, rowTop + 13, off + 32, rowTop + 33}, colour, selected || hovered);
    canvas.drawText(category.name, {off + 39, rowTop, 184, rowTop + layout::kSidebarRowHeight}, FontCategory,
                    palette::kTextPrimary, kTextLeftCut);
}

}  // namespace

bool sidebarBarActive(const AppState& app) {
    return app.dragBar == ScrollBarId::Sidebar || app.pageRepeatBar == ScrollBarId::Sidebar;
}

std::vector<CategoryInfo> snapshotCategories(const Catalogue& catalogue) { return catalogue.categories; }

void paintSidebar(PaintContext& ctx) {
    const AppState& app = ctx.app;
    Canvas& canvas = ctx.canvas;
    canvas.fillRect(0.0f, static_cast<float>(layout::kHeaderHeight), static_cast<float>(layout::kSidebarWidth),
                    static_cast<float>(ctx.h - layout::kHeaderHeight), palette::kSidebarFill);
    canvas.drawLine(200.0f, static_cast<float>(layout::kHeaderHeight), 200.0f, static_cast<float>(ctx.h),
                    {palette::kSidebarBorder, 1.0f});

    const std::vector<CategoryInfo>& categories = app.catalogue.categories;
    {
        ClipScope clip(canvas, layout::sidebarListView(ctx.h));
        for (int i = 0; i < static_cast<int>(categories.size()); ++i) {
            const int rowTop = layout::sidebarRowTop(i, app.sidebarScroll);
            if (!layout::sidebarRowVisible(rowTop, ctx.h)) continue;
            paintRow(ctx, categories[i], i, rowTop);
        }
    }

    drawScrollBar(canvas, app.sidebarScrollBar, sidebarBarActive(app));
}
