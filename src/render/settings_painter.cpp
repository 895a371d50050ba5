#include "render/settings_painter.h"

#include "render/header_painter.h"
#include "render/palette.h"

namespace settings_layout {

namespace {

constexpr int kContentLeft = 30;
constexpr int kContentRight = kWidth - 30;
constexpr int kChoiceSegmentWidth = 40;
constexpr int kChoiceHeight = 32;

}  // namespace

RECT closeButton() { return {kWidth - kStripHeight, 0, kWidth, kStripHeight}; }
RECT title() { return {24, 14, 224, 36}; }
RECT folderLabel() { return {kContentLeft, 68, 330, 88}; }
RECT folderFrame() { return {kContentLeft, 94, 360, 126}; }
RECT folderEdit() { return {kContentLeft + 10, 100, 350, 120}; }
RECT browseButton() { return {368, 94, kContentRight, 126}; }
RECT hint() { return {kContentLeft, 134, 330, 154}; }
RECT connectionsLabel() { return {kContentLeft, 172, 128, 172 + kChoiceHeight}; }
RECT connectionsChoice() {
    return {kContentRight - kChoiceCount * kChoiceSegmentWidth, 172, kContentRight, 172 + kChoiceHeight};
}
RECT choiceSegment(int i) { return {i * kChoiceSegmentWidth, 0, (i + 1) * kChoiceSegmentWidth, kChoiceHeight}; }

int choiceAt(POINT point) {
    if (point.y < 0 || point.y >= kChoiceHeight || point.x < 0) return 0;
    const int index = point.x / kChoiceSegmentWidth;
    return index < kChoiceCount ? index + 1 : 0;
}

RECT cancelButton() { return {270, 224, 354, 258}; }
RECT saveButton() { return {364, 224, kContentRight, 258}; }
RECT versionLabel() { return {kContentLeft, 270, 410, 288}; }

bool dragsWindow(POINT point) {
    const RECT close = closeButton();
    return point.y >= 0 && point.y < kStripHeight && !::PtInRect(&close, point);
}

}  // namespace settings_layout

namespace {

constexpr uint32_t kFieldBorder = 0xFFD5D9E0;
constexpr uint32_t kFieldFill = 0xFFF7F8FA;
constexpr uint32_t kPrimaryPressed = 0xFF1E40AF;
constexpr uint32_t kSecondaryHoverFill = 0xFFEFF5FF;
constexpr uint32_t kSecondaryPressedFill = 0xFFDCE8FE;
constexpr uint32_t kFocusRing = 0xFF2563EB;
constexpr Pen kCloseGlyph{0xFFFFFFFF, 1.6f};
constexpr uint32_t kWindowEdge = 0xFFC9CED6;

RECT inset(RECT r, int by) {
    ::InflateRect(&r, -by, -by);
    return r;
}

}  // namespace

void paintSettingsBackground(Canvas& canvas, bool closeHovered) {
    using namespace settings_layout;
    // An edge of its own (the strip covers its top): the window may sit on white cards without a shadow.
    StrokeRoundRect(canvas, RECT{0, 0, kWidth - 1, kHeight - 1}, kCornerRadius, kWindowEdge, 1.0f);
    paintBrandGradient(canvas, RECT{0, 0, kWidth, kStripHeight});
    const RECT close = closeButton();
    if (closeHovered)
        canvas.fillRect(static_cast<float>(close.left), 0, static_cast<float>(close.right - close.left),
                        static_cast<float>(kStripHeight), palette::kCloseHover);
    const float cx = (close.left + close.right) / 2.0f, cy = kStripHeight / 2.0f;
    canvas.drawLine(cx - 7, cy - 7, cx + 7, cy + 7, kCloseGlyph);
    canvas.drawLine(cx + 7, cy - 7, cx - 7, cy + 7, kCloseGlyph);

    const RECT frame = folderFrame();
    FillRoundRect(canvas, frame, 6, kFieldFill);
    StrokeRoundRect(canvas, frame, 6, kFieldBorder, 1.0f);
}

void paintSettingsButton(Canvas& canvas, const RECT& rect, const wchar_t* label, SettingsButtonStyle style,
                         const SettingsButtonState& state) {
    const RECT shape = inset(rect, 1);
    const int radius = (shape.bottom - shape.top) / 2;
    uint32_t text = palette::kTextWhite;
    if (style == SettingsButtonStyle::Primary) {
        const uint32_t fill = state.pressed ? kPrimaryPressed : state.hovered ? palette::kPrimaryHover : palette::kPrimary;
        FillRoundRect(canvas, shape, radius, fill);
    } else {
        const uint32_t fill = state.pressed ? kSecondaryPressedFill : state.hovered ? kSecondaryHoverFill : palette::kWhite;
        FillRoundRect(canvas, shape, radius, fill);
        StrokeRoundRect(canvas, shape, radius, state.hovered || state.pressed ? palette::kPrimary : kFieldBorder, 1.0f);
        text = state.hovered || state.pressed ? palette::kTextAccent : palette::kTextSecondary;
    }
    if (!state.enabled) text = palette::kTextTertiary;
    if (state.focused) {
        // Inside the shape: a white ring on the filled button, a blue one on the outlined.
        const RECT ring = inset(shape, 3);
        StrokeRoundRect(canvas, ring, radius - 3,
                        style == SettingsButtonStyle::Primary ? palette::kWhite : kFocusRing, 1.0f);
    }
    RECT textRect = rect;
    if (state.pressed) ::OffsetRect(&textRect, 0, 1);
    canvas.drawText(label, textRect, FontButton, text, kTextCentred);
}

void paintConnectionChoice(Canvas& canvas, SIZE size, int selected, int hovered, bool focused) {
    using settings_layout::choiceSegment;
    const RECT whole = inset(RECT{0, 0, size.cx, size.cy}, 1);
    const int radius = 6;
    FillRoundRect(canvas, whole, radius, kFieldFill);
    for (int i = 0; i < settings_layout::kChoiceCount; ++i) {
        const RECT segment = inset(choiceSegment(i), 3);
        const int value = i + 1;
        if (value == selected) {
            FillRoundRect(canvas, segment, 4, hovered == value ? palette::kPrimaryHover : palette::kPrimary);
        } else if (value == hovered) {
            FillRoundRect(canvas, segment, 4, kSecondaryHoverFill);
        }
        const uint32_t text = value == selected ? palette::kTextWhite
                              : value == hovered ? palette::kTextAccent
                                                 : palette::kTextSecondary;
        canvas.drawText(std::to_wstring(value), choiceSegment(i), FontButton, text, kTextCentred);
    }
    StrokeRoundRect(canvas, whole, radius, focused ? kFocusRing : kFieldBorder, focused ? 1.5f : 1.0f);
}
