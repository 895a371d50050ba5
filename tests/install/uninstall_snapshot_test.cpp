#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "install/installed_apps.h"
#include "install/uninstaller.h"
#include "install/uninstall_snapshot.h"
#include "support/registry_support.h"

namespace {

using qbtest::kUninstallPath;
using qbtest::kWow64UninstallPath;
using qbtest::writeUninstallEntry;

class ScratchSnapshot : public ::testing::Test {
protected:
    UninstallSnapshot snapshot() const { return takeUninstallSnapshotUnder({tree.machine(), tree.user()}); }
    qbtest::ScratchRegistry tree;
};

TEST_F(ScratchSnapshot, ScansTheThreeLocationsInOrderWithTheirPrefixes) {
    ASSERT_TRUE(writeUninstallEntry(tree.user(), kUninstallPath, L"Notes", L"Quill Notes"));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kWow64UninstallPath, L"{0A1B}", L"Photo Studio (32-bit)"));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kUninstallPath, L"{0A1B}", L"Photo Studio"));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kUninstallPath, L"NoName", REG_NONE, L""));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kUninstallPath, L"Expand", REG_EXPAND_SZ, L"%ProgramFiles%\\X"));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kUninstallPath, L"Number", REG_DWORD, L"ab"));
    ASSERT_TRUE(writeUninstallEntry(tree.user(), kUninstallPath, L"dup", L"Quill Notes"));

    const UninstallSnapshot s = snapshot();
    const std::set<std::wstring> keys = {L"CU\\Notes",      L"CU\\dup",          L"LM32\\{0A1B}", L"LM64\\Expand",
                                         L"LM64\\NoName",   L"LM64\\Number",     L"LM64\\{0A1B}"};
    EXPECT_EQ(s.keys, keys);
    const std::vector<std::wstring> names = {L"Photo Studio", L"Photo Studio (32-bit)", L"Quill Notes", L"Quill Notes"};
    EXPECT_EQ(s.displayNames, names);
}

// Sets one more value of an uninstall entry.
bool setEntryValue(HKEY root, const wchar_t* path, const std::wstring& key, const wchar_t* name, DWORD type,
                   const void* data, DWORD bytes) {
    const std::wstring subkey = std::wstring(path) + L"\\" + key;
    return ::RegSetKeyValueW(root, subkey.c_str(), name, type, data, bytes) == ERROR_SUCCESS;
}

bool setEntryText(HKEY root, const wchar_t* path, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    return setEntryValue(root, path, key, name, REG_SZ, text.c_str(),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

TEST_F(ScratchSnapshot, InstalledAppsLeaveOutSystemComponentsAndUpdatesAndKeepTheirCommands) {
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kUninstallPath, L"{0A1B}", L"Photo Studio"));
    ASSERT_TRUE(setEntryText(tree.machine(), kUninstallPath, L"{0A1B}", L"DisplayVersion", L"1.0.2"));
    ASSERT_TRUE(setEntryText(tree.machine(), kUninstallPath, L"{0A1B}", L"Publisher", L"Tide"));
    ASSERT_TRUE(setEntryText(tree.machine(), kUninstallPath, L"{0A1B}", L"UninstallString", L"MsiExec.exe /X{0A1B}"));
    ASSERT_TRUE(writeUninstallEntry(tree.user(), kUninstallPath, L"Notes", L"Quill Notes"));
    ASSERT_TRUE(setEntryText(tree.user(), kUninstallPath, L"Notes", L"QuietUninstallString", L"\"u.exe\" /S"));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kUninstallPath, L"KB1", L"Photo Studio Hotfix"));
    ASSERT_TRUE(setEntryText(tree.machine(), kUninstallPath, L"KB1", L"ParentKeyName", L"{0A1B}"));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kWow64UninstallPath, L"Runtime", L"Runtime"));
    const DWORD one = 1, zero = 0;
    ASSERT_TRUE(setEntryValue(tree.machine(), kWow64UninstallPath, L"Runtime", L"SystemComponent", REG_DWORD, &one, 4));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kWow64UninstallPath, L"Shown", L"Shown"));
    ASSERT_TRUE(setEntryValue(tree.machine(), kWow64UninstallPath, L"Shown", L"SystemComponent", REG_DWORD, &zero, 4));

    const std::vector<InstalledApp> apps = readInstalledApps({tree.machine(), tree.user()});
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0].key, L"LM64\\{0A1B}");
    EXPECT_EQ(apps[0].displayVersion, L"1.0.2");
    EXPECT_EQ(apps[0].publisher, L"Tide");
    EXPECT_EQ(apps[0].uninstallString, L"MsiExec.exe /X{0A1B}");
    EXPECT_EQ(apps[1].key, L"LM32\\Shown");
    EXPECT_EQ(apps[2].key, L"CU\\Notes");
    EXPECT_EQ(apps[2].quietUninstallString, L"\"u.exe\" /S");
    ASSERT_NE(findInstalledApp(L"Photo Studio", apps), nullptr);
    EXPECT_EQ(findInstalledApp(L"photostudio", apps)->key, L"LM64\\{0A1B}");
    EXPECT_EQ(findInstalledApp(L"Runtime", apps), nullptr);
}

// Values are read whole up to 32 KiB, only REG_EXPAND_SZ ones expanded; a longer one is unreadable, not absent.
TEST_F(ScratchSnapshot, InstalledAppsReadLongValuesAndExpandOnlyExpandableOnes) {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"QB_TEST_TOOLS", L"C:\\Qb Tools"));
    const std::wstring path2048 = L"C:\\" + std::wstring(2041, L'u') + L".exe";
    const std::wstring pathAtCap = L"C:\\" + std::wstring(16374, L'c') + L".exe";  // quoted: 32 768 bytes
    const struct { const wchar_t* key; const wchar_t* name; DWORD type; std::wstring value; bool listed;
                   std::optional<std::wstring> program; /* of uninstallCommandOf */ } cases[] = {
        {L"Expand", L"UninstallString", REG_EXPAND_SZ, L"\"%QB_TEST_TOOLS%\\u.exe\" /x", true, L"C:\\Qb Tools\\u.exe"},
        {L"Plain", L"UninstallString", REG_SZ, L"\"%QB_TEST_TOOLS%\\u.exe\"", true, L"%QB_TEST_TOOLS%\\u.exe"},
        {L"Long", L"UninstallString", REG_SZ, L"\"" + path2048 + L"\"", true, path2048},
        {L"AtCap", L"UninstallString", REG_SZ, L"\"" + pathAtCap + L"\"", true, pathAtCap},
        {L"OverCap", L"UninstallString", REG_SZ, L"\"" + pathAtCap + L"\" ", true, std::nullopt},
        {L"Update", L"ParentKeyName", REG_SZ, std::wstring(3000, L'p'), false, std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(writeUninstallEntry(tree.user(), kUninstallPath, c.key, c.key));
        ASSERT_TRUE(setEntryText(tree.user(), kUninstallPath, c.key, L"QuietUninstallString", L"C:\\quiet.exe /S"));
        ASSERT_TRUE(setEntryValue(tree.user(), kUninstallPath, c.key, c.name, c.type, c.value.c_str(),
                                  static_cast<DWORD>((c.value.size() + 1) * sizeof(wchar_t))));
    }
    const std::vector<InstalledApp> apps = readInstalledApps({tree.machine(), tree.user()});
    for (const auto& c : cases) {
        const std::wstring key = L"CU\\" + std::wstring(c.key);
        const auto app = std::find_if(apps.begin(), apps.end(), [&key](const InstalledApp& a) { return a.key == key; });
        ASSERT_EQ(app != apps.end(), c.listed) << c.key;
        const std::optional<UninstallCommand> command = app == apps.end() ? std::nullopt : uninstallCommandOf(*app);
        EXPECT_EQ(command ? std::optional<std::wstring>(command->program) : std::nullopt, c.program) << c.key;
    }
}

TEST_F(ScratchSnapshot, KeepsDisplayNamesThatFitTheBufferAndCutsAtTheFirstNul) {
    struct Case {
        const wchar_t* key;
        DWORD type;
        std::wstring stored;  // raw value data, NULs included
        bool kept;
        std::wstring expected;
    };
    const std::wstring max(255, L'x');
    const Case cases[] = {
        {L"A255", REG_SZ, max + L'\0', true, max},                     // 512 bytes: exactly the buffer
        {L"B256", REG_SZ, max + L"y" + L'\0', false, L""},             // 514 bytes: too large
        {L"C255NoNul", REG_SZ, max, true, max},                        // stored without its NUL
        {L"DInner", REG_SZ, std::wstring(L"Before\0After\0", 13), true, L"Before"},
        {L"EEmpty", REG_SZ, std::wstring(1, L'\0'), true, L""},
        {L"FMulti", REG_MULTI_SZ, std::wstring(L"Multi\0\0", 7), false, L""},
    };
    for (const Case& c : cases) ASSERT_TRUE(writeUninstallEntry(tree.user(), kUninstallPath, c.key, c.type, c.stored));

    const UninstallSnapshot s = snapshot();
    EXPECT_EQ(s.keys.size(), std::size(cases));
    std::vector<std::wstring> expected;
    for (const Case& c : cases) {
        if (c.kept) expected.push_back(c.expected);
    }
    EXPECT_EQ(s.displayNames, expected);
}

TEST_F(ScratchSnapshot, UserOnlyRegistrationsAndMissingLocations) {
    EXPECT_TRUE(snapshot().keys.empty());
    ASSERT_TRUE(writeUninstallEntry(tree.user(), kUninstallPath, L"OnlyHere", L"Only Here"));
    const UninstallSnapshot s = snapshot();
    EXPECT_EQ(s.keys, std::set<std::wstring>{L"CU\\OnlyHere"});
    EXPECT_EQ(s.displayNames, std::vector<std::wstring>{L"Only Here"});
}

TEST_F(ScratchSnapshot, OnlyAddedKeysCountAsNew) {
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kUninstallPath, L"Keep", L"Keep"));
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kUninstallPath, L"Gone", L"Gone"));
    const UninstallSnapshot before = snapshot();
    EXPECT_FALSE(hasNewUninstallKey(before, before));

    ASSERT_TRUE(qbtest::deleteUninstallEntry(tree.machine(), kUninstallPath, L"Gone"));
    const UninstallSnapshot afterUninstall = snapshot();
    EXPECT_FALSE(hasNewUninstallKey(before, afterUninstall));
    EXPECT_FALSE(hasNewUninstallKey(before, UninstallSnapshot{}));

    // The same product in another view is another registration; so is a key differing only in case.
    ASSERT_TRUE(writeUninstallEntry(tree.machine(), kWow64UninstallPath, L"Keep", L"Keep"));
    EXPECT_TRUE(hasNewUninstallKey(afterUninstall, snapshot()));
    EXPECT_FALSE(hasNewUninstallKey(snapshot(), snapshot()));

    UninstallSnapshot renamed;
    renamed.keys = {L"LM64\\keep"};
    EXPECT_TRUE(hasNewUninstallKey(before, renamed));
    const UninstallSnapshot beforeUser = snapshot();
    ASSERT_TRUE(writeUninstallEntry(tree.user(), kUninstallPath, L"Keep", L"Keep"));
    EXPECT_TRUE(hasNewUninstallKey(beforeUser, snapshot()));
}

// The real locations: the 32-bit view is reached through WOW6432Node without a view flag.
TEST(UninstallSnapshotRegistry, SeesBothMachineViewsAndTheUser) {
    const std::wstring key = L"QbSnapshotViewsTest";
    struct Location {
        HKEY root;
        REGSAM view;
        std::wstring prefix;
    };
    const Location locations[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"LM64\\"},
                                  {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"LM32\\"},
                                  {HKEY_CURRENT_USER, 0, L"CU\\"}};
    for (const Location& l : locations) qbtest::deleteUninstallEntry(l.root, kUninstallPath, key, l.view);

    for (const Location& l : locations) {
        const UninstallSnapshot before = takeUninstallSnapshot();
        ASSERT_TRUE(writeUninstallEntry(l.root, kUninstallPath, key, L"Qb Views " + l.prefix, l.view));
        const UninstallSnapshot after = takeUninstallSnapshot();
        EXPECT_TRUE(hasNewUninstallEntry(before)) << l.prefix;
        std::set<std::wstring> added;
        for (const std::wstring& k : after.keys) {
            if (!before.keys.count(k)) added.insert(k);
        }
        EXPECT_EQ(added, std::set<std::wstring>{l.prefix + key});
        EXPECT_TRUE(isAppListed(L"Qb Views " + l.prefix, after)) << l.prefix;
        EXPECT_FALSE(hasNewUninstallEntry(after)) << l.prefix;
    }
    for (const Location& l : locations) EXPECT_TRUE(qbtest::deleteUninstallEntry(l.root, kUninstallPath, key, l.view));
}

}  // namespace
