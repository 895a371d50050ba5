#include <gtest/gtest.h>

#include "render/canvas.h"
#include "render/category_icons.h"
#include "render/resource_images.h"
#include "render_fixture.h"

namespace {

using rendertest::nearColour;

TEST(CategoryIcons, KeywordTableDecidesInGroupOrder) {
    struct Case {
        const wchar_t* name;
        CategoryIcon icon;
    };
    const Case cases[] = {
        {L"Apps", IconDesign},          // lowered "apps" contains "ps"
        {L"系统工具", IconSystem},
        {L"硬件驱动", IconHardware},    // hardware is tested before drivers
        {L"驱动硬件", IconHardware},
        {L"驱动精灵", IconDriver},
        {L"下载安全", IconSecurity},    // security is the first group
        {L"WPS Office", IconOffice},    // matched after lowering
        {L"Word 文档", IconOffice},
        {L"下载加速", IconDownload},
        {L"聊天通讯", IconChat},
        {L"浏览器", IconBrowser},
        {L"影音播放", IconMedia},
        {L"输入法", IconInput},
        {L"RAR 工具", IconArchive},     // archive (group 8) before tools (group 12)
        {L"系统重装", IconReinstall},   // reinstall (11) before system (12)
        {L"远程控制", IconRemote},
        {L"备份恢复", IconBackup},
        {L"游戏娱乐", IconGame},
        {L"图片看图", IconImage},
        {L"视频剪辑", IconMedia},       // "视频" is a media keyword, found before the video group
        {L"直播录屏", IconVideo},
        {L"智能助手", IconAI},
        {L"ChatGPT", IconAI},
        {L"设计绘图", IconDesign},
        {L"开发编程", IconOther},
        {L"", IconOther},
    };
    for (const Case& c : cases) EXPECT_EQ(categoryIconFor(c.name), c.icon) << c.name;
}

TEST(CategoryIcons, BaseColoursAndTheirDarkerLook) {
    EXPECT_EQ(categoryIconColour(IconDownload), 0x0084FFu);
    EXPECT_EQ(categoryIconColour(IconHardware), 0xE27A2Eu);
    EXPECT_EQ(categoryIconColour(IconOther), 0x828C9Bu);
    EXPECT_EQ(categoryIconColour(42), 0x828C9Bu);
    EXPECT_EQ(darkenedIconColour(0xE27A2E), 0xB46124u);  // each channel * 80 / 100
    EXPECT_EQ(darkenedIconColour(0xFFFFFF), 0xCCCCCCu);
}

class IconDrawing : public rendertest::PaintTest {
protected:
    // Draws one icon into a white 100 x 100 surface with the box at its top-left.
    void draw(int kind, int side, uint32_t rgb, bool highlighted) {
        surface_ = std::make_unique<qbtest::PaintSurface>(100, 100);
        RECT all = surface_->client();
        qb::UniqueBrush white(::CreateSolidBrush(RGB(255, 255, 255)));
        ::FillRect(surface_->dc(), &all, white.get());
        Canvas canvas(surface_->dc(), PixelBuffer{surface_->bits(), 100, 100}, app.uiFonts);
        drawCategoryIcon(canvas, kind, {0, 0, side, side}, rgb, highlighted);
    }
    std::vector<uint32_t> snapshot() const {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) pixels.push_back(pixel(x, y));
        return pixels;
    }
};

TEST_F(IconDrawing, ShieldSpansItsBoxFromOneAndAHalfPixels) {
    draw(IconSecurity, 20, 0x347DFF, false);
    EXPECT_TRUE(nearColour(pixel(2, 8), 0x347DFF, 8));
    EXPECT_TRUE(nearColour(pixel(18, 8), 0x347DFF, 8));
    EXPECT_TRUE(nearColour(pixel(10, 2), 0x347DFF, 8));
    EXPECT_TRUE(nearColour(pixel(10, 18), 0x347DFF, 8));
    EXPECT_TRUE(nearColour(pixel(0, 8), 0xFFFFFF, 8));
    EXPECT_TRUE(nearColour(pixel(19, 8), 0xFFFFFF, 8));
    EXPECT_TRUE(nearColour(pixel(10, 0), 0xFFFFFF, 8));
    EXPECT_TRUE(nearColour(pixel(2, 18), 0xFFFFFF, 8));  // beside the tip
}

TEST_F(IconDrawing, KindsAboveTheTableDrawTheFourDots) {
    draw(IconOther, 20, 0x828C9B, false);
    const std::vector<uint32_t> dots = snapshot();
    EXPECT_TRUE(nearColour(pixel(7, 7), 0x828C9B, 8));
    EXPECT_TRUE(nearColour(pixel(13, 13), 0x828C9B, 8));
    EXPECT_TRUE(nearColour(pixel(10, 10), 0xFFFFFF, 40));  // the gap between the dots
    for (int kind : {20, 99, -1}) {
        draw(kind, 20, 0x828C9B, false);
        EXPECT_EQ(snapshot(), dots) << kind;
    }
}

TEST_F(IconDrawing, FourSquaresIgnoreTheColourButFollowTheHighlight) {
    draw(IconReinstall, 20, 0x000000, false);
    const std::vector<uint32_t> plain = snapshot();
    EXPECT_TRUE(nearColour(pixel(5, 5), 0xF25022, 8));
    EXPECT_TRUE(nearColour(pixel(14, 5), 0x7FBA00, 8));
    EXPECT_TRUE(nearColour(pixel(5, 14), 0x00A4EF, 8));
    EXPECT_TRUE(nearColour(pixel(14, 14), 0xFFB900, 8));
    draw(IconReinstall, 20, 0xFF0000, false);
    EXPECT_EQ(snapshot(), plain);
    draw(IconReinstall, 20, 0xFF0000, true);
    EXPECT_TRUE(nearColour(pixel(5, 5), 0xC1401B, 8));
    EXPECT_TRUE(nearColour(pixel(14, 14), 0xCC9400, 8));
}

TEST_F(IconDrawing, OtherKindsShowTheHighlightOnlyThroughTheirColour) {
    draw(IconMedia, 20, 0xE8586C, false);
    const std::vector<uint32_t> plain = snapshot();
    draw(IconMedia, 20, 0xE8586C, true);
    EXPECT_EQ(snapshot(), plain);
    EXPECT_TRUE(nearColour(pixel(3, 10), 0xE8586C, 8));
}

TEST_F(IconDrawing, QUnitWidthsScaleWithTheBox) {
    // The joystick's stick is 0.2 Q wide: 2 pixels at 20, 8 pixels at 80.
    draw(IconGame, 80, 0x9664DC, false);
    // The stick runs from (-0.38, -0.38) to (0.06, 0.36) around (40, 40); probe across it at its middle.
    const int cy = 40 + static_cast<int>(-0.01 * 40);
    int covered = 0;
    for (int x = 20; x < 50; ++x)
        if (nearColour(pixel(x, cy), 0x9664DC, 30)) ++covered;
    EXPECT_GE(covered, 7);
    EXPECT_LE(covered, 11);
}

TEST_F(IconDrawing, DownloadPictureIsScaledToEightyPercentWhenHighlighted) {
    ASSERT_NE(downloadPictureImage(), nullptr) << "RCDATA 3 is linked into the test";
    draw(IconDownload, 80, 0x0084FF, false);
    const uint32_t plain = pixel(12, 40);  // inside the blue disc, left of the arrow
    EXPECT_FALSE(nearColour(plain, 0xFFFFFF, 40));
    draw(IconDownload, 80, 0x0084FF, true);
    const uint32_t dark = pixel(12, 40);
    uint32_t expected = 0;
    for (int shift = 0; shift <= 16; shift += 8) expected |= (((plain >> shift) & 0xFF) * 80 / 100) << shift;
    EXPECT_TRUE(nearColour(dark, expected, 4));
}

TEST(ResourceImages, LogoAndDownloadPictureDecodeFromTheProgram) {
    qbtest::ensureGdiplus();
    for (int id : {kLogoResource, kDownloadPictureResource}) {
        gp::UniqueImage image(decodeResourceImage(id));
        ASSERT_TRUE(image) << id;
        UINT width = 0, height = 0;
        gp::GdipGetImageWidth(image.get(), &width);
        gp::GdipGetImageHeight(image.get(), &height);
        EXPECT_EQ(width, 256u);
        EXPECT_EQ(height, 256u);
    }
    EXPECT_EQ(decodeResourceImage(77), nullptr);
    EXPECT_EQ(logoImage(), logoImage());  // decoded once

    // The same pictures at their drawn sizes, premultiplied: no channel above its alpha.
    for (const Picture* kept : {&logoPicture(), &downloadPicturePixels()}) {
        ASSERT_FALSE(kept->empty());
        EXPECT_EQ(kept->pixels.size(), static_cast<size_t>(kept->width) * kept->height);
        for (uint32_t p : kept->pixels)
            for (int shift = 0; shift <= 16; shift += 8) ASSERT_LE((p >> shift) & 0xFF, p >> 24);
    }
    EXPECT_EQ(logoPicture().width, 46);
    EXPECT_TRUE(pictureFromResource(kLogoPixelsResource, 45, 46).empty());  // another size is refused
}

TEST(ResourceImages, PicturesBlendPremultipliedInsideTheClip) {
    // Straight-alpha rows: opaque red, half-transparent white, fully transparent blue, opaque green.
    const uint8_t rows[] = {0, 0, 255, 255, 255, 255, 255, 128, 255, 0, 0, 0, 0, 255, 0, 255};
    const Picture picture = pictureFromRows(rows, sizeof rows, 2, 2);
    ASSERT_EQ(picture.pixels.size(), 4u);
    EXPECT_EQ(picture.pixels[1], 0x80808080u);
    EXPECT_TRUE(pictureFromRows(rows, sizeof rows - 1, 2, 2).empty());

    std::vector<uint32_t> bits(4 * 3, 0xFF000000);  // 4 x 3, black
    const PixelBuffer target{bits.data(), 4, 3};
    blendPicture(target, {0, 0, 4, 3}, picture, 3, 2);  // only the top-left pixel lands inside
    EXPECT_EQ(bits[2 * 4 + 3], 0xFFFF0000u);
    blendPicture(target, {0, 0, 2, 3}, picture, 1, 0);  // the clip keeps column 1 only
    EXPECT_EQ(bits[1], 0xFFFF0000u);
    EXPECT_EQ(bits[2], 0xFF000000u);
    EXPECT_EQ(bits[4 + 1], 0xFF000000u);  // transparent: untouched
    blendPicture(target, {0, 0, 4, 3}, picture, 0, 0, 0.8f);
    EXPECT_EQ(bits[0], 0xFFCC0000u);  // 80 % of red over black
    EXPECT_EQ(bits[1], 0xFFE66767u);  // 80 % of half white (0x67) over the red left above, at half
    EXPECT_EQ(bits[4 + 1], 0xFF00CC00u);
}

}  // namespace
