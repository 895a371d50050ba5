#pragma once
// Toneless pinyin readings of Chinese characters (ü written "v": 绿 -> "lv"), from the generated table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The syllable ids of one character's readings, the most common first; empty for a character
// without a reading (not a hanzi, or one the table does not know).
struct PinyinReadings {
    const uint16_t* ids = nullptr;
    size_t count = 0;
};

PinyinReadings pinyinReadingsOf(wchar_t c);
// The text of a syllable id from PinyinReadings: "zhong".
std::string_view pinyinSyllable(uint16_t id);
// The character's readings as text: 行 -> {"xing", "hang"}; empty for a character without one.
std::vector<std::wstring> pinyinOf(wchar_t c);
