#pragma once
// Process start-up, the message loop and the catalogue load.
#include <windows.h>

int runApplication(HINSTANCE instance);
bool initInstance(HINSTANCE instance);
void startCatalogLoad();
bool dialogMessageFilter(MSG* msg);
