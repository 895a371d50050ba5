#include <gtest/gtest.h>

#include "render/palette.h"
#include "render/settings_painter.h"
#include "render_fixture.h"

namespace {

using rendertest::nearColour;

class SettingsPaint : public rendertest::PaintTest {
protected:
    // A white surface of w x h with the painter's output on it.
    template <typename Paint>
    void draw(int w, int h, Paint paint, const CanvasLook& look = {}) {
        surface_ = std::make_unique<qbtest::PaintSurface>(w, h);
        RECT all = surface_->client();
        qb::UniqueBrush white(::CreateSolidBrush(RGB(255, 255, 255)));
        ::FillRect(surface_->dc(), &all, white.get());
        Canvas canvas(surface_->dc(), PixelBuffer{surface_->bits(), w, h}, app.uiFonts, look);
        paint(canvas);
    }
    // The fill beside the label of an 84 x 34 button, and the pixel its focus ring passes through.
    void button(SettingsButtonStyle style, SettingsButtonState state) {
        draw(84, 34, [&](Canvas& canvas) { paintSettingsButton(canvas, RECT{0, 0, 84, 34}, L"保存", style, state); });
    }
};

TEST_F(SettingsPaint, ButtonsFollowTheirStyleHoverPressAndFocus) {
    struct Case {
        SettingsButtonStyle style;
        SettingsButtonState state;
        uint32_t fill;  // beside the label
        uint32_t ring;  // where the focus ring runs, left of the label
    };
    const SettingsButtonStyle primary = SettingsButtonStyle::Primary, secondary = SettingsButtonStyle::Secondary;
    const Case cases[] = {
        {primary, {}, 0x2563EB, 0x2563EB},
        {primary, {true, false, false, true}, 0x1D4ED8, 0x1D4ED8},
        {primary, {true, true, false, true}, 0x1E40AF, 0x1E40AF},
        {primary, {false, false, true, true}, 0x2563EB, 0xFFFFFF},
        {secondary, {}, 0xFFFFFF, 0xFFFFFF},
        {secondary, {true, false, false, true}, 0xEFF5FF, 0xEFF5FF},
        {secondary, {false, true, false, true}, 0xDCE8FE, 0xDCE8FE},
        {secondary, {false, false, true, true}, 0xFFFFFF, 0x2563EB},
    };
    for (const Case& c : cases) {
        button(c.style, c.state);
        const int i = static_cast<int>(&c - cases);
        EXPECT_TRUE(nearColour(pixel(10, 17), c.fill, 6)) << i;
        EXPECT_TRUE(nearColour(pixel(4, 17), c.ring, 40)) << i;
    }
}

TEST_F(SettingsPaint, TheChoiceFillsTheChosenSegmentAndTintsTheHoveredOne) {
    const SegmentedLook look{8, 40, [](int value) { return std::to_wstring(value); }};
    draw(320, 32, [&](Canvas& canvas) { paintSegmentedChoice(canvas, SIZE{320, 32}, look, 3, 5, false); });
    const auto segmentFill = [this](int value) { return pixel((value - 1) * 40 + 6, 16); };
    EXPECT_TRUE(nearColour(segmentFill(3), palette::kPrimary & 0xFFFFFF, 6));
    EXPECT_TRUE(nearColour(segmentFill(5), 0xEFF5FF, 6));
    for (int value : {1, 2, 4, 6, 7, 8}) EXPECT_TRUE(nearColour(segmentFill(value), 0xF7F8FA, 6)) << value;
    // Where the hovered segment's fill is the window colour, it is outlined instead.
    draw(320, 32, [&](Canvas& canvas) { paintSegmentedChoice(canvas, SIZE{320, 32}, look, 3, 5, false); },
         CanvasLook{{}, rendertest::kBlackContrast});
    EXPECT_TRUE(nearColour(pixel(4 * 40 + 3, 16), 0x1AEBFF, 0));
}

}  // namespace
