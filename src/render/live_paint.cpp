#include "app/app_state.h"
#include "downloads/download_directory.h"
#include "render/main_window_painter.h"
#include "render/paint_context.h"
#include "service/icon_loader.h"

// The live program paints without task rows until the download manager is linked in.
void PaintMainWindow(HDC dc, const RECT& client) {
    AppState& app = appState();
    PaintInputs inputs;
    inputs.now = ::GetTickCount();
    inputs.maximized = app.mainWnd && ::IsZoomed(app.mainWnd);
    // Only the download page shows the folder, and asking for it creates it.
    if (app.page == 1) inputs.downloadDirectory = downloadDirectory();
    inputs.requestIcon = [&app](AppInfo& info) { RequestIcon(app.catalog, app.mainWnd, info, app.config.server); };
    paintMainWindowWith(dc, client, app, inputs);
}
