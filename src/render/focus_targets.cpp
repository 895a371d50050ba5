#include "render/focus_targets.h"

#include <algorithm>
#include <iterator>

#include "render/frame_update.h"
#include "render/layout.h"
#include "render/overlay_painter.h"
#include "render/state_texts.h"

namespace {

constexpr HitKind kHeaderControls[] = {HitKind::SearchField,    HitKind::UpdatesTab, HitKind::DownloadsTab,
                                       HitKind::SettingsButton, HitKind::Minimize,   HitKind::Maximize,
                                       HitKind::Close};
constexpr int kHeaderControlCount = static_cast<int>(sizeof kHeaderControls / sizeof kHeaderControls[0]);
constexpr int kPillRadius = 17;
constexpr int kPageButtonRadius = 13;
constexpr int kRowButtonRadius = 15;
constexpr int kCardRadius = 10;
constexpr int kCategoryRadius = 8;

// Between download rows, and between update rows.
int rowPitch() { return layout::downloadRowBase(1) - layout::downloadRowBase(0); }

enum class ContentKind { None, Grid, Updates, Downloads };

ContentKind contentKind(const AppState& app) {
    if (app.catalogueLoading || app.catalogueFailed) return ContentKind::None;
    if (app.page == Page::Downloads) return ContentKind::Downloads;
    return app.page == Page::Updates ? ContentKind::Updates : ContentKind::Grid;
}

std::vector<HitKind> pageButtons(const AppState& app) {
    if (app.catalogueLoading) return {};
    if (app.catalogueFailed) return {HitKind::Reload};
    if (app.page == Page::Downloads) return {HitKind::ClearCompleted, HitKind::ChangeDir, HitKind::OpenDir};
    if (app.page != Page::Updates) return {};
    if (app.batch.active()) return {HitKind::StopBatch};
    return updatableApps(app).empty() ? std::vector<HitKind>{} : std::vector<HitKind>{HitKind::UpdateAll};
}

RECT pageButtonRect(HitKind kind, int w) {
    switch (kind) {
        case HitKind::Reload: return layout::reloadButton(w);
        case HitKind::ClearCompleted: return layout::clearCompletedButton(w);
        case HitKind::ChangeDir: return layout::changeDirButton(w);
        case HitKind::OpenDir: return layout::openDirButton(w);
        default: return layout::updateAllButton(w);
    }
}

RECT headerRect(HitKind kind, int w) {
    switch (kind) {
        case HitKind::SearchField: return layout::searchField(w);
        case HitKind::UpdatesTab: return layout::updatesPill(w);
        case HitKind::DownloadsTab: return layout::downloadsPill(w);
        case HitKind::SettingsButton: return layout::settingsPill(w);
        case HitKind::Minimize: return layout::minimizeButton(w);
        case HitKind::Maximize: return layout::maximizeButton(w);
        default: return layout::closeButton(w);
    }
}

// A download row's buttons left to right, as the row shows them.
std::vector<RowButton> rowButtonsInOrder(const AppState& app, const TaskSnapshot& task, int w) {
    std::vector<RowButton> buttons = downloadRowButtons(task, listsTaskPackage(app.catalogue.findApp(task.appId), task));
    std::stable_sort(buttons.begin(), buttons.end(), [w](const RowButton& a, const RowButton& b) {
        return layout::rowButton(a.slot, w, 0).left < layout::rowButton(b.slot, w, 0).left;
    });
    return buttons;
}

const TaskSnapshot* taskAt(const PaintInputs& inputs, int index) {
    if (index < 0 || static_cast<size_t>(index) >= inputs.tasks.size()) return nullptr;
    return &std::next(inputs.tasks.begin(), index)->second;
}

void shapeContent(FocusShape& shape, const AppState& app, const PaintInputs& inputs, int w, int h) {
    int& count = shape.counts[static_cast<int>(FocusRegion::Content)];
    int& entry = shape.entries[static_cast<int>(FocusRegion::Content)];
    switch (contentKind(app)) {
        case ContentKind::None: break;
        case ContentKind::Grid: {
            const std::vector<size_t> apps = shownApps(app);
            count = static_cast<int>(apps.size());
            const layout::GridView view = layout::gridView(w, h, count);
            shape.columns = view.columns.columns;
            shape.contentPageRows = std::max(1, static_cast<int>((view.clip.bottom - view.clip.top) / layout::kCardPitch));
            shape.searchResults = searching(app);
            // Tab enters at the first card the view shows.
            const int firstRow = (std::max(0, app.contentScroll) + layout::kCardPitch - 1) / layout::kCardPitch;
            entry = std::min(count - 1, firstRow * shape.columns);
            break;
        }
        case ContentKind::Updates: {
            count = static_cast<int>(updatableApps(app).size());
            const layout::UpdateListView view = layout::updateListView(w, h, count);
            shape.contentPageRows = std::max(1, static_cast<int>((view.clip.bottom - view.clip.top) / rowPitch()));
            // Tab enters at the first row whose top the view shows.
            while (entry + 1 < count &&
                   layout::downloadRowAt(w, layout::updateRowBase(entry, app.contentScroll)).top < view.clip.top)
                ++entry;
            break;
        }
        case ContentKind::Downloads:
            count = static_cast<int>(inputs.tasks.size());
            shape.contentPageRows = std::max(1, (h - layout::downloadRowBase(0)) / rowPitch());
            for (const auto& entryOfTask : inputs.tasks)
                shape.contentParts.push_back(static_cast<int>(rowButtonsInOrder(app, entryOfTask.second, w).size()));
            break;
    }
    entry = std::max(0, entry);
}

int selectedCategoryRow(const AppState& app) {
    const auto& categories = app.catalogue.categories;
    for (size_t i = 0; i < categories.size(); ++i)
        if (categories[i].id == app.selectedCategoryId) return static_cast<int>(i);
    return 0;
}

std::optional<FocusControl> contentControl(const AppState& app, const PaintInputs& inputs, const FocusTarget& target,
                                           int w, int h) {
    switch (contentKind(app)) {
        case ContentKind::None: return std::nullopt;
        case ContentKind::Grid: {
            const std::vector<size_t> apps = shownApps(app);
            if (static_cast<size_t>(target.index) >= apps.size()) return std::nullopt;
            const layout::GridView view = layout::gridView(w, h, static_cast<int>(apps.size()));
            const RECT card = layout::cardRect(view.columns, target.index, view.clip.top, app.contentScroll);
            return FocusControl{HitKind::CardAction, app.catalogue.apps[apps[target.index]].id, card, view.clip,
                                kCardRadius};
        }
        case ContentKind::Updates: {
            const std::vector<size_t> apps = updatableApps(app);
            if (static_cast<size_t>(target.index) >= apps.size()) return std::nullopt;
            const layout::UpdateListView view = layout::updateListView(w, h, static_cast<int>(apps.size()));
            const RECT button = layout::updateRowButton(w, layout::updateRowBase(target.index, app.contentScroll));
            return FocusControl{HitKind::UpdateRow, app.catalogue.apps[apps[target.index]].id, button, view.clip,
                                kRowButtonRadius};
        }
        case ContentKind::Downloads: {
            const TaskSnapshot* task = taskAt(inputs, target.index);
            if (!task) return std::nullopt;
            const std::vector<RowButton> buttons = rowButtonsInOrder(app, *task, w);
            if (buttons.empty()) return std::nullopt;
            const RowButton& button = buttons[std::clamp<size_t>(target.part, 0, buttons.size() - 1)];
            const RECT rect = layout::rowButton(button.slot, w, layout::downloadRowBase(target.index));
            return FocusControl{button.kind, task->appId, rect, RECT{layout::kGridLeft, layout::kHeaderHeight, w, h},
                                kRowButtonRadius};
        }
    }
    return std::nullopt;
}

// Where the content item of this app id stands now; -1 when the shown content has none.
int contentIndexOf(const AppState& app, const PaintInputs& inputs, int32_t id) {
    const ContentKind kind = contentKind(app);
    if (kind == ContentKind::Downloads) {
        const auto found = inputs.tasks.find(id);
        return found == inputs.tasks.end() ? -1 : static_cast<int>(std::distance(inputs.tasks.begin(), found));
    }
    if (kind == ContentKind::None) return -1;
    const std::vector<size_t> apps = kind == ContentKind::Grid ? shownApps(app) : updatableApps(app);
    for (size_t i = 0; i < apps.size(); ++i)
        if (app.catalogue.apps[apps[i]].id == id) return static_cast<int>(i);
    return -1;
}

// The ring stands outside its item: one unit clear of it, two wide, with a soft edge beyond. On a side where the
// region shows the whole item, the ring may reach past the region's edge (the first row of cards starts on the grid's
// top edge); where the region cuts the item, the ring is cut there with it.
RECT ringClipFor(const RECT& item, const RECT& clip) {
    constexpr int out = kFocusRingWidth + 2;
    RECT ringClip = clip;
    if (item.left >= clip.left) ringClip.left = std::min(clip.left, item.left - out);
    if (item.top >= clip.top) ringClip.top = std::min(clip.top, item.top - out);
    if (item.right <= clip.right) ringClip.right = std::max(clip.right, item.right + out);
    if (item.bottom <= clip.bottom) ringClip.bottom = std::max(clip.bottom, item.bottom + out);
    return ringClip;
}

}  // namespace

FocusShape focusShape(const AppState& app, const PaintInputs& inputs, int w, int h) {
    FocusShape shape;
    shape.counts[static_cast<int>(FocusRegion::Header)] = kHeaderControlCount;
    shape.counts[static_cast<int>(FocusRegion::Sidebar)] = static_cast<int>(app.catalogue.categories.size());
    shape.entries[static_cast<int>(FocusRegion::Sidebar)] = selectedCategoryRow(app);
    shape.sidebarPageRows = std::max(1, layout::sidebarViewHeight(h) / layout::kSidebarRowPitch);
    shape.counts[static_cast<int>(FocusRegion::PageButtons)] = static_cast<int>(pageButtons(app).size());
    shapeContent(shape, app, inputs, w, h);
    return shape;
}

std::optional<FocusControl> focusControl(const AppState& app, const PaintInputs& inputs, const FocusTarget& target,
                                         int w, int h) {
    const RECT whole{0, 0, w, h};
    switch (target.region) {
        case FocusRegion::Header: {
            if (target.index < 0 || target.index >= kHeaderControlCount) return std::nullopt;
            const HitKind kind = kHeaderControls[target.index];
            const bool caption = kind == HitKind::Minimize || kind == HitKind::Maximize || kind == HitKind::Close;
            return FocusControl{kind, 0, headerRect(kind, w), whole, caption ? 0 : kPillRadius + 1};
        }
        case FocusRegion::Sidebar: {
            if (target.index < 0 || static_cast<size_t>(target.index) >= app.catalogue.categories.size())
                return std::nullopt;
            return FocusControl{HitKind::Category, target.index, layout::sidebarRow(target.index, app.sidebarScroll),
                                layout::sidebarListView(h), kCategoryRadius};
        }
        case FocusRegion::PageButtons: {
            const std::vector<HitKind> buttons = pageButtons(app);
            if (target.index < 0 || static_cast<size_t>(target.index) >= buttons.size()) return std::nullopt;
            const HitKind kind = buttons[target.index];
            return FocusControl{kind, 0, pageButtonRect(kind, w), whole,
                                kind == HitKind::Reload ? kRowButtonRadius : kPageButtonRadius};
        }
        case FocusRegion::Content: return contentControl(app, inputs, target, w, h);
    }
    return std::nullopt;
}

std::optional<FocusTarget> focusTargetOf(const AppState& app, const PaintInputs& inputs, const HitRegion& region,
                                         int w, int h) {
    if (region.kind == HitKind::Category) return FocusTarget{FocusRegion::Sidebar, region.param, 0};
    if (region.kind == HitKind::CardAction || region.kind == HitKind::UpdateRow) {
        const int index = contentIndexOf(app, inputs, region.param);
        if (index < 0) return std::nullopt;
        return FocusTarget{FocusRegion::Content, index, 0};
    }
    // The header, the page's buttons and the download rows' buttons: a few dozen at most.
    const FocusShape shape = focusShape(app, inputs, w, h);
    const bool rows = contentKind(app) == ContentKind::Downloads;
    for (const FocusRegion where : {FocusRegion::Header, FocusRegion::PageButtons, FocusRegion::Content}) {
        const int count = where == FocusRegion::Content && !rows ? 0 : focusCount(shape, where);
        for (int i = 0; i < count; ++i) {
            for (int part = 0; part < (where == FocusRegion::Content ? focusParts(shape, i) : 1); ++part) {
                const FocusTarget target{where, i, part};
                const std::optional<FocusControl> control = focusControl(app, inputs, target, w, h);
                if (control && control->kind == region.kind && control->param == region.param) return target;
            }
        }
    }
    return std::nullopt;
}

FocusTarget holdFocus(AppState& app, const PaintInputs& inputs, int w, int h) {
    KeyboardFocus& focus = app.focus;
    FocusTarget target = focus.target;
    if (target.region == FocusRegion::Content && target == focus.heldTarget && focus.heldId != 0) {
        const int now = contentIndexOf(app, inputs, focus.heldId);
        if (now >= 0) target.index = now;
    }
    target = clampFocus(focusShape(app, inputs, w, h), target);
    const std::optional<FocusControl> control =
        target.region == FocusRegion::Content ? focusControl(app, inputs, target, w, h) : std::nullopt;
    focus.target = focus.heldTarget = target;
    focus.heldId = control ? control->param : 0;
    return target;
}

void revealFocus(AppState& app, const PaintInputs& inputs, int w, int h) {
    KeyboardFocus& focus = app.focus;
    if (!focus.revealPending) return;
    focus.revealPending = false;
    const std::optional<FocusControl> control = focusControl(app, inputs, focus.target, w, h);
    const FocusRegion region = focus.target.region;
    const bool scrolls = region == FocusRegion::Sidebar || (region == FocusRegion::Content && app.page != Page::Downloads);
    if (!control || !scrolls) return;
    RECT item = control->rect;
    if (control->kind == HitKind::UpdateRow) item = layout::downloadRowAt(w, layout::updateRowBase(focus.target.index, app.contentScroll));
    int& scroll = region == FocusRegion::Sidebar ? app.sidebarScroll : app.contentScroll;
    if (item.top < control->clip.top) scroll -= control->clip.top - item.top;
    else if (item.bottom > control->clip.bottom) scroll += item.bottom - control->clip.bottom;
    scroll = std::max(0, scroll);
}

void placeFocusRing(AppState& app, const PaintInputs& inputs, int w, int h) {
    KeyboardFocus& focus = app.focus;
    focus.ring = RECT{};
    if (!focus.ringShown) return;
    holdFocus(app, inputs, w, h);
    const std::optional<FocusControl> control = focusControl(app, inputs, focus.target, w, h);
    // The search field shows its own focus: the caret and a brighter border.
    if (!control || control->kind == HitKind::SearchField) return;
    focus.ring = control->rect;
    focus.ringClip = ringClipFor(control->rect, control->clip);
    focus.ringRadius = control->radius;
    focus.ringOnHeader = focus.target.region == FocusRegion::Header;
}
