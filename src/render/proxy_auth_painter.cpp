#include "render/proxy_auth_painter.h"

#include "render/header_painter.h"
#include "render/palette.h"

namespace proxy_auth_layout {

namespace {

constexpr int kLeft = 30;
constexpr int kRight = kWidth - 30;
constexpr int kFieldLeft = 100;
constexpr int kUserTop = 118;
constexpr int kPasswordTop = 162;

}  // namespace

RECT closeButton() { return {kWidth - kStripHeight, 0, kWidth, kStripHeight}; }
RECT title() { return {24, 14, 300, 36}; }
RECT message() { return {kLeft, 64, kRight, 84}; }
RECT problem() { return {kLeft, 88, kRight, 108}; }
RECT userLabel() { return {kLeft, kUserTop, kFieldLeft - 10, kUserTop + 32}; }
RECT userFrame() { return {kFieldLeft, kUserTop, kRight, kUserTop + 32}; }
RECT userEdit() { return {kFieldLeft + 10, kUserTop + 6, kRight - 10, kUserTop + 26}; }
RECT passwordLabel() { return {kLeft, kPasswordTop, kFieldLeft - 10, kPasswordTop + 32}; }
RECT passwordFrame() { return {kFieldLeft, kPasswordTop, kRight, kPasswordTop + 32}; }
RECT passwordEdit() { return {kFieldLeft + 10, kPasswordTop + 6, kRight - 10, kPasswordTop + 26}; }
RECT rememberSwitch() { return {kLeft, 212, kLeft + 44, 236}; }
RECT rememberLabel() { return {kLeft + 54, 210, kRight, 238}; }
RECT cancelButton() { return {kRight - 184, 262, kRight - 100, 296}; }
RECT okButton() { return {kRight - 90, 262, kRight, 296}; }

bool dragsWindow(POINT point) {
    const RECT close = closeButton();
    return point.y >= 0 && point.y < kStripHeight && !::PtInRect(&close, point);
}

}  // namespace proxy_auth_layout

void paintProxyAuthBackground(Canvas& canvas, bool closeHovered) {
    using namespace proxy_auth_layout;
    strokeRoundRect(canvas, RECT{0, 0, kWidth - 1, kHeight - 1}, 7, palette::kWindowEdge, 1.0f);
    paintBrandGradient(canvas, RECT{0, 0, kWidth, kStripHeight});
    const RECT close = closeButton();
    if (closeHovered)
        canvas.fillRect(static_cast<float>(close.left), 0, static_cast<float>(close.right - close.left),
                        static_cast<float>(kStripHeight), palette::kCloseHover);
    const float cx = (close.left + close.right) / 2.0f, cy = kStripHeight / 2.0f;
    const Pen glyph{0xFFFFFFFF, 1.6f};
    canvas.drawLine(cx - 7, cy - 7, cx + 7, cy + 7, glyph);
    canvas.drawLine(cx + 7, cy - 7, cx - 7, cy + 7, glyph);
    for (const RECT& frame : {userFrame(), passwordFrame()}) {
        fillRoundRect(canvas, frame, 6, palette::kFieldFill);
        strokeRoundRect(canvas, frame, 6, palette::kFieldBorder, 1.0f);
    }
}
