#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "config/config.h"
#include "config/local_cache.h"
#include "json/json.h"
#include "support/test_support.h"

namespace {

TEST(ConfigParse, CleansValuesAndKeepsDefaultsForBadData) {
    struct Case {
        std::string file;
        std::wstring server, channel, downloadDir;
    };
    const std::wstring S = kDefaultServer;
    const Case cases[] = {
        {"", S, L"default", L""},
        {"not json", S, L"default", L""},
        {"[1,2]", S, L"default", L""},
        {"{\"server\":\"http://h:8080///\"}", L"http://h:8080", L"default", L""},
        {"{\"server\":\"///\"}", S, L"default", L""},
        {"{\"server\":5,\"channel\":true,\"downloadDir\":null}", S, L"default", L""},
        {"{\"channel\":\"\"}", S, L"default", L""},
        {"{\"channel\":\" beta \"}", S, L" beta ", L""},
        {"{\"downloadDir\":\"D:\\\\Soft\\\\\\\\\"}", S, L"default", L"D:\\Soft"},
        {"{\"downloadDir\":\"C:\\\\\"}", S, L"default", L""},
        {"{\"downloadDir\":\"D:/x/\"}", S, L"default", L"D:/x"},
        {"{\"downloadDir\":\"abc\"}", S, L"default", L""},  // relative: it would follow the current folder
        {"{\"downloadDir\":\"D:abc\"}", S, L"default", L""},
        {"{\"downloadDir\":\"\\\\\\\\nas\\\\soft\"}", S, L"default", L"\\\\nas\\soft"},
        {"\xEF\xBB\xBF{\"channel\":\"bom\"}", S, L"bom", L""},
        {"{\"channel\":\"a\",\"channel\":\"b\"}", S, L"a", L""},
        {"{\"downloadDir\":\"D:\\\\下载\",\"server\":\"https://例子.cn/\",\"x\":{}}", L"https://例子.cn", L"default",
         L"D:\\下载"},
    };
    for (const Case& c : cases) {
        const AppConfig config = parseConfigText(c.file);
        EXPECT_EQ(config.server, c.server) << c.file;
        EXPECT_EQ(config.channel, c.channel) << c.file;
        EXPECT_EQ(config.downloadDir, c.downloadDir) << c.file;
    }
}

TEST(ConfigParse, ConnectionsStayBetweenOneAndEightAndTheSpeedCapIsAWholeCount) {
    const struct {
        const char* file;
        int connections;
        int speedLimit = 0;
        int checkHours = 6;
    } cases[] = {
        {"", 4}, {"{}", 4}, {"{\"connectionsPerDownload\":1}", 1}, {"{\"connectionsPerDownload\":8}", 8},
        {"{\"connectionsPerDownload\":9}", 8}, {"{\"connectionsPerDownload\":0}", 1},
        {"{\"connectionsPerDownload\":-3}", 1}, {"{\"connectionsPerDownload\":2.9}", 2},
        {"{\"connectionsPerDownload\":1e300}", 8}, {"{\"connectionsPerDownload\":\"6\"}", 4},
        {"{\"connectionsPerDownload\":null}", 4}, {"{\"connectionsPerDownload\":true}", 4},
        {"{\"speedLimitKBps\":2000}", 4, 2000}, {"{\"speedLimitKBps\":2.9}", 4, 2},
        {"{\"speedLimitKBps\":0.5}", 4, 0},     {"{\"speedLimitKBps\":-100}", 4, 0},
        {"{\"speedLimitKBps\":1e300}", 4, 1048576}, {"{\"speedLimitKBps\":\"100\"}", 4, 0},
        {"{\"updateCheckHours\":0}", 4, 0, 1},  {"{\"updateCheckHours\":1000}", 4, 0, 168},
        {"{\"updateCheckHours\":\"2\"}", 4, 0, 6},
        {"{\"connectionsPerDownload\":-nan, \"updateCheckHours\":-nan}", 1, 0, 1},  // hand-edited
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseConfigText(c.file).connectionsPerDownload, c.connections) << c.file;
        EXPECT_EQ(parseConfigText(c.file).speedLimitKBps, c.speedLimit) << c.file;
        EXPECT_EQ(parseConfigText(c.file).updateCheckHours, c.checkHours) << c.file;
    }
}

// The proxy setting: "system", "none" or a "host:port" kept as read; anything else is the system's.
TEST(ConfigParse, TakesAProxyOnlyAsSystemNoneOrAValidHostAndPort) {
    const struct {
        const char* value;
        const wchar_t* kept;
    } cases[] = {
        {"none", L"none"},
        {"system", L"system"},
        {"NONE", L"system"},
        {"proxy.corp:3128", L"proxy.corp:3128"},
        {" 10.0.0.1:8080 ", L"10.0.0.1:8080"},
        {"[::1]:3128", L"[::1]:3128"},
        {"h:1", L"h:1"},
        {"h:65535", L"h:65535"},
        {"h:65536", L"system"},
        {"h:0", L"system"},
        {"h:080", L"h:80"},
        {"h:", L"system"},
        {":80", L"system"},
        {"h", L"system"},
        {"h:8080x", L"system"},
        {"http://h:80", L"system"},
        {"user@h:80", L"system"},
        {"a b:80", L"system"},
        {".h:80", L"system"},
        {"::1:80", L"system"},
        {"[::1:80", L"system"},
        {"h:1234567", L"system"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseConfigText(std::string("{\"proxy\":\"") + c.value + "\"}").proxy, c.kept) << c.value;
    }
    EXPECT_EQ(parseConfigText("{\"proxy\":3128}").proxy, L"system");
    EXPECT_EQ(parseConfigText("{}").proxy, L"system");
}

TEST(ConfigWrite, WritesTheExactFormat) {
    AppConfig config;
    config.downloadDir = L"C:\\Apps";
    config.connectionsPerDownload = 6;
    config.silentInstall = false;
    config.speedLimitKBps = 2000;
    config.closeToTray = config.autoUpdate = true;
    config.updateCheckHours = 24;
    config.autoUpdateIdleMinutes = 0;
    const AppConfig back = parseConfigText(configFileText(config));
    EXPECT_TRUE(!back.silentInstall && back.closeToTray && back.autoUpdate && !back.checkOnMetered);
    EXPECT_EQ(back.updateCheckHours * 100 + back.autoUpdateIdleMinutes, 2400);
    EXPECT_EQ(configFileText(config), "{\n  \"server\": \"https://api.quillbox.app\",\n  \"channel\": \"default\",\n"
                                      "  \"downloadDir\": \"C:\\\\Apps\",\n  \"connectionsPerDownload\": 6,\n"
                                      "  \"silentInstall\": false,\n  \"speedLimitKBps\": 2000,\n  \"closeToTray\": true,\n"
                                      "  \"updateCheckHours\": 24,\n  \"checkOnMetered\": false,\n  \"autoUpdate\": true,\n"
                                      "  \"autoUpdateIdleMinutes\": 0,\n  \"proxy\": \"system\"\n}\n");
    config = AppConfig();
    EXPECT_EQ(configFileText(config), "{\n  \"server\": \"https://api.quillbox.app\",\n  \"channel\": \"default\",\n"
                                      "  \"downloadDir\": \"\",\n  \"connectionsPerDownload\": 4,\n"
                                      "  \"silentInstall\": true,\n  \"speedLimitKBps\": 0,\n  \"closeToTray\": false,\n"
                                      "  \"updateCheckHours\": 6,\n  \"checkOnMetered\": false,\n  \"autoUpdate\": false,\n"
                                      "  \"autoUpdateIdleMinutes\": 5,\n  \"proxy\": \"system\"\n}\n");
}

TEST(ConfigWrite, HostileValuesRoundTrip) {
    AppConfig config;
    config.server = L"http://127.0.0.1:1/\"quoted\"\\";
    config.channel = L"渠道\t\"x\"\\y\n";
    config.downloadDir = L"D:\\My \"Files\"\\下载";
    config.connectionsPerDownload = 1;
    const std::string text = configFileText(config);
    ASSERT_NE(json::parse(text), nullptr);
    const AppConfig back = parseConfigText(text);
    EXPECT_EQ(back.server, config.server);
    EXPECT_EQ(back.channel, config.channel);
    EXPECT_EQ(back.downloadDir, config.downloadDir);
    EXPECT_EQ(back.connectionsPerDownload, 1);
}

// Uses the real file in this Wine prefix's roaming folder and restores whatever was there.
class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = configFilePath();
        hadFile_ = readWholeFile(path_, saved_);
        beside_ = qbtest::exeFolder() + L"\\config.json";
        ::DeleteFileW(path_.c_str());
        ::DeleteFileW(beside_.c_str());
    }
    void TearDown() override {
        ::DeleteFileW(beside_.c_str());
        if (hadFile_)
            qbtest::writeFileBytes(path_, saved_);
        else
            ::DeleteFileW(path_.c_str());
    }
    std::wstring path_, beside_;
    std::string saved_;
    bool hadFile_ = false;
};

TEST_F(ConfigFile, PathIsInTheRoamingFolderUnderTidewell) {
    const size_t n = path_.size();
    ASSERT_GT(n, 21u);
    EXPECT_EQ(path_.substr(n - 21), L"\\Tidewell\\config.json");
    const DWORD attributes = ::GetFileAttributesW(path_.substr(0, n - 12).c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(ConfigFile, MissingFilesGiveDefaults) {
    const AppConfig config = loadConfig();
    EXPECT_EQ(config.server, kDefaultServer);
    EXPECT_EQ(config.channel, L"default");
    EXPECT_TRUE(config.downloadDir.empty());
}

TEST_F(ConfigFile, SaveThenLoadGivesTheSameSettings) {
    AppConfig config;
    config.server = L"http://127.0.0.1:8080";
    config.channel = L"beta \"1\"";
    config.downloadDir = L"E:\\下载\\Quillbox";
    ASSERT_TRUE(saveConfig(config));
    EXPECT_EQ(qbtest::readFileBytes(path_), configFileText(config));
    const AppConfig back = loadConfig();
    EXPECT_EQ(back.server, config.server);
    EXPECT_EQ(back.channel, config.channel);
    EXPECT_EQ(back.downloadDir, config.downloadDir);
}

TEST_F(ConfigFile, FallsBackToTheFileBesideTheProgramWithoutWritingIt) {
    ASSERT_TRUE(qbtest::writeFileBytes(beside_, "{\"server\":\"http://beside:1/\",\"channel\":\"side\"}"));
    AppConfig config = loadConfig();
    EXPECT_EQ(config.server, L"http://beside:1");
    EXPECT_EQ(config.channel, L"side");
    EXPECT_FALSE(qbtest::fileExists(path_));  // loading never writes

    // The per-user file wins once it exists, even when it holds nothing usable.
    ASSERT_TRUE(qbtest::writeFileBytes(path_, "{}"));
    config = loadConfig();
    EXPECT_EQ(config.server, kDefaultServer);
}

TEST_F(ConfigFile, ReadWholeFileReportsMissingFilesAndAppends) {
    std::string out = "x";
    EXPECT_FALSE(readWholeFile(path_ + L".missing", out));
    EXPECT_EQ(out, "x");
    std::string big(10000, 'a');
    big[4095] = 'b';
    ASSERT_TRUE(qbtest::writeFileBytes(beside_, big));
    EXPECT_TRUE(readWholeFile(beside_, out));
    EXPECT_EQ(out, "x" + big);
}

TEST(TextConvert, ConvertsBothWaysAndReplacesInvalidUtf8) {
    EXPECT_EQ(utf8ToWide(""), L"");
    EXPECT_EQ(wideToUtf8(L""), "");
    EXPECT_EQ(utf8ToWide("\xE4\xB8\x8B\xE8\xBD\xBD"), L"下载");
    EXPECT_EQ(wideToUtf8(L"下载"), "\xE4\xB8\x8B\xE8\xBD\xBD");
    EXPECT_EQ(utf8ToWide("\xF0\x9F\x98\x80"), L"\xD83D\xDE00");
    EXPECT_EQ(utf8ToWide("a\xFF" "b"), L"a\xFFFD" L"b");
    EXPECT_EQ(utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

}  // namespace

namespace {

TEST(LocalCache, RefusesNamesThatLeaveTheFolderAndReplacesEntriesWhole) {
    for (const wchar_t* bad : {L"", L"..", L"a\\..\\b", L"\\a", L"a\\", L"C:x", L"a/b", L"a\\\\b", L"图标.png",
                               L"a b", L"..\\config.json"})
        EXPECT_FALSE(cache::isSafeName(bad)) << bad;
    for (const wchar_t* good : {L"bootstrap.json", L"icons\\00ab12.png", L"a-b_c.1"})
        EXPECT_TRUE(cache::isSafeName(good)) << good;

    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"qb-cache-" + std::to_wstring(::GetCurrentProcessId());
    cache::setFolder(folder + L"\\inner");
    EXPECT_FALSE(cache::write(L"..\\escaped", "x"));
    EXPECT_EQ(::GetFileAttributesW((folder + L"\\escaped").c_str()), INVALID_FILE_ATTRIBUTES);

    EXPECT_TRUE(cache::write(L"icons\\a.png", "first"));
    EXPECT_TRUE(cache::write(L"icons\\a.png", "second, longer"));
    EXPECT_EQ(cache::read(L"icons\\a.png", 100).value_or("missing"), "second, longer");
    EXPECT_FALSE(cache::read(L"icons\\a.png", 5)) << "larger than asked for";
    EXPECT_FALSE(cache::read(L"icons\\b.png", 100));
    EXPECT_TRUE(cache::remove(L"icons\\a.png"));
    EXPECT_FALSE(cache::read(L"icons\\a.png", 100));
    cache::setFolder(std::wstring());
    ::RemoveDirectoryW((folder + L"\\inner\\icons").c_str());
    ::RemoveDirectoryW((folder + L"\\inner").c_str());
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
