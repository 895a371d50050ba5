#pragma once
// What painting records for input handling: clickable rectangles and scroll-bar geometry.
#include <windows.h>

#include <cstdint>

enum class HitKind : int32_t {
    None = 0,
    Category = 1,
    Minimize = 3,
    Maximize = 4,
    Close = 5,
    DownloadsTab = 6,
    SettingsButton = 7,
    CardAction = 8,
    RowCancel = 11,
    RowInstall = 12,
    RowOpenFolder = 13,
    RowRetry = 14,
    ClearCompleted = 15,
    Reload = 16,
    ChangeDir = 18,
    OpenDir = 19,
    Notice = 20,
    UpdatesTab = 21,  // header pill "软件升级"
    UpdateRow = 22,   // param: app id
    UpdateAll = 23,
    MenuItem = 24,  // an item of a card's right-click menu; param: CardMenuItem
    SearchField = 25,  // the header's search field: focuses its edit
    SearchClear = 26,  // the field's clear button
    RowPause = 27,
    RowResume = 28,
    StopBatch = 29,  // the updates page's 停止 while a batch of installs runs
};

struct HitRegion {
    RECT rect{};
    HitKind kind = HitKind::None;
    int32_t param = 0;
};

// The scroll bar being dragged or paged, if any.
enum class ScrollBarId { None, Content, Sidebar };

struct ScrollBarInfo {
    bool visible = false;
    RECT track{};
    RECT thumb{};
    int maxScroll = 0;
    int viewHeight = 0;
    int thumbHeight = 0;
    int trackTop = 0;
};
