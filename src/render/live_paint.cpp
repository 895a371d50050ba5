#include "app/app_state.h"
#include "render/main_window_painter.h"
#include "render/paint_context.h"

// The live program paints without task rows until the download manager is linked in.
void PaintMainWindow(HDC dc, const RECT& client) {
    AppState& app = appState();
    PaintInputs inputs;
    inputs.now = ::GetTickCount();
    inputs.maximized = app.mainWnd && ::IsZoomed(app.mainWnd);
    paintMainWindowWith(dc, client, app, inputs);
}
