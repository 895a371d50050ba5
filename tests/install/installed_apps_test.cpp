#include <gtest/gtest.h>

#include <set>
#include <string>

#include "install/installed_apps.h"
#include "install/uninstall_snapshot.h"

namespace {

UninstallSnapshot withNames(std::initializer_list<std::wstring> names) {
    UninstallSnapshot snapshot;
    snapshot.displayNames.assign(names);
    return snapshot;
}

TEST(normalizeAppName, DropsBlanksAndFoldsOnlyAsciiCapitals) {
    struct Case {
        std::wstring text;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"", L""},
        {L" \t\x3000 ", L""},
        {L"Photo Studio", L"photostudio"},
        {L"\tPhoto\x3000Studio  ", L"photostudio"},
        {L"@AZ[`az{", L"@az[`az{"},                          // the letters just outside A-Z stay
        {L"\x00C4rger \xFF21\x00A0X", L"\x00C4rger\xFF21\x00A0x"},  // no folding beyond ASCII, NBSP kept
        {L"Photo Studio 2019 \x4E2A\x4EBA\x7248", L"photostudio2019\x4E2A\x4EBA\x7248"},
        {L"Line\nBreak\r", L"line\nbreak\r"},
    };
    for (const Case& c : cases) EXPECT_EQ(normalizeAppName(c.text), c.expected) << c.text;
}

TEST(isAppListed, MatchesSameNameOrShortSuffix) {
    const std::wstring app = L"Photo Studio";  // 11 characters once normalised
    struct Case {
        std::wstring displayName;
        bool listed;
    };
    const Case cases[] = {
        {L"Photo Studio", true},
        {L"photo studio", true},
        {L"PHOTO\x3000STUDIO", true},
        {L"PhotoStudio (64-bit)", true},
        {L"Photo Studio 2019 \x4E2A\x4EBA\x7248", true},
        {L"Photo Studio 0123456789abcdef", true},    // 16 more after normalising
        {L"Photo Studio 0123456789abcdefg", false},  // 17 more
        {L"Photo", false},
        {L"Photo Studi", false},
        {L"My Photo Studio", false},
        {L"Photo-Studio", false},
        {L"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isAppListed(app, withNames({c.displayName})), c.listed) << c.displayName;
}

TEST(isAppListed, LooksAtEveryDisplayName) {
    EXPECT_TRUE(isAppListed(L"Photo Studio", withNames({L"Photo", L"Other", L"", L"photostudio"})));
    EXPECT_FALSE(isAppListed(L"Photo Studio", withNames({L"Photo", L"Other", L"Studio Photo"})));
    EXPECT_FALSE(isAppListed(L"Photo Studio", UninstallSnapshot{}));
}

TEST(isAppListed, NonAsciiLettersMustMatchExactly) {
    EXPECT_TRUE(isAppListed(L"\x00C4rger Pro", withNames({L"\x00C4RGER PRO"})));
    EXPECT_FALSE(isAppListed(L"\x00C4rger Pro", withNames({L"\x00E4rger Pro"})));
    EXPECT_TRUE(isAppListed(L"\x661F\x6CB3\x7B14\x8BB0", withNames({L"\x661F\x6CB3 \x7B14\x8BB0 2.1"})));
}

TEST(isAppListed, BlankNamesNeverMatch) {
    const UninstallSnapshot snapshot = withNames({L"", L" ", L"\x3000", L"Photo Studio"});
    for (const wchar_t* name : {L"", L" ", L"   ", L"\t", L"\x3000\x3000", L" \t\x3000"})
        EXPECT_FALSE(isAppListed(name, snapshot)) << static_cast<int>(std::wstring(name).size());
}

}  // namespace

namespace {

// Expected order of (a, b): -1, 0, 1; 2 when the versions cannot be compared.
TEST(CompareVersions, FollowsTheNumbersThenTheSuffixes) {
    const struct {
        const wchar_t* a;
        const wchar_t* b;
        int order;
    } cases[] = {
        {L"1.0", L"1.0.0", 0},                    // trailing zero parts
        {L"1.0.1-beta", L"1.0.1", -1},            // a suffix is lower than none
        {L"1.0.1-beta", L"1.0.1-RC", -1},         // two suffixes: text order, without case
        {L"1.0.0-rc10", L"1.0.0-rc9", 1},         // ... with their numbers as numbers
        {L"3.0b02", L"3.0b10", -1},
        {L"1.10", L"1.9", 1},                     // numbers, not text
        {L"2024.1", L"2023.12", 1},               // dates as versions
        {L"20231201", L"20240105", -1},
        {L"10.0.19041.1", L"10.0.19041.1234", -1}, // build numbers
        {L"v2.1", L"2.1", 0},                     // prefixes
        {L"V 3.0", L"2.9.9", 1},
        {L"1.2 正式版", L"1.2", 0},               // a label after the version is not part of it
        {L"1.2正式版", L"1.3", -1},
        {L"版本 4.5.6", L"4.5.6.0", 0},
        {L"2.0 (64-bit)", L"2.0.1", -1},
        {L"", L"1.0", 2},                         // nothing to read
        {L"最新版", L"1.0", 2},
        {L"1.0", L"beta", 2},
    };
    for (const auto& c : cases) {
        const std::optional<int> order = compareVersions(c.a, c.b);
        const int got = order ? (*order < 0 ? -1 : (*order > 0 ? 1 : 0)) : 2;
        EXPECT_EQ(got, c.order) << c.a << L" vs " << c.b;
    }
    EXPECT_TRUE(isUpdateAvailable(L"1.0", L"2.0"));
    EXPECT_FALSE(isUpdateAvailable(L"2.0", L"2.0.0"));
    EXPECT_FALSE(isUpdateAvailable(L"", L"2.0"));  // an unreadable installed version never offers one
    EXPECT_FALSE(isUpdateAvailable(L"1.0", L"最新"));
}

TEST(MatchInstalledApps, TakesTheHighestVersionOfTheMatchingNamesAndOffersOnlyReadableOlderOnes) {
    auto entry = [](const wchar_t* key, const wchar_t* name, const wchar_t* version) {
        InstalledApp app;
        app.key = key;
        app.displayName = name;
        app.displayVersion = version;
        return app;
    };
    const std::vector<InstalledApp> installed = {
        entry(L"a", L"Photo Studio (32-bit)", L"1.9"), entry(L"b", L"Photo Studio", L"1.10"),
        entry(L"c", L"Quill Notes", L"最新版"),        entry(L"d", L"星河笔记 2024", L"3.0"),
        entry(L"e", L"Photo Studio Professional Edition 2024", L"9.0"),  // too long a suffix
        entry(L"f", L"Tide", L"5.0"),                  entry(L"g", L"Tide Player", L"9.0"),  // another app
    };
    const std::vector<CatalogueName> apps = {
        {1, L"Photo Studio", L"2.0"}, {2, L"quillnotes", L"2.0"}, {3, L"星河笔记", L"3.0.0"},
        {4, L"Tide", L"v5.0.1"},      {5, L"Tides", L"6.0"},      {6, L" ", L"1.0"},
    };
    const std::unordered_map<int32_t, InstallStatus> statuses = matchInstalledApps(apps, installed);
    ASSERT_EQ(statuses.size(), 4u);
    EXPECT_EQ(statuses.at(1).registration.key, L"b");  // 1.10 is above 1.9
    EXPECT_TRUE(statuses.at(1).updatable);
    EXPECT_FALSE(statuses.at(2).updatable);  // an unreadable installed version is never offered an update
    EXPECT_FALSE(statuses.at(3).updatable);
    EXPECT_EQ(statuses.at(4).registration.key, L"f");  // its own name before a higher version of a longer one
    EXPECT_TRUE(statuses.at(4).updatable);
    EXPECT_EQ(statuses.count(5), 0u);
}

TEST(ParseUninstallCommand, SplitsProgramAndParametersAsTheShellDoes) {
    const struct {
        const wchar_t* line;
        const wchar_t* program;  // null: refused
        const wchar_t* parameters;
    } cases[] = {
        {L"\"C:\\Program Files\\Quill Notes\\uninst.exe\" /S", L"C:\\Program Files\\Quill Notes\\uninst.exe", L"/S"},
        {L"  \"C:\\a b\\u.exe\"", L"C:\\a b\\u.exe", L""},
        {L"C:\\Program Files\\Photo Studio\\unins000.exe /SILENT ", L"C:\\Program Files\\Photo Studio\\unins000.exe",
         L"/SILENT"},
        {L"C:\\Tools\\Remove.EXE", L"C:\\Tools\\Remove.EXE", L""},
        {L"MsiExec.exe /X{0A1B2C3D-1111-2222-3333-444455556666}", L"MsiExec.exe",
         L"/X{0A1B2C3D-1111-2222-3333-444455556666}"},
        {L"MsiExec.exe /I{0A1B2C3D-1111-2222-3333-444455556666}", L"MsiExec.exe",
         L"/X{0A1B2C3D-1111-2222-3333-444455556666}"},  // the repair dialog becomes the removal
        {L"C:\\Windows\\System32\\msiexec.exe /i {0A1B}", L"C:\\Windows\\System32\\msiexec.exe", L"/X{0A1B}"},
        {L"MsiExec.exe -I{0A1B}", L"MsiExec.exe", L"/X{0A1B}"},
        {L"MsiExec.exe /qb /I{0A1B} REBOOT=R", L"MsiExec.exe", L"/X{0A1B}"},
        {L"MsiExec.exe /I \"{0A1B}\"", L"MsiExec.exe", L"/X{0A1B}"},
        {L"msiexec /fvomus{0A1B}", L"msiexec", L"/X{0A1B}"},
        {L"msiexec /package {0A1B} /qn", L"msiexec", L"/X{0A1B}"},
        {L"C:\\Tools.exe Suite\\uninst.exe /S", L"C:\\Tools.exe Suite\\uninst.exe", L"/S"},  // the longest file
        {L"C:\\Program Files\\Tide\\remove.cmd /quiet", L"C:\\Program Files\\Tide\\remove.cmd", L"/quiet"},
        {L"rundll32 advpack.dll,LaunchINFSection x.inf", L"rundll32", L"advpack.dll,LaunchINFSection x.inf"},
        {L"C:\\exec.exe.bak\\u.exe /q", L"C:\\exec.exe.bak\\u.exe", L"/q"},
        {L"\"C:\\unterminated.exe /S", nullptr, nullptr},
        {L"\"\" /S", nullptr, nullptr},
        {L"   ", nullptr, nullptr},
    };
    const std::set<std::wstring> files = {L"C:\\Tools.exe", L"C:\\Tools.exe Suite\\uninst.exe",
                                          L"C:\\Program Files\\Tide\\remove.cmd"};
    for (const auto& c : cases) {
        const std::optional<UninstallCommand> command =
            parseUninstallCommand(c.line, [&files](const std::wstring& path) { return files.count(path) != 0; });
        ASSERT_EQ(command.has_value(), c.program != nullptr) << c.line;
        if (!command) continue;
        EXPECT_EQ(command->program, c.program) << c.line;
        EXPECT_EQ(command->parameters, c.parameters) << c.line;
    }
}

}  // namespace
