#pragma once
// The settings window's own look: the brand header strip with its close glyph, the framed folder
// field, rounded buttons and the connection choice. Geometry shared by painting and hit-testing.
#include <windows.h>

#include <string>

#include "render/canvas.h"

namespace settings_layout {

inline constexpr int kWidth = 478;
inline constexpr int kHeight = 752;
inline constexpr int kStripHeight = 50;
inline constexpr int kCornerRadius = 7;  // the window's region and the strip's top corners
inline constexpr int kChoiceCount = 8;   // connections 1 to 8
inline constexpr int kProxyChoiceCount = 3;  // 系统, 不使用, 手动
inline constexpr int kChoiceSegmentWidth = 40;
inline constexpr int kProxySegmentWidth = 56;

RECT closeButton();
RECT title();
RECT folderLabel();
RECT folderFrame();  // the rounded frame the read-only folder edit sits in
RECT folderEdit();   // the edit itself, inside the frame
RECT browseButton();
RECT hint();
RECT connectionsLabel();
RECT connectionsChoice();
// The speed cap's row: its label, the framed number field (KB a second), the unit, and the hint beneath.
RECT speedLabel();
RECT speedFrame();
RECT speedEdit();
RECT speedUnit();
RECT speedHint();
// The proxy's row: its label, the choice of 系统, 不使用 and 手动, the framed "host:port" field for 手动,
// and the hint beneath.
RECT proxyLabel();
RECT proxyChoice();
RECT proxyFrame();
RECT proxyEdit();
RECT proxyHint();
// The sections' headings: "下载", "安装与升级" and "启动与后台".
RECT downloadSection();
RECT installSection();
RECT startSection();
RECT silentLabel();
RECT silentSwitch();
RECT silentHint();
// "自动升级": its label, its switch and the hint beneath.
RECT autoUpdateLabel();
RECT autoUpdateSwitch();
RECT autoUpdateHint();
// The compact rows of 启动与后台, a label and a switch each: "关闭时最小化到托盘" and "开机启动".
RECT trayLabel();
RECT traySwitch();
RECT signInLabel();
RECT signInSwitch();
// The install lists' row: its label, 导入软件清单 and 导出软件清单, and the hint beneath.
RECT listLabel();
RECT importButton();
RECT exportButton();
RECT listHint();
// Segment i (0-based, the value i + 1) of a segmented choice in its own coordinates, and the value under a
// point of it, 1 to count; 0 when none.
RECT segment(int i, int segmentWidth);
int segmentAt(POINT point, int count, int segmentWidth);
// Left of the buttons: why a save did not go through.
RECT saveProblem();
RECT cancelButton();
RECT saveButton();
RECT versionLabel();
// True where a press drags the window: the strip, except its close glyph.
bool dragsWindow(POINT point);

}  // namespace settings_layout

enum class SettingsButtonStyle { Primary, Secondary };

struct SettingsButtonState {
    bool hovered = false;
    bool pressed = false;
    bool focused = false;
    bool enabled = true;
};

// Each paints onto a surface that already holds the window's white.
// The window behind the controls: the strip in the brand gradient, the close glyph (red when
// hovered) and the folder field's frame.
void paintSettingsBackground(Canvas& canvas, bool closeHovered);
// A button filling `rect` of its own surface.
void paintSettingsButton(Canvas& canvas, const RECT& rect, const wchar_t* label, SettingsButtonStyle style,
                         const SettingsButtonState& state);
// An on/off switch filling a control of `size`.
void paintSwitch(Canvas& canvas, SIZE size, bool on, bool hovered, bool focused);
// A choice's segments side by side: how many, how wide, and each value's label.
struct SegmentedLook {
    int count;
    int segmentWidth;
    std::wstring (*label)(int value);
};
// The segments of a choice in a control of `size`, the selected value filled; `hovered` 0 for none.
void paintSegmentedChoice(Canvas& canvas, SIZE size, const SegmentedLook& look, int selected, int hovered,
                          bool focused);
// The proxy choice's label for choice 1 to 3 ("系统", "不使用", "手动").
const wchar_t* proxyChoiceLabel(int choice);
