#include "app/placement.h"

WindowPlacement computeMainWindowPlacement(int screenWidth, int screenHeight) {
    WindowPlacement p{};
    if (screenWidth >= 1200) {
        p.x = screenWidth / 2 - 590;
        p.width = 1180;
    } else {
        p.x = 30;
        p.width = screenWidth - 60;
    }
    if (screenHeight >= 820) {
        p.y = screenHeight / 2 - 390;
        p.height = 780;
    } else {
        p.y = 30;
        p.height = screenHeight - 60;
    }
    return p;
}
