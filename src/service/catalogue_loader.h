#pragma once
// Hands a catalogue loaded on a worker thread to the main thread.
// The worker fills a private Catalogue; the main thread adopts its lists when WM_QB_CATALOGUE_LOADED
// arrives, so the main thread never reads lists that a worker is writing. A load first shows the
// last good bootstrap from the local cache, then asks the service whether it changed.
#include <windows.h>

#include <string>

#include "service/catalogue.h"

// wParam of WM_QB_CATALOGUE_LOADED: what the load has reached. The handler still takes the result
// from adoptLoadedCatalogue, which holds the newest one.
enum CatalogueLoadStep : WPARAM {
    CatalogueLoadFailed = 0,     // over; nothing to show (no cache, service unreachable or answer bad)
    CatalogueLoadFresh = 1,      // over; the service's catalogue
    CatalogueLoadCached = 2,     // the cached catalogue; the service's answer follows
    CatalogueLoadUnchanged = 3,  // over; the service confirmed the cached catalogue
    CatalogueLoadOffline = 4,    // over; the service could not be used, the cached catalogue stays
};

// Starts a load from server on a worker thread; false when the thread could not be created. Its
// steps are posted to notifyWindow, or, when that is null, to the window named later. Returns once
// the worker runs (or after 100 ms), so that the cache is read while the caller brings up the
// window: a thread started just before that would otherwise wait for the loader lock the window
// system's first call holds for a long while.
// The cached copy it shows first is the one this server and channel gave.
bool startCatalogueLoadThread(const std::wstring& server, HWND notifyWindow, const std::wstring& channel = L"default");
// Names the window that receives the steps; a step already published is posted to it at once (a load
// started before the main window existed).
void setCatalogueLoadWindow(HWND window);

// The first catalogue (or the failure screen) is on the screen: the start-up load (the one begun with
// no window) that showed its cached catalogue asks the service now; it waits for this 1.5 s at most.
void catalogueShown();

// A whole load on the calling thread, for a run without a window: the cached catalogue, then the
// service's answer, as a start shows them. False when neither gave lists (lastError says why).
bool loadCatalogueHere(const std::wstring& server, const std::wstring& channel, Catalogue& target);

struct CatalogueAdoption {
    bool pending = false;    // a result was waiting
    bool replaced = false;   // the lists were replaced (and the generation counted up)
    bool finished = false;   // the load is over; no further result follows
    bool failed = false;     // over without any lists to show
    bool offline = false;    // over without the service; the cached lists stay
    bool confirmed = false;  // over, and the service vouched for the lists in this load (fresh, or a 304)
    int64_t confirmedAtMs = 0;  // when the service last vouched for the lists shown, ms since 1970 UTC
};

// Main thread, on WM_QB_CATALOGUE_LOADED: moves the newest lists of the load into target. Replaced
// records stay alive for icon workers that may still point at them; on failure only lastError changes.
CatalogueAdoption adoptLoadedCatalogue(Catalogue& target);
