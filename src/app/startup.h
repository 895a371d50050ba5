#pragma once
// Process start-up, the message loop and the catalogue load.
#include <windows.h>

int runApplication(HINSTANCE instance);
// In the background the window is made but not shown, and nothing is painted until it is; the icon
// goes to the tray instead.
bool initInstance(HINSTANCE instance, bool background = false);
// OLE and the shadow window, once: after the first catalogue paint, or 1.5 s after start at the latest.
void finishStartUp();
// The same, once the thread has waited for messages (after the first catalogue paint reached the screen).
void finishStartUpSoon();
void startCatalogueLoad();
// Checks the shown catalogue again (a conditional request) while it stays on the screen, page and all;
// nothing when a load is under way.
void refreshCatalogue();
bool dialogMessageFilter(MSG* msg);
