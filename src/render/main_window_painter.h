#pragma once
// Painting of the main window's client area from what it is handed: the state, one paint's inputs and
// the caches the window keeps between paints.
#include <windows.h>

#include "render/paint_cache.h"
#include "render/paint_context.h"

// Paints the whole client area (client in pixels; the painters lay out its 96-DPI units at
// inputs.look's scale) into dc through the caches' back buffer, after the update step (updateFrame)
// has brought app up to date for those units. False when some cards still wait for their new icon: the
// window should paint again.
bool paintMainWindowWith(HDC dc, const RECT& client, const AppState& app, const PaintInputs& inputs,
                         PaintCaches& caches);

// What a preparation between paints did: drew a shown card's face (paint again), or stopped with faces
// still to draw (prepare again).
struct FacePreparation {
    bool shownChanged = false;
    bool more = false;
};
// Draws card faces for a client of w x h pixels, as paintMainWindowWith's.
FacePreparation prepareMainWindowFaces(const AppState& app, const PaintInputs& inputs, PaintCaches& caches, int w,
                                       int h, double budgetMs);
