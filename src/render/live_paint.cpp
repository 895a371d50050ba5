#include "app/app_state.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "render/app_icon.h"
#include "render/main_window_painter.h"
#include "render/paint_context.h"

// Takes this paint's inputs from the running program: one task snapshot, the clock, the window.
void PaintMainWindow(HDC dc, const RECT& client) {
    AppState& app = appState();
    PaintInputs inputs;
    inputs.tasks = DownloadManager::instance().snapshot();
    inputs.now = ::GetTickCount();
    inputs.maximized = app.mainWnd && ::IsZoomed(app.mainWnd);
    // Only the download page shows the folder, and asking for it creates it.
    if (app.page == 1) inputs.downloadDirectory = downloadDirectory();
    inputs.requestIcon = [&app](const AppInfo& info, int size) { RequestIcon(app, info, size); };
    paintMainWindowWith(dc, client, app, inputs);
}
