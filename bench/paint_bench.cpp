// Times paintMainWindow at 1180 x 780 into a memory DC made for a hidden window: the frame alone
// (loading screen), the card grid with placeholders and with decoded icons, scrolling through a
// category one wheel notch (120 px) per paint, and the download page with 20 tasks held by the
// DownloadManager in eight states. Next to them: one BitBlt of the same size. Prints key=value lines.
// Each further SCALE (2 for 200 %) runs every scene again in the same process at that scale: the
// window's pixels, fonts and icons scaled, its keys ending in _x<SCALE> (frame_x2_ms).
//   bench_paint SERVER DOWNLOAD_FOLDER SAMPLES [SCALE...]
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/main_window_handlers.h"
#include "app/main_window_paint.h"
#include "app/window_dpi.h"
#include "base/window_messages.h"
#include "bench_support.h"
#include "model/app_state.h"
#include "download_page_tasks.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "render/gdiplus_api.h"
#include "render/layout.h"
#include "render/problem_texts.h"
#include "support/service_control.h"

namespace {

constexpr int kWidth = 1180;
constexpr int kHeight = 780;
constexpr int kWheelNotch = 120;

using Target = bench::PaintTarget;

// One scale the scenes run at: its DPI, a hidden window of 1180 x 780 units in its pixels, and the
// suffix of its keys ("" at 100 %).
struct Scale {
    int dpi = 96;
    std::string suffix;
    Target target;
    int pixels(int units) const { return qb::DpiScale{dpi}.length(units); }
};

// Answers what workers and paints post to the main window as the main window does: icons are adopted
// as they arrive and card faces are drawn between paints.
LRESULT CALLBACK benchWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_QB_ICON_READY) return onIconReady();
    if (msg == WM_QB_PREPARE_FACES) {
        prepareMainWindowFaces();
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

bool makeTarget(Scale& scale) {
    const std::wstring name = L"QBBenchPaint" + std::to_wstring(scale.dpi);
    return scale.target.make(benchWindowProc, name.c_str(), scale.pixels(kWidth), scale.pixels(kHeight));
}

// Paints from now on at this scale, into its window, with fonts made for it.
void useScale(const Scale& scale) {
    AppState& app = appState();
    app.mainWnd = scale.target.window;
    applyMainWindowDpi(scale.dpi);
}

std::vector<double> timePaints(const Target& target, int samples, const std::function<void(int)>& before = {}) {
    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        if (before) before(i);
        const double start = bench::milliseconds();
        paintMainWindow(target.memory, target.client);
        times.push_back(bench::milliseconds() - start);
        bench::pumpMessages();
    }
    return times;
}

std::string keySuffix;  // the scale being timed

void print(const char* key, const std::vector<double>& samples) {
    const bench::Summary s = bench::summarise(samples);
    std::printf("%s%s_ms median=%.2f p95=%.2f min=%.2f max=%.2f n=%zu\n", key, keySuffix.c_str(), s.median, s.p95,
                s.min, s.max, s.count);
    std::fflush(stdout);
}

// The same copy paintMainWindow ends with: a 32-bit DIB section onto the target.
std::vector<double> timeBlits(const Target& target, int samples) {
    const int width = target.client.right, height = target.client.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC source = ::CreateCompatibleDC(target.windowDc);
    HBITMAP dib = ::CreateDIBSection(target.windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(source, dib);
    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        const double start = bench::milliseconds();
        const BOOL copied = ::BitBlt(target.memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
        ::GdiFlush();
        times.push_back(bench::milliseconds() - start);
        if (!copied) std::fprintf(stderr, "BitBlt failed\n");
    }
    ::SelectObject(source, old);
    ::DeleteObject(dib);
    ::DeleteDC(source);
    return times;
}

// Pumps worker news into the icon cache, as the main window does, until every listed app's icon at
// the drawn size (in units, at the state's scale) has settled (ready or failed) or time runs out.
bool waitForIcons(const std::vector<const AppInfo*>& apps, double timeoutMs, int units = layout::kIconTileOnCard) {
    const double deadline = bench::milliseconds() + timeoutMs;
    AppState& state = appState();
    const int size = state.scale.length(units);
    for (;;) {
        bench::pumpMessages();
        state.icons.adoptResults(state.catalogue.generation);
        bool settled = true;
        for (const AppInfo* app : apps) {
            if (app->icon.empty()) continue;
            const IconStatus status = state.icons.status(app->id, size);
            if (status == IconStatus::Loading) settled = false;
            if (status == IconStatus::None) requestIcon(state, *app, size);  // not drawn yet, or freed meanwhile
        }
        if (settled) return true;
        if (bench::milliseconds() > deadline) return false;
        ::Sleep(5);
    }
}

std::vector<const AppInfo*> appsOf(const Catalogue& catalogue, const std::wstring& categoryId) {
    std::vector<const AppInfo*> apps;
    for (const AppInfo& app : catalogue.apps)
        for (const std::wstring& id : app.categoryIds)
            if (id == categoryId) apps.push_back(&app);
    return apps;
}

// The apps whose cards the last paint drew.
std::vector<const AppInfo*> paintedApps(AppState& app) {
    std::vector<const AppInfo*> apps;
    for (const HitRegion& region : app.hitRegions)
        if (region.kind == HitKind::CardAction)
            if (const AppInfo* info = app.catalogue.findApp(region.param)) apps.push_back(info);
    return apps;
}

// One wheel notch per paint from the top to the bottom of the category; the first pass
// requests the icons of cards as they come into view, the later ones find them decoded.
void timeScrolling(const Target& target, const std::vector<const AppInfo*>& category) {
    AppState& app = appState();
    app.contentScroll = 0;
    timePaints(target, 1);
    const int maxScroll = app.contentScrollBar.maxScroll;
    const int steps = maxScroll / kWheelNotch + 1;
    const auto scrollTo = [](int i) { appState().contentScroll = i * kWheelNotch; };
    print("scroll_first_pass", timePaints(target, steps, scrollTo));
    if (!waitForIcons(category, 120000)) std::fprintf(stderr, "category icons still loading\n");
    std::vector<double> warm;
    for (int pass = 0; pass < 3; ++pass) {
        const std::vector<double> times = timePaints(target, steps, scrollTo);
        warm.insert(warm.end(), times.begin(), times.end());
    }
    std::printf("scroll_steps%s=%d max_scroll=%d\n", keySuffix.c_str(), steps, maxScroll);
    print("scroll", warm);
}

// The download page with the tasks setUpDownloadPage made, at each scale.
void timeDownloadPage(std::vector<Scale>& scales, int samples) {
    AppState& app = appState();
    app.page = Page::Downloads;
    std::vector<const AppInfo*> rows;
    for (int32_t id = 1; id <= 20; ++id)
        if (const AppInfo* info = app.catalogue.findApp(id)) rows.push_back(info);
    for (Scale& scale : scales) {
        useScale(scale);
        keySuffix = scale.suffix;
        timePaints(scale.target, 1);
        if (!waitForIcons(rows, 60000, layout::kRowIconSize)) std::fprintf(stderr, "row icons still loading\n");
        print("download_page", timePaints(scale.target, samples));
    }
    std::printf("tasks=%zu\n", DownloadManager::instance().snapshot().size());
}

// The loading screen, the grid with placeholders and with icons, and scrolling, at the scale in use.
void timeCatalogueScenes(const Target& target, const std::wstring& server, const std::vector<const AppInfo*>& category,
                         int samples) {
    AppState& app = appState();
    print("blit", timeBlits(target, samples));

    app.catalogueLoading = true;
    print("frame", timePaints(target, samples));
    app.catalogueLoading = false;

    // Icons that cannot be had draw the letter placeholder: without a server every icon fails at once.
    app.config.server.clear();
    print("grid_placeholders", timePaints(target, samples));
    app.config.server = server;
    app.icons.clear();

    app.contentScroll = 0;
    timePaints(target, 1);
    if (!waitForIcons(paintedApps(app), 60000)) std::fprintf(stderr, "visible icons still loading\n");
    size_t ready = 0;
    for (const AppInfo* info : paintedApps(app))
        ready += app.icons.status(info->id, app.scale.length(layout::kIconTileOnCard)) == IconStatus::Ready;
    std::printf("grid_icons_ready%s=%zu of %zu\n", keySuffix.c_str(), ready, paintedApps(app).size());
    print("grid_icons", timePaints(target, samples));

    timeScrolling(target, category);
}

// Scale arguments as DPIs: 2 is 192. 100 % always runs first.
std::vector<Scale> scalesOf(int argc, wchar_t** argv) {
    std::vector<Scale> scales(1);
    for (int i = 4; i < argc; ++i) {
        const double factor = _wtof(argv[i]);
        if (factor <= 1.0) continue;
        Scale scale;
        scale.dpi = static_cast<int>(factor * 96 + 0.5);
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "_x%g", factor);
        scale.suffix = suffix;
        scales.push_back(std::move(scale));
    }
    return scales;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_paint SERVER DOWNLOAD_FOLDER SAMPLES [SCALE...]\n");
        return 2;
    }
    const std::wstring server = argv[1];
    const std::wstring folder = argv[2];
    const int samples = std::max(1, _wtoi(argv[3]));

    declareDpiAwareness();
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
    AppState& app = appState();
    app.config.server = server;
    std::vector<Scale> scales = scalesOf(argc, argv);
    for (Scale& scale : scales) {
        if (!makeTarget(scale)) {
            std::fprintf(stderr, "no paint target at %d DPI\n", scale.dpi);
            return 1;
        }
    }
    useScale(scales.front());
    if (!app.catalogue.loadBootstrap(server) || app.catalogue.categories.empty()) {
        std::fprintf(stderr, "catalogue load failed: %ls\n", catalogueErrorText(app.catalogue.lastError).c_str());
        return 1;
    }
    app.selectedCategoryId = app.catalogue.categories.front().id;
    const std::vector<const AppInfo*> category = appsOf(app.catalogue, app.selectedCategoryId);
    std::printf("apps=%zu categories=%zu category_apps=%zu size=%dx%d\n", app.catalogue.apps.size(),
                app.catalogue.categories.size(), category.size(), kWidth, kHeight);

    for (Scale& scale : scales) {
        useScale(scale);
        keySuffix = scale.suffix;
        timeCatalogueScenes(scale.target, server, category, samples);
    }

    setDownloadDirOverride(folder);
    if (!setUpDownloadPage(server, app)) return 1;
    timeDownloadPage(scales, samples);
    std::fflush(stdout);

    qbtest::ServiceControl(server).reset();  // ends the stalled transfers
    ::ExitProcess(0);
}
