#include "service/catalogue.h"

#include <psapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>

#include "base/window_messages.h"
#include "config/local_cache.h"
#include "service/bootstrap_cache.h"
#include "json/json.h"
#include "render/problem_texts.h"
#include "service/catalogue_loader.h"
#include "service/catalogue_snapshot.h"
#include "support/message_window.h"
#include "support/service_control.h"
#include "support/test_support.h"

namespace {

using Ids = std::vector<std::wstring>;

AppInfo parseApp(const char* text) {
    const json::ValuePtr value = json::parse(text);
    EXPECT_TRUE(value) << text;
    return value ? parseAppInfo(*value) : AppInfo();
}

// A catalogue whose lists a failed load must leave alone.
Catalogue markedCatalogue() {
    Catalogue catalogue;
    catalogue.categories.push_back({L"old", L"旧分类"});
    catalogue.apps.push_back(parseApp(R"({"id": 99, "name": "旧应用"})"));
    return catalogue;
}

// {"data": {"categories": [...], "apps": [...]}} with `categories` empty categories and `apps` apps,
// lean ones (id, name, one category, hasPackage) or empty objects.
std::string bootstrapOf(size_t categories, size_t apps, bool lean) {
    std::string body = R"({"code": 0, "data": {"categories": [)";
    for (size_t i = 0; i < categories; ++i) body += i ? ",{}" : "{}";
    body += R"(], "apps": [)";
    for (size_t i = 1; i <= apps; ++i) {
        if (i > 1) body += ',';
        if (!lean) {
            body += "{}";
            continue;
        }
        const std::string id = std::to_string(i);
        body += R"({"id": )" + id + R"(, "name": "应用)" + id + R"(", "categoryIds": ["c0"], "hasPackage": true})";
    }
    return body + "]}}";
}

struct MemoryFigures {
    uint64_t workingSet = 0;
    uint64_t peakWorkingSet = 0;
    uint64_t pagefile = 0;
    uint64_t peakPagefile = 0;
};

MemoryFigures processMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    MemoryFigures figures;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
        figures.workingSet = counters.WorkingSetSize;
        figures.peakWorkingSet = counters.PeakWorkingSetSize;
        figures.pagefile = counters.PagefileUsage;
        figures.peakPagefile = counters.PeakPagefileUsage;
    }
    return figures;
}

// How far a peak counter rose above the current usage measured before: at least the real growth.
// Windows keeps a true peak of both counters; Wine 8 only of the working set (its PeakPagefileUsage
// is the current PagefileUsage), so the larger of the two is taken.
uint64_t peakGrowth(const MemoryFigures& before, const MemoryFigures& after) {
    auto rise = [](uint64_t peak, uint64_t base) { return peak > base ? peak - base : 0; };
    return std::max(rise(after.peakWorkingSet, before.workingSet), rise(after.peakPagefile, before.pagefile));
}

void expectMarked(const Catalogue& catalogue) {
    ASSERT_EQ(catalogue.categories.size(), 1u);
    EXPECT_EQ(catalogue.categories[0].id, L"old");
    ASSERT_EQ(catalogue.apps.size(), 1u);
    EXPECT_EQ(catalogue.apps[0].id, 99);
    EXPECT_EQ(catalogue.apps[0].name, L"旧应用");
}

TEST(NormalizeVersionTest, KeepsMajorAndMinorDigits) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"V 2.10.3 beta", L"2.10"}, {L"1,0", L"1.0"},   {L"2024.1.1", L"2024.1"}, {L"build 7", L"7"},
        {L"..3", L"3"},              {L"1. 2", L"1.2"},  {L"beta", L""},           {L"", L""},
        {L"3.", L"3"},               {L"1..2", L"1.2"},  {L"v1.2-rc3", L"1.23"},   {L"10 , 4", L"10.4"},
        {L"1.2.", L"1.2"},           {L"7.0.0.0", L"7.0"}, {L"版本 5.1", L"5.1"},
    };
    for (const auto& c : cases) EXPECT_EQ(normalizeVersion(c.first), c.second) << c.first;
}

// Every field is read, and comes along when growing the list moves the records.
TEST(ParseAppInfoTest, ReadsEveryFieldOfAFullRecordAndKeepsThemWhileTheListGrows) {
    std::vector<AppInfo> apps;
    apps.push_back(parseApp(R"({"id": 7, "name": "画图工具", "version": "V 3.2.1", "categoryIds": ["design", "common"],
        "description": "好用", "icon": "/media/icons/7.png", "packageSize": 123456789012, "md5":
        "0123456789abcdef0123456789abcdef", "sha256": "00ff", "hasPackage": true, "downloads": 5000000000,
        "updatedAt": 1733616000000, "mirrors": ["https://m.example/a.exe", 5, "/r.exe"], "extra": {"ignored": 1}})"));
    for (int i = 0; i < 100; ++i) apps.push_back(AppInfo());
    const AppInfo app = std::move(apps[0]);
    EXPECT_EQ(app.id, 7);
    EXPECT_EQ(app.name, L"画图工具");
    EXPECT_EQ(app.version, L"3.2");
    EXPECT_EQ(app.categoryIds, (Ids{L"design", L"common"}));
    EXPECT_EQ(app.description, L"好用");
    EXPECT_EQ(app.icon, L"/media/icons/7.png");
    EXPECT_EQ(app.packageSize, 123456789012);
    EXPECT_EQ(app.md5, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(app.sha256, "00ff");
    EXPECT_TRUE(app.hasPackage);
    EXPECT_EQ(app.downloads, 5000000000);
    EXPECT_EQ(app.updatedAt, 1733616000000);
    EXPECT_EQ(app.mirrors, (std::vector<std::string>{"https://m.example/a.exe", "/r.exe"}));
}

TEST(ParseAppInfoTest, FallsBackToDefaultsForValuesOfTheWrongKind) {
    struct Case {
        const char* json;
        int32_t id;
        int64_t packageSize;
        bool hasPackage;
        const char* md5;
    };
    const Case cases[] = {
        {R"({"id": "12"})", 0, 0, false, ""},
        {R"({"id": 12.9})", 12, 0, false, ""},
        {R"({"id": -3.7})", -3, 0, false, ""},
        {R"({"packageSize": "1024"})", 0, 0, false, ""},
        {R"({"packageSize": 1024.5, "hasPackage": "true"})", 0, 1024, false, ""},
        {R"({"md5": 5, "hasPackage": 1})", 0, 0, false, ""},
        {R"({"name": 3, "version": 2.5, "icon": null})", 0, 0, false, ""},
        {R"([1, 2, 3])", 0, 0, false, ""},
        {R"("just text")", 0, 0, false, ""},
    };
    for (const Case& c : cases) {
        const AppInfo app = parseApp(c.json);
        EXPECT_EQ(app.id, c.id) << c.json;
        EXPECT_EQ(app.packageSize, c.packageSize) << c.json;
        EXPECT_EQ(app.hasPackage, c.hasPackage) << c.json;
        EXPECT_EQ(app.md5, c.md5) << c.json;
        EXPECT_TRUE(app.name.empty() && app.version.empty() && app.icon.empty()) << c.json;
    }
}

TEST(ParseAppInfoTest, TakesStringCategoryIdsAndFallsBackToCategoryId) {
    const std::pair<const char*, Ids> cases[] = {
        {R"({"categoryIds": ["a", 3, "", "b"], "categoryId": "z"})", {L"a", L"b"}},
        {R"({"categoryIds": [], "categoryId": "z"})", {L"z"}},
        {R"({"categoryIds": [3, ""], "categoryId": "z"})", {L"z"}},
        {R"({"categoryIds": "a", "categoryId": "z"})", {L"z"}},
        {R"({"categoryIds": {"x": "a"}})", {}},
        {R"({"categoryId": "z"})", {L"z"}},
        {R"({"categoryId": 5})", {}},
        {R"({"categoryId": ""})", {}},
        {R"({})", {}},
        {R"({"categoryIds": ["聊天", "chat"]})", {L"聊天", L"chat"}},
    };
    for (const auto& c : cases) EXPECT_EQ(parseApp(c.first).categoryIds, c.second) << c.first;
}

TEST(CatalogueSnapshotTest, GivesBackEveryFieldAndRefusesAnythingDamagedOrOfAnotherBody) {
    Catalogue lists;
    lists.categories = {{L"c0", L"办公"}, {L"", L""}};
    lists.apps.push_back(parseApp(R"({"id": -7, "name": "山龙", "version": "1.2 正式版", "categoryIds": ["c0", "x"],
        "description": "描述", "icon": "/i.png", "packageSize": 9007199254740993, "md5": "ab", "sha256": "cd",
        "hasPackage": true, "downloads": -1, "updatedAt": 1728246942000, "mirrors": ["http://m/1", "https://n/2"],
        "silentArgs": "", "publisher": "山龙软件"})"));
    lists.apps.push_back(AppInfo());
    const std::string bytes = catalogueSnapshotBytes(lists, 42);

    const std::unique_ptr<Catalogue> back = readCatalogueSnapshot(bytes.data(), bytes.size(), 42);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->categories.size(), 2u);
    EXPECT_EQ(back->categories[0].name, L"办公");
    ASSERT_EQ(back->apps.size(), 2u);
    const AppInfo& a = back->apps[0];
    const AppInfo& b = lists.apps[0];
    EXPECT_EQ(std::tie(a.id, a.name, a.version, a.categoryIds, a.description, a.icon, a.packageSize, a.md5, a.sha256,
                       a.hasPackage, a.downloads, a.updatedAt, a.mirrors, a.silentArgs, a.publisher),
              std::tie(b.id, b.name, b.version, b.categoryIds, b.description, b.icon, b.packageSize, b.md5, b.sha256,
                       b.hasPackage, b.downloads, b.updatedAt, b.mirrors, b.silentArgs, b.publisher));
    EXPECT_TRUE(back->apps[1].name.empty() && back->apps[1].categoryIds.empty() && !back->apps[1].silentArgs);

    std::string flipped = bytes;
    flipped[bytes.size() / 2] ^= 0x20;
    std::string longer = bytes + '\0';
    const struct {
        const char* what;
        std::string bytes;
        uint64_t body;
    } damaged[] = {
        {"another body", bytes, 43},
        {"a flipped byte", flipped, 42},
        {"cut short", bytes.substr(0, bytes.size() - 1), 42},
        {"one byte more", longer, 42},
        {"header only", bytes.substr(0, 32), 42},
        {"empty", std::string(), 42},
    };
    for (const auto& d : damaged) EXPECT_FALSE(readCatalogueSnapshot(d.bytes.data(), d.bytes.size(), d.body)) << d.what;
}

class CatalogueLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.available()) << "QB_TEST_SERVER is not set";
        ASSERT_TRUE(service.reset());
        cacheFolder = qbtest::makeScratchDir(L"catalogue-cache");
        cache::setFolder(cacheFolder);
    }
    void TearDown() override {
        cache::setFolder(std::wstring());
        qbtest::removeTree(cacheFolder);
    }

    // Runs one load on its thread and collects the steps it posts until it is over; adopts into shown
    // once at the end.
    std::vector<WPARAM> loadInto(Catalogue& shown, const std::wstring& server, CatalogueAdoption* outcome,
                                 const std::wstring& channel = L"default") {
        qbtest::MessageWindow window;
        std::vector<WPARAM> steps;
        if (!startCatalogueLoadThread(server, window.handle(), channel)) return steps;
        WPARAM step = 0;
        while (window.waitFor(WM_QB_CATALOGUE_LOADED, 60000, &step)) {
            steps.push_back(step);
            if (step != CatalogueLoadCached) break;
        }
        *outcome = adoptLoadedCatalogue(shown);
        return steps;
    }

    bool scriptBootstrap(const std::string& faults) { return service.addPathFaults("/api/client/bootstrap", faults); }
    bool scriptBootstrapBody(const std::string& body) {
        return scriptBootstrap("[{\"body\": " + qbtest::ServiceControl::quoted(body) +
                               ", \"contentType\": \"application/json\"}]");
    }

    qbtest::ServiceControl service;
    std::wstring cacheFolder;
};

// Runs before the large loads below: a peak they left behind would count against this load.
TEST_F(CatalogueLoadTest, AnEightMebibyteBodyOfEmptyAppsFailsInBoundedMemory) {
    constexpr size_t kBodyBytes = 8388608;  // the largest answer the client reads
    std::string body = R"({"data":{"apps":[)";
    while (body.size() + 3 + 4 <= kBodyBytes) body += "{},";
    body += "{}]}}";
    body.resize(kBodyBytes, ' ');
    ASSERT_TRUE(scriptBootstrapBody(body));
    body = std::string();

    const MemoryFigures before = processMemory();
    ASSERT_GT(before.workingSet, 0u);
    Catalogue catalogue = markedCatalogue();
    EXPECT_FALSE(catalogue.loadBootstrap(service.base()));
    const uint64_t growth = peakGrowth(before, processMemory());
    EXPECT_LT(growth, 256u << 20) << "peak grew by " << (growth >> 20) << " MiB";
    EXPECT_EQ(catalogueErrorText(catalogue.lastError), L"数据格式错误");
    expectMarked(catalogue);
    std::printf("hostile bootstrap: peak memory grew by %.1f MiB\n", static_cast<double>(growth) / 1048576.0);
}

TEST_F(CatalogueLoadTest, LoadsAtMost100000AppsAnd1000Categories) {
    struct Case {
        size_t categories;
        size_t apps;
        bool lean;
        const wchar_t* error;  // null: the load succeeds
    };
    const Case cases[] = {
        {1000, 0, false, nullptr},
        {1001, 0, false, L"分类数量超出上限"},
        {0, 100000, true, nullptr},  // 600 008 values in 7.6 MiB
        {0, 100001, false, L"应用数量超出上限"},
        {1001, 100001, false, L"分类数量超出上限"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.categories) + " categories, " + std::to_string(c.apps) + " apps");
        ASSERT_TRUE(service.reset());
        ASSERT_TRUE(scriptBootstrapBody(bootstrapOf(c.categories, c.apps, c.lean)));
        Catalogue catalogue = markedCatalogue();
        const bool loaded = catalogue.loadBootstrap(service.base());
        if (c.error) {
            EXPECT_FALSE(loaded);
            EXPECT_EQ(catalogueErrorText(catalogue.lastError), c.error);
            expectMarked(catalogue);
            continue;
        }
        ASSERT_TRUE(loaded) << catalogueErrorText(catalogue.lastError);
        EXPECT_EQ(catalogue.categories.size(), c.categories);
        ASSERT_EQ(catalogue.apps.size(), c.apps);
        if (c.apps > 0) {
            EXPECT_EQ(catalogue.apps.back().id, static_cast<int32_t>(c.apps));
            EXPECT_EQ(catalogue.apps.back().name, L"应用" + std::to_wstring(c.apps));
            EXPECT_EQ(catalogue.apps.back().categoryIds, Ids{L"c0"});
        }
    }
}

TEST_F(CatalogueLoadTest, LoadsTheServedCatalogue) {
    Catalogue catalogue = markedCatalogue();
    catalogue.lastError.fault = CatalogueFault::BadData;
    ASSERT_TRUE(catalogue.loadBootstrap(service.base()));
    EXPECT_EQ(catalogue.lastError.fault, CatalogueFault::None);
    ASSERT_EQ(catalogue.categories.size(), 2u);
    EXPECT_EQ(catalogue.categories[0].id, L"tools");
    EXPECT_EQ(catalogue.categories[0].name, L"系统工具");
    EXPECT_EQ(catalogue.categories[1].id, L"archive");
    ASSERT_EQ(catalogue.apps.size(), 12u);

    const AppInfo* small = catalogue.findApp(1);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small, &catalogue.apps[0]);
    EXPECT_EQ(small->name, L"小型安装包");
    EXPECT_EQ(small->version, L"1.1");
    EXPECT_EQ(small->categoryIds, Ids{L"tools"});
    EXPECT_EQ(small->packageSize, 100 * 1024);
    EXPECT_EQ(small->md5.size(), 32u);
    EXPECT_EQ(small->sha256.size(), 64u);  // the service serves both digests
    EXPECT_TRUE(small->hasPackage);
    EXPECT_EQ(small->icon, L"/media/icons/1.png");
    EXPECT_EQ(small->updatedAt, 1733616000000);

    const AppInfo* none = catalogue.findApp(10);
    ASSERT_NE(none, nullptr);
    EXPECT_FALSE(none->hasPackage);
    EXPECT_TRUE(none->icon.empty());
    EXPECT_EQ(catalogue.findApp(99), nullptr);
}

TEST_F(CatalogueLoadTest, ReadsOddlyShapedAnswersLeniently) {
    struct Case {
        const char* body;
        std::vector<std::pair<std::wstring, std::wstring>> categories;
        std::vector<int32_t> appIds;
    };
    const Case cases[] = {
        {R"({"data": {}})", {}, {}},
        {R"({"code": 0, "data": []})", {}, {}},
        {R"({"data": {"categories": {"id": "a"}, "apps": "none"}})", {}, {}},
        {R"({"data": {"categories": [{"id": 5, "name": "五"}, 7, {"id": "a", "name": "甲"}, {}]}})",
         {{L"", L"五"}, {L"", L""}, {L"a", L"甲"}, {L"", L""}},
         {}},
        {R"({"data": {"apps": [{"id": "12"}, {"id": 12.9}, 3, {"id": 4, "packageSize": "1024"}]}})",
         {},
         {0, 12, 0, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        ASSERT_TRUE(scriptBootstrapBody(c.body));
        Catalogue catalogue = markedCatalogue();
        ASSERT_TRUE(catalogue.loadBootstrap(service.base())) << catalogueErrorText(catalogue.lastError);
        EXPECT_EQ(catalogue.lastError.fault, CatalogueFault::None);
        ASSERT_EQ(catalogue.categories.size(), c.categories.size());
        for (size_t i = 0; i < c.categories.size(); ++i) {
            EXPECT_EQ(catalogue.categories[i].id, c.categories[i].first);
            EXPECT_EQ(catalogue.categories[i].name, c.categories[i].second);
        }
        ASSERT_EQ(catalogue.apps.size(), c.appIds.size());
        for (size_t i = 0; i < c.appIds.size(); ++i) {
            EXPECT_EQ(catalogue.apps[i].id, c.appIds[i]);
            EXPECT_EQ(catalogue.apps[i].packageSize, 0);
        }
    }
}

TEST_F(CatalogueLoadTest, AFailedLoadKeepsThePreviousLists) {
    struct Case {
        std::string faults;  // empty: the server is unreachable
        const wchar_t* error;
    };
    auto body = [](const char* text) {
        return "[{\"body\": " + qbtest::ServiceControl::quoted(text) + ", \"contentType\": \"application/json\"}]";
    };
    const Case cases[] = {
        {body(R"({"code": 0})"), L"数据格式错误"},
        {body("not json at all"), L"数据格式错误"},
        {body(R"({"data": {"apps": [)"), L"数据格式错误"},
        {body(""), L"数据格式错误"},
        {body("null"), L"数据格式错误"},
        {R"([{"status": 500}])", L"HTTP 500"},
        {R"([{"status": 404}])", L"HTTP 404"},
        {R"([{"redirect": "/api/client/bootstrap"}])", L"重定向死循环"},
        {"", L"请求发送失败 (winhttp 12029)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        std::wstring server = L"http://127.0.0.1:1";
        if (!c.faults.empty()) {
            ASSERT_TRUE(scriptBootstrap(c.faults));
            server = service.base();
        }
        Catalogue catalogue = markedCatalogue();
        EXPECT_FALSE(catalogue.loadBootstrap(server));
        EXPECT_EQ(catalogueErrorText(catalogue.lastError), c.error);
        expectMarked(catalogue);
    }
}

TEST_F(CatalogueLoadTest, TheLoadThreadHandsItsResultToTheMainThread) {
    qbtest::MessageWindow window;
    ASSERT_NE(window.handle(), nullptr);

    Catalogue shown = markedCatalogue();
    ASSERT_TRUE(startCatalogueLoadThread(L"http://127.0.0.1:1", window.handle()));
    WPARAM succeeded = 99;
    ASSERT_TRUE(window.waitFor(WM_QB_CATALOGUE_LOADED, 60000, &succeeded));
    EXPECT_EQ(succeeded, 0u);
    const CatalogueAdoption failed = adoptLoadedCatalogue(shown);
    EXPECT_TRUE(failed.pending && failed.finished && failed.failed && !failed.replaced);
    EXPECT_EQ(catalogueErrorText(shown.lastError), L"请求发送失败 (winhttp 12029)");
    expectMarked(shown);
    EXPECT_FALSE(adoptLoadedCatalogue(shown).pending);

    ASSERT_TRUE(startCatalogueLoadThread(service.base(), window.handle()));
    ASSERT_TRUE(window.waitFor(WM_QB_CATALOGUE_LOADED, 60000, &succeeded));
    EXPECT_EQ(succeeded, 1u);
    EXPECT_TRUE(adoptLoadedCatalogue(shown).replaced);
    EXPECT_EQ(shown.lastError.fault, CatalogueFault::None);
    EXPECT_EQ(shown.categories.size(), 2u);
    EXPECT_EQ(shown.apps.size(), 12u);
}

TEST_F(CatalogueLoadTest, AStartShowsTheCachedCatalogueAndRefreshesItWithoutItsBodyWhenUnchanged) {
    Catalogue shown;
    CatalogueAdoption outcome;
    EXPECT_EQ(loadInto(shown, service.base(), &outcome), std::vector<WPARAM>{CatalogueLoadFresh});
    ASSERT_EQ(shown.apps.size(), 12u);
    const std::optional<CachedBootstrap> stored = readCachedBootstrap();
    ASSERT_TRUE(stored);
    EXPECT_FALSE(stored->stamp.etag.empty());
    EXPECT_FALSE(stored->stamp.lastModified.empty());

    // Unchanged: the cached lists at once, then a 304 that sends no body and replaces nothing.
    ASSERT_TRUE(service.resetLog());
    Catalogue again;
    EXPECT_EQ(loadInto(again, service.base(), &outcome),
              (std::vector<WPARAM>{CatalogueLoadCached, CatalogueLoadUnchanged}));
    EXPECT_TRUE(outcome.replaced && outcome.finished && !outcome.failed && !outcome.offline && outcome.confirmed);
    EXPECT_EQ(again.apps.size(), 12u);
    EXPECT_EQ(again.generation, 1u);
    const std::vector<qbtest::LoggedRequest> requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].status, 304);
    EXPECT_EQ(requests[0].bytes, 0);

    // The records come from their snapshot, not from the JSON copy; a damaged snapshot is replaced
    // from the JSON copy.
    const std::optional<StoredStamp> stamp = readBootstrapStamp();
    ASSERT_TRUE(stamp && readCachedCatalogue(*stamp));
    std::string snapshot = cache::read(L"catalogue.bin", 1 << 20).value_or(std::string());
    ASSERT_GT(snapshot.size(), 64u);
    snapshot[40] ^= 1;
    ASSERT_TRUE(cache::write(L"catalogue.bin", snapshot));
    EXPECT_EQ(loadInto(again, service.base(), &outcome),
              (std::vector<WPARAM>{CatalogueLoadCached, CatalogueLoadUnchanged}));
    EXPECT_EQ(again.apps.size(), 12u);
    EXPECT_TRUE(readCachedCatalogue(*stamp));
    // A 304 confirms the copy only while its body matches the SHA-256 beside it: a changed body, or
    // a side file naming another digest, is dropped and the whole catalogue asked for again.
    const std::string body = stored->body;
    BootstrapStamp otherDigest = stored->stamp;
    otherDigest.bodySha256[0] = otherDigest.bodySha256[0] == '0' ? '1' : '0';
    for (const auto& [file, text] : {std::pair{L"bootstrap.json", std::string(body.size(), ' ')},
                                     std::pair{L"bootstrap.stamp.json", bootstrapStampText(otherDigest, body.size())}}) {
        ASSERT_TRUE(cache::write(file, text));
        ASSERT_TRUE(service.resetLog());
        EXPECT_EQ(loadInto(again, service.base(), &outcome), (std::vector<WPARAM>{CatalogueLoadCached, CatalogueLoadFresh}));
        EXPECT_TRUE(outcome.confirmed);
        EXPECT_EQ(service.requests().size() == 2 ? service.requests()[1].status : 0, 200);
        EXPECT_EQ(again.apps.size(), 12u);
        EXPECT_EQ(readCachedBootstrap().value_or(CachedBootstrap()).body, body);
    }

    // The service failing: the cached lists stay, marked offline with the time the service last confirmed them.
    ASSERT_TRUE(scriptBootstrap(R"([{"status": 500}])"));
    EXPECT_EQ(loadInto(again, service.base(), &outcome),
              (std::vector<WPARAM>{CatalogueLoadCached, CatalogueLoadOffline}));
    EXPECT_TRUE(outcome.offline && !outcome.failed && !outcome.confirmed);
    EXPECT_EQ(again.apps.size(), 12u);
    EXPECT_GE(outcome.confirmedAtMs, stored->stamp.confirmedAtMs);
    EXPECT_GT(outcome.confirmedAtMs, 0);

    // Changed: the fresh catalogue replaces the cached one, and the cache with it.
    ASSERT_TRUE(scriptBootstrapBody(R"({"data": {"categories": [{"id": "n", "name": "新"}], "apps": [{"id": 7}]}})"));
    EXPECT_EQ(loadInto(again, service.base(), &outcome),
              (std::vector<WPARAM>{CatalogueLoadCached, CatalogueLoadFresh}));
    ASSERT_EQ(again.apps.size(), 1u);
    EXPECT_EQ(again.apps[0].id, 7);
    EXPECT_NE(readCachedBootstrap().value_or(CachedBootstrap()).body.find("\"n\""), std::string::npos);
    // Another server's or channel's copy is never shown as that one's, nor named to it (an answer 200, not 304).
    EXPECT_EQ(loadInto(again, L"http://127.0.0.1:1", &outcome), std::vector<WPARAM>{CatalogueLoadFailed});
    ASSERT_TRUE(service.resetLog());
    EXPECT_EQ(loadInto(again, service.base(), &outcome, L"beta"), std::vector<WPARAM>{CatalogueLoadFresh});
    EXPECT_EQ(service.requests().size() == 1 ? service.requests()[0].status : 0, 200);
}

TEST_F(CatalogueLoadTest, ACorruptCacheIsDroppedAndTheFreshCatalogueReplacesIt) {
    const std::string good = bootstrapOf(1, 3, true);
    struct Case {
        const char* what;
        std::string body;
        std::string stamp;  // empty: no side file
    };
    const Case cases[] = {
        {"not JSON", "{\"data\": {\"apps\": [", bootstrapStampText({}, 13)},
        {"cut short", good.substr(0, good.size() / 2), bootstrapStampText({}, good.size())},
        {"no side file", good, ""},
        {"side file not JSON", good, "{\"bytes\": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(cache::write(L"bootstrap.json", c.body));
        if (!c.stamp.empty()) {
            ASSERT_TRUE(cache::write(L"bootstrap.stamp.json", c.stamp));
        }
        Catalogue shown;
        CatalogueAdoption outcome;
        EXPECT_EQ(loadInto(shown, service.base(), &outcome), std::vector<WPARAM>{CatalogueLoadFresh});
        EXPECT_EQ(shown.apps.size(), 12u);
        const std::optional<CachedBootstrap> stored = readCachedBootstrap();
        ASSERT_TRUE(stored);
        Catalogue reread;
        EXPECT_TRUE(reread.parseBootstrap(stored->body));
        EXPECT_EQ(reread.apps.size(), 12u);
        forgetCachedBootstrap();
    }
    // A broken cache with the service away: the connection-failed screen, and the file is gone.
    ASSERT_TRUE(cache::write(L"bootstrap.json", "{\"data\""));
    BootstrapStamp away;
    away.source = bootstrapSource(L"http://127.0.0.1:1", L"default");
    ASSERT_TRUE(cache::write(L"bootstrap.stamp.json", bootstrapStampText(away, 7)));  // consistent, but no JSON
    Catalogue shown;
    CatalogueAdoption outcome;
    EXPECT_EQ(loadInto(shown, L"http://127.0.0.1:1", &outcome), std::vector<WPARAM>{CatalogueLoadFailed});
    EXPECT_TRUE(outcome.failed);
    EXPECT_FALSE(cache::read(L"bootstrap.json", 100));
}

}  // namespace
