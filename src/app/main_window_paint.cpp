#include "app/main_window_paint.h"

#include "app/drawn_window.h"
#include "app/shell_services.h"
#include "base/win_handles.h"
#include "base/window_messages.h"
#include "render/frame_update.h"
#include "render/contrast.h"
#include "render/main_window_painter.h"
#include "render/palette.h"

namespace {

// Faces are drawn between paints for at most this long at a time, so input is never kept waiting.
constexpr double kPrepareBudgetMs = 4.0;

void postPreparation(MainWindowPaint& paint, HWND window) {
    if (paint.preparationPosted || !window) return;
    paint.preparationPosted = ::PostMessageW(window, WM_QB_PREPARE_FACES, 0, 0) != FALSE;
}

}  // namespace

PaintInputs liveInputs(const AppState& app) {
    ShellServices& services = shellServices();
    PaintInputs inputs;
    inputs.tasks = services.taskSnapshot();
    inputs.now = ::GetTickCount();
    inputs.maximized = app.mainWnd && ::IsZoomed(app.mainWnd);
    inputs.look.scale = app.scale;
    if (app.highContrast) inputs.look.contrast = readSystemColours();
    // Only the download page shows the folder: as last resolved, so painting waits on no disk.
    if (app.page == Page::Downloads) inputs.downloadDirectory = services.shownDownloadDirectory();
    inputs.requestIcon = services.requestIcon;
    return inputs;
}

namespace {

// The caches of a w x h paint. The first frame draws into the warm-up's back buffer when it made one
// of that size; it is asked once.
PaintCaches& cachesFor(MainWindowPaint& paint, int w, int h) {
    if (!paint.caches) paint.caches = std::make_unique<PaintCaches>();
    if (paint.warmUp && paint.caches->backBuffer.width() == 0 && w > 0 && h > 0) {
        paint.caches->firstBackBuffer = paint.warmUp->takeBackBuffer(w, h);
        paint.warmUp.reset();
    }
    return *paint.caches;
}

}  // namespace

MainWindowPaint& mainWindowPaint() {
    static MainWindowPaint paint;
    return paint;
}

void paintMainWindow(HDC dc, const RECT& client) {
    AppState& app = appState();
    MainWindowPaint& paint = mainWindowPaint();
    const int w = client.right - client.left;
    const int h = client.bottom - client.top;
    const PaintInputs inputs = liveInputs(app);
    const SIZE units = app.scale.unitsOfClient({w, h});
    updateFrame(app, inputs, units.cx, units.cy);
    if (!paintMainWindowWith(dc, client, app, inputs, cachesFor(paint, w, h)) && app.mainWnd)
        ::InvalidateRect(app.mainWnd, nullptr, FALSE);
    if (app.mainWnd) publishAccessTree(app.mainWnd, inputs, units.cx, units.cy);
    postPreparation(paint, app.mainWnd);
}

void clearMainWindow(HWND hwnd) {
    const CanvasLook look = drawn_window::lookAt(appState().scale);
    qb::UniqueBrush background(::CreateSolidBrush(palette::text(look.background(palette::kWindowBackground))));
    RECT client{};
    HDC dc = ::GetDC(hwnd);
    if (!dc) return;
    if (background && ::GetClientRect(hwnd, &client)) ::FillRect(dc, &client, background.get());
    ::ReleaseDC(hwnd, dc);
}

void prepareMainWindowFaces() {
    const AppState& app = appState();
    MainWindowPaint& paint = mainWindowPaint();
    paint.preparationPosted = false;
    RECT client{};
    if (!paint.caches || !app.mainWnd || !::GetClientRect(app.mainWnd, &client)) return;
    const PaintInputs inputs = liveInputs(app);
    const FacePreparation done =
        prepareMainWindowFaces(app, inputs, *paint.caches, client.right, client.bottom, kPrepareBudgetMs);
    if (done.shownChanged) ::InvalidateRect(app.mainWnd, nullptr, FALSE);
    if (done.more) postPreparation(paint, app.mainWnd);
}

void prepareMainWindowFacesSoon() { postPreparation(mainWindowPaint(), appState().mainWnd); }

void releaseMainWindowPaintCaches() { mainWindowPaint() = MainWindowPaint{}; }

void requestIcon(AppState& state, const AppInfo& app, int drawnSize) {
    state.icons.request(app, drawnSize, {state.config.server, state.catalogue.generation, state.mainWnd});
}
