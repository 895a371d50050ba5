#include "render/main_window_painter.h"

#include "render/app_grid_painter.h"
#include "render/download_page_painter.h"
#include "render/frame_update.h"
#include "render/header_painter.h"
#include "render/layout.h"
#include "render/overlay_painter.h"
#include "render/paint_cache.h"
#include "render/palette.h"
#include "render/sidebar_painter.h"
#include "render/updates_page_painter.h"
#include "render/state_texts.h"

#include <cstdint>

namespace {

void paintLoading(PaintContext& ctx) {
    ctx.canvas.drawText(L"正在加载应用列表...", {200, 184, ctx.w, 224}, FontBody, palette::kTextTertiary,
                        kTextCentred);
}

void paintFailure(PaintContext& ctx) {
    Canvas& canvas = ctx.canvas;
    canvas.drawText(L"无法连接服务器", {200, 184, ctx.w, 214}, FontCardTitle, palette::kTextPrimary, kTextCentred);
    // A proxy that wanted a password it did not get says so instead of blaming the network.
    const bool proxyRefused = ctx.app.catalogue.lastError.http.fault == HttpFault::ProxyAuthRequired;
    canvas.drawText(proxyRefused ? L"代理需要身份验证" : L"请检查网络连接后点击「重新加载」", {200, 220, ctx.w, 244}, FontBody,
                    palette::kTextTertiary, kTextCentred);
    const RECT reload = layout::reloadButton(ctx.w);
    fillRoundRect(canvas, reload, 15, palette::kPrimary);
    canvas.drawText(L"重新加载", reload, FontButton, palette::kTextWhite, kTextCentred);
}

bool paintCataloguePage(PaintContext& ctx, PaintCaches& caches) {
    const AppState& app = ctx.app;
    const std::vector<size_t> apps = shownApps(app);
    const bool hasCategories = !app.catalogue.categories.empty();
    const RECT headingRect = layout::contentHeading(ctx.w);
    const std::wstring heading = cataloguePageHeading(
        app, apps.size(), headingRect.right - headingRect.left,
        [&ctx](const std::wstring& text) { return ctx.canvas.textExtent(text, FontSectionTitle); });
    const bool complete = paintAppGrid(ctx, apps, heading, caches);
    if (!app.catalogueNotice.empty()) {
        const int left = layout::kGridLeft + ctx.canvas.textExtent(heading, FontSectionTitle) + 16;
        ctx.canvas.drawText(app.catalogueNotice, {left, 78, ctx.w - 24, 118}, FontBody, palette::kTextTertiary,
                            kTextLeftCut);
    }
    if (apps.empty()) {
        const wchar_t* message = searching(app)   ? L"没有找到相关软件"
                                 : hasCategories ? L"该分类暂无应用"
                                                 : L"暂无分类，请在管理后台添加";
        ctx.canvas.drawText(message, {200, 184, ctx.w, 214}, FontBody, palette::kTextTertiary, kTextCentred);
    }
    return complete;
}

bool paintContent(PaintContext& ctx, PaintCaches& caches) {
    if (ctx.app.catalogueLoading) {
        paintLoading(ctx);
    } else if (ctx.app.catalogueFailed) {
        paintFailure(ctx);
    } else if (ctx.app.page == Page::Downloads) {
        paintDownloadPage(ctx, caches.rows);
    } else if (ctx.app.page == Page::Updates) {
        paintUpdatesPage(ctx);
    } else {
        return paintCataloguePage(ctx, caches);
    }
    return true;
}

ChromeKey chromeKey(const AppState& app, const PaintInputs& inputs, int w, int h) {
    ChromeKey key;
    key.w = w;
    key.h = h;
    key.maximized = inputs.maximized;
    key.downloadsPage = app.page == Page::Downloads;
    key.selectedCategoryId = app.selectedCategoryId;
    key.categories = app.catalogue.categories;
    key.sidebarScroll = app.sidebarScroll;
    key.sidebarBarVisible = app.sidebarScrollBar.visible;
    key.sidebarThumb = app.sidebarScrollBar.thumb;
    key.sidebarBarActive = sidebarBarActive(app);
    switch (app.hoverActive ? app.hoverKind : HitKind::None) {
        case HitKind::Category:
        case HitKind::Minimize:
        case HitKind::Maximize:
        case HitKind::Close:
        case HitKind::DownloadsTab:
        case HitKind::SettingsButton:
        case HitKind::SearchClear:
        case HitKind::UpdatesTab:
            key.hoverKind = app.hoverKind;
            key.hoverParam = app.hoverParam;
            break;
        default: break;
    }
    key.downloading = downloadingCount(inputs.tasks);
    key.searchHasText = app.search.hasText;
    key.searchFocused = app.search.focused;
    key.updatesPage = app.page == Page::Updates;
    key.updatable = static_cast<int>(updatableApps(app).size());
    return key;
}

// The header and the sidebar over the background, drawn again only when what they show changes; as
// large as the client's pixels, which lay out w x h units.
const DibSurface* chromeLayer(const AppState& app, const PaintInputs& inputs, SIZE pixels, PaintCaches& caches) {
    const SIZE units = inputs.look.scale.unitsOfClient(pixels);
    const int w = units.cx, h = units.cy;
    ChromeKey key = chromeKey(app, inputs, pixels.cx, pixels.cy);
    if (caches.chromeValid && caches.chromeKey == key) return &caches.chrome;
    caches.chromeValid = false;
    if (!caches.chrome.ensure(pixels.cx, pixels.cy)) return nullptr;
    fillBackground(caches.chrome, inputs.look.background(palette::kWindowBackground));
    {
        Canvas canvas(caches.chrome.dc(), caches.chrome.pixels(), app.uiFonts, inputs.look);
        PaintContext ctx{app, canvas, inputs, w, h};
        paintHeader(ctx);
        paintSidebar(ctx);
    }
    caches.chromeKey = std::move(key);
    caches.chromeValid = true;
    return &caches.chrome;
}

}  // namespace

bool paintMainWindowWith(HDC dc, const RECT& client, const AppState& app, const PaintInputs& inputs,
                         PaintCaches& caches) {
    const SIZE pixels{client.right - client.left, client.bottom - client.top};
    const SIZE units = inputs.look.scale.unitsOfClient(pixels);
    const int w = units.cx, h = units.cy;
    if (w <= 0 || h <= 0) return true;
    caches.matchLook(inputs.look);

    // The back buffer is a 32-bit DIB section so that shapes can be blended into its pixels; it is
    // kept because making and first touching a new one costs more than drawing the whole frame.
    DibSurface& buffer = caches.backBuffer;
    // The first frame draws everything straight into the back buffer: making the layer of the header
    // and the sidebar and the cards' faces too would cost the first frame of the process several
    // surfaces' worth of fresh memory. They are made between paints.
    const bool firstFrame = buffer.width() == 0;
    if (firstFrame && caches.firstBackBuffer) buffer.swap(*caches.firstBackBuffer);
    caches.firstBackBuffer.reset();
    if (!buffer.ensure(pixels.cx, pixels.cy)) return true;
    HDC memory = buffer.dc();
    const int saved = ::SaveDC(memory);  // whatever a paint leaves selected or clipped goes with it
    const DibSurface* chrome = firstFrame ? nullptr : chromeLayer(app, inputs, pixels, caches);
    bool complete = true;
    {
        Canvas canvas(memory, buffer.pixels(), app.uiFonts, inputs.look);
        PaintContext ctx{app, canvas, inputs, w, h, firstFrame};
        if (chrome) {
            ::BitBlt(memory, 0, 0, pixels.cx, pixels.cy, chrome->dc(), 0, 0, SRCCOPY);
        } else {
            fillBackground(buffer, inputs.look.background(palette::kWindowBackground));
            paintHeader(ctx);
            paintSidebar(ctx);
        }
        complete = paintContent(ctx, caches);
        paintFocusRing(ctx);
        paintToast(ctx);
        paintNotice(ctx);
        paintCardMenu(ctx);
    }
    ::GdiFlush();
    ::BitBlt(dc, 0, 0, pixels.cx, pixels.cy, memory, 0, 0, SRCCOPY);
    if (saved) ::RestoreDC(memory, saved);
    return complete;
}

FacePreparation prepareMainWindowFaces(const AppState& app, const PaintInputs& inputs, PaintCaches& caches, int w,
                                       int h, double budgetMs) {
    FacePreparation done;
    const SIZE pixels{w, h};
    const SIZE units = inputs.look.scale.unitsOfClient(pixels);
    if (app.page != Page::Catalogue || app.catalogueLoading || app.catalogueFailed || units.cx <= 0 || units.cy <= 0)
        return done;
    caches.matchLook(inputs.look);
    if (!caches.backBuffer.ensure(pixels.cx, pixels.cy)) return done;
    if (!chromeLayer(app, inputs, pixels, caches)) return done;
    Canvas canvas(caches.backBuffer.dc(), caches.backBuffer.pixels(), app.uiFonts, inputs.look);
    PaintContext ctx{app, canvas, inputs, units.cx, units.cy};
    done.more = prepareCardFaces(ctx, shownApps(app), caches, budgetMs, done.shownChanged);
    return done;
}
