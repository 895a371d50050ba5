#include <memory>

#include "model/app_state.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "base/window_messages.h"
#include "render/app_icon.h"
#include "render/frame_update.h"
#include "render/main_window_painter.h"
#include "render/paint_cache.h"
#include "render/paint_context.h"

namespace {

// The main window's pictures kept between paints; only the window thread paints.
std::unique_ptr<PaintCaches>& mainWindowCaches() {
    static std::unique_ptr<PaintCaches> caches;
    return caches;
}

// Faces are drawn between paints for at most this long at a time, so input is never kept waiting.
constexpr double kPrepareBudgetMs = 4.0;
bool preparePosted = false;

void postPreparation(HWND window) {
    if (preparePosted || !window) return;
    preparePosted = ::PostMessageW(window, WM_QB_PREPARE_FACES, 0, 0) != FALSE;
}

}  // namespace

void PrepareMainWindowFacesSoon() { postPreparation(appState().mainWnd); }

namespace {

PaintInputs liveInputs(AppState& app) {
    PaintInputs inputs;
    inputs.tasks = DownloadManager::instance().snapshot();
    inputs.now = ::GetTickCount();
    inputs.maximized = app.mainWnd && ::IsZoomed(app.mainWnd);
    // Only the download page shows the folder, and asking for it creates it.
    if (app.page == Page::Downloads) inputs.downloadDirectory = downloadDirectory();
    inputs.requestIcon = [&app](const AppInfo& info, int size) { RequestIcon(app, info, size); };
    return inputs;
}

}  // namespace

// Takes this paint's inputs from the running program: one task snapshot, the clock, the window.
void PaintMainWindow(HDC dc, const RECT& client) {
    AppState& app = appState();
    const PaintInputs inputs = liveInputs(app);
    updateFrame(app, inputs, client.right - client.left, client.bottom - client.top);
    std::unique_ptr<PaintCaches>& caches = mainWindowCaches();
    if (!caches) caches = std::make_unique<PaintCaches>();
    if (!paintMainWindowWith(dc, client, app, inputs, *caches) && app.mainWnd)
        ::InvalidateRect(app.mainWnd, nullptr, FALSE);
    postPreparation(app.mainWnd);
}

void PrepareMainWindowFaces() {
    preparePosted = false;
    AppState& app = appState();
    std::unique_ptr<PaintCaches>& caches = mainWindowCaches();
    RECT client{};
    if (!caches || !app.mainWnd || !::GetClientRect(app.mainWnd, &client)) return;
    const PaintInputs inputs = liveInputs(app);
    const FacePreparation done =
        prepareMainWindowFaces(app, inputs, *caches, client.right, client.bottom, kPrepareBudgetMs);
    if (done.shownChanged) ::InvalidateRect(app.mainWnd, nullptr, FALSE);
    if (done.more) postPreparation(app.mainWnd);
}

void ReleaseMainWindowPaintCaches() { mainWindowCaches().reset(); }
