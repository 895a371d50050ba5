#include "model/app_state.h"

AppState& appState() {
    // Destroyed after wWinMain returns: workers hold nothing of it (icon workers share only their
    // loader, which outlives the state when they are still running).
    static AppState state;
    return state;
}

const InstallStatus* installStatusOf(const AppState& app, int32_t appId) {
    const auto found = app.installed.byId.find(appId);
    return found == app.installed.byId.end() ? nullptr : &found->second;
}

bool updateOffered(const AppState& app, int32_t appId) {
    const InstallStatus* status = installStatusOf(app, appId);
    if (!status || !status->updatable) return false;
    const auto refused = app.installed.updateRefused.find(appId);
    if (refused == app.installed.updateRefused.end()) return true;
    const AppInfo* info = app.catalogue.findApp(appId);
    return info && info->version != refused->second;
}

std::vector<size_t> updatableApps(const AppState& app) {
    std::vector<size_t> apps;
    for (size_t i = 0; i < app.catalogue.apps.size(); ++i) {
        const AppInfo& info = app.catalogue.apps[i];
        if (info.hasPackage && updateOffered(app, info.id)) apps.push_back(i);
    }
    return apps;
}

void showToast(const std::wstring& text, int kind) {
    AppState& app = appState();
    app.toastText = text;
    app.toastKind = kind;
    app.toastTick = ::GetTickCount();
    if (app.mainWnd) ::InvalidateRect(app.mainWnd, nullptr, FALSE);
}

namespace {

struct FontSpec {
    int height;
    int weight;
};

// Character heights in 96-DPI pixels; a window at another DPI makes them for its own.
constexpr FontSpec kFontSpecs[kUiFontCount] = {
    {-22, 700}, {-19, 700}, {-13, 400}, {-16, 700}, {-14, 400}, {-13, 400}, {-14, 400},
    {-20, 700}, {-18, 400}, {-14, 400}, {-14, 400}, {-32, 700}, {-15, 400},
};

}  // namespace

bool createUiFonts(HFONT (&fonts)[kUiFontCount], int dpi) {
    const qb::DpiScale scale{dpi};
    bool all = true;
    for (int i = 0; i < kUiFontCount; ++i) {
        fonts[i] = ::CreateFontW(scale.length(kFontSpecs[i].height), 0, 0, 0, kFontSpecs[i].weight, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                 DEFAULT_PITCH, L"Microsoft YaHei");
        all = all && fonts[i] != nullptr;
    }
    return all;
}

void deleteUiFonts(HFONT (&fonts)[kUiFontCount]) {
    for (HFONT& font : fonts) {
        if (font) ::DeleteObject(font);
        font = nullptr;
    }
}

HFONT uiFont(UiFont font) { return appState().uiFonts[font]; }
