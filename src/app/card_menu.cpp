#include <algorithm>

#include "app/interaction.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "app/window_dpi.h"
#include "model/app_state.h"
#include "render/frame_update.h"

namespace {

bool insideMenu(const CardMenu& menu, POINT point) { return menu.open && ::PtInRect(&menu.panel, point); }

void actOnCardMenuItem(int32_t appId, int32_t item) {
    switch (item) {
        case CardMenuUninstall: uninstallFromCard(appId); break;
        case CardMenuOpenDownloads: openDownloadDirectory(); break;
        default: break;
    }
}

}  // namespace

void closeCardMenu() {
    AppState& app = appState();
    if (!app.cardMenu.open) return;
    app.cardMenu = CardMenu{};
    repaintMainWindow();
}

void openDownloadDirectory() {
    const std::wstring directory = shellServices().downloadDirectory();
    if (!directory.empty()) shellServices().openFolderWindow(directory);
}

// Only an installed app's card has a menu: what it offers is about the installed program.
LRESULT onRightButtonUp(HWND hwnd, int x, int y) {
    AppState& app = appState();
    const POINT point = clientPointUnits({x, y});
    if (insideMenu(app.cardMenu, point)) return 0;
    const SIZE client = clientUnits(hwnd);
    const std::optional<int32_t> card = cardAt(app, client.cx, client.cy, point);
    closeCardMenu();
    if (card) openCardMenu(*card, point, false);
    return 0;
}

void openCardMenu(int32_t appId, POINT anchor, bool fromKeyboard) {
    AppState& app = appState();
    if (!installStatusOf(app, appId)) return;
    app.cardMenu.open = true;
    app.cardMenu.appId = appId;
    app.cardMenu.anchor = anchor;
    app.cardMenu.focusedItem = fromKeyboard ? 0 : -1;
    repaintMainWindow();
}

bool cardMenuTakesKey(WPARAM key) {
    CardMenu& menu = appState().cardMenu;
    if (!menu.open) return false;
    switch (key) {
        case VK_ESCAPE: closeCardMenu(); return true;
        case VK_UP:
        case VK_DOWN:
            menu.focusedItem = (std::max(menu.focusedItem, 0) + (key == VK_UP ? kCardMenuItemCount - 1 : 1)) %
                               kCardMenuItemCount;
            repaintMainWindow();
            return true;
        case VK_RETURN:
        case VK_SPACE: {
            if (menu.focusedItem < 0) return true;  // opened by the pointer, no item chosen yet
            const int32_t appId = menu.appId;
            const int32_t item = menu.focusedItem;
            closeCardMenu();
            actOnCardMenuItem(appId, item);
            return true;
        }
        default: return false;
    }
}

bool cardMenuTakesPress(POINT point) {
    AppState& app = appState();
    if (!app.cardMenu.open) return false;
    const HitRegion* region = findHitRegion(app.hitRegions, point);
    if (region && region->kind == HitKind::MenuItem) {
        const int32_t appId = app.cardMenu.appId;
        const int32_t item = region->param;
        closeCardMenu();  // before the item acts: uninstalling asks in a modal box
        actOnCardMenuItem(appId, item);
    } else if (!insideMenu(app.cardMenu, point)) {
        closeCardMenu();
    }
    return true;
}
