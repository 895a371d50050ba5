#include "app/placement.h"

#include "base/dpi_scale.h"

WindowPlacement computeMainWindowPlacement(int screenWidth, int screenHeight, int dpi) {
    const qb::DpiScale scale{dpi};
    const int margin = scale.length(30);
    WindowPlacement p{};
    if (screenWidth >= scale.length(1200)) {
        p.width = scale.length(1180);
        p.x = screenWidth / 2 - p.width / 2;
    } else {
        p.x = margin;
        p.width = screenWidth - 2 * margin;
    }
    if (screenHeight >= scale.length(820)) {
        p.height = scale.length(780);
        p.y = screenHeight / 2 - p.height / 2;
    } else {
        p.y = margin;
        p.height = screenHeight - 2 * margin;
    }
    return p;
}
