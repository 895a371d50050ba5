#pragma once
// The main thread's state: windows, settings, catalogue, page, scrolling, hover and transient messages.
#include <windows.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "render/hit_region.h"
#include "service/catalogue.h"

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

struct AppState {
    HWND mainWnd = nullptr;
    HWND shadowWnd = nullptr;
    HWND settingsWnd = nullptr;
    HWND settingsDirEdit = nullptr;
    HWND settingsVersionLabel = nullptr;
    AppConfig config;
    Catalogue catalog;
    HFONT uiFonts[kUiFontCount] = {};

    int page = 0;  // 0 catalogue, 1 download manager
    std::wstring selectedCategoryId;
    bool catalogLoading = false;
    bool catalogFailed = false;
    bool catalogOffline = false;  // the service could not be used; the cached catalogue is shown
    std::wstring catalogNotice;   // quiet note beside the content heading; empty for none
    int sidebarScroll = 0;
    int contentScroll = 0;
    ScrollBarInfo sidebarScrollBar;
    ScrollBarInfo contentScrollBar;

    std::vector<HitRegion> hitRegions;
    POINT mousePos{-1, -1};
    bool hoverActive = false;
    int hoverKind = 0;
    int hoverParam = 0;
    int dragBar = 0;  // 0 none, 1 content, 2 sidebar
    int dragGrabOffset = 0;
    int pageRepeatBar = 0;

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
