#include <gtest/gtest.h>

#include <string>

#include "install/uninstall_snapshot.h"

namespace {

UninstallSnapshot withNames(std::initializer_list<std::wstring> names) {
    UninstallSnapshot snapshot;
    snapshot.displayNames.assign(names);
    return snapshot;
}

TEST(NormalizeAppName, DropsBlanksAndFoldsOnlyAsciiCapitals) {
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
    for (const Case& c : cases) EXPECT_EQ(NormalizeAppName(c.text), c.expected) << c.text;
}

TEST(IsAppListed, MatchesSameNameOrShortSuffix) {
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
    for (const Case& c : cases) EXPECT_EQ(IsAppListed(app, withNames({c.displayName})), c.listed) << c.displayName;
}

TEST(IsAppListed, LooksAtEveryDisplayName) {
    EXPECT_TRUE(IsAppListed(L"Photo Studio", withNames({L"Photo", L"Other", L"", L"photostudio"})));
    EXPECT_FALSE(IsAppListed(L"Photo Studio", withNames({L"Photo", L"Other", L"Studio Photo"})));
    EXPECT_FALSE(IsAppListed(L"Photo Studio", UninstallSnapshot{}));
}

TEST(IsAppListed, NonAsciiLettersMustMatchExactly) {
    EXPECT_TRUE(IsAppListed(L"\x00C4rger Pro", withNames({L"\x00C4RGER PRO"})));
    EXPECT_FALSE(IsAppListed(L"\x00C4rger Pro", withNames({L"\x00E4rger Pro"})));
    EXPECT_TRUE(IsAppListed(L"\x661F\x6CB3\x7B14\x8BB0", withNames({L"\x661F\x6CB3 \x7B14\x8BB0 2.1"})));
}

TEST(IsAppListed, BlankNamesNeverMatch) {
    const UninstallSnapshot snapshot = withNames({L"", L" ", L"\x3000", L"Photo Studio"});
    for (const wchar_t* name : {L"", L" ", L"   ", L"\t", L"\x3000\x3000", L" \t\x3000"})
        EXPECT_FALSE(IsAppListed(name, snapshot)) << static_cast<int>(std::wstring(name).size());
}

}  // namespace
