#pragma once
// The program's DPI: the awareness it declares, the DPI of its windows, and the main window's client
// in the 96-DPI units its painting, hit regions and scroll offsets use.
#include <windows.h>

// Per-monitor v2 awareness, else per-monitor, else system awareness. The manifest declares the same;
// a call refused because it already did, or because the system does not know a context (Wine 8 refuses
// v2 with ERROR_INVALID_PARAMETER), is normal and the next one is tried.
void declareDpiAwareness();
// GetDpiForWindow where the system has it, else the system's DPI; 96 when nothing answers.
int windowDpi(HWND hwnd);
// GetDpiForSystem, or the screen's LOGPIXELSX on systems without it.
int systemDpi();

// The main window's client size in units, at the window's scale.
SIZE clientUnits(HWND hwnd);
// A point of the main window's client, in pixels, in units.
POINT clientPointUnits(POINT pixels);

// Makes what depends on the main window's DPI for dpi: its scale, its fonts (the search field's edit
// takes the new one before the old is deleted). Painting's pictures follow on the next paint.
void applyMainWindowDpi(int dpi);

// main_window.cpp dispatches these.
// The window moved to a monitor of another DPI: it takes the suggested rectangle, at the new scale.
LRESULT onDpiChanged(HWND hwnd, int dpi, const RECT& suggested);
// The size the window will have at dpi: its units stay, so its pixels scale with the DPI.
LRESULT onGetDpiScaledSize(HWND hwnd, int dpi, SIZE* size);
// High contrast was turned on or off, or the system colours changed: the window paints with them.
LRESULT onSystemColoursChanged(HWND hwnd);
