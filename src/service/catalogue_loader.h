#pragma once
// Hands a catalogue loaded on a worker thread to the main thread.
// The worker fills a private Catalogue; the main thread adopts its lists when WM_QB_CATALOG_LOADED
// arrives, so the main thread never reads lists that a worker is writing.
#include <windows.h>

#include <string>

#include "service/catalogue.h"

struct CatalogueLoadJob {
    std::wstring server;
    HWND notifyWindow = nullptr;
};

// Thread entry of a load; takes ownership of a heap-allocated CatalogueLoadJob.
DWORD WINAPI CatalogueLoadThread(LPVOID job);
// Starts CatalogueLoadThread for a copy of server; false when the thread could not be created.
bool startCatalogueLoadThread(const std::wstring& server, HWND notifyWindow);

// Main thread, on WM_QB_CATALOG_LOADED: moves the finished load into target. On success the lists
// are replaced (the old records stay alive for icon workers that may still point at them); on
// failure only lastError changes. Returns whether a load result was pending.
bool adoptLoadedCatalogue(Catalogue& target);
