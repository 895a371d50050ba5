#pragma once
// Painting of the main window's client area.
#include <windows.h>

// Called from WM_PAINT with the BeginPaint DC: runs the update step (hit regions, scroll bars,
// expiries, icon requests), paints the whole client area off-screen from the main window's paint
// caches and copies the image to dc with one BitBlt.
void PaintMainWindow(HDC dc, const RECT& client);

// Frees the main window's paint caches; the next paint makes them again.
void ReleaseMainWindowPaintCaches();

// WM_QB_PREPARE_FACES, posted by a paint: between paints, draws for a few milliseconds the card faces
// the next paints will need (icons that arrived, cards about to scroll in), so that a paint mostly
// copies. Posts itself again while some remain, and repaints when a shown card changed.
void PrepareMainWindowFaces();
// Posts WM_QB_PREPARE_FACES unless one is on its way: after new icons, before the paint they cause.
void PrepareMainWindowFacesSoon();
