#pragma once
// The proxy login window's own look, in the settings window's style: the brand strip with its close
// glyph and the framed fields. Geometry shared by painting and hit-testing.
#include <windows.h>

#include "render/canvas.h"

namespace proxy_auth_layout {

inline constexpr int kWidth = 400;
inline constexpr int kHeight = 318;
inline constexpr int kStripHeight = 50;

RECT closeButton();
RECT title();
RECT message();  // "代理服务器 host:port 需要用户名和密码"
RECT problem();  // "用户名或密码不正确，请重新输入" after a refusal
RECT userLabel();
RECT userFrame();
RECT userEdit();
RECT passwordLabel();
RECT passwordFrame();
RECT passwordEdit();
RECT rememberSwitch();
RECT rememberLabel();
RECT cancelButton();
RECT okButton();
// True where a press drags the window: the strip, except its close glyph.
bool dragsWindow(POINT point);

}  // namespace proxy_auth_layout

// The window behind the controls, onto a surface that already holds its white.
void paintProxyAuthBackground(Canvas& canvas, bool closeHovered);
