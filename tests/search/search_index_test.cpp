#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "search/pinyin.h"
#include "search/search_index.h"

namespace {

using Indices = std::vector<size_t>;

std::vector<AppInfo> makeApps(const std::vector<std::pair<std::wstring, std::wstring>>& namesAndDescriptions) {
    std::vector<AppInfo> apps;
    for (const auto& [name, description] : namesAndDescriptions) {
        AppInfo app;
        app.id = static_cast<int32_t>(apps.size() + 1);
        app.name = name;
        app.description = description;
        apps.push_back(std::move(app));
    }
    return apps;
}

TEST(Pinyin, ReadingsOfCharacters) {
    struct Case {
        wchar_t c;
        std::vector<std::wstring> readings;
    };
    const Case cases[] = {
        {L'浏', {L"liu"}},
        {L'中', {L"zhong"}},                        // zhōng and zhòng are one toneless reading
        {L'行', {L"xing", L"hang"}},                // a heteronym keeps both
        {L'乐', {L"le", L"yue", L"yao", L"lao"}},
        {L'绿', {L"lv", L"lu"}},                    // ü is written v
        {L'略', {L"lve"}},
        {L'一', {L"yi"}},                           // U+4E00, the first of the dense range
        {L'龥', {L"yue"}},                          // U+9FA5, its last
        {L'〇', {L"ling"}},                         // outside the range
        {wchar_t(0x9FA6), {}},
        {wchar_t(0x4DFF), {}},                      // a hexagram just before the range
        {L'乥', {}},                                // the data knows no reading for it
        {L'a', {}}, {L'7', {}}, {L'，', {}}, {L'Ａ', {}},
    };
    for (const Case& c : cases) EXPECT_EQ(pinyinOf(c.c), c.readings) << int(c.c);
}

TEST(Pinyin, EveryGb2312HanziHasAReading) {
    int hanzi = 0;
    for (int high = 0xB0; high <= 0xF7; ++high) {
        for (int low = 0xA1; low <= 0xFE; ++low) {
            const char bytes[2] = {char(high), char(low)};
            wchar_t c = 0;
            if (::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, 2, &c, 1) != 1 || c < 0x4E00 || c > 0x9FFF)
                continue;
            ++hanzi;
            EXPECT_FALSE(pinyinOf(c).empty()) << std::hex << high << low;
        }
    }
    EXPECT_EQ(hanzi, 6763);
}

TEST(Search, NamesMatchAsTextOrPinyin) {
    const SearchIndex index(makeApps({
        {L"浏览器", L""}, {L"星河笔记", L""}, {L"QQ音乐", L""}, {L"中国象棋", L""}, {L"银行助手", L""},
        {L"旅行相机", L""}, {L"绿色压缩", L""}, {L"ＷＰＳ Office", L""}, {L"360安全卫士", L""}, {L"云盘", L""},
        {L"盘古", L""},
    }));
    const std::pair<std::wstring, Indices> cases[] = {
        // initials, full readings, a mix, the last character by the start of its reading
        {L"llq", {0}}, {L"liulanqi", {0}}, {L"liulq", {0}}, {L"liul", {0}}, {L"liula", {0}}, {L"lanq", {0}},
        {L"lq", {0}}, {L"liu lan", {0}}, {L"liu'lan'qi", {0}}, {L"LLQ", {0}}, {L"浏览", {0}},
        {L"xhbj", {1}}, {L"xinghebiji", {1}}, {L"xhbji", {1}},
        // a run of consecutive characters, whole readings or initials only in its middle
        {L"lql", {}}, {L"xhbjx", {}}, {L"liq", {}}, {L"llqq", {}}, {L"xhj", {}}, {L"liulanqix", {}},
        // letters and digits in a name match themselves; heteronyms by any reading
        {L"qqyy", {2}}, {L"qqyinyue", {2}}, {L"qqyl", {2}}, {L"qq音乐", {2}}, {L"qqyinyuex", {}},
        {L"yinhang", {4}}, {L"yinxing", {4}}, {L"lvxing", {5}}, {L"lvhang", {5}}, {L"lv", {5, 6}},
        {L"lsys", {6}}, {L"360aq", {8}}, {L"360anquanws", {8}}, {L"36aq", {}},
        // zh / ch / sh initials by their first letter or in full
        {L"zg", {3}}, {L"zhg", {3}}, {L"zhgxq", {3}}, {L"zhonggxq", {3}}, {L"zs", {4}}, {L"zhsh", {4}},
        {L"zhs", {4}}, {L"zhhg", {}},
        // case, full-width letters and digits, spaces around and inside the name
        {L"wps", {7}}, {L"wpsoffice", {7}}, {L"WPS off", {7}}, {L"ｗｐｓ", {7}}, {L"３６０", {8}},
        {L"ＱＱ音乐", {2}}, {L"  llq\t", {0}}, {L"\u3000QQ音乐\u3000", {2}},
        // nothing found across two names, and nothing for a blank query
        {L"盘盘", {}}, {L"", {}}, {L"   ", {}}, {L"\u3000\t\r\n", {}},
    };
    for (const auto& [query, expected] : cases) EXPECT_EQ(search(index, query), expected) << query;
}

TEST(Search, NameMatchesComeBeforeDescriptionMatches) {
    const SearchIndex index(makeApps({
        {L"云笔记", L"记下想法"},
        {L"浏览器", L"可以做笔记，支持BJ格式"},
        {L"星河笔记", L"笔记与待办"},
        {L"相机", L"拍照"},
        {L"看图", L"带笔记本模式"},
        {L"编辑器", L"Png 与 JPG"},
    }));
    const std::pair<std::wstring, Indices> cases[] = {
        {L"笔记", {0, 2, 1, 4}},
        {L"bj", {0, 2, 5, 1}},      // pinyin for names (编辑器 too), text for descriptions
        {L"bjq", {5}},
        {L"kyzbj", {}},             // descriptions are not read as pinyin
        {L"PNG", {5}}, {L"ｊｐｇ", {5}}, {L"png 与 jpg", {5}}, {L"拍照", {3}}, {L"录像", {}},
    };
    for (const auto& [query, expected] : cases) EXPECT_EQ(search(index, query), expected) << query;
}

TEST(Search, DescriptionsMatchAtEveryOffset) {
    // Texts of many lengths with the word at every place, so the scan's wide steps and its tail both
    // meet it; near misses share its first and last character, and a word split over two texts is none.
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    Indices expected;
    for (size_t length = 3; length <= 40; ++length) {
        for (size_t at = 0; at + 3 <= length; at += 1 + length / 8) {
            std::wstring text(length, L'的');
            text.replace(at, 3, L"笔记本");
            expected.push_back(rows.size());
            rows.emplace_back(L"甲", text);
            text.replace(at, 3, L"笔x本");
            rows.emplace_back(L"乙", text);
        }
    }
    rows.emplace_back(L"丙", std::wstring(20, L'的') + L"笔记");
    rows.emplace_back(L"丁", L"本" + std::wstring(20, L'的'));
    EXPECT_EQ(search(SearchIndex(makeApps(rows)), L"笔记本"), expected);
}

}  // namespace
