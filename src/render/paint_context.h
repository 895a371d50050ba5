#pragma once
// What one paint reads besides AppState, and the state the painters share while it runs.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/app_state.h"
#include "downloads/download_manager.h"
#include "render/canvas.h"

using TaskMap = std::map<int32_t, TaskSnapshot>;

// Taken once at the start of a paint: the live program fills it from the download manager, the
// tick count and the window; tests fill it by hand.
struct PaintInputs {
    TaskMap tasks;
    std::wstring downloadDirectory;
    DWORD now = 0;
    bool maximized = false;
    // Asks for an app's icon at a drawn size (RequestIcon in the live program); called for every app
    // with an icon path that is drawn, so recently drawn icons stay decoded.
    std::function<void(const AppInfo&, int)> requestIcon;
};

struct PaintContext {
    AppState& app;
    Canvas& canvas;
    const PaintInputs& inputs;
    int w;
    int h;

    void record(const RECT& rect, HitKind kind, int32_t param = 0) { app.hitRegions.push_back({rect, kind, param}); }
    bool hovered(HitKind kind) const { return app.hoverActive && app.hoverKind == static_cast<int>(kind); }
    bool hovered(HitKind kind, int32_t param) const { return hovered(kind) && app.hoverParam == param; }
    const TaskSnapshot* taskFor(int32_t appId) const {
        auto it = inputs.tasks.find(appId);
        return it == inputs.tasks.end() ? nullptr : &it->second;
    }
};

// Paints the whole client area into dc through a back buffer; PaintMainWindow feeds it live inputs.
void paintMainWindowWith(HDC dc, const RECT& client, AppState& app, const PaintInputs& inputs);
