#pragma once
// Process start-up, the message loop and the catalogue load.
#include <windows.h>

int runApplication(HINSTANCE instance);
bool initInstance(HINSTANCE instance);
// OLE and the shadow window, once: after the first catalogue paint, or 1.5 s after start at the latest.
void finishStartUp();
// The same, once the thread has waited for messages (after the first catalogue paint reached the screen).
void finishStartUpSoon();
void startCatalogueLoad();
bool dialogMessageFilter(MSG* msg);
