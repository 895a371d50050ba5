#include <gtest/gtest.h>

#include "app/search_field.h"
#include "app/main_window_paint.h"
#include "render/frame_update.h"
#include "render/layout.h"
#include "support/paint_surface.h"
#include "app/window_fixture.h"

namespace {

using wintest::MainWindowTest;

AppInfo appIn(int32_t id, const std::wstring& name, const std::wstring& category, const std::wstring& description) {
    AppInfo info = wintest::app(id, name);
    info.categoryIds = {category};
    info.description = description;
    return info;
}

class MainWindowSearch : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        createMainWindow();
        pump();  // the edit is made by a message the window posts itself
        AppState& state = appState();
        state.catalogue.categories = {{L"tools", L"工具"}, {L"media", L"影音"}};
        state.catalogue.apps = {appIn(1, L"画图", L"tools", L"简单的绘图工具"), appIn(2, L"记事本", L"tools", L"写字"),
                              appIn(3, L"看图王", L"media", L"看画也看照片"), appIn(4, L"画境设计", L"media", L"")};
        state.selectedCategoryId = L"tools";
        edit_ = state.search.edit;
    }

    // Types as the keyboard does: one WM_CHAR per character into the edit control.
    void type(const std::wstring& text) {
        for (wchar_t c : text) ::SendMessageW(edit_, WM_CHAR, c, 0);
    }
    void key(WPARAM vk) { ::SendMessageW(edit_, WM_KEYDOWN, vk, 0); }

    // Paints as WM_PAINT does (update step included) and answers the cards shown, by app id.
    std::vector<int32_t> paintedCards() {
        qbtest::PaintSurface surface(1180, 780);
        paintMainWindow(surface.dc(), surface.client());
        std::vector<int32_t> ids;
        for (const HitRegion& region : appState().hitRegions)
            if (region.kind == HitKind::CardAction) ids.push_back(region.param);
        return ids;
    }
    std::wstring heading() {
        const AppState& state = appState();
        return cataloguePageHeading(state, shownApps(state).size(), 10000, [](const std::wstring&) { return 0; });
    }
    // Shown in the window (which stays hidden in these tests).
    bool editShown() const { return (::GetWindowLongPtrW(edit_, GWL_STYLE) & WS_VISIBLE) != 0; }

    HWND edit_ = nullptr;
};

TEST_F(MainWindowSearch, TheEditSitsInThePaintedFieldAndFollowsTheWidth) {
    ASSERT_NE(edit_, nullptr);
    EXPECT_EQ(::GetParent(edit_), main_);
    EXPECT_FALSE(editShown());  // the field shows its placeholder until it is used
    for (const int width : {1180, 1000}) {
        ::SetWindowPos(main_, nullptr, 0, 0, width, 700, SWP_NOMOVE | SWP_NOZORDER);
        RECT client{}, placed{};
        ::GetClientRect(main_, &client);
        ::GetWindowRect(edit_, &placed);
        ::MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&placed), 2);
        const RECT expected = layout::searchEdit(client.right);
        EXPECT_TRUE(::EqualRect(&placed, &expected)) << width;
    }
}

TEST_F(MainWindowSearch, TypingShowsResultsFromEveryCategoryAndEscLeavesTheSearch) {
    AppState& state = appState();
    state.page = Page::Downloads;
    state.contentScroll = 300;
    paintedCards();  // the field's region
    click(layout::searchField(1180).left + 10, 32);
    EXPECT_EQ(::GetFocus(), edit_);
    EXPECT_TRUE(editShown());
    EXPECT_TRUE(state.search.focused);
    EXPECT_EQ(state.page, Page::Downloads);  // a click alone changes nothing

    type(L"hj");  // 画境: pinyin initials
    EXPECT_EQ(state.page, Page::Catalogue);
    EXPECT_EQ(state.contentScroll, 0);
    EXPECT_EQ(heading(), L"搜索“hj” · 1 款");
    EXPECT_EQ(paintedCards(), std::vector<int32_t>{4});
    EXPECT_EQ(state.selectedCategoryId, L"tools");

    ::SendMessageW(edit_, EM_SETSEL, 0, -1);
    type(L" 画 ");  // names first, then descriptions; the spaces round it are not searched
    EXPECT_EQ(heading(), L"搜索“画” · 3 款");
    EXPECT_EQ(paintedCards(), (std::vector<int32_t>{1, 4, 3}));

    state.contentScroll = 200;
    type(L"x");
    EXPECT_EQ(heading(), L"搜索“画 x” · 0 款");
    EXPECT_TRUE(paintedCards().empty());
    EXPECT_EQ(state.contentScroll, 0);

    key(VK_ESCAPE);
    EXPECT_EQ(::GetWindowTextLengthW(edit_), 0);
    EXPECT_TRUE(state.search.query.empty());
    EXPECT_FALSE(state.search.hasText);
    EXPECT_NE(::GetFocus(), edit_);
    EXPECT_FALSE(editShown());
    EXPECT_EQ(heading(), L"工具 · 2 款");
    EXPECT_EQ(paintedCards(), (std::vector<int32_t>{1, 2}));
}

TEST_F(MainWindowSearch, TheClearButtonACategoryAndCtrlFAct) {
    AppState& state = appState();
    focusSearchField(FieldCaret::AtEnd);
    type(L"画");
    paintedCards();
    const RECT clear = layout::searchClear(1180);
    click(clear.left + 5, clear.top + 5);
    EXPECT_TRUE(state.search.query.empty());
    EXPECT_EQ(::GetWindowTextLengthW(edit_), 0);
    EXPECT_EQ(::GetFocus(), edit_);  // ready for the next query

    type(L"画");
    ::SetFocus(main_);
    EXPECT_TRUE(editShown());  // its text stays in view
    paintedCards();
    const RECT row = layout::sidebarRow(1, 0);
    click(row.left + 20, row.top + 20);
    EXPECT_EQ(state.selectedCategoryId, L"media");
    EXPECT_TRUE(state.search.query.empty());
    EXPECT_EQ(::GetWindowTextLengthW(edit_), 0);
    EXPECT_FALSE(editShown());

    // Ctrl+F from anywhere in the window selects what the field holds, ready to be typed over.
    ::SetWindowTextW(edit_, L"记事");
    ::SetFocus(main_);
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    const BYTE control = keys[VK_CONTROL];
    keys[VK_CONTROL] = 0x80;
    ::SetKeyboardState(keys);
    send(WM_KEYDOWN, 'F');
    keys[VK_CONTROL] = control;
    ::SetKeyboardState(keys);
    EXPECT_EQ(::GetFocus(), edit_);
    DWORD start = 1, end = 0;
    ::SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 2u);
    EXPECT_EQ(heading(), L"搜索“记事” · 1 款");
}

// A replaced catalogue is searched again at once: the results index the new lists.
TEST_F(MainWindowSearch, ANewCatalogueIsSearchedAgain) {
    AppState& state = appState();
    focusSearchField(FieldCaret::AtEnd);
    type(L"ht");
    EXPECT_EQ(state.search.results, std::vector<size_t>{0});
    state.catalogue.apps = {appIn(8, L"记事本", L"tools", L""), appIn(9, L"画图", L"tools", L""),
                          appIn(10, L"海图", L"tools", L"")};
    ++state.catalogue.generation;
    searchAgainInNewCatalogue(state);
    EXPECT_EQ(state.search.results, (std::vector<size_t>{1, 2}));
    EXPECT_EQ(paintedCards(), (std::vector<int32_t>{9, 10}));
}

}  // namespace
