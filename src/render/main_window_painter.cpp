#include "render/main_window_painter.h"

#include "render/app_grid_painter.h"
#include "render/download_page_painter.h"
#include "render/header_painter.h"
#include "render/layout.h"
#include "render/overlay_painter.h"
#include "render/palette.h"
#include "render/sidebar_painter.h"
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
    const std::wstring heading = catalogueHeading(name, apps.size(), hasCategories);
    PaintAppGrid(ctx, {layout::kGridLeft, 78, ctx.w - 12, ctx.h}, apps, heading);
    if (!app.catalogNotice.empty()) {
        const int left = layout::kGridLeft + ctx.canvas.textExtent(heading, FontSectionTitle) + 16;
        ctx.canvas.drawText(app.catalogNotice, {left, 78, ctx.w - 24, 118}, FontBody, palette::kTextTertiary,
                            kTextLeftCut);
    }
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

// The back buffer outlives a paint: creating a 1180 x 780 DIB section and touching its fresh pages
// for the first time cost more than drawing the whole frame. It is made again only when the client
// size changes. Painting happens on the main thread only.
class BackBuffer {
public:
    bool ensure(int w, int h) {
        if (dc_ && bits_ && w == w_ && h == h_) return true;
        release();
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        qb::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
        void* bits = nullptr;
        qb::UniqueBitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!dc || !bitmap || !bits) return false;
        previous_ = ::SelectObject(dc.get(), bitmap.get());
        dc_ = std::move(dc);
        bitmap_ = std::move(bitmap);
        bits_ = static_cast<uint32_t*>(bits);
        w_ = w;
        h_ = h;
        return true;
    }
    HDC dc() const { return dc_.get(); }
    uint32_t* bits() const { return bits_; }

private:
    void release() {
        if (dc_ && previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_.get(), previous_);
        previous_ = nullptr;
        bitmap_.reset();
        dc_.reset();
        bits_ = nullptr;
        w_ = h_ = 0;
    }

    qb::UniqueMemoryDc dc_;
    qb::UniqueBitmap bitmap_;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
    int w_ = 0;
    int h_ = 0;
};

BackBuffer& backBuffer() {
    static BackBuffer* const buffer = new BackBuffer();  // kept to the end of the process
    return *buffer;
}

}  // namespace

void paintMainWindowWith(HDC dc, const RECT& client, AppState& app, const PaintInputs& inputs) {
    app.hitRegions.clear();
    app.contentScrollBar.visible = false;  // only a painted grid has a bar to drag
    const int w = client.right - client.left;
    const int h = client.bottom - client.top;
    if (w <= 0 || h <= 0) return;

    // The back buffer is a 32-bit DIB section so that shapes can be blended into its pixels.
    BackBuffer& buffer = backBuffer();
    if (!buffer.ensure(w, h)) return;
    HDC memory = buffer.dc();
    const int saved = ::SaveDC(memory);  // whatever a paint leaves selected or clipped goes with it
    const RECT all{0, 0, w, h};
    qb::UniqueBrush background(::CreateSolidBrush(palette::text(palette::kWindowBackground)));
    ::FillRect(memory, &all, background.get());
    {
        Canvas canvas(memory, PixelBuffer{buffer.bits(), w, h}, app.uiFonts);
        PaintContext ctx{app, canvas, inputs, w, h};
        paintHeader(ctx);
        paintSidebar(ctx);
        paintContent(ctx);
        paintToast(ctx);
        paintNotice(ctx);
    }
    ::GdiFlush();
    ::BitBlt(dc, 0, 0, w, h, memory, 0, 0, SRCCOPY);
    if (saved) ::RestoreDC(memory, saved);
}
