#pragma once
// The main thread's state: windows, settings, catalogue, page, scrolling, hover and transient messages.
#include <windows.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/dpi_scale.h"
#include "base/win_handles.h"
#include "config/config.h"
#include "install/install_list.h"
#include "install/installed_apps.h"
#include "model/focus_model.h"
#include "model/hit_region.h"
#include "search/search_index.h"
#include "service/catalogue.h"
#include "service/icon_cache.h"
#include "downloads/install_batch.h"

enum UiFont : int {
    FontBrandTitle,
    FontLogoGlyph,
    FontBrandSubtitle,
    FontCardTitle,
    FontBody,
    FontSmall,
    FontButton,
    FontSectionTitle,
    FontCategory,
    FontRowStatus,
    FontToast,
    FontIconLetter,
    FontLabel,
    kUiFontCount
};

enum ToastKind : int { ToastNeutral = 0, ToastSuccess = 1, ToastError = 2 };

enum class Page { Catalogue, Downloads, Updates };

// What the uninstall registrations say of the catalogue's apps, as last read by a worker.
struct InstalledState {
    std::unordered_map<int32_t, InstallStatus> byId;  // installed catalogue apps
    uint32_t readsStarted = 0;  // number of the newest read; an older read's result is dropped
    uint32_t newestReadCatalogue = 0;  // the catalogue generation the newest read started was for
    uint32_t byIdCatalogue = 0;        // the catalogue generation byId was read for
    DWORD readTick = 0;         // when the newest read was started
    bool everRead = false;
    // Updates started from "升 级", by app id, with the version installed before; an update whose
    // installer succeeded without changing that version is not offered again this session, until the
    // catalogue lists another version than the one refused (kept here by app id).
    std::map<int32_t, std::wstring> updating;
    std::map<int32_t, std::wstring> updateRefused;
    // Uninstallers started from a card's menu and still running, by app id.
    std::set<int32_t> uninstalling;
    // Apps uninstalled this session, with the generation of their task then: that task's "installed"
    // no longer shows on the card.
    std::map<int32_t, uint32_t> uninstalledTasks;
};

// Install lists read and written by workers (WM_QB_LIST_FILE_DONE), and a list on its way to a batch.
struct ListFiles {
    uint32_t jobsStarted = 0;  // number of the newest read or write
    uint32_t newestRead = 0;   // an older read's list is dropped
    // From the command line: queued without a question, unless the list comes from another server,
    // once the catalogue's load is over and the registrations were read for it.
    bool unattended = false;
    // Handed over by another start: it waits like one from the command line, and always asks.
    bool confirm = false;
    std::optional<InstallList> waiting;  // read, waiting for that
};

// The small menu a right-click on an installed app's card opens.
enum CardMenuItem : int32_t { CardMenuUninstall = 0, CardMenuOpenDownloads = 1, kCardMenuItemCount = 2 };
struct CardMenu {
    bool open = false;
    int32_t appId = 0;
    POINT anchor{};  // where the right button was let go, client pixels
    RECT panel{};    // placed there by the update step
    int32_t focusedItem = -1;  // the item the arrows moved to; -1 until they do
};

// The header's search field. While the query is not blank the catalogue page shows its results in
// place of the selected category's apps.
struct SearchState {
    HWND edit = nullptr;          // the field's edit control, a child of the main window
    std::wstring query;           // the field's text without the spaces around it
    std::vector<size_t> results;  // indexes into catalogue.apps, name matches first
    bool hasText = false;         // the field holds something: its clear button shows
    bool focused = false;         // the caret is in the field: no placeholder
    SearchIndex index;            // of catalogue.apps, built on the window thread
    uint32_t indexGeneration = 0;
    bool indexBuilt = false;
    WNDPROC editProcedure = nullptr;  // the edit's own, which the field's procedure passes messages on to
    bool focusWasInField = false;     // when the window was last deactivated
    qb::UniqueBrush editBrush;        // the edit's background: a solid colour of the field's fill there
    uint32_t editBrushColour = 0xFFFFFFFF;
};

struct AppState {
    HWND mainWnd = nullptr;
    HWND shadowWnd = nullptr;
    HWND settingsWnd = nullptr;
    HWND settingsDirEdit = nullptr;
    HWND settingsVersionLabel = nullptr;
    AppConfig config;
    Catalogue catalogue;
    IconCache icons;  // decoded icons of the catalogue's apps; only the main thread touches it
    InstalledState installed;
    SearchState search;
    HFONT uiFonts[kUiFontCount] = {};  // made for scale
    // The main window's DPI: its painting, hit regions and scroll offsets are in 96-DPI units.
    qb::DpiScale scale;
    bool highContrast = false;  // the system's high-contrast mode, as last read

    Page page = Page::Catalogue;
    std::wstring selectedCategoryId;
    bool catalogueLoading = false;
    bool catalogueFailed = false;
    bool catalogueOffline = false;  // the service could not be used; the cached catalogue is shown
    bool catalogueSettled = false;  // the load is over: no other lists follow until the next load
    std::wstring catalogueNotice;   // quiet note beside the content heading; empty for none
    bool earlyLoadRunning = false;  // a load begun before the main window existed, which its WM_CREATE takes over
    bool startUpFinished = false;   // OLE and the shadow window are set up (finishStartUp ran)
    int sidebarScroll = 0;
    int contentScroll = 0;
    ScrollBarInfo sidebarScrollBar;
    ScrollBarInfo contentScrollBar;

    // Written by the update step before each paint; input reads them.
    std::vector<HitRegion> hitRegions;
    POINT mousePos{-1, -1};
    bool hoverActive = false;
    HitKind hoverKind = HitKind::None;
    int hoverParam = 0;
    ScrollBarId dragBar = ScrollBarId::None;
    int dragGrabOffset = 0;
    ScrollBarId pageRepeatBar = ScrollBarId::None;
    CardMenu cardMenu;
    KeyboardFocus focus;

    std::wstring toastText;
    int toastKind = ToastNeutral;
    DWORD toastTick = 0;
    std::wstring noticeText;
    int noticeTaskId = 0;
    bool noticeIsArchive = false;
    bool noticeVerified = true;
    bool noticeUnverified = false;  // the catalogue gave no digest, so the installer was not started
    uint32_t noticeSignature = 0;   // SignatureState of the installer
    std::wstring noticePublisher;
    bool noticePublisherRefused = false;  // not signed by the publisher the catalogue pins; not started
    bool noticeSilent = false;  // its installer runs without a window
    bool noticeInstallStarted = false;  // its installer was accepted (it may wait for another to end)
    // A batch's summary instead of one download's: noticeText is its title, then what was skipped and
    // what failed.
    bool noticeIsSummary = false;
    std::wstring noticeSkipped;
    std::wstring noticeFailed;
    DWORD noticeTick = 0;

    // The unattended installs that 全部升级 or an imported list started, until the last has ended.
    InstallBatch batch;
    ListFiles lists;
    // The user quit while an installer ran: the window is hidden and closes once it has ended.
    bool quitWhenInstallerEnds = false;
    // Packages a stopped batch was still checking: their installers wait for the user's own click.
    std::set<int32_t> installsHeld;
    // Updates whose app is running and did not close when asked: "请先关闭「名称」" until tried again.
    std::set<int32_t> waitingForClose;
    // The programs Quillbox closed for an update, started again once it has succeeded.
    std::map<int32_t, std::vector<std::wstring>> restartAfterUpdate;

    bool inSizeMove = false;
    bool shadowHiddenForSizing = false;
    SIZE shadowBitmapSize{0, 0};
    unsigned shadowImageBuilds = 0;  // pictures pushed to the shadow window; a move must not add one
};

AppState& appState();

// The installed app's status; null when the registrations do not list it.
const InstallStatus* installStatusOf(const AppState& app, int32_t appId);
// Installed with a newer version in the catalogue, and not refused this session.
bool updateOffered(const AppState& app, int32_t appId);
// Indexes into app.catalogue.apps of the apps offered an update that have a package, in catalogue
// order: the rows of the updates page and the count on its pill.
std::vector<size_t> updatableApps(const AppState& app);

// Sets the toast banner (shown for 2.2 s) and repaints the main window.
void showToast(const std::wstring& text, int kind);

// The UI font table, created at start-up for the window's DPI and again when its DPI changes.
bool createUiFonts(HFONT (&fonts)[kUiFontCount], int dpi = qb::kBaseDpi);
void deleteUiFonts(HFONT (&fonts)[kUiFontCount]);
HFONT uiFont(UiFont font);
