#pragma once
// Application icons, fetched lazily on a worker thread per icon and decoded into a bitmap.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "service/catalogue.h"
#include "service/ico_reduce.h"

// The heap record handed to an icon worker, which frees it.
struct IconJob {
    Catalogue* catalogue = nullptr;  // for notifyWindow
    AppInfo* app = nullptr;
    std::wstring url;
};

// server + icon when that stays on the server's origin (scheme, host and port) and icon is a path
// starting with "/"; nullopt otherwise (".evil.example/p.png" would change the host).
std::optional<std::wstring> iconUrlFor(const std::wstring& server, const std::wstring& icon);

// Starts the fetch of app's icon unless its path is empty or it was requested before; returns at once.
// An icon path that would leave the server's origin fails at once.
void RequestIcon(Catalogue& catalogue, HWND mainWindow, AppInfo& app, const std::wstring& server);
// Worker entry: fetch, decode, store iconBitmap, then iconState; takes ownership of an IconJob.
DWORD WINAPI IconThread(LPVOID job);
