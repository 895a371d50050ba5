#pragma once
// Application icons, fetched lazily by a few worker threads and decoded into bitmaps.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "service/catalogue.h"

// The record of one icon fetch, owned by the queue and then by the worker that runs it.
struct IconJob {
    Catalogue* catalogue = nullptr;  // for notifyWindow
    AppInfo* app = nullptr;
    std::wstring url;
};

// At most this many icon fetches run at once; the others wait in the queue.
constexpr size_t kMaxIconWorkers = 8;

// server + icon when that stays on the server's origin (scheme, host and port) and icon is a path
// starting with "/"; nullopt otherwise (".evil.example/p.png" would change the host).
std::optional<std::wstring> iconUrlFor(const std::wstring& server, const std::wstring& icon);

// Queues the fetch of app's icon unless its path is empty or it was requested before; returns at once.
// An icon path that would leave the server's origin fails at once.
void RequestIcon(Catalogue& catalogue, HWND mainWindow, AppInfo& app, const std::wstring& server);
// Runs one fetch on the calling thread: fetch, check the header, decode, store iconBitmap, then
// iconState; takes ownership of an IconJob.
DWORD WINAPI IconThread(LPVOID job);
