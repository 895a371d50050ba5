#include <gtest/gtest.h>

#include <algorithm>

#include "access/access_events.h"
#include "access/access_source.h"
#include "access/uia_element.h"
#include "access/uia_patterns.h"
#include "base/window_messages.h"

namespace {

constexpr int kW = 1180, kH = 780;

AppInfo appOf(int32_t id, const std::wstring& name, bool hasPackage = true) {
    AppInfo info;
    info.id = id;
    info.name = name;
    info.hasPackage = hasPackage;
    info.categoryIds = {L"c0"};
    return info;
}

TaskSnapshot downloading(int32_t id, const std::wstring& name, int64_t received) {
    TaskSnapshot task;
    task.appId = id;
    task.name = name;
    task.state = Downloading;
    task.receivedBytes = received;
    task.size = 100;
    return task;
}

// Three cards: one downloading at 37 %, one without a package, one to install; the keyboard on the second.
struct Scene {
    AppState app;
    PaintInputs inputs;
    Scene() {
        app.catalogue.categories = {{L"c0", L"常用软件"}};
        app.selectedCategoryId = L"c0";
        app.catalogue.apps = {appOf(7, L"星河笔记"), appOf(8, L"暂无安装包", false), appOf(9, L"方块压缩包")};
        app.focus.target = {FocusRegion::Content, 1, 0};
        inputs.tasks[7] = downloading(7, L"星河笔记", 37);
    }
    AccessTree tree(bool focused = true) const { return buildAccessTree(app, inputs, {focused, false}, kW, kH); }
};

const AccessNode& nodeOf(const AccessTree& tree, const std::wstring& id) {
    const int index = tree.find(id);
    EXPECT_GE(index, 0) << "no node " << std::string(id.begin(), id.end());
    return tree.nodes[static_cast<size_t>(std::max(index, 0))];
}

TEST(AccessTree, NamesRolesStatesAndPlacesWhatTheWindowShows) {
    Scene scene;
    const AccessTree tree = scene.tree();
    struct Case {
        const wchar_t* id;
        AccessRole role;
        const wchar_t* name;
        const wchar_t* action;
        uint32_t states;
    };
    const Case cases[] = {
        {L"card-7", AccessRole::ListItem, L"星河笔记", L"下载中 37%", AccessFocusable | AccessSelectable},
        {L"card-7-button", AccessRole::PushButton, L"下载中 37%", L"下载中 37%", AccessFocusable | AccessBusy},
        {L"card-8", AccessRole::ListItem, L"暂无安装包", L"敬请期待",
         AccessFocusable | AccessSelectable | AccessFocused | AccessSelected},
        {L"card-8-button", AccessRole::PushButton, L"敬请期待", L"敬请期待", AccessFocusable | AccessUnavailable},
        {L"card-9-button", AccessRole::PushButton, L"安 装", L"安 装", AccessFocusable},
        {L"category-c0", AccessRole::PageTab, L"常用软件", L"选择", AccessFocusable | AccessSelectable | AccessSelected},
        {L"header-6", AccessRole::PageTab, L"下载管理", L"下载管理", AccessFocusable | AccessSelectable},
    };
    for (const Case& c : cases) {
        const AccessNode& node = nodeOf(tree, c.id);
        EXPECT_EQ(node.role, c.role) << std::string(node.id.begin(), node.id.end());
        EXPECT_EQ(node.name, c.name);
        EXPECT_EQ(node.defaultAction, c.action);
        EXPECT_EQ(node.states, c.states) << std::string(node.id.begin(), node.id.end());
    }
    EXPECT_EQ(nodeOf(tree, L"card-9-button").description, L"方块压缩包");
    EXPECT_EQ(tree.nodes[static_cast<size_t>(tree.focused)].id, L"card-8");
    EXPECT_LT(scene.tree(false).focused, 0);  // another window has the keyboard
    // The button of the first card, where a click would press it; the card's face round it.
    EXPECT_EQ(tree.nodes[static_cast<size_t>(tree.hit({331, 330}))].id, L"card-7-button");
    EXPECT_EQ(tree.nodes[static_cast<size_t>(tree.hit({331, 200}))].id, L"card-7");
}

TEST(AccessTree, ADownloadRowGivesItsProgressAsABusyBarAndItsButtonsByName) {
    Scene scene;
    scene.app.page = Page::Downloads;
    const AccessTree tree = scene.tree();
    const AccessNode& bar = nodeOf(tree, L"row-7-progress");
    EXPECT_EQ(bar.role, AccessRole::ProgressBar);
    EXPECT_EQ(bar.value, L"37%");
    EXPECT_TRUE(bar.states & AccessBusy);
    std::vector<std::wstring> buttons;
    for (int child : nodeOf(tree, L"row-7").children)
        if (tree.nodes[static_cast<size_t>(child)].role == AccessRole::PushButton)
            buttons.push_back(tree.nodes[static_cast<size_t>(child)].name);
    EXPECT_EQ(buttons, (std::vector<std::wstring>{L"暂停", L"取消"}));
}

TEST(AccessEvents, FocusNamesAndStatesAndProgressByTenths) {
    Scene scene;
    const AccessTree first = scene.tree();
    ProgressAnnounced announced;
    const auto changes = [&](const AccessTree& before, const AccessTree& after) {
        std::vector<std::pair<AccessChange, std::wstring>> seen;
        for (const AccessEvent& e : accessEvents(&before, after, announced)) seen.emplace_back(e.change, e.id);
        return seen;
    };
    EXPECT_EQ(accessEvents(nullptr, first, announced).size(), 1u);  // the focus, first heard
    scene.inputs.tasks[7].receivedBytes = 39;
    const AccessTree sameTenth = scene.tree();
    EXPECT_TRUE(changes(first, sameTenth).empty());
    scene.inputs.tasks[7].receivedBytes = 41;
    scene.app.focus.target = {FocusRegion::Content, 2, 0};
    const AccessTree next = scene.tree();
    const auto seen = changes(sameTenth, next);
    using E = std::pair<AccessChange, std::wstring>;
    EXPECT_EQ(seen, (std::vector<E>{{AccessChange::Focus, L"card-9"}, {AccessChange::Name, L"card-7-button"},
                                    {AccessChange::State, L"card-8"}, {AccessChange::State, L"card-9"}}));
}

// The UI Automation provider, called directly as UI Automation's threads would call it.
TEST(UiaProvider, ReadsThePublishedTreeAndPostsWhatItIsAskedToDo) {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    auto source = std::make_shared<AccessSource>(window);
    Scene scene;
    source->publish(std::make_shared<const AccessTree>(scene.tree()), POINT{110, 60});
    IRawElementProviderSimple* button = newUiaElement(source, L"card-9-button");
    VARIANT value;
    ASSERT_EQ(button->GetPropertyValue(uia::kName, &value), S_OK);
    EXPECT_EQ(std::wstring(value.bstrVal), L"安 装");
    ::VariantClear(&value);
    button->GetPropertyValue(uia::kControlType, &value);
    EXPECT_EQ(value.lVal, uia::kButton);
    IRawElementProviderFragment* fragment = nullptr;
    ASSERT_EQ(button->QueryInterface(IID_IRawElementProviderFragment, reinterpret_cast<void**>(&fragment)), S_OK);
    UiaRect rect{};
    fragment->get_BoundingRectangle(&rect);
    const RECT& drawn = nodeOf(scene.tree(), L"card-9-button").rect;
    EXPECT_EQ(rect.left, drawn.left + 110);
    EXPECT_EQ(rect.top, drawn.top + 60);
    IRawElementProviderFragment* card = nullptr;
    fragment->Navigate(NavigateDirection_Parent, &card);
    ASSERT_NE(card, nullptr);
    IRawElementProviderSimple* cardSimple = nullptr;
    card->QueryInterface(IID_IRawElementProviderSimple, reinterpret_cast<void**>(&cardSimple));
    cardSimple->GetPropertyValue(uia::kAutomationId, &value);
    EXPECT_EQ(std::wstring(value.bstrVal), L"card-9");
    ::VariantClear(&value);

    IUnknown* pattern = nullptr;
    button->GetPatternProvider(uia::kInvokePattern, &pattern);
    ASSERT_NE(pattern, nullptr);
    static_cast<IInvokeProvider*>(static_cast<IUnknown*>(pattern))->Invoke();
    MSG posted{};
    ASSERT_TRUE(::PeekMessageW(&posted, window, WM_QB_ACCESS_PRESS, WM_QB_ACCESS_PRESS, PM_REMOVE));
    const IdAndGeneration pressed = unpackIdAndGeneration(posted.wParam);
    EXPECT_EQ(pressed.id, 9);
    EXPECT_EQ(static_cast<HitKind>(pressed.generation), HitKind::CardAction);

    // The categories: one selected, and selecting another shows it as a click would.
    IRawElementProviderSimple* tabs = newUiaElement(source, L"categories");
    IUnknown* selection = nullptr;
    tabs->GetPatternProvider(uia::kSelectionPattern, &selection);
    ASSERT_NE(selection, nullptr);
    SAFEARRAY* selected = nullptr;
    static_cast<ISelectionProvider*>(selection)->GetSelection(&selected);
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(selected->rgsabound[0].cElements, 1u);
    ::SafeArrayDestroy(selected);
    IRawElementProviderSimple* tab = newUiaElement(source, L"category-c0");
    IUnknown* item = nullptr;
    tab->GetPatternProvider(uia::kSelectionItemPattern, &item);
    ASSERT_NE(item, nullptr);
    static_cast<ISelectionItemProvider*>(item)->Select();
    ASSERT_TRUE(::PeekMessageW(&posted, window, WM_QB_ACCESS_PRESS, WM_QB_ACCESS_PRESS, PM_REMOVE));
    EXPECT_EQ(static_cast<HitKind>(unpackIdAndGeneration(posted.wParam).generation), HitKind::Category);
    for (IUnknown* object : {item, static_cast<IUnknown*>(tab), selection, static_cast<IUnknown*>(tabs)})
        object->Release();

    source->disconnect();  // the window is gone: the provider says so rather than answering old news
    EXPECT_NE(button->GetPropertyValue(uia::kName, &value), S_OK);
    for (IUnknown* object : {static_cast<IUnknown*>(pattern), static_cast<IUnknown*>(cardSimple),
                             static_cast<IUnknown*>(card), static_cast<IUnknown*>(fragment),
                             static_cast<IUnknown*>(button)})
        object->Release();
    ::DestroyWindow(window);
}

}  // namespace
