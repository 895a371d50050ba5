#include "access/access_tree.h"

#include <algorithm>

#include "render/app_grid_painter.h"
#include "render/focus_targets.h"
#include "render/frame_update.h"
#include "render/layout.h"
#include "render/state_texts.h"

namespace {

constexpr uint32_t kButtonStates = AccessFocusable;

class TreeBuilder {
public:
    TreeBuilder(const AppState& app, const PaintInputs& inputs, const AccessInputs& access, int w, int h)
        : app_(app), inputs_(inputs), access_(access), w_(w), h_(h) {}

    int add(int parent, AccessNode node) {
        const int index = static_cast<int>(tree_.nodes.size());
        node.parent = parent;
        if (parent >= 0) tree_.nodes[static_cast<size_t>(parent)].children.push_back(index);
        if (!node.id.empty()) tree_.byId[node.id] = index;
        // The search field is focused when its edit has the caret, whatever the model's target.
        const bool field = node.kind == HitKind::SearchField;
        if (!field && node.focus && access_.windowFocused && !access_.fieldFocused && *node.focus == focus_) {
            node.states |= AccessFocused;
            tree_.focused = index;
        }
        tree_.nodes.push_back(std::move(node));
        return index;
    }
    AccessTree take() { return std::move(tree_); }

    void header();
    void sidebar();
    void pageButtons();
    void content();
    void overlays();

private:
    void grid();
    void updatesList();
    void downloadRows();
    void downloadRow(int list, const TaskSnapshot& task, int k);
    void cardMenu();

    const AppState& app_;
    const PaintInputs& inputs_;
    const AccessInputs& access_;
    int w_, h_;
    FocusTarget focus_ = clampFocus(focusShape(app_, inputs_, w_, h_), app_.focus.target);
    AccessTree tree_;
};

AccessNode node(AccessRole role, std::wstring id, std::wstring name, RECT rect, uint32_t states = 0) {
    AccessNode made;
    made.role = role;
    made.id = std::move(id);
    made.name = std::move(name);
    made.rect = rect;
    made.states = states;
    return made;
}

// A push button: its text is its name and its default action; the item it belongs to describes it.
AccessNode button(std::wstring id, const std::wstring& label, const std::wstring& of, RECT rect, HitKind kind,
                  int32_t param, std::optional<FocusTarget> focus) {
    AccessNode made = node(AccessRole::PushButton, std::move(id), label, rect, kButtonStates);
    made.description = of;
    made.defaultAction = label;
    made.kind = kind;
    made.param = param;
    made.focus = focus;
    return made;
}

std::wstring hitName(HitKind kind) { return std::to_wstring(static_cast<int>(kind)); }

void TreeBuilder::header() {
    const int bar = add(0, node(AccessRole::Toolbar, L"header", L"Quillbox", {0, 0, w_, layout::kHeaderHeight}));
    AccessNode field = node(AccessRole::Text, L"search", L"搜索软件", layout::searchField(w_), AccessFocusable);
    field.value = app_.search.query;
    field.kind = HitKind::SearchField;
    field.focus = FocusTarget{FocusRegion::Header, kSearchFieldItem, 0};
    if (access_.fieldFocused) field.states |= AccessFocused;
    const int fieldIndex = add(bar, std::move(field));
    if (access_.fieldFocused) tree_.focused = fieldIndex;
    struct Control {
        HitKind kind;
        const wchar_t* name;
        AccessRole role;
        bool selected;
    };
    const Control controls[] = {
        {HitKind::UpdatesTab, L"软件升级", AccessRole::PageTab, app_.page == Page::Updates},
        {HitKind::DownloadsTab, L"下载管理", AccessRole::PageTab, app_.page == Page::Downloads},
        {HitKind::SettingsButton, L"下载设置", AccessRole::PushButton, false},
        {HitKind::Minimize, L"最小化", AccessRole::PushButton, false},
        {HitKind::Maximize, inputs_.maximized ? L"还原" : L"最大化", AccessRole::PushButton, false},
        {HitKind::Close, L"关闭", AccessRole::PushButton, false},
    };
    for (int i = 0; i < 6; ++i) {
        const Control& c = controls[i];
        const auto target = FocusTarget{FocusRegion::Header, i + 1, 0};
        const RECT rect = focusControl(app_, inputs_, target, w_, h_)->rect;
        AccessNode made = button(L"header-" + hitName(c.kind), c.name, L"", rect, c.kind, 0, target);
        made.role = c.role;
        if (c.role == AccessRole::PageTab) made.states |= AccessSelectable | (c.selected ? AccessSelected : 0u);
        add(bar, std::move(made));
    }
}

void TreeBuilder::sidebar() {
    const RECT view = layout::sidebarListView(h_);
    AccessNode tabs = node(AccessRole::PageTabList, L"categories", L"软件分类", view);
    tabs.scrollRegion = FocusRegion::Sidebar;
    tabs.scrollOffset = app_.sidebarScroll;
    tabs.scrollMax = app_.sidebarScrollBar.maxScroll;
    tabs.scrollView = view.bottom - view.top;
    const int list = add(0, std::move(tabs));
    const auto& categories = app_.catalogue.categories;
    for (int i = 0; i < static_cast<int>(categories.size()); ++i) {
        const RECT row = layout::sidebarRow(i, app_.sidebarScroll);
        const bool selected = app_.page == Page::Catalogue && !searching(app_) && categories[i].id == app_.selectedCategoryId;
        AccessNode tab = node(AccessRole::PageTab, L"category-" + categories[i].id, categories[i].name, row,
                              AccessFocusable | AccessSelectable | (selected ? AccessSelected : 0u));
        if (!layout::sidebarRowVisible(row.top, h_)) tab.states |= AccessOffscreen;
        tab.kind = HitKind::Category;
        tab.param = i;
        tab.defaultAction = L"选择";
        tab.focus = FocusTarget{FocusRegion::Sidebar, i, 0};
        add(list, std::move(tab));
    }
}

void TreeBuilder::pageButtons() {
    const FocusShape shape = focusShape(app_, inputs_, w_, h_);
    for (int i = 0; i < focusCount(shape, FocusRegion::PageButtons); ++i) {
        const FocusTarget target{FocusRegion::PageButtons, i, 0};
        const std::optional<FocusControl> control = focusControl(app_, inputs_, target, w_, h_);
        if (!control) continue;
        std::wstring label;
        switch (control->kind) {
            case HitKind::Reload: label = L"重新加载"; break;
            case HitKind::ClearCompleted: label = L"清除已完成"; break;
            case HitKind::ChangeDir: label = L"修改目录"; break;
            case HitKind::OpenDir: label = L"打开目录"; break;
            case HitKind::StopBatch: label = app_.batch.stopping ? L"正在停止" : L"停止"; break;
            default: label = L"全部升级"; break;
        }
        AccessNode made = button(L"page-" + hitName(control->kind), label, L"", control->rect, control->kind, 0, target);
        if (control->kind == HitKind::StopBatch && app_.batch.stopping) made.states |= AccessUnavailable;
        add(0, std::move(made));
    }
}

// A card's button is unavailable when pressing it does nothing, busy while its download runs.
uint32_t buttonStates(const CardButtonLook& look) {
    uint32_t states = 0;
    if (look.label == L"敬请期待" || look.label == L"卸载中") states |= AccessUnavailable;
    if (look.showsProgress && look.label.rfind(L"已暂停", 0) != 0) states |= AccessBusy;
    if (look.label == L"安装中") states |= AccessBusy;
    return states;
}

void TreeBuilder::grid() {
    const std::vector<size_t> apps = shownApps(app_);
    const layout::GridView view = layout::gridView(w_, h_, static_cast<int>(apps.size()));
    const std::wstring heading = searching(app_) ? searchHeading(app_.search.query, apps.size())
                                                 : catalogueHeading(selectedCategoryName(app_), apps.size(),
                                                                    !app_.catalogue.categories.empty());
    AccessNode cards = node(AccessRole::List, L"apps", heading, view.clip);
    cards.scrollOffset = app_.contentScroll;
    cards.scrollMax = view.maxScroll;
    cards.scrollView = view.clip.bottom - view.clip.top;
    const int list = add(0, std::move(cards));
    for (size_t i = 0; i < apps.size(); ++i) {
        const RECT card = layout::cardRect(view.columns, static_cast<int>(i), view.clip.top, app_.contentScroll);
        if (!layout::cardShown(view, card)) continue;
        const AppInfo& info = app_.catalogue.apps[apps[i]];
        const FocusTarget target{FocusRegion::Content, static_cast<int32_t>(i), 0};
        const std::wstring id = L"card-" + std::to_wstring(info.id);
        AccessNode item = node(AccessRole::ListItem, id, info.name, card, AccessFocusable | AccessSelectable);
        item.description = info.description;
        item.kind = HitKind::CardAction;
        item.param = info.id;
        item.focus = target;
        const CardButtonLook look = cardButtonOf(app_, inputs_.tasks, info, false);
        item.defaultAction = look.label;
        const bool focusedHere = item.focus == focus_ && access_.windowFocused && !access_.fieldFocused;
        if (focusedHere) item.states |= AccessSelected;
        const int itemIndex = add(list, std::move(item));
        AccessNode press = button(id + L"-button", look.label, info.name, layout::cardButton(card), HitKind::CardAction,
                                  info.id, std::nullopt);
        press.states |= buttonStates(look);
        if (look.showsProgress) {
            press.value = std::to_wstring(look.percent) + L"%";
            press.percent = look.percent;
        }
        add(itemIndex, std::move(press));
    }
}

void TreeBuilder::updatesList() {
    const std::vector<size_t> apps = updatableApps(app_);
    const layout::UpdateListView view = layout::updateListView(w_, h_, static_cast<int>(apps.size()));
    AccessNode rows = node(AccessRole::List, L"updates", updatesPageHeading(apps.size()), view.clip);
    rows.scrollOffset = app_.contentScroll;
    rows.scrollMax = view.maxScroll;
    rows.scrollView = view.clip.bottom - view.clip.top;
    const int list = add(0, std::move(rows));
    for (size_t k = 0; k < apps.size(); ++k) {
        const int base = layout::updateRowBase(static_cast<int>(k), app_.contentScroll);
        if (!layout::updateRowShown(view, base)) continue;
        const AppInfo& info = app_.catalogue.apps[apps[k]];
        const std::wstring id = L"update-" + std::to_wstring(info.id);
        const InstallStatus* installed = installStatusOf(app_, info.id);
        AccessNode item = node(AccessRole::ListItem, id, info.name, layout::downloadRowAt(w_, base), AccessSelectable);
        item.description = updateRowDetail(installed ? installed->registration.displayVersion : std::wstring(),
                                           info.version, info.packageSize, info.updatedAt);
        const int itemIndex = add(list, std::move(item));
        const auto task = inputs_.tasks.find(info.id);
        const CardButtonLook look = cardButtonFor(info, task == inputs_.tasks.end() ? nullptr : &task->second, false,
                                                  InstalledLook::Updatable);
        AccessNode press = button(id + L"-button", look.label, info.name, layout::updateRowButton(w_, base),
                                  HitKind::UpdateRow, info.id, FocusTarget{FocusRegion::Content, static_cast<int32_t>(k), 0});
        press.states |= buttonStates(look);
        add(itemIndex, std::move(press));
    }
}

void TreeBuilder::downloadRow(int list, const TaskSnapshot& task, int k) {
    const int base = layout::downloadRowBase(k);
    const std::wstring id = L"row-" + std::to_wstring(task.appId);
    const ColouredText status = downloadRowStatus(task);
    AccessNode item = node(AccessRole::ListItem, id, task.name, layout::downloadRow(w_, k), AccessSelectable);
    item.description = status.text;
    if (layout::downloadRow(w_, k).top >= h_) item.states |= AccessOffscreen;
    const int row = add(list, std::move(item));
    AccessNode bar = node(AccessRole::ProgressBar, id + L"-progress", L"下载进度", layout::rowProgressTrack(w_, base));
    bar.description = task.name;
    bar.percent = downloadRowBarFill(task) == RowBarFill::Finished ? 100 : progressPercent(task.receivedBytes, task.size);
    bar.value = std::to_wstring(bar.percent) + L"%";
    if (task.state == Downloading || task.state == Verifying) bar.states |= AccessBusy;
    add(row, std::move(bar));
    add(row, node(AccessRole::StaticText, id + L"-status", status.text, {298, base - 2, w_ - 260, base + 18}));
    const FocusShape shape = focusShape(app_, inputs_, w_, h_);
    for (int part = 0; part < focusParts(shape, k); ++part) {
        const FocusTarget target{FocusRegion::Content, k, part};
        const std::optional<FocusControl> control = focusControl(app_, inputs_, target, w_, h_);
        if (!control) continue;
        std::wstring label;
        for (const RowButton& b : downloadRowButtons(task, listsTaskPackage(app_.catalogue.findApp(task.appId), task)))
            if (b.kind == control->kind) label = b.label;
        add(row, button(id + L"-" + hitName(control->kind), label, task.name, control->rect, control->kind,
                        task.appId, target));
    }
}

void TreeBuilder::downloadRows() {
    const int list = add(0, node(AccessRole::List, L"downloads", downloadPageHeading(inputs_.tasks.size()),
                                 {layout::kGridLeft, layout::kHeaderHeight, w_, h_}));
    int k = 0;
    for (const auto& entry : inputs_.tasks) downloadRow(list, entry.second, k++);
}

void TreeBuilder::content() {
    if (app_.catalogueLoading) {
        add(0, node(AccessRole::StaticText, L"loading", L"正在加载应用列表...", {200, 184, w_, 224}));
    } else if (app_.catalogueFailed) {
        add(0, node(AccessRole::StaticText, L"failed", L"无法连接服务器", {200, 184, w_, 214}));
    } else if (app_.page == Page::Downloads) {
        downloadRows();
    } else if (app_.page == Page::Updates) {
        updatesList();
    } else {
        grid();
    }
}

void TreeBuilder::cardMenu() {
    const CardMenu& menu = app_.cardMenu;
    const AppInfo* info = app_.catalogue.findApp(menu.appId);
    const int popup = add(0, node(AccessRole::MenuPopup, L"card-menu", info ? info->name : L"", menu.panel));
    const wchar_t* labels[kCardMenuItemCount] = {L"卸载", L"打开下载目录"};
    for (int i = 0; i < kCardMenuItemCount; ++i) {
        AccessNode item = node(AccessRole::MenuItem, L"card-menu-" + std::to_wstring(i), labels[i],
                               layout::cardMenuItem(menu.panel, i), AccessFocusable);
        item.defaultAction = labels[i];
        item.kind = HitKind::MenuItem;
        item.param = i;
        if (menu.focusedItem == i) item.states |= AccessFocused;
        const int index = add(popup, std::move(item));
        if (menu.focusedItem == i) tree_.focused = index;
    }
}

void TreeBuilder::overlays() {
    if (toastShown(app_, inputs_.now))
        add(0, node(AccessRole::StaticText, L"toast", app_.toastText, layout::toast(w_)));
    if (noticeShown(app_, inputs_.now)) {
        AccessNode notice = node(AccessRole::StaticText, L"notice", app_.noticeText, layout::noticeCard(w_, h_));
        notice.kind = HitKind::Notice;
        notice.defaultAction = L"关闭";
        add(0, std::move(notice));
    }
    if (app_.cardMenu.open) cardMenu();
}

}  // namespace

int AccessTree::find(const std::wstring& id) const {
    const auto found = byId.find(id);
    return found == byId.end() ? -1 : found->second;
}

int AccessTree::hit(POINT client, int from) const {
    int at = from;
    // Later siblings are drawn over earlier ones: the last that holds the point wins.
    for (bool deeper = !nodes.empty(); deeper;) {
        deeper = false;
        const std::vector<int>& children = nodes[static_cast<size_t>(at)].children;
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            const AccessNode& child = nodes[static_cast<size_t>(*it)];
            if ((child.states & AccessOffscreen) || !::PtInRect(&child.rect, client)) continue;
            at = *it;
            deeper = true;
            break;
        }
    }
    return at;
}

AccessTree buildAccessTree(const AppState& app, const PaintInputs& inputs, const AccessInputs& access, int w, int h) {
    TreeBuilder builder(app, inputs, access, w, h);
    builder.add(-1, node(AccessRole::Client, L"client", L"Quillbox", {0, 0, w, h}));
    if (w > 0 && h > 0) {
        builder.header();
        builder.sidebar();
        builder.pageButtons();
        builder.content();
        builder.overlays();
    }
    return builder.take();
}
