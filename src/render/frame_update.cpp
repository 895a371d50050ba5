#include "render/frame_update.h"

#include <algorithm>

#include "render/focus_targets.h"
#include "render/layout.h"
#include "render/overlay_painter.h"
#include "render/state_texts.h"

namespace {

void record(AppState& app, const RECT& rect, HitKind kind, int32_t param = 0) {
    app.hitRegions.push_back({rect, kind, param});
}

// The one place that asks for icons, at the size they are drawn in pixels: apps with an icon path shown
// or about to be. Asking again only keeps an icon among the recently used.
void requestIcon(const AppInfo* info, int drawnUnits, const PaintInputs& inputs) {
    if (info && !info->icon.empty() && inputs.requestIcon)
        inputs.requestIcon(*info, inputs.look.scale.length(drawnUnits));
}

void updateHeader(AppState& app, int w) {
    record(app, layout::minimizeButton(w), HitKind::Minimize);
    record(app, layout::maximizeButton(w), HitKind::Maximize);
    record(app, layout::closeButton(w), HitKind::Close);
    record(app, layout::updatesPill(w), HitKind::UpdatesTab);
    record(app, layout::downloadsPill(w), HitKind::DownloadsTab);
    record(app, layout::settingsPill(w), HitKind::SettingsButton);
}

void updateSearchField(AppState& app, int w) {
    record(app, layout::searchField(w), HitKind::SearchField);
    if (app.search.hasText) record(app, layout::searchClear(w), HitKind::SearchClear);
}

void updateSidebar(AppState& app, int h) {
    const int rows = static_cast<int>(app.catalogue.categories.size());
    const int maxScroll = layout::sidebarMaxScroll(rows, h);
    app.sidebarScroll = std::clamp(app.sidebarScroll, 0, maxScroll);
    for (int i = 0; i < rows; ++i) {
        const int rowTop = layout::sidebarRowTop(i, app.sidebarScroll);
        if (layout::sidebarRowVisible(rowTop, h)) record(app, layout::sidebarRowHit(rowTop, h), HitKind::Category, i);
    }
    app.sidebarScrollBar =
        layout::scrollBarGeometry(layout::sidebarTrack(h), layout::sidebarViewHeight(h),
                                  layout::sidebarContentHeight(rows), maxScroll, app.sidebarScroll,
                                  layout::kSidebarMinThumb);
}

void updateGrid(AppState& app, const PaintInputs& inputs, int w, int h) {
    const std::vector<size_t> apps = shownApps(app);
    const layout::GridView view = layout::gridView(w, h, static_cast<int>(apps.size()));
    app.contentScroll = std::clamp(app.contentScroll, 0, view.maxScroll);
    for (size_t i = 0; i < apps.size(); ++i) {
        const RECT card = layout::cardRect(view.columns, static_cast<int>(i), view.clip.top, app.contentScroll);
        if (!layout::cardNearView(view, card)) continue;
        // Icons of the cards about to scroll in are asked for early, so they are there when shown.
        const AppInfo& info = app.catalogue.apps[apps[i]];
        requestIcon(&info, layout::kIconTileOnCard, inputs);
        // The whole button, even where the clip hides it.
        if (layout::cardShown(view, card)) record(app, layout::cardButton(card), HitKind::CardAction, info.id);
    }
    app.contentScrollBar =
        layout::scrollBarGeometry(layout::contentTrack(w, h), view.clip.bottom - view.clip.top, view.contentHeight,
                                  view.maxScroll, app.contentScroll, layout::kGridMinThumb);
}

void updateDownloadPage(AppState& app, const PaintInputs& inputs, int w, int h) {
    record(app, layout::clearCompletedButton(w), HitKind::ClearCompleted);
    record(app, layout::openDirButton(w), HitKind::OpenDir);
    record(app, layout::changeDirButton(w), HitKind::ChangeDir);
    int k = 0;
    for (const auto& entry : inputs.tasks) {
        const TaskSnapshot& task = entry.second;
        const int base = layout::downloadRowBase(k);
        // The page does not scroll: a row wholly below the window is never seen, so its icon is not fetched.
        if (layout::downloadRow(w, k).top < h) requestIcon(app.catalogue.findApp(task.appId), layout::kRowIconSize, inputs);
        for (const RowButton& button : downloadRowButtons(task, listsTaskPackage(app.catalogue.findApp(task.appId), task)))
            record(app, layout::rowButton(button.slot, w, base), button.kind, task.appId);
        ++k;
    }
}

// The menu belongs to an installed app's card under the point it was opened at, over everything else:
// it goes when the card leaves that point (another page or category, a scroll, a resize) or is no
// longer installed.
void updateCardMenu(AppState& app, int w, int h) {
    CardMenu& menu = app.cardMenu;
    if (!menu.open) return;
    if (cardAt(app, w, h, menu.anchor) != menu.appId || !installStatusOf(app, menu.appId)) {
        menu = CardMenu{};
        return;
    }
    menu.panel = layout::cardMenuPanel(menu.anchor, kCardMenuItemCount, w, h);
    for (int i = 0; i < kCardMenuItemCount; ++i) record(app, layout::cardMenuItem(menu.panel, i), HitKind::MenuItem, i);
}

void updateUpdatesPage(AppState& app, const PaintInputs& inputs, int w, int h) {
    const std::vector<size_t> apps = updatableApps(app);
    const layout::UpdateListView view = layout::updateListView(w, h, static_cast<int>(apps.size()));
    app.contentScroll = std::clamp(app.contentScroll, 0, view.maxScroll);
    if (app.batch.active()) {
        record(app, layout::updateAllButton(w), HitKind::StopBatch);
    } else if (!apps.empty()) {
        record(app, layout::updateAllButton(w), HitKind::UpdateAll);
    }
    for (size_t k = 0; k < apps.size(); ++k) {
        const int base = layout::updateRowBase(static_cast<int>(k), app.contentScroll);
        if (!layout::updateRowShown(view, base)) continue;
        const AppInfo& info = app.catalogue.apps[apps[k]];
        requestIcon(&info, layout::kRowIconSize, inputs);
        const RECT hit = layout::updateRowHit(view, w, base);
        if (hit.top < hit.bottom) record(app, hit, HitKind::UpdateRow, info.id);
    }
    app.contentScrollBar =
        layout::scrollBarGeometry(layout::updateTrack(w, h), view.clip.bottom - view.clip.top, view.contentHeight,
                                  view.maxScroll, app.contentScroll, layout::kGridMinThumb);
}

}  // namespace

std::optional<int32_t> cardAt(const AppState& app, int w, int h, POINT point) {
    if (app.page != Page::Catalogue || app.catalogueLoading || app.catalogueFailed) return std::nullopt;
    const std::vector<size_t> apps = shownApps(app);
    const layout::GridView view = layout::gridView(w, h, static_cast<int>(apps.size()));
    if (!::PtInRect(&view.clip, point)) return std::nullopt;
    for (size_t i = 0; i < apps.size(); ++i) {
        const RECT card = layout::cardRect(view.columns, static_cast<int>(i), view.clip.top, app.contentScroll);
        if (::PtInRect(&card, point)) return app.catalogue.apps[apps[i]].id;
    }
    return std::nullopt;
}

std::vector<size_t> selectedApps(const AppState& app) {
    std::vector<size_t> apps;
    for (size_t i = 0; i < app.catalogue.apps.size(); ++i) {
        for (const std::wstring& id : app.catalogue.apps[i].categoryIds) {
            if (id == app.selectedCategoryId) {
                apps.push_back(i);
                break;
            }
        }
    }
    return apps;
}

std::wstring selectedCategoryName(const AppState& app) {
    for (const CategoryInfo& category : app.catalogue.categories)
        if (category.id == app.selectedCategoryId) return category.name;
    return std::wstring();
}

bool searching(const AppState& app) { return !app.search.query.empty(); }

std::vector<size_t> shownApps(const AppState& app) { return searching(app) ? app.search.results : selectedApps(app); }

std::wstring cataloguePageHeading(const AppState& app, size_t shown, int maxWidth,
                                  const std::function<int(const std::wstring&)>& measure) {
    if (searching(app)) return fittedSearchHeading(app.search.query, shown, maxWidth, measure);
    return catalogueHeading(selectedCategoryName(app), shown, !app.catalogue.categories.empty());
}

bool toastShown(const AppState& app, DWORD now) {
    return !app.toastText.empty() && static_cast<DWORD>(now - app.toastTick) < kToastLifetimeMs;
}

bool noticeShown(const AppState& app, DWORD now) {
    return !app.noticeText.empty() && static_cast<DWORD>(now - app.noticeTick) < kNoticeLifetimeMs;
}

void updateFrame(AppState& app, const PaintInputs& inputs, int w, int h) {
    app.hitRegions.clear();
    app.contentScrollBar = ScrollBarInfo{};  // only a shown grid has a bar to drag
    if (!toastShown(app, inputs.now)) app.toastText.clear();
    if (!noticeShown(app, inputs.now)) app.noticeText.clear();
    if (w <= 0 || h <= 0) return;

    revealFocus(app, inputs, w, h);
    updateHeader(app, w);
    updateSearchField(app, w);
    updateSidebar(app, h);
    if (app.catalogueLoading) {
        // nothing to click while the catalogue loads
    } else if (app.catalogueFailed) {
        record(app, layout::reloadButton(w), HitKind::Reload);
    } else if (app.page == Page::Downloads) {
        updateDownloadPage(app, inputs, w, h);
    } else if (app.page == Page::Updates) {
        updateUpdatesPage(app, inputs, w, h);
    } else {
        updateGrid(app, inputs, w, h);
    }
    if (!app.noticeText.empty()) {
        requestIcon(app.catalogue.findApp(app.noticeTaskId), layout::kNoticeIconSize, inputs);
        record(app, layout::noticeCard(w, h), HitKind::Notice);
    }
    updateCardMenu(app, w, h);
    placeFocusRing(app, inputs, w, h);
}
