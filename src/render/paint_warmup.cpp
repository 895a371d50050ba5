#include "render/paint_warmup.h"

#include <mutex>

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

struct PreparedBackBuffer {
    std::mutex mutex;
    std::unique_ptr<DibSurface> surface;  // set once, when it is filled
    bool asked = false;                   // the first frame has looked for it: one ready later is not kept
};

PreparedBackBuffer& preparedBackBuffer() {
    static PreparedBackBuffer prepared;
    return prepared;
}

void prepareBackBuffer(SIZE size) {
    auto surface = std::make_unique<DibSurface>();
    if (!surface->ensure(size.cx, size.cy)) return;
    fillBackground(*surface);
    ::GdiFlush();
    PreparedBackBuffer& prepared = preparedBackBuffer();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    if (!prepared.asked) prepared.surface = std::move(surface);
}

void warmUp(const std::function<SIZE()>& clientSize) {
    if (clientSize) prepareBackBuffer(clientSize());
    logoPicture();
    downloadPicturePixels();

    HFONT fonts[kUiFontCount] = {};
    createUiFonts(fonts);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 256;
    info.bmiHeader.biHeight = -64;
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
            RECT box{0, 0, 256, 64};
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

bool warmUpPaintingInBackground(std::function<SIZE()> clientSize) {
    return qb::startWorker([clientSize = std::move(clientSize)] { warmUp(clientSize); });
}

std::unique_ptr<DibSurface> takePreparedBackBuffer(int w, int h) {
    PreparedBackBuffer& prepared = preparedBackBuffer();
    std::unique_ptr<DibSurface> surface;
    {
        // Held by the worker only to hand over a filled surface, never while it fills one.
        std::lock_guard<std::mutex> lock(prepared.mutex);
        prepared.asked = true;
        surface = std::move(prepared.surface);
    }
    if (!surface) return nullptr;
    return surface->width() == w && surface->height() == h ? std::move(surface) : nullptr;  // else freed here
}
