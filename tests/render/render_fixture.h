#pragma once
// Shared set-up of the paint tests: fonts, a fresh AppState, a catalogue, tasks and one paint.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/app_state.h"
#include "render/contrast.h"
#include "render/main_window_painter.h"
#include "render/paint_cache.h"
#include "support/paint_surface.h"

namespace rendertest {

// Blends an 0xAARRGGBB colour over an opaque #RRGGBB one, as a filled shape lands on what was there.
uint32_t over(uint32_t argb, uint32_t below);

// Colours within tolerance on every channel.
::testing::AssertionResult nearColour(uint32_t actual, uint32_t expected, int tolerance = 3);

// A black high-contrast theme: the window black, its text white, the highlight cyan and its text black.
inline const SystemColours kBlackContrast{0x000000, 0xFFFFFF, 0x1AEBFF, 0x000000};

std::wstring describe(const RECT& r);
bool sameRect(const RECT& a, const RECT& b);

class PaintTest : public ::testing::Test {
protected:
    PaintTest();

    // n categories with ids "c0".. and names from the list (or "分类 i").
    void addCategories(const std::vector<std::wstring>& names);
    // An app in category categoryId with a package and no icon.
    AppInfo& addApp(int32_t id, const std::wstring& name, const std::wstring& categoryId);
    TaskSnapshot& addTask(int32_t appId, uint32_t state, int64_t received = 0, int64_t total = 0);
    void hover(HitKind kind, int32_t param = 0);

    // Runs the update step and paints the whole window of w x h units into a fresh surface of its pixels
    // at the inputs' scale.
    const qbtest::PaintSurface& paint(int w, int h);
    // Paints from now on at dpi, with fonts made for it.
    void useDpi(int dpi);
    uint32_t pixel(int x, int y) const { return surface_->pixel(x, y); }

    std::vector<HitRegion> regionsOf(HitKind kind) const;
    // The single region of kind (and param); fails the test when there is not exactly one.
    HitRegion regionOf(HitKind kind, int32_t param = 0) const;

    std::unique_ptr<AppState> state_ = std::make_unique<AppState>();
    AppState& app = *state_;
    PaintInputs inputs;
    PaintCaches caches;  // kept from paint to paint, as the window keeps them
    std::unique_ptr<qbtest::PaintSurface> surface_;
    HFONT scaledFonts_[kUiFontCount] = {};

    ~PaintTest() override { deleteUiFonts(scaledFonts_); }
};

}  // namespace rendertest
