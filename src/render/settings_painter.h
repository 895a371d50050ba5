#pragma once
// The settings window's own look: the brand header strip with its close glyph, the framed folder
// field, rounded buttons and the connection choice. Geometry shared by painting and hit-testing.
#include <windows.h>

#include "render/canvas.h"

namespace settings_layout {

inline constexpr int kWidth = 478;
inline constexpr int kHeight = 592;
inline constexpr int kStripHeight = 50;
inline constexpr int kCornerRadius = 7;  // the window's region and the strip's top corners
inline constexpr int kChoiceCount = 8;   // connections 1 to 8
inline constexpr int kProxyChoiceCount = 3;  // 系统, 不使用, 手动

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
// Segment i (0-based, the choice i + 1) of the proxy choice in its own coordinates, and the choice under
// a point of it, 1 to 3; 0 when none.
RECT proxySegment(int i);
int proxyChoiceAt(POINT point);
// The sections' headings: "下载" and "安装与升级".
RECT downloadSection();
RECT installSection();
RECT silentLabel();
RECT silentSwitch();
RECT silentHint();
// The install lists' row: its label, 导入软件清单 and 导出软件清单, and the hint beneath.
RECT listLabel();
RECT importButton();
RECT exportButton();
RECT listHint();
// Segment i (0-based, the choice i + 1) in the choice control's own coordinates.
RECT choiceSegment(int i);
// The choice under a point of the control, 1 to 8; 0 when none.
int choiceAt(POINT point);
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
// The eight segments of the connection choice in a control of `size`; `hovered` 0 for none.
void paintConnectionChoice(Canvas& canvas, SIZE size, int selected, int hovered, bool focused);
// The proxy choice's label for choice 1 to 3 ("系统", "不使用", "手动"), and its three segments.
const wchar_t* proxyChoiceLabel(int choice);
void paintProxyChoice(Canvas& canvas, SIZE size, int selected, int hovered, bool focused);
