#pragma once
// Where the main window opens: 1180 x 780 centred, or a 30-pixel margin on a smaller screen; both
// scaled by dpi / 96, the screen being in pixels.
struct WindowPlacement {
    int x;
    int y;
    int width;
    int height;
};

WindowPlacement computeMainWindowPlacement(int screenWidth, int screenHeight, int dpi = 96);
