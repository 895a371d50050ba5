#pragma once
// Accessibility for a single drawn control (the settings window's buttons, connection choice and
// switch): a one-node tree with the control's name, role, value and states.
#include <windows.h>

#include "access/access_tree.h"

// Answers WM_GETOBJECT for the control's client area; anything else goes to DefWindowProc. A node
// whose kind is not None has a default action: the control receives WM_QB_ACCESS_PRESS for it.
LRESULT answerControlObject(HWND control, WPARAM wp, LPARAM lp, AccessNode node);
