#pragma once
// The main window's painting in the running program: each paint's inputs gathered from the shell
// services, the clock and the window, and what the paints keep between them.
#include <windows.h>

#include <memory>

#include "model/app_state.h"
#include "render/paint_cache.h"
#include "render/paint_context.h"
#include "render/paint_warmup.h"

// What the main window's paints keep between them, on the window thread. The window frees it when it
// is destroyed; a test starts afresh by assigning a new one.
struct MainWindowPaint {
    std::unique_ptr<PaintCaches> caches;  // made by the first paint
    std::shared_ptr<PaintWarmUp> warmUp;  // until the first paint has asked for its back buffer
    bool preparationPosted = false;       // a WM_QB_PREPARE_FACES is on its way
};
MainWindowPaint& mainWindowPaint();

// One paint's inputs from the running program: one task snapshot, the clock, the window. Keyboard
// handling reads the same, so that it finds what the painters show.
PaintInputs liveInputs(const AppState& app);

// Called from WM_PAINT with the BeginPaint DC: runs the update step (hit regions, scroll bars,
// expiries, icon requests), paints the whole client area off-screen from the main window's paint
// caches and copies the image to dc with one BitBlt.
void paintMainWindow(HDC dc, const RECT& client);

// Fills the main window's client with its background colour, straight onto the window: before the
// first frame, so that the window's fresh pixels are touched, and shown, while that frame is drawn.
void clearMainWindow(HWND hwnd);

// After a paint: publishes what it showed to accessibility clients, once one has asked
// (main_window_access.cpp).
void publishAccessTree(HWND hwnd, const PaintInputs& inputs, int w, int h);

// Frees what the main window's paints keep; the next paint makes it again.
void releaseMainWindowPaintCaches();

// WM_QB_PREPARE_FACES, posted by a paint: between paints, draws for a few milliseconds the card faces
// the next paints will need (icons that arrived, cards about to scroll in), so that a paint mostly
// copies. Posts itself again while some remain, and repaints when a shown card changed.
void prepareMainWindowFaces();
// Posts WM_QB_PREPARE_FACES unless one is on its way: after new icons, before the paint they cause.
void prepareMainWindowFacesSoon();

// Asks for the app's icon decoded at drawnSize (84 on cards, 48 in download rows, 44 in the notice):
// queues its fetch the first time, else only notes that it is still in use. Cheap once asked.
void requestIcon(AppState& state, const AppInfo& app, int drawnSize);
