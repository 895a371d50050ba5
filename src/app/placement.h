#pragma once
// Where the main window opens: 1180 x 780 centred, or a 30-pixel margin on a smaller screen.
struct WindowPlacement {
    int x;
    int y;
    int width;
    int height;
};

WindowPlacement computeMainWindowPlacement(int screenWidth, int screenHeight);
