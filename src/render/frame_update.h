#pragma once
// The update step before each paint: everything a paint would otherwise change in AppState.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "render/paint_context.h"

// Brings app up to date for a client of w x h units (96-DPI pixels; hit regions, scroll offsets and
// scroll bars are in the same units): expires the toast and the notice, clamps both
// scroll offsets, computes both scroll bars and the hit regions (in paint order) from the layout,
// places an open card menu (or closes it when its card has gone) and asks inputs.requestIcon for the
// icons of the apps shown or about to be.
void updateFrame(AppState& app, const PaintInputs& inputs, int w, int h);

// Indexes into app.catalogue.apps of the selected category's apps, in catalogue order.
std::vector<size_t> selectedApps(const AppState& app);
std::wstring selectedCategoryName(const AppState& app);
// A search is shown: the search field holds more than spaces.
bool searching(const AppState& app);
// The apps the catalogue page shows: the search's results while searching, else the selected category's.
std::vector<size_t> shownApps(const AppState& app);
// The catalogue page's heading over shown apps: the search's ("搜索“xhbj” · 3 款", its query cut to
// fit maxWidth as measure gives widths) or the selected category's.
std::wstring cataloguePageHeading(const AppState& app, size_t shown, int maxWidth,
                                  const std::function<int(const std::wstring&)>& measure);

// The app whose card shows under point on the catalogue page of a w x h client, as the last update
// step placed the cards; nullopt elsewhere.
std::optional<int32_t> cardAt(const AppState& app, int w, int h, POINT point);

// Whether the toast or the notice is still shown at now (a tick-count wrap is harmless).
bool toastShown(const AppState& app, DWORD now);
bool noticeShown(const AppState& app, DWORD now);
