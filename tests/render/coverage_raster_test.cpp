#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "render/coverage_raster.h"

namespace {

using Coverage = std::map<std::pair<int, int>, float>;

Coverage rasterise(const PolygonSet& shape, RECT clip = {-50, -50, 50, 50}) {
    CoverageRaster raster;
    raster.rasterise(shape, clip);
    Coverage result;
    raster.resolve([&](int x, int y, float c) { result[{x, y}] = c; });
    return result;
}

float at(const Coverage& c, int x, int y) {
    auto it = c.find({x, y});
    return it == c.end() ? 0.0f : it->second;
}

TEST(CoverageRaster, AreaOfPartlyCoveredPixels) {
    PolygonSet shape;
    const RasterPoint square[4] = {{1.5f, 1.0f}, {3.25f, 1.0f}, {3.25f, 2.0f}, {1.5f, 2.0f}};
    shape.add(square, 4);
    const Coverage c = rasterise(shape);
    EXPECT_NEAR(at(c, 1, 1), 0.5f, 1e-4);
    EXPECT_NEAR(at(c, 2, 1), 1.0f, 1e-4);
    EXPECT_NEAR(at(c, 3, 1), 0.25f, 1e-4);
    EXPECT_EQ(at(c, 0, 1), 0.0f);
    EXPECT_EQ(at(c, 4, 1), 0.0f);
    EXPECT_EQ(at(c, 2, 2), 0.0f);

    PolygonSet triangle;  // a diagonal halves the pixels it crosses
    const RasterPoint t[3] = {{0, 0}, {4, 0}, {0, 4}};
    triangle.add(t, 3);
    const Coverage d = rasterise(triangle);
    EXPECT_NEAR(at(d, 0, 0), 1.0f, 1e-4);
    EXPECT_NEAR(at(d, 1, 2), 0.5f, 1e-4);
    EXPECT_NEAR(at(d, 3, 0), 0.5f, 1e-4);
    EXPECT_EQ(at(d, 3, 3), 0.0f);
}

TEST(CoverageRaster, OverlapsCountOnceWhateverTheOrientation) {
    PolygonSet shape;
    const RasterPoint a[4] = {{0, 0}, {4, 0}, {4, 2}, {0, 2}};
    const RasterPoint b[4] = {{2, 0}, {2, 2}, {6, 2}, {6, 0}};  // opposite orientation, overlapping a
    shape.add(a, 4);
    shape.add(b, 4);
    const Coverage c = rasterise(shape);
    for (int x = 0; x < 6; ++x) EXPECT_NEAR(at(c, x, 1), 1.0f, 1e-4) << x;
}

TEST(CoverageRaster, ClipKeepsOnlyItsPixelsButNotTheirCoverage) {
    PolygonSet shape;
    const RasterPoint wide[4] = {{-30.5f, 0}, {30, 0}, {30, 1}, {-30.5f, 1}};
    shape.add(wide, 4);
    const Coverage c = rasterise(shape, {5, 0, 8, 1});
    ASSERT_EQ(c.size(), 3u);
    EXPECT_NEAR(at(c, 5, 0), 1.0f, 1e-4);  // the area left of the clip still counts for the pixels inside
    EXPECT_NEAR(at(c, 7, 0), 1.0f, 1e-4);
}

TEST(CoverageRaster, StrokesHaveTheirWidthAndSquareMitredCorners) {
    PolygonSet line;
    strokePolyline(line, {{0, 5}, {10, 5}}, false, {2.0f, false});
    const Coverage c = rasterise(line);
    EXPECT_NEAR(at(c, 5, 4), 1.0f, 1e-4);
    EXPECT_NEAR(at(c, 5, 5), 1.0f, 1e-4);
    EXPECT_EQ(at(c, 5, 3), 0.0f);
    EXPECT_EQ(at(c, 10, 4), 0.0f);  // flat cap: nothing beyond the end
    EXPECT_EQ(at(c, -1, 4), 0.0f);

    PolygonSet rounded;
    strokePolyline(rounded, {{0, 5}, {10, 5}}, false, {2.0f, true});
    EXPECT_GT(at(rasterise(rounded), 10, 4), 0.3f);  // round cap reaches a radius past the end

    PolygonSet box;  // a closed square outline: the corner pixel is filled by the miter
    strokePolyline(box, {{2, 2}, {8, 2}, {8, 8}, {2, 8}}, true, {2.0f, false});
    const Coverage b = rasterise(box);
    EXPECT_NEAR(at(b, 1, 1), 1.0f, 1e-3);
    EXPECT_NEAR(at(b, 8, 8), 1.0f, 1e-3);
    EXPECT_EQ(at(b, 4, 4), 0.0f);  // hollow
}

}  // namespace
