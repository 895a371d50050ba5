#include "render/main_window_painter.h"

#include "render/app_grid_painter.h"
#include "render/download_page_painter.h"
#include "render/header_painter.h"
#include "render/layout.h"
#include "render/overlay_painter.h"
#include "render/palette.h"
#include "render/sidebar_painter.h"
#include "render/state_texts.h"

namespace {

void paintLoading(PaintContext& ctx) {
    ctx.canvas.drawText(L"正在加载应用列表...", {200, 184, ctx.w, 224}, FontBody, palette::kTextTertiary,
                        kTextCentred);
}

void paintFailure(PaintContext& ctx) {
    Canvas& canvas = ctx.canvas;
    canvas.drawText(L"无法连接服务器", {200, 184, ctx.w, 214}, FontCardTitle, palette::kTextPrimary, kTextCentred);
    canvas.drawText(L"请检查网络连接后点击「重新加载」", {200, 220, ctx.w, 244}, FontBody, palette::kTextTertiary,
                    kTextCentred);
    const RECT reload = layout::reloadButton(ctx.w);
    FillRoundRect(canvas, reload, 15, palette::kPrimary);
    canvas.drawText(L"重新加载", reload, FontButton, palette::kTextWhite, kTextCentred);
    ctx.record(reload, HitKind::Reload);
}

void paintCataloguePage(PaintContext& ctx) {
    AppState& app = ctx.app;
    std::wstring name;
    for (const CategoryInfo& category : app.catalog.categories) {
        if (category.id == app.selectedCategoryId) {
            name = category.name;
            break;
        }
    }
    std::vector<AppInfo*> apps;
    for (AppInfo& info : app.catalog.apps) {
        for (const std::wstring& id : info.categoryIds) {
            if (id == app.selectedCategoryId) {
                apps.push_back(&info);
                break;
            }
        }
    }
    const bool hasCategories = !app.catalog.categories.empty();
    PaintAppGrid(ctx, {layout::kGridLeft, 78, ctx.w - 12, ctx.h}, apps,
                 catalogueHeading(name, apps.size(), hasCategories));
    if (apps.empty()) {
        ctx.canvas.drawText(hasCategories ? L"该分类暂无应用" : L"暂无分类，请在管理后台添加", {200, 184, ctx.w, 214},
                            FontBody, palette::kTextTertiary, kTextCentred);
    }
}

void paintContent(PaintContext& ctx) {
    if (ctx.app.catalogLoading) {
        paintLoading(ctx);
    } else if (ctx.app.catalogFailed) {
        paintFailure(ctx);
    } else if (ctx.app.page == 1) {
        PaintDownloadPage(ctx, ctx.w);
    } else if (ctx.app.page == 0) {
        paintCataloguePage(ctx);
    }
}

}  // namespace

void paintMainWindowWith(HDC dc, const RECT& client, AppState& app, const PaintInputs& inputs) {
    app.hitRegions.clear();
    app.contentScrollBar.visible = false;  // only a painted grid has a bar to drag
    const int w = client.right - client.left;
    const int h = client.bottom - client.top;
    if (w <= 0 || h <= 0) return;

    // The back buffer is a 32-bit DIB section so that shapes can be blended into its pixels.
    qb::UniqueMemoryDc memory(::CreateCompatibleDC(dc));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    qb::UniqueBitmap bitmap(::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !bitmap || !bits) return;
    {
        qb::SelectGuard selected(memory.get(), bitmap.get());
        const RECT all{0, 0, w, h};
        qb::UniqueBrush background(::CreateSolidBrush(palette::text(palette::kWindowBackground)));
        ::FillRect(memory.get(), &all, background.get());
        {
            Canvas canvas(memory.get(), PixelBuffer{static_cast<uint32_t*>(bits), w, h}, app.uiFonts);
            PaintContext ctx{app, canvas, inputs, w, h};
            paintHeader(ctx);
            paintSidebar(ctx);
            paintContent(ctx);
            paintToast(ctx);
            paintNotice(ctx);
        }
        ::GdiFlush();
        ::BitBlt(dc, 0, 0, w, h, memory.get(), 0, 0, SRCCOPY);
    }
}
