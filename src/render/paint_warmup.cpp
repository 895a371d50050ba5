#include "render/paint_warmup.h"

#include "base/win_handles.h"
#include "base/worker_thread.h"
#include "model/app_state.h"
#include "render/gdiplus_api.h"
#include "render/paint_cache.h"
#include "render/resource_images.h"

namespace {

// Characters the first screen shows in most fonts: the header, the sidebar, card titles, buttons.
constexpr wchar_t kSample[] =
    L"Quillbox 软件下载安装管理设置分类应用全部办公聊天影音工具游戏浏览器输入法系统安全图片编程"
    L"高速正在加载暂无请检查网络连接重新已完成 0123456789.MBKGB";

constexpr SIZE kSampleRoom{256, 64};  // in units

void prepareBackBuffer(PaintWarmUp& handOver, SIZE size) {
    auto surface = std::make_unique<DibSurface>();
    if (!surface->ensure(size.cx, size.cy)) return handOver.offerBackBuffer(nullptr);
    fillBackground(*surface);
    ::GdiFlush();
    handOver.offerBackBuffer(std::move(surface));
}

void warmUp(PaintWarmUp& handOver, const std::function<FirstFrame()>& firstFrame) {
    const FirstFrame frame = firstFrame ? firstFrame() : FirstFrame{};
    prepareBackBuffer(handOver, frame.pixels);  // without a first frame's size: none, at once
    const qb::DpiScale scale{frame.dpi};
    logoPicture(scale.length(kLogoSize));
    downloadPicturePixels(scale.length(kDownloadPictureSize));

    HFONT fonts[kUiFontCount] = {};
    createUiFonts(fonts, frame.dpi);
    // Room for the whole sample at the frame's scale: a glyph clipped away is not rendered.
    const SIZE room{scale.length(kSampleRoom.cx), scale.length(kSampleRoom.cy)};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = room.cx;
    info.bmiHeader.biHeight = -room.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    qb::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    qb::UniqueBitmap surface(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (dc && surface) {
        qb::SelectGuard selected(dc.get(), surface.get());
        ::SetBkMode(dc.get(), TRANSPARENT);
        for (HFONT font : fonts) {
            if (!font) continue;
            qb::SelectGuard withFont(dc.get(), font);
            RECT box{0, 0, room.cx, room.cy};
            ::DrawTextW(dc.get(), kSample, -1, &box, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
        }
        // The pictures of the first frame need no decoder (see logoPicture): the decoder is left for the
        // icons, after the first frame.
        gp::UniqueGraphics graphics;
        if (gp::GdipCreateFromHDC(dc.get(), graphics.put()) == Gdiplus::Ok)
            gp::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
    }
    // Fonts deleted here stay in the font engine's cache, where the window's own fonts find them.
    for (HFONT font : fonts)
        if (font) ::DeleteObject(font);
}

}  // namespace

std::shared_ptr<PaintWarmUp> warmUpPaintingInBackground(std::function<FirstFrame()> firstFrame) {
    auto handOver = std::make_shared<PaintWarmUp>();
    const bool started =
        qb::startWorker([handOver, firstFrame = std::move(firstFrame)] { warmUp(*handOver, firstFrame); });
    return started ? handOver : nullptr;
}

void PaintWarmUp::offerBackBuffer(std::unique_ptr<DibSurface> surface) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stage_ == Stage::Taken) return;  // too late: freed on the way out, after the lock
    stage_ = Stage::Offered;
    backBuffer_ = std::move(surface);
    lock.unlock();
    offered_.notify_one();
}

std::unique_ptr<DibSurface> PaintWarmUp::takeBackBuffer(int w, int h, int waitMs) {
    std::unique_ptr<DibSurface> surface;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        offered_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return stage_ != Stage::Filling; });
        stage_ = Stage::Taken;
        surface = std::move(backBuffer_);
    }
    if (!surface) return nullptr;
    return surface->width() == w && surface->height() == h ? std::move(surface) : nullptr;  // else freed here
}
