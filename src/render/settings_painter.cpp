#include "render/settings_painter.h"

#include "render/header_painter.h"
#include "render/palette.h"

#include <utility>

namespace settings_layout {

namespace {

constexpr int kContentLeft = 30;
constexpr int kContentRight = kWidth - 30;
constexpr int kChoiceHeight = 32;
constexpr int kSwitchWidth = 44;
constexpr int kListButtonWidth = 116;
constexpr int kSpeedRowTop = 234;
constexpr int kProxyRowTop = kSpeedRowTop + 66;
constexpr int kProxyFieldLeft = kContentRight - 170;
// What follows the speed cap's and the proxy's rows moves down by their height.
constexpr int kBelowSpeedRow = 122;
constexpr int kAutoUpdateRowTop = 334 + kBelowSpeedRow;
// And what follows 自动升级 by its height, what follows 启动与后台 by that section's.
constexpr int kBelowAutoUpdateRow = kBelowSpeedRow + 60;
constexpr int kStartSectionTop = 402 + kBelowAutoUpdateRow;
constexpr int kTrayRowTop = kStartSectionTop + 30;
constexpr int kSignInRowTop = kTrayRowTop + 34;
constexpr int kBelowStartSection = kBelowAutoUpdateRow + 100;

// A compact row's switch at the content's right edge.
RECT switchAt(int top) { return {kContentRight - kSwitchWidth, top, kContentRight, top + 24}; }

}  // namespace

RECT closeButton() { return {kWidth - kStripHeight, 0, kWidth, kStripHeight}; }
RECT title() { return {24, 14, 224, 36}; }
RECT downloadSection() { return {kContentLeft, 62, 330, 82}; }
RECT folderLabel() { return {kContentLeft, 92, 330, 112}; }
RECT folderFrame() { return {kContentLeft, 118, 360, 150}; }
RECT folderEdit() { return {kContentLeft + 10, 124, 350, 144}; }
RECT browseButton() { return {368, 118, kContentRight, 150}; }
RECT hint() { return {kContentLeft, 158, 330, 178}; }
RECT connectionsLabel() { return {kContentLeft, 192, 128, 192 + kChoiceHeight}; }
RECT connectionsChoice() {
    return {kContentRight - kChoiceCount * kChoiceSegmentWidth, 192, kContentRight, 192 + kChoiceHeight};
}
RECT speedLabel() { return {kContentLeft, kSpeedRowTop, 200, kSpeedRowTop + 32}; }
RECT speedFrame() { return {kContentRight - 180, kSpeedRowTop, kContentRight - 50, kSpeedRowTop + 32}; }
RECT speedEdit() { return {kContentRight - 170, kSpeedRowTop + 6, kContentRight - 60, kSpeedRowTop + 26}; }
RECT speedUnit() { return {kContentRight - 42, kSpeedRowTop, kContentRight, kSpeedRowTop + 32}; }
RECT speedHint() { return {kContentLeft, kSpeedRowTop + 34, kContentRight, kSpeedRowTop + 54}; }
RECT proxyLabel() { return {kContentLeft, kProxyRowTop, 90, kProxyRowTop + 32}; }
RECT proxyChoice() {
    return {kProxyFieldLeft - 10 - kProxyChoiceCount * kProxySegmentWidth, kProxyRowTop, kProxyFieldLeft - 10,
            kProxyRowTop + kChoiceHeight};
}
RECT proxyFrame() { return {kProxyFieldLeft, kProxyRowTop, kContentRight, kProxyRowTop + 32}; }
RECT proxyEdit() { return {kProxyFieldLeft + 10, kProxyRowTop + 6, kContentRight - 10, kProxyRowTop + 26}; }
RECT proxyHint() { return {kContentLeft, kProxyRowTop + 34, kContentRight, kProxyRowTop + 54}; }
RECT installSection() { return {kContentLeft, 244 + kBelowSpeedRow, 330, 264 + kBelowSpeedRow}; }
RECT silentLabel() { return {kContentLeft, 274 + kBelowSpeedRow, 300, 298 + kBelowSpeedRow}; }
RECT silentSwitch() { return switchAt(274 + kBelowSpeedRow); }
RECT silentHint() { return {kContentLeft, 300 + kBelowSpeedRow, kContentRight, 320 + kBelowSpeedRow}; }
RECT autoUpdateLabel() { return {kContentLeft, kAutoUpdateRowTop, 300, kAutoUpdateRowTop + 24}; }
RECT autoUpdateSwitch() { return switchAt(kAutoUpdateRowTop); }
RECT autoUpdateHint() { return {kContentLeft, kAutoUpdateRowTop + 26, kContentRight, kAutoUpdateRowTop + 46}; }
RECT listLabel() { return {kContentLeft, 334 + kBelowAutoUpdateRow, 200, 366 + kBelowAutoUpdateRow}; }
RECT importButton() {
    return {kContentRight - 2 * kListButtonWidth - 10, 334 + kBelowAutoUpdateRow, kContentRight - kListButtonWidth - 10,
            366 + kBelowAutoUpdateRow};
}
RECT exportButton() {
    return {kContentRight - kListButtonWidth, 334 + kBelowAutoUpdateRow, kContentRight, 366 + kBelowAutoUpdateRow};
}
RECT listHint() { return {kContentLeft, 370 + kBelowAutoUpdateRow, kContentRight, 390 + kBelowAutoUpdateRow}; }
RECT startSection() { return {kContentLeft, kStartSectionTop, 330, kStartSectionTop + 20}; }
RECT trayLabel() { return {kContentLeft, kTrayRowTop, 300, kTrayRowTop + 24}; }
RECT traySwitch() { return switchAt(kTrayRowTop); }
RECT signInLabel() { return {kContentLeft, kSignInRowTop, 300, kSignInRowTop + 24}; }
RECT signInSwitch() { return switchAt(kSignInRowTop); }
RECT segment(int i, int segmentWidth) { return {i * segmentWidth, 0, (i + 1) * segmentWidth, kChoiceHeight}; }

int segmentAt(POINT point, int count, int segmentWidth) {
    if (point.y < 0 || point.y >= kChoiceHeight || point.x < 0) return 0;
    const int index = point.x / segmentWidth;
    return index < count ? index + 1 : 0;
}

RECT saveProblem() { return {kContentLeft, 404 + kBelowStartSection, 262, 438 + kBelowStartSection}; }
RECT cancelButton() { return {270, 404 + kBelowStartSection, 354, 438 + kBelowStartSection}; }
RECT saveButton() { return {364, 404 + kBelowStartSection, kContentRight, 438 + kBelowStartSection}; }
RECT versionLabel() { return {kContentLeft, 444 + kBelowStartSection, 410, 462 + kBelowStartSection}; }

bool dragsWindow(POINT point) {
    const RECT close = closeButton();
    return point.y >= 0 && point.y < kStripHeight && !::PtInRect(&close, point);
}

}  // namespace settings_layout

namespace {

using palette::kFieldBorder;
using palette::kFieldFill;
using palette::kPrimaryPressed;
using palette::kSecondaryHoverFill;
using palette::kSecondaryPressedFill;
using palette::kFocusRing;
constexpr Pen kCloseGlyph{0xFFFFFFFF, 1.6f};
using palette::kWindowEdge;
using palette::kSectionRule;
using palette::kSwitchOff;
using palette::kSwitchOffHover;

RECT inset(RECT r, int by) {
    ::InflateRect(&r, -by, -by);
    return r;
}

}  // namespace

void paintSettingsBackground(Canvas& canvas, bool closeHovered) {
    using namespace settings_layout;
    // An edge of its own (the strip covers its top): the window may sit on white cards without a shadow.
    strokeRoundRect(canvas, RECT{0, 0, kWidth - 1, kHeight - 1}, kCornerRadius, kWindowEdge, 1.0f);
    paintBrandGradient(canvas, RECT{0, 0, kWidth, kStripHeight});
    const RECT close = closeButton();
    if (closeHovered)
        canvas.fillRect(static_cast<float>(close.left), 0, static_cast<float>(close.right - close.left),
                        static_cast<float>(kStripHeight), palette::kCloseHover);
    const float cx = (close.left + close.right) / 2.0f, cy = kStripHeight / 2.0f;
    canvas.drawLine(cx - 7, cy - 7, cx + 7, cy + 7, kCloseGlyph);
    canvas.drawLine(cx + 7, cy - 7, cx - 7, cy + 7, kCloseGlyph);

    for (const RECT& frame : {folderFrame(), speedFrame(), proxyFrame()}) {
        fillRoundRect(canvas, frame, 6, kFieldFill);
        strokeRoundRect(canvas, frame, 6, kFieldBorder, 1.0f);
    }
    for (const auto& [place, text] : {std::pair{downloadSection(), L"下载"}, std::pair{installSection(), L"安装与升级"},
                                      std::pair{startSection(), L"启动与后台"}}) {
        canvas.drawText(text, place, FontCardTitle, palette::kTextPrimary, kTextLeft);
        // A hairline from the heading to the content's right edge.
        const float from = static_cast<float>(place.left + canvas.measureLine(text, FontCardTitle) + 12);
        canvas.fillRect(from, (place.top + place.bottom) / 2.0f, static_cast<float>(kWidth - 30) - from, 1, kSectionRule);
    }
}

void paintSwitch(Canvas& canvas, SIZE size, bool on, bool hovered, bool focused) {
    const RECT track = inset(RECT{0, 0, size.cx, size.cy}, 1);
    const int radius = (track.bottom - track.top) / 2;
    const uint32_t fill = on ? (hovered ? palette::kPrimaryHover : palette::kPrimary) : (hovered ? kSwitchOffHover : kSwitchOff);
    fillRoundRect(canvas, track, radius, fill);
    if (focused) strokeRoundRect(canvas, track, radius, kFocusRing, 1.5f);
    const int knob = track.bottom - track.top - 6;
    const int left = on ? track.right - 3 - knob : track.left + 3;
    fillRoundRect(canvas, RECT{left, track.top + 3, left + knob, track.top + 3 + knob}, knob / 2, palette::kWhite);
}

void paintSettingsButton(Canvas& canvas, const RECT& rect, const wchar_t* label, SettingsButtonStyle style,
                         const SettingsButtonState& state) {
    const RECT shape = inset(rect, 1);
    const int radius = (shape.bottom - shape.top) / 2;
    uint32_t text = palette::kTextWhite;
    if (style == SettingsButtonStyle::Primary) {
        const uint32_t fill = state.pressed ? kPrimaryPressed : state.hovered ? palette::kPrimaryHover : palette::kPrimary;
        fillRoundRect(canvas, shape, radius, fill);
    } else {
        const uint32_t fill = state.pressed ? kSecondaryPressedFill : state.hovered ? kSecondaryHoverFill : palette::kWhite;
        fillRoundRect(canvas, shape, radius, fill);
        strokeRoundRect(canvas, shape, radius, state.hovered || state.pressed ? palette::kPrimary : kFieldBorder, 1.0f);
        text = state.hovered || state.pressed ? palette::kTextAccent : palette::kTextSecondary;
    }
    if (!state.enabled) text = palette::kTextTertiary;
    if (state.focused) {
        // Inside the shape: a white ring on the filled button, a blue one on the outlined.
        const RECT ring = inset(shape, 3);
        strokeRoundRect(canvas, ring, radius - 3,
                        style == SettingsButtonStyle::Primary ? palette::kWhite : kFocusRing, 1.0f);
    }
    RECT textRect = rect;
    if (state.pressed) ::OffsetRect(&textRect, 0, 1);
    canvas.drawText(label, textRect, FontButton, text, kTextCentred);
}

// Segments side by side in one rounded field, the chosen one filled; `hovered` 0 for none, values from 1.
void paintSegmentedChoice(Canvas& canvas, SIZE size, const SegmentedLook& look, int selected, int hovered,
                          bool focused) {
    const RECT whole = inset(RECT{0, 0, size.cx, size.cy}, 1);
    const int radius = 6;
    fillRoundRect(canvas, whole, radius, kFieldFill);
    for (int i = 0; i < look.count; ++i) {
        const RECT place = settings_layout::segment(i, look.segmentWidth);
        const RECT segment = inset(place, 3);
        const int value = i + 1;
        if (value == selected) {
            fillRoundRect(canvas, segment, 4, hovered == value ? palette::kPrimaryHover : palette::kPrimary);
        } else if (value == hovered) {
            fillRoundRect(canvas, segment, 4, kSecondaryHoverFill);
            // In high contrast the fill is the window colour: the segment is outlined in the highlight.
            if (canvas.look().contrast) strokeRoundRect(canvas, segment, 4, palette::kPrimary, 1.0f);
        }
        const uint32_t text = value == selected ? palette::kTextWhite
                              : value == hovered ? palette::kTextAccent
                                                 : palette::kTextSecondary;
        canvas.drawText(look.label(value), place, FontButton, text, kTextCentred);
    }
    strokeRoundRect(canvas, whole, radius, focused ? kFocusRing : kFieldBorder, focused ? 1.5f : 1.0f);
}

const wchar_t* proxyChoiceLabel(int choice) {
    static const wchar_t* const kLabels[] = {L"系统", L"不使用", L"手动"};
    return choice >= 1 && choice <= settings_layout::kProxyChoiceCount ? kLabels[choice - 1] : L"";
}
