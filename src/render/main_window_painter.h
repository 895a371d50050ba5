#pragma once
// Painting of the main window's client area.
#include <windows.h>

// Called from WM_PAINT with the BeginPaint DC: paints the whole client area off-screen, rebuilds
// appState().hitRegions and both scroll-bar records, and copies the image to dc with one BitBlt.
void PaintMainWindow(HDC dc, const RECT& client);
