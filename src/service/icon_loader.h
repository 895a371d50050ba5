#pragma once
// Application icons, fetched lazily on a worker thread per icon and decoded into a bitmap.
#include <windows.h>

#include <cstdint>
#include <string>

#include "service/catalogue.h"

// Starts the fetch of app's icon unless its path is empty or it was requested before; returns at once.
void RequestIcon(Catalogue& catalogue, HWND mainWindow, AppInfo& app, const std::wstring& server);
DWORD WINAPI IconThread(LPVOID job);

// Reduces an ICO file to its best single image (largest, then deepest); other bodies come back unchanged.
std::string reduceIcoToBestImage(const std::string& body);
