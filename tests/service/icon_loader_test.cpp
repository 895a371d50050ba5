#include "service/icon_loader.h"

#include <objidl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "base/window_messages.h"
#include "base/win_handles.h"
#include "config/text_convert.h"
#include "support/message_window.h"
#include "support/service_control.h"

namespace {

constexpr DWORD kWaitMs = 60000;

struct Rgb {
    int r, g, b;
};

Rgb pixelAt(HBITMAP bitmap, int x, int y) {
    qb::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    qb::SelectGuard select(dc.get(), bitmap);
    const COLORREF colour = ::GetPixel(dc.get(), x, y);
    return {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
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
}

class IconLoaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr), Gdiplus::Ok);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(gdiplusToken); }

    void SetUp() override {
        ASSERT_TRUE(service.available()) << "QB_TEST_SERVER is not set";
        ASSERT_TRUE(service.reset());
        ASSERT_TRUE(catalogue.LoadBootstrap(service.base())) << catalogue.lastError;
        ASSERT_TRUE(service.resetLog());
    }

    // Runs the worker on this thread for an app whose icon path is `icon`.
    void runWorker(AppInfo& app, const std::wstring& icon) {
        app.icon = icon;
        app.iconState.store(IconStateLoading);
        catalogue.notifyWindow = window.handle();
        IconThread(new IconJob{&catalogue, &app, service.base() + icon});
    }

    size_t requestsTo(const std::string& path) {
        size_t count = 0;
        for (const auto& entry : service.requests()) count += entry.path == path ? 1 : 0;
        return count;
    }

    static ULONG_PTR gdiplusToken;
    qbtest::ServiceControl service;
    qbtest::MessageWindow window;
    Catalogue catalogue;
};

ULONG_PTR IconLoaderTest::gdiplusToken = 0;

TEST_F(IconLoaderTest, DecodesPngJpegAndIconFilesIntoBitmaps) {
    struct Expected {
        int width, height;
        int x, y;
        Rgb colour;
        int tolerance;
    };
    const std::map<int32_t, Expected> expected = {
        {1, {40, 30, 39, 29, {0xD0, 0x30, 0x20}, 0}},   // PNG
        {2, {128, 128, 64, 8, {238, 87, 104}, 24}},     // JPEG
        {3, {256, 256, 128, 128, {0x30, 0x60, 0x90}, 0}},  // ICO reduced to its 256-pixel PNG frame
        {4, {32, 32, 31, 0, {0x20, 0xA0, 0x40}, 0}},    // ICO of bitmaps, the 32-pixel one chosen
    };
    for (const auto& item : expected) {
        AppInfo* app = catalogue.FindApp(item.first);
        ASSERT_NE(app, nullptr);
        ASSERT_FALSE(app->icon.empty());
        RequestIcon(catalogue, window.handle(), *app, service.base());
        EXPECT_NE(app->iconState.load(), IconStateNone);
        RequestIcon(catalogue, window.handle(), *app, service.base());  // a second request starts nothing
    }
    EXPECT_EQ(catalogue.notifyWindow, window.handle());

    std::map<int32_t, int> announced;
    for (size_t i = 0; i < expected.size(); ++i) {
        WPARAM id = 0;
        ASSERT_TRUE(window.waitFor(WM_QB_ICON_READY, kWaitMs, &id));
        ++announced[static_cast<int32_t>(id)];
    }
    for (const auto& item : expected) {
        SCOPED_TRACE(item.first);
        EXPECT_EQ(announced[item.first], 1);
        const AppInfo& app = *catalogue.FindApp(item.first);
        ASSERT_EQ(app.iconState.load(std::memory_order_acquire), IconStateReady);
        ASSERT_NE(app.iconBitmap, nullptr);
        BITMAP info{};
        ASSERT_EQ(::GetObjectW(app.iconBitmap, sizeof(info), &info), static_cast<int>(sizeof(info)));
        EXPECT_EQ(info.bmWidth, item.second.width);
        EXPECT_EQ(info.bmHeight, item.second.height);
        EXPECT_TRUE(colourNear(pixelAt(app.iconBitmap, item.second.x, item.second.y), item.second.colour, item.second.tolerance));
        EXPECT_EQ(requestsTo(WideToUtf8(app.icon)), 1u);
    }
    EXPECT_FALSE(window.takePosted(WM_QB_ICON_READY));
}

TEST_F(IconLoaderTest, AnAppWithoutIconStartsNothing) {
    AppInfo* app = catalogue.FindApp(10);
    ASSERT_NE(app, nullptr);
    ASSERT_TRUE(app->icon.empty());
    RequestIcon(catalogue, window.handle(), *app, service.base());
    EXPECT_EQ(app->iconState.load(), IconStateNone);
    EXPECT_EQ(catalogue.notifyWindow, nullptr);
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(IconLoaderTest, FailuresBeforeDecodingAreSilentAndLaterOnesAreAnnounced) {
    struct Case {
        const wchar_t* icon;
        bool announced;
    };
    const Case cases[] = {
        {L"/media/icons/missing.png", false},  // 404
        {L"/test/bytes/0", false},             // empty body
        {L"/test/bytes/4194305", false},       // one byte over the limit
        {L"/test/bytes/4194304", false},       // within the limit but no image format: never decoded
        {L"/test/status/503", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.icon);
        AppInfo app;
        app.id = 77;
        runWorker(app, c.icon);
        EXPECT_EQ(app.iconState.load(), IconStateFailed);
        EXPECT_EQ(app.iconBitmap, nullptr);
        WPARAM id = 0;
        EXPECT_EQ(window.takePosted(WM_QB_ICON_READY, &id), c.announced);
        if (c.announced) {
            EXPECT_EQ(id, 77u);
        }
    }
}

TEST_F(IconLoaderTest, AWorkerForAFinishedIconDoesNothing) {
    for (const IconState state : {IconStateReady, IconStateFailed}) {
        AppInfo app;
        app.id = -2;
        app.icon = L"/media/icons/1.png";
        app.iconState.store(state);
        catalogue.notifyWindow = window.handle();
        IconThread(new IconJob{&catalogue, &app, service.base() + app.icon});
        EXPECT_EQ(app.iconState.load(), state);
        EXPECT_FALSE(window.takePosted(WM_QB_ICON_READY));
    }
    EXPECT_TRUE(service.requests().empty());

    // The id travels sign-extended.
    AppInfo negative;
    negative.id = -2;
    runWorker(negative, L"/media/icons/1.png");
    WPARAM id = 0;
    ASSERT_TRUE(window.takePosted(WM_QB_ICON_READY, &id));
    EXPECT_EQ(static_cast<INT_PTR>(id), -2);
    EXPECT_EQ(negative.iconState.load(), IconStateReady);
}

TEST_F(IconLoaderTest, AnIconDeclaringHugeDimensionsFailsWithoutDecoding) {
    struct Case {
        const char* path;
        uint32_t side;
        bool announced;  // only a decode attempt is announced
    };
    const Case cases[] = {
        {"/media/bomb.png", 30000, false},  // 1 MiB claiming 30 000 x 30 000: 3.6 GB once decoded
        {"/media/small.png", 16, true},     // the same bytes within the limit reach the decoder, which fails
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string body = pngHeaderOnly(c.side, c.side, 1 << 20);
        ASSERT_TRUE(service.addPathFaults(c.path, "[{\"bodyBase64\": \"" + qbtest::ServiceControl::base64(body) +
                                                      "\", \"contentType\": \"image/png\"}]"));
        AppInfo app;
        app.id = 31;
        runWorker(app, Utf8ToWide(c.path));
        EXPECT_EQ(app.iconState.load(), IconStateFailed);
        EXPECT_EQ(app.iconBitmap, nullptr);
        EXPECT_EQ(window.takePosted(WM_QB_ICON_READY), c.announced);
        EXPECT_EQ(requestsTo(c.path), 1u);
    }
}

TEST_F(IconLoaderTest, AnIconPathLeavingTheServerFailsAtOnce) {
    for (const wchar_t* icon : {L".evil.example/p.png", L"@evil.example/p.png", L":1/p.png"}) {
        AppInfo app;
        app.id = 41;
        app.icon = icon;
        RequestIcon(catalogue, window.handle(), app, service.base());
        EXPECT_EQ(app.iconState.load(), IconStateFailed) << icon;
    }
    EXPECT_FALSE(window.takePosted(WM_QB_ICON_READY));
}

TEST_F(IconLoaderTest, AtMostEightFetchesRunAtOnceAndEveryQueuedOneFinishes) {
    constexpr size_t kIcons = 20;
    constexpr int kDelayMs = 400;
    ASSERT_TRUE(service.addPathFaults("/media/*", "[{\"delayMs\": " + std::to_string(kDelayMs) + ", \"repeat\": -1}]"));
    // Workers hold plain pointers to these records, so they stay for the life of the process.
    std::vector<AppInfo>& apps = *new std::vector<AppInfo>(kIcons);
    for (size_t i = 0; i < kIcons; ++i) {
        apps[i].id = static_cast<int32_t>(200 + i);
        apps[i].icon = L"/media/icons/1.png";
        RequestIcon(catalogue, window.handle(), apps[i], service.base());
    }
    // RequestIcon returned before any answer: the service holds each one for the delay.
    for (const AppInfo& app : apps) EXPECT_EQ(app.iconState.load(), IconStateLoading);

    std::set<WPARAM> announced;
    for (size_t i = 0; i < kIcons; ++i) {
        WPARAM id = 0;
        ASSERT_TRUE(window.waitFor(WM_QB_ICON_READY, kWaitMs, &id)) << i << " of " << kIcons;
        announced.insert(id);
    }
    EXPECT_EQ(announced.size(), kIcons);
    for (const AppInfo& app : apps) EXPECT_EQ(app.iconState.load(), IconStateReady) << app.id;

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
    // A busy machine may start the eighth worker late, never a ninth.
    EXPECT_LE(most, static_cast<int>(kMaxIconWorkers));
    EXPECT_GE(most, 2);
}

}  // namespace
