#include "service/icon_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/window_messages.h"
#include "config/local_cache.h"
#include "base/text_convert.h"
#include "render/problem_texts.h"
#include "service/icon_cache.h"
#include "service/icon_decode.h"
#include "support/message_window.h"
#include "support/paint_surface.h"
#include "support/service_control.h"
#include "support/test_support.h"

namespace {

constexpr DWORD kWaitMs = 60000;
constexpr int kSide = 84;

struct Rgb {
    int r, g, b;
};

// The premultiplied pixel of a 32-bit top-down DIB section; every test icon is opaque.
Rgb pixelAt(HBITMAP bitmap, int x, int y) {
    DIBSECTION dib{};
    if (::GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib || !dib.dsBm.bmBits) return {-1, -1, -1};
    const uint32_t argb = static_cast<const uint32_t*>(dib.dsBm.bmBits)[y * dib.dsBm.bmWidth + x];
    return {static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF), static_cast<int>(argb & 0xFF)};
}

::testing::AssertionResult colourNear(Rgb actual, Rgb expected, int tolerance) {
    if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
        std::abs(actual.b - expected.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << actual.r << "," << actual.g << "," << actual.b
                                         << ") is not near (" << expected.r << "," << expected.g << "," << expected.b << ")";
}

// The first bytes of a PNG file declaring width x height, padded to `size` bytes: no image data.
std::string pngHeaderOnly(uint32_t width, uint32_t height, size_t size) {
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    std::string data = std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(width) + be32(height);
    data.resize(size, '\0');
    return data;
}

AppInfo appWithIcon(int32_t id, const std::wstring& icon) {
    AppInfo app;
    app.id = id;
    app.icon = icon;
    return app;
}

TEST(IconUrlTest, StaysOnTheServersOrigin) {
    struct Case {
        const wchar_t* server;
        const wchar_t* icon;
        const wchar_t* url;  // null: refused
    };
    const Case cases[] = {
        {L"http://127.0.0.1:8080", L"/media/icons/1.png", L"http://127.0.0.1:8080/media/icons/1.png"},
        {L"http://127.0.0.1:8080", L".evil.example/p.png", nullptr},
        {L"http://127.0.0.1:8080", L"@evil.example/p.png", nullptr},
        {L"http://127.0.0.1:8080", L"evil.example/p.png", nullptr},
        {L"http://127.0.0.1:8080", L"", nullptr},
        {L"http://127.0.0.1:8080", L"//evil.example/p.png", L"http://127.0.0.1:8080//evil.example/p.png"},
        {L"https://store.example", L"/i/7.png?v=2", L"https://store.example/i/7.png?v=2"},
        {L"https://store.example", L":8443/i/7.png", nullptr},
        {L"https://store.example", L".evil.example/p.png", nullptr},
        {L"https://store.example", L"@evil.example/p.png", nullptr},
        {L"http://Store.Example:81/api", L"/i/7.png", L"http://Store.Example:81/api/i/7.png"},
        {L"not a url", L"/i/7.png", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<std::wstring> url = iconUrlFor(c.server, c.icon);
        EXPECT_EQ(url.has_value(), c.url != nullptr) << c.server << " + " << c.icon;
        if (url && c.url) {
            EXPECT_EQ(*url, c.url);
        }
    }
    // Every URL gets its own safe local cache name.
    const std::wstring a = iconCacheName(L"http://127.0.0.1:8080/media/icons/1.png");
    EXPECT_TRUE(cache::isSafeName(a)) << a;
    EXPECT_NE(a, iconCacheName(L"http://127.0.0.1:8080/media/icons/2.png"));
    EXPECT_NE(a, iconCacheName(L"http://127.0.0.1:8081/media/icons/1.png"));
}

class IconLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        qbtest::ensureGdiplus();
        ASSERT_TRUE(service.available()) << "QB_TEST_SERVER is not set";
        ASSERT_TRUE(service.reset());
        ASSERT_TRUE(catalogue.loadBootstrap(service.base())) << catalogueErrorText(catalogue.lastError);
        ASSERT_TRUE(service.resetLog());
        cacheFolder = qbtest::makeScratchDir(L"icon-cache");
        cache::setFolder(cacheFolder);
    }
    void TearDown() override {
        cache::setFolder(std::wstring());
        qbtest::removeTree(cacheFolder);
    }

    IconSource source(uint32_t generation = 1) const { return {service.base(), generation, window.handle()}; }
    void request(IconCache& icons, const AppInfo& app, uint32_t generation = 1) {
        icons.request(app, kSide, source(generation));
    }

    // Pumps the loader's announcements into the cache, as the main window does, until nothing loads.
    void settle(IconCache& icons, uint32_t generation = 1) {
        while (icons.loadingCount() > 0) {
            ASSERT_TRUE(window.waitFor(WM_QB_ICON_READY, kWaitMs)) << icons.loadingCount() << " still loading";
            icons.adoptResults(generation);
        }
    }

    size_t requestsTo(const std::wstring& path) {
        const std::string wanted = wideToUtf8(path);
        size_t count = 0;
        for (const auto& entry : service.requests()) count += entry.path == wanted ? 1 : 0;
        return count;
    }

    qbtest::ServiceControl service;
    qbtest::MessageWindow window;
    Catalogue catalogue;
    std::wstring cacheFolder;
};

TEST_F(IconLoaderTest, DecodesPngJpegAndIconFilesOnceAtTheDrawnSize) {
    struct Expected {
        int32_t id;
        int x, y;
        Rgb colour;
        int tolerance;
    };
    const Expected expected[] = {
        {1, 42, 42, {0xD0, 0x30, 0x20}, 0},  // PNG of 40 x 30, stretched
        {2, 42, 5, {238, 87, 104}, 24},      // JPEG
        {3, 42, 42, {0x30, 0x60, 0x90}, 0},  // ICO reduced to its 256-pixel PNG frame
        {4, 42, 42, {0x20, 0xA0, 0x40}, 0},  // ICO of bitmaps, the 32-pixel one chosen
    };
    IconCache icons;
    for (const Expected& item : expected) {
        const AppInfo* app = catalogue.findApp(item.id);
        ASSERT_NE(app, nullptr);
        request(icons, *app, 5);
        EXPECT_EQ(icons.status(item.id, kSide), IconStatus::Loading);
        request(icons, *app, 5);  // a second request starts nothing
    }
    WPARAM names = 0;
    ASSERT_TRUE(window.waitFor(WM_QB_ICON_READY, kWaitMs, &names));
    EXPECT_EQ(unpackIdAndGeneration(names).generation, 5u);
    icons.adoptResults(5);
    settle(icons, 5);
    EXPECT_EQ(icons.decodedCount(), 4u);
    for (const Expected& item : expected) {
        SCOPED_TRACE(item.id);
        ASSERT_EQ(icons.status(item.id, kSide), IconStatus::Ready);
        EXPECT_NE(icons.stamp(item.id, kSide), 0u);
        HBITMAP bitmap = icons.bitmap(item.id, kSide);
        DIBSECTION dib{};
        ASSERT_EQ(::GetObjectW(bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
        EXPECT_EQ(dib.dsBmih.biWidth, kSide);
        EXPECT_EQ(std::abs(dib.dsBmih.biHeight), kSide);  // rows run top-down: the JPEG's top row is checked
        EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
        EXPECT_TRUE(colourNear(pixelAt(bitmap, item.x, item.y), item.colour, item.tolerance));
        const std::wstring& icon = catalogue.findApp(item.id)->icon;
        request(icons, *catalogue.findApp(item.id), 5);  // decoded: nothing more is fetched
        EXPECT_EQ(requestsTo(icon), 1u);
    }
}

TEST_F(IconLoaderTest, FailedIconsAreRememberedAndNotFetchedAgain) {
    const std::string bomb = pngHeaderOnly(30000, 30000, 1 << 20);  // 3.6 GB once decoded
    ASSERT_TRUE(service.addPathFaults("/media/bomb.png", "[{\"bodyBase64\": \"" + qbtest::ServiceControl::base64(bomb) +
                                                             "\", \"contentType\": \"image/png\", \"repeat\": -1}]"));
    const std::string small = pngHeaderOnly(16, 16, 1 << 20);  // within the limit, but GDI+ cannot decode it
    ASSERT_TRUE(service.addPathFaults("/media/small.png", "[{\"bodyBase64\": \"" + qbtest::ServiceControl::base64(small) +
                                                              "\", \"contentType\": \"image/png\", \"repeat\": -1}]"));
    const wchar_t* fetched[] = {
        L"/media/icons/missing.png",  // 404
        L"/test/bytes/0",             // empty body
        L"/test/bytes/4194305",       // one byte over the limit
        L"/test/bytes/4194304",       // within the limit but no image format
        L"/test/status/503",
        L"/media/bomb.png",
        L"/media/small.png",
    };
    IconCache icons;
    std::vector<AppInfo> apps;
    for (const wchar_t* icon : fetched) apps.push_back(appWithIcon(static_cast<int32_t>(apps.size() + 50), icon));
    for (const AppInfo& app : apps) request(icons, app);
    settle(icons);
    for (const AppInfo& app : apps) {
        SCOPED_TRACE(app.icon);
        EXPECT_EQ(icons.status(app.id, kSide), IconStatus::Failed);
        EXPECT_EQ(icons.bitmap(app.id, kSide), nullptr);
        EXPECT_EQ(icons.stamp(app.id, kSide), 0u);
        request(icons, app);
        EXPECT_EQ(icons.status(app.id, kSide), IconStatus::Failed);
        EXPECT_EQ(requestsTo(app.icon), 1u);
        EXPECT_FALSE(cache::read(iconCacheName(service.base() + app.icon), kMaxIconBytes)) << "nothing kept";
    }

    // A path leaving the server's origin fails without a fetch.
    for (const wchar_t* icon : {L".evil.example/p.png", L"@evil.example/p.png", L":1/p.png"}) {
        request(icons, appWithIcon(41, icon));
        EXPECT_EQ(icons.status(41, kSide), IconStatus::Failed) << icon;
        icons.clear();
    }
    EXPECT_EQ(icons.loadingCount(), 0u);
    request(icons, appWithIcon(42, L""));  // no icon path: nothing at all
    EXPECT_EQ(icons.status(42, kSide), IconStatus::None);
}

TEST_F(IconLoaderTest, AnIconArrivingForAnOlderCatalogueIsDropped) {
    IconCache icons;
    request(icons, *catalogue.findApp(1), 1);
    WPARAM names = 0;
    ASSERT_TRUE(window.waitFor(WM_QB_ICON_READY, kWaitMs, &names));
    EXPECT_EQ(unpackIdAndGeneration(names).id, 1);
    EXPECT_EQ(unpackIdAndGeneration(names).generation, 1u);
    EXPECT_EQ(icons.adoptResults(2), 0u);  // the catalogue was replaced meanwhile
    EXPECT_EQ(icons.status(1, kSide), IconStatus::None);
    EXPECT_EQ(icons.bitmap(1, kSide), nullptr);
    EXPECT_EQ(icons.decodedCount(), 0u);

    // Asked for again under the new generation, it comes from the local cache.
    request(icons, *catalogue.findApp(1), 2);
    settle(icons, 2);
    EXPECT_EQ(icons.status(1, kSide), IconStatus::Ready);
    EXPECT_EQ(requestsTo(catalogue.findApp(1)->icon), 1u);
}

TEST_F(IconLoaderTest, TheLeastRecentlyUsedIconIsFreedAndComesBackFromTheLocalCache) {
    IconCache icons(2);
    const AppInfo& one = *catalogue.findApp(1);
    const AppInfo& two = *catalogue.findApp(2);
    const AppInfo& three = *catalogue.findApp(3);
    for (const AppInfo* app : {&one, &two}) {
        request(icons, *app);
        settle(icons);
    }
    const uint32_t stampOfTwo = icons.stamp(2, kSide);
    request(icons, one);  // drawn again: two is now the least recently used
    request(icons, three);
    settle(icons);
    EXPECT_EQ(icons.decodedCount(), 2u);
    EXPECT_EQ(icons.status(1, kSide), IconStatus::Ready);
    EXPECT_EQ(icons.status(2, kSide), IconStatus::None);
    EXPECT_EQ(icons.stamp(2, kSide), 0u);
    EXPECT_EQ(icons.status(3, kSide), IconStatus::Ready);

    request(icons, two);
    EXPECT_EQ(icons.status(2, kSide), IconStatus::Loading);
    settle(icons);
    EXPECT_EQ(icons.status(2, kSide), IconStatus::Ready);
    EXPECT_NE(icons.stamp(2, kSide), 0u);
    EXPECT_NE(icons.stamp(2, kSide), stampOfTwo);
    EXPECT_TRUE(colourNear(pixelAt(icons.bitmap(2, kSide), 42, 5), {238, 87, 104}, 24));
    for (const AppInfo* app : {&one, &two, &three}) EXPECT_EQ(requestsTo(app->icon), 1u) << app->icon;
}

TEST_F(IconLoaderTest, ALocalCopyThatDoesNotDecodeIsRemovedAndFetchedAgain) {
    const AppInfo& app = *catalogue.findApp(1);
    const std::wstring name = iconCacheName(service.base() + app.icon);
    for (const std::string& corrupt : {std::string("not an image"), pngHeaderOnly(30000, 30000, 4096),
                                       pngHeaderOnly(16, 16, 4096)}) {
        ASSERT_TRUE(service.resetLog());
        ASSERT_TRUE(cache::write(name, corrupt));
        IconCache icons;
        request(icons, app);
        settle(icons);
        EXPECT_EQ(icons.status(1, kSide), IconStatus::Ready);
        EXPECT_TRUE(colourNear(pixelAt(icons.bitmap(1, kSide), 42, 42), {0xD0, 0x30, 0x20}, 0));
        EXPECT_EQ(requestsTo(app.icon), 1u);
        const std::optional<std::string> kept = cache::read(name, kMaxIconBytes);
        ASSERT_TRUE(kept.has_value());
        EXPECT_TRUE(decodeIconAtSize(*kept, kSide)) << "the service's copy replaced the corrupt one";
    }

    // A good local copy is used as it is, even when the service no longer has the file.
    const AppInfo missing = appWithIcon(60, L"/media/icons/missing.png");
    ASSERT_TRUE(cache::write(iconCacheName(service.base() + missing.icon), *cache::read(name, kMaxIconBytes)));
    IconCache icons;
    request(icons, missing);
    settle(icons);
    EXPECT_EQ(icons.status(60, kSide), IconStatus::Ready);
    EXPECT_EQ(requestsTo(missing.icon), 0u);
}

TEST_F(IconLoaderTest, AtMostFourFetchesRunAtOnceAndEveryQueuedOneFinishes) {
    constexpr size_t kIcons = 20;
    constexpr int kDelayMs = 400;
    ASSERT_TRUE(service.addPathFaults("/media/*", "[{\"delayMs\": " + std::to_string(kDelayMs) + ", \"repeat\": -1}]"));
    IconCache icons;
    std::vector<AppInfo> apps;
    for (size_t i = 0; i < kIcons; ++i)
        apps.push_back(appWithIcon(static_cast<int32_t>(200 + i), L"/media/icons/1.png?n=" + std::to_wstring(i)));
    for (const AppInfo& app : apps) request(icons, app);
    // request returned before any answer: the service holds each one for the delay.
    EXPECT_EQ(icons.loadingCount(), kIcons);
    settle(icons);
    EXPECT_EQ(icons.decodedCount(), kIcons);

    // The service began each answer at `time` and sent nothing for the delay, so every fetch was in
    // flight for at least [time, time + delay): the most of these that overlap ran at once.
    const std::vector<qbtest::LoggedRequest> log = service.requests();
    ASSERT_EQ(log.size(), kIcons);
    std::vector<std::pair<double, int>> edges;  // an end sorts before a start at the same moment
    for (const qbtest::LoggedRequest& entry : log) {
        EXPECT_EQ(entry.status, 200);
        edges.emplace_back(entry.time, 1);
        edges.emplace_back(entry.time + (kDelayMs - 2) / 1000.0, -1);
    }
    std::sort(edges.begin(), edges.end());
    int inFlight = 0, most = 0;
    for (const auto& edge : edges) most = std::max(most, inFlight += edge.second);
    // A busy machine may start the last worker late, never one more.
    EXPECT_LE(most, static_cast<int>(kMaxIconWorkers));
    EXPECT_GE(most, 2);
}

}  // namespace
