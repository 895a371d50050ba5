#pragma once
// One model of what the main window shows, for screen readers and other accessibility clients: its
// regions, categories, cards and their buttons, download rows with their buttons and progress, the
// updates list, the toast, the notice and the card menu. Built from what the painters are handed (the
// state, one paint's inputs, the layout), so it names and places exactly what is drawn.
#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/focus_model.h"
#include "render/paint_context.h"

enum class AccessRole : int32_t {
    Client,
    Toolbar,
    PageTabList,
    PageTab,
    List,
    ListItem,
    PushButton,
    ProgressBar,
    StaticText,
    Text,
    MenuPopup,
    MenuItem,
    Slider,
    CheckButton,
};

enum AccessState : uint32_t {
    AccessFocused = 1u << 0,
    AccessSelected = 1u << 1,
    AccessUnavailable = 1u << 2,
    AccessBusy = 1u << 3,
    AccessFocusable = 1u << 4,
    AccessSelectable = 1u << 5,
    AccessOffscreen = 1u << 6,
    AccessProtected = 1u << 7,  // a password: readers never speak its value
    AccessChecked = 1u << 8,
};

struct AccessNode {
    AccessRole role = AccessRole::StaticText;
    std::wstring id;  // stable while the item is there: "card-7", "card-7-button", "category-2", "row-7-RowCancel"
    std::wstring name;
    std::wstring description;
    std::wstring value;          // a progress bar's "37%", the search field's text
    std::wstring defaultAction;  // a button's own text; empty when it has none
    RECT rect{};                 // client pixels
    uint32_t states = 0;
    HitKind kind = HitKind::None;  // what the default action presses, as a click would
    int32_t param = 0;
    std::optional<FocusTarget> focus;  // where taking the focus puts the keyboard's
    int percent = -1;                  // a progress bar's value
    // A list that scrolls: which view (FocusRegion::Sidebar or Content), its offset, the largest offset
    // and the height it shows; scrollMax < 0 for a node that does not scroll.
    FocusRegion scrollRegion = FocusRegion::Content;
    int scrollOffset = 0;
    int scrollMax = -1;
    int scrollView = 0;
    int parent = -1;
    std::vector<int> children;
};

struct AccessTree {
    std::vector<AccessNode> nodes;  // node 0 is the window's client area
    std::map<std::wstring, int> byId;
    int focused = -1;  // the node the keyboard focus is on, or -1
    int find(const std::wstring& id) const;
    // The deepest node under `from` (the client area by default) whose rectangle holds the client point;
    // `from` itself when none of its children does.
    int hit(POINT client, int from = 0) const;
};

struct AccessInputs {
    bool windowFocused = false;  // the main window (or its search field) has the keyboard focus
    bool fieldFocused = false;   // the caret is in the search field
};

// What a w x h client shows, after the update step of its last paint.
AccessTree buildAccessTree(const AppState& app, const PaintInputs& inputs, const AccessInputs& access, int w, int h);
