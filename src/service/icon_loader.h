#pragma once
// Application icons, fetched lazily on a worker thread per icon and decoded into a bitmap.
#include <windows.h>

#include <cstdint>
#include <string>

#include "service/catalogue.h"
#include "service/ico_reduce.h"

// The heap record handed to an icon worker, which frees it.
struct IconJob {
    Catalogue* catalogue = nullptr;  // for notifyWindow
    AppInfo* app = nullptr;
    std::wstring url;
};

// Starts the fetch of app's icon unless its path is empty or it was requested before; returns at once.
void RequestIcon(Catalogue& catalogue, HWND mainWindow, AppInfo& app, const std::wstring& server);
// Worker entry: fetch, decode, store iconBitmap, then iconState; takes ownership of an IconJob.
DWORD WINAPI IconThread(LPVOID job);
