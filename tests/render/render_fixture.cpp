#include "render_fixture.h"

#include "render/frame_update.h"

#include <cstdio>
#include <sstream>

namespace rendertest {

namespace {

// The fonts live for the process, as in the program.
const HFONT (&sharedFonts())[kUiFontCount] {
    static HFONT fonts[kUiFontCount] = {};
    static bool created = createUiFonts(fonts);
    (void)created;
    return fonts;
}

}  // namespace

uint32_t over(uint32_t argb, uint32_t below) {
    const uint32_t alpha = argb >> 24;
    uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t top = (argb >> shift) & 0xFF, bottom = (below >> shift) & 0xFF;
        result |= ((top * alpha + bottom * (255 - alpha) + 127) / 255) << shift;
    }
    return result;
}

::testing::AssertionResult nearColour(uint32_t actual, uint32_t expected, int tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int a = static_cast<int>((actual >> shift) & 0xFF), e = static_cast<int>((expected >> shift) & 0xFF);
        if (a - e > tolerance || e - a > tolerance) {
            char text[64];
            std::snprintf(text, sizeof text, "#%06X, expected #%06X", actual & 0xFFFFFF, expected & 0xFFFFFF);
            return ::testing::AssertionFailure() << text;
        }
    }
    return ::testing::AssertionSuccess();
}

std::wstring describe(const RECT& r) {
    std::wostringstream out;
    out << L"(" << r.left << L", " << r.top << L", " << r.right << L", " << r.bottom << L")";
    return out.str();
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

PaintTest::PaintTest() {
    qbtest::ensureGdiplus();
    const HFONT(&fonts)[kUiFontCount] = sharedFonts();
    for (int i = 0; i < kUiFontCount; ++i) app.uiFonts[i] = fonts[i];
    inputs.now = 100000;
    inputs.downloadDirectory = L"C:\\Users\\tester\\Downloads\\Quillbox";
}

void PaintTest::addCategories(const std::vector<std::wstring>& names) {
    for (size_t i = 0; i < names.size(); ++i)
        app.catalogue.categories.push_back({L"c" + std::to_wstring(i), names[i]});
}

AppInfo& PaintTest::addApp(int32_t id, const std::wstring& name, const std::wstring& categoryId) {
    app.catalogue.apps.emplace_back();
    AppInfo& info = app.catalogue.apps.back();
    info.id = id;
    info.name = name;
    info.version = L"1.0";
    info.description = L"说明";
    info.categoryIds = {categoryId};
    info.hasPackage = true;
    info.packageSize = 1048576;
    return info;
}

TaskSnapshot& PaintTest::addTask(int32_t appId, uint32_t state, int64_t received, int64_t total) {
    TaskSnapshot& task = inputs.tasks[appId];
    task.appId = appId;
    task.name = L"任务" + std::to_wstring(appId);
    task.state = state;
    task.receivedBytes = received;
    task.size = total;
    return task;
}

void PaintTest::hover(HitKind kind, int32_t param) {
    app.hoverActive = true;
    app.hoverKind = kind;
    app.hoverParam = param;
}

void PaintTest::useDpi(int dpi) {
    deleteUiFonts(scaledFonts_);
    createUiFonts(scaledFonts_, dpi);
    for (int i = 0; i < kUiFontCount; ++i) app.uiFonts[i] = scaledFonts_[i];
    inputs.look.scale = qb::DpiScale{dpi};
}

const qbtest::PaintSurface& PaintTest::paint(int w, int h) {
    surface_ = std::make_unique<qbtest::PaintSurface>(inputs.look.scale.span(w), inputs.look.scale.span(h));
    updateFrame(app, inputs, w, h);
    paintMainWindowWith(surface_->dc(), surface_->client(), app, inputs, caches);
    return *surface_;
}

std::vector<HitRegion> PaintTest::regionsOf(HitKind kind) const {
    std::vector<HitRegion> found;
    for (const HitRegion& region : app.hitRegions)
        if (region.kind == kind) found.push_back(region);
    return found;
}

HitRegion PaintTest::regionOf(HitKind kind, int32_t param) const {
    std::vector<HitRegion> found;
    for (const HitRegion& region : app.hitRegions)
        if (region.kind == kind && region.param == param) found.push_back(region);
    EXPECT_EQ(found.size(), 1u) << "regions of kind " << static_cast<int>(kind) << " param " << param;
    return found.empty() ? HitRegion{} : found.front();
}

}  // namespace rendertest
