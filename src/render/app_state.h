#pragma once
// The main thread's state: windows, settings, catalogue, page, scrolling, hover and transient messages.
#include <windows.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "render/hit_region.h"
#include "service/catalogue.h"
#include "service/icon_cache.h"

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

enum class Page { Catalogue, Downloads };

struct AppState {
    HWND mainWnd = nullptr;
    HWND shadowWnd = nullptr;
    HWND settingsWnd = nullptr;
    HWND settingsDirEdit = nullptr;
    HWND settingsVersionLabel = nullptr;
    AppConfig config;
    Catalogue catalog;
    IconCache icons;  // decoded icons of catalog's apps; only the main thread touches it
    HFONT uiFonts[kUiFontCount] = {};

    Page page = Page::Catalogue;
    std::wstring selectedCategoryId;
    bool catalogLoading = false;
    bool catalogFailed = false;
    bool catalogOffline = false;  // the service could not be used; the cached catalogue is shown
    std::wstring catalogNotice;   // quiet note beside the content heading; empty for none
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
    DWORD noticeTick = 0;

    bool inSizeMove = false;
    bool shadowHiddenForSizing = false;
    SIZE shadowBitmapSize{0, 0};
};

AppState& appState();

// Sets the toast banner (shown for 2.2 s) and repaints the main window.
void showToast(const std::wstring& text, int kind);

// The UI font table, created once at start-up.
bool createUiFonts(HFONT (&fonts)[kUiFontCount]);
HFONT uiFont(UiFont font);
