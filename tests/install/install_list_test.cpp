#include <gtest/gtest.h>

#include <string>

#include "install/install_list.h"
#include "render/install_list_texts.h"

namespace {

AppInfo app(int32_t id, const std::wstring& name, bool hasPackage = true) {
    AppInfo a;
    a.id = id;
    a.name = name;
    a.version = L"9.9";
    a.hasPackage = hasPackage;
    return a;
}

std::string paddedTo(size_t size) {
    std::string text = "{\"apps\":[]}";
    return text + std::string(size - text.size(), ' ');
}

TEST(InstallList, ParsesAListOrNamesItsFirstProblem) {
    struct Case {
        std::string text;
        std::wstring problem;  // empty: parsed
        size_t apps;
    };
    const Case cases[] = {
        {R"({"server":"http://a","channel":"c","apps":[{"id":7,"name":"画图","version":"1.0"}]})", L"", 1},
        {"\xEF\xBB\xBF{\"apps\":[{\"name\":\"甲\"},{\"id\":2147483647,\"name\":\"乙\"}]}", L"", 2},
        {paddedTo(1048576), L"", 0},
        {paddedTo(1048577), L"文件超过 1 MiB，不像是软件清单", 0},
        {"", L"不是有效的 JSON：第 1 行第 1 列有误", 0},
        {"{\n  \"apps\": [\n    {\"name\": \"甲\",}\n  ]\n}", L"不是有效的 JSON：第 3 行第 18 列有误", 0},
        {"\xEF\xBB\xBF{\"画图\" 1}", L"不是有效的 JSON：第 1 行第 7 列有误", 0},  // characters, not bytes
        {"[]", L"清单应是一个 JSON 对象 {…}", 0},
        {R"({"server":1,"apps":[]})", L"清单的“server”应是文本", 0},
        {R"({"channel":null,"apps":[]})", L"清单的“channel”应是文本", 0},
        {R"({"server":"x"})", L"缺少软件列表“apps”", 0},
        {R"({"apps":{}})", L"“apps”应是软件的列表 […]", 0},
        {R"({"apps":[{"name":"甲"},3]})", L"第 2 款软件应是一个对象 {…}", 0},
        {R"({"apps":[{"id":7}]})", L"第 1 款软件缺少名称“name”", 0},
        {R"({"apps":[{"name":" \u3000"}]})", L"第 1 款软件的名称“name”是空的", 0},
        {R"({"apps":[{"name":5}]})", L"第 1 款软件的“name”应是文本", 0},
        {R"({"apps":[{"name":"甲","version":2}]})", L"第 1 款软件的“version”应是文本", 0},
        {R"({"apps":[{"id":0,"name":"甲"}]})", L"第 1 款软件的编号“id”应是正整数", 0},
        {R"({"apps":[{"id":1.5,"name":"甲"}]})", L"第 1 款软件的编号“id”应是正整数", 0},
        {R"({"apps":[{"id":2147483648,"name":"甲"}]})", L"第 1 款软件的编号“id”应是正整数", 0},
        {R"({"apps":[{"id":"7","name":"甲"}]})", L"第 1 款软件的编号“id”应是正整数", 0},
    };
    for (const Case& c : cases) {
        const InstallListParse parsed = parseInstallList(c.text);
        EXPECT_EQ(installListProblemText(parsed.problem), c.problem) << c.text.substr(0, 80);
        EXPECT_EQ(parsed.list.has_value(), c.problem.empty()) << c.text.substr(0, 80);
        EXPECT_EQ(parsed.list ? parsed.list->apps.size() : 0, c.apps) << c.text.substr(0, 80);
    }
}

// The installed catalogue apps in catalogue order, with the installed version, written and read back.
TEST(InstallList, ExportsTheInstalledAppsTheCatalogueKnows) {
    const std::vector<AppInfo> apps = {app(1, L"甲"), app(2, L"乙"), app(3, L"画图 \"Pro\"", false)};
    std::unordered_map<int32_t, InstallStatus> installed;
    installed[3].registration.displayVersion = L"2.0";
    installed[1];  // a registration without a version: the catalogue's
    installed[42].registration.displayVersion = L"1.0";  // not in this catalogue
    const InstallList list = installedAppsList(L"http://127.0.0.1:8080", L"beta", apps, installed);
    const std::string text = formatInstallList(list);
    EXPECT_EQ(text,
              "{\n  \"server\": \"http://127.0.0.1:8080\",\n  \"channel\": \"beta\",\n  \"apps\": [\n"
              "    {\"id\": 1, \"name\": \"甲\", \"version\": \"9.9\"},\n"
              "    {\"id\": 3, \"name\": \"画图 \\\"Pro\\\"\", \"version\": \"2.0\"}\n  ]\n}\n");
    const InstallListParse back = parseInstallList(text);
    ASSERT_TRUE(back.list) << installListProblemText(back.problem);
    EXPECT_EQ(back.list->server, L"http://127.0.0.1:8080");
    EXPECT_EQ(back.list->channel, L"beta");
    ASSERT_EQ(back.list->apps.size(), 2u);
    EXPECT_EQ(back.list->apps[1].id, 3);
    EXPECT_EQ(back.list->apps[1].name, L"画图 \"Pro\"");
    EXPECT_EQ(back.list->apps[1].version, L"2.0");
    EXPECT_EQ(formatInstallList(InstallList{L"s", L"c", {}}),
              "{\n  \"server\": \"s\",\n  \"channel\": \"c\",\n  \"apps\": []\n}\n");
}

TEST(InstallList, MatchesByIdOnTheSameCatalogueAndByNameElsewhere) {
    // 乙 is installed, 丙 has no package, and a second 甲 comes after the first.
    const std::vector<AppInfo> apps = {app(1, L"甲"), app(2, L"乙"), app(3, L"丙", false), app(4, L"丁"), app(5, L"甲")};
    std::unordered_map<int32_t, InstallStatus> installed;
    installed[2];
    struct Case {
        const char* what;
        std::wstring server, channel;
        std::vector<InstallListEntry> entries;
        ListMatch match;
        std::vector<int32_t> install;
        std::vector<std::wstring> noPackage, unknown;
        size_t alreadyInstalled;
    };
    const Case cases[] = {
        {"same catalogue: ids decide, an entry without one goes by name, each app once",
         L"HTTP://Example.test//", L"beta",
         {{4, L"旧名字", L""}, {2, L"乙", L""}, {3, L"丙", L""}, {99, L"甲", L""}, {0, L"甲", L""}, {1, L"甲", L""}},
         ListMatch::ById, {4, 1}, {L"丙"}, {L"甲"}, 1},
        {"another channel: exact names decide, the first app of a name wins",
         L"http://example.test", L"default",
         {{4, L"甲", L""}, {1, L"丁", L""}, {2, L"乙", L""}, {0, L"甲 ", L""}, {0, L"丙", L""}},
         ListMatch::ByName, {1, 4}, {L"丙"}, {L"甲 "}, 1},
        {"another server", L"http://other.test", L"beta", {{2, L"丁", L""}}, ListMatch::ByName, {4}, {}, {}, 0},
    };
    for (const Case& c : cases) {
        const ImportPlan plan = planImport(InstallList{c.server, c.channel, c.entries}, L"http://example.test",
                                           L"beta", apps, installed);
        EXPECT_EQ(plan.match, c.match) << c.what;
        EXPECT_EQ(plan.install, c.install) << c.what;
        EXPECT_EQ(plan.noPackage, c.noPackage) << c.what;
        EXPECT_EQ(plan.unknown, c.unknown) << c.what;
        EXPECT_EQ(plan.alreadyInstalled, c.alreadyInstalled) << c.what;
    }
}

TEST(InstallList, TheQuestionNamesTheAppsTheMatchAndWhatIsSkipped) {
    ImportPlan plan;
    for (int i = 1; i <= 13; ++i) {
        plan.install.push_back(i);
        plan.installNames.push_back(L"应用" + std::to_wstring(i));
    }
    plan.noPackage = {L"丙"};
    plan.unknown = {L"外星", L"火星"};
    plan.alreadyInstalled = 2;
    EXPECT_EQ(importQuestion(plan),
              L"将安装 13 款软件：\n「应用1」、「应用2」、「应用3」、「应用4」、「应用5」、「应用6」、「应用7」、「应用8」、"
              L"「应用9」、「应用10」、「应用11」、「应用12」等 13 款\n\n清单来自当前的服务器，按软件编号匹配。\n"
              L"跳过 1 款暂无安装包的软件：「丙」\n跳过 2 款软件目录中没有的软件：「外星」、「火星」\n已安装的 2 款不再安装。");
    ImportPlan nothing;
    nothing.match = ListMatch::ByName;
    EXPECT_EQ(importQuestion(nothing), L"清单中没有需要安装的软件。\n\n清单来自其他服务器，按软件名称匹配。");
}

}  // namespace
