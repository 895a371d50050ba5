#pragma once
// Messages that workers post to the main window; wParam carries an id, never a pointer.
#include <windows.h>

#include <cstdint>

constexpr UINT WM_QB_REFRESH = WM_APP + 1;          // a download task changed; wParam 0
constexpr UINT WM_QB_DOWNLOAD_DONE = WM_APP + 2;    // wParam: app id and task generation, packed
constexpr UINT WM_QB_ICON_READY = WM_APP + 3;       // wParam: packIdAndGeneration(app id, catalogue generation)
// A catalogue load moved on; wParam: the CatalogueLoadStep it has reached (service/catalogue_loader.h).
constexpr UINT WM_QB_CATALOGUE_LOADED = WM_APP + 4;
constexpr UINT WM_QB_PREPARE_FACES = WM_APP + 6;   // the window's own: draw card faces between paints
constexpr UINT WM_QB_DOWNLOAD_FAILED = WM_APP + 5;  // wParam: app id and task generation, packed
constexpr UINT WM_QB_INSTALLED_READ = WM_APP + 7;   // the installed apps were read; wParam: the read's number
constexpr UINT WM_QB_CREATE_SEARCH_EDIT = WM_APP + 10;  // the window's own: make the search field's edit after the first frame
// A task's installer ended; wParam: app id and task generation, packed. The handler reads neither: it
// takes every task's state afresh.
constexpr UINT WM_QB_INSTALLER_FINISHED = WM_APP + 8;
// An uninstall from a card is over; wParam: packIdAndGeneration(app id, 0).
constexpr UINT WM_QB_UNINSTALL_FINISHED = WM_APP + 9;
// A running app was asked to close before its update; wParam: app id, lParam: 1 when it has closed.
constexpr UINT WM_QB_APP_CLOSED = WM_APP + 20;
constexpr UINT WM_QB_LIST_FILE_DONE = WM_APP + 11;    // an install list was read or written; wParam: the job's number
// A proxy asks for a user name and password; wParam: the question's id (app/proxy_auth_window.h).
constexpr UINT WM_QB_PROXY_AUTH = WM_APP + 47;
// An accessibility client asked for a control's action (wParam: packIdAndGeneration(param, HitKind)),
// or for the keyboard focus (wParam: packIdAndGeneration(index, region | part << 8)), or a scroll; the
// window does it.
constexpr UINT WM_QB_ACCESS_PRESS = WM_APP + 30;
constexpr UINT WM_QB_ACCESS_FOCUS = WM_APP + 31;
constexpr UINT WM_QB_ACCESS_SCROLL = WM_APP + 32;  // wParam: packIdAndGeneration(offset, region): scroll that view
// Another start of the program handed its command line over; wParam 0. The handler takes it.
constexpr UINT WM_QB_HAND_OVER = WM_APP + 40;

constexpr UINT_PTR kSpeedTimerId = 1;       // 500 ms speed sampling and periodic repaint
constexpr UINT_PTR kPageRepeatTimerId = 2;  // repeats page-wise scrolling while a track is held
constexpr UINT_PTR kFinishStartUpTimerId = 3;  // the latest moment for what start-up leaves for later
constexpr UINT_PTR kInstalledReadTimerId = 4;  // reads the registrations once the window has painted

// A result names what it is for by id and generation: the app id in the low 32 bits of wParam, the
// generation (of a download task, or of the catalogue an icon was asked for; 0 where there is none) in
// the high 32 bits. The window drops a result whose generation is no longer current.
struct IdAndGeneration {
    int32_t id = 0;
    uint32_t generation = 0;
};

constexpr WPARAM packIdAndGeneration(int32_t id, uint32_t generation) {
    return static_cast<WPARAM>((static_cast<uint64_t>(generation) << 32) | static_cast<uint32_t>(id));
}

constexpr IdAndGeneration unpackIdAndGeneration(WPARAM wParam) {
    const uint64_t bits = static_cast<uint64_t>(wParam);
    return {static_cast<int32_t>(static_cast<uint32_t>(bits)), static_cast<uint32_t>(bits >> 32)};
}

static_assert(sizeof(WPARAM) == 8, "wParam carries an id and a generation");
static_assert(unpackIdAndGeneration(packIdAndGeneration(-5, 0xFFFFFFFFu)).id == -5, "ids keep their sign");
