#pragma once
// What one paint reads besides AppState, and the state the painters share while it runs.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "model/app_state.h"
#include "downloads/task.h"
#include "render/canvas.h"

using TaskMap = std::map<int32_t, TaskSnapshot>;

// Taken once at the start of a paint: the live program (app/main_window_paint.cpp) fills it from the
// shell services, the tick count and the window; tests fill it by hand.
struct PaintInputs {
    TaskMap tasks;
    std::wstring downloadDirectory;
    DWORD now = 0;
    bool maximized = false;
    // The window's DPI (the state's uiFonts are made for it) and high contrast's colours.
    CanvasLook look;
    // Asks for an app's icon at a drawn size in pixels (the shell services' requestIcon in the live program); the
    // update step calls it for every app with an icon path that is shown or about to be, so those icons
    // stay decoded.
    std::function<void(const AppInfo&, int)> requestIcon;
};

// What painters read while they draw; painting changes nothing in AppState.
struct PaintContext {
    const AppState& app;
    Canvas& canvas;
    const PaintInputs& inputs;
    int w;  // the client in 96-DPI units
    int h;
    // The first frame of a window draws its cards straight into the back buffer: making their faces
    // (a fresh surface each) would cost the frame that matters most; they are made between paints.
    bool withoutFaces = false;

    bool hovered(HitKind kind) const { return app.hoverActive && app.hoverKind == kind; }
    bool hovered(HitKind kind, int32_t param) const { return hovered(kind) && app.hoverParam == param; }
    const TaskSnapshot* taskFor(int32_t appId) const {
        auto it = inputs.tasks.find(appId);
        return it == inputs.tasks.end() ? nullptr : &it->second;
    }
};
