#include "search/pinyin.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

namespace {

#include "search/pinyin_table.inc"

constexpr size_t kSyllableCount = std::size(kPinyinSyllables);

}  // namespace

PinyinReadings pinyinReadingsOf(wchar_t c) {
    if (c >= kPinyinFirstCodePoint && c <= kPinyinLastCodePoint) {
        const uint16_t* entry = &kPinyinReadings[c - kPinyinFirstCodePoint];
        if (*entry == kPinyinNoReading) return {};
        if (!(*entry & kPinyinHeteronymFlag)) return {entry, 1};
        const uint16_t* run = &kPinyinHeteronyms[*entry & ~kPinyinHeteronymFlag];
        return {run + 1, run[0]};
    }
    const auto* found = std::lower_bound(std::begin(kPinyinOutside), std::end(kPinyinOutside), c,
                                         [](const uint16_t (&pair)[2], wchar_t value) { return pair[0] < value; });
    if (found != std::end(kPinyinOutside) && (*found)[0] == c) return {&(*found)[1], 1};
    return {};
}

std::string_view pinyinSyllable(uint16_t id) {
    // Lengths once, so the matcher's many look-ups do not measure the same strings again.
    static const std::array<uint8_t, kSyllableCount> lengths = [] {
        std::array<uint8_t, kSyllableCount> result{};
        for (size_t i = 0; i < kSyllableCount; ++i) result[i] = static_cast<uint8_t>(std::strlen(kPinyinSyllables[i]));
        return result;
    }();
    if (id >= kSyllableCount) return {};
    return {kPinyinSyllables[id], lengths[id]};
}

std::vector<std::wstring> pinyinOf(wchar_t c) {
    const PinyinReadings readings = pinyinReadingsOf(c);
    std::vector<std::wstring> result;
    result.reserve(readings.count);
    for (size_t i = 0; i < readings.count; ++i) {
        const std::string_view syllable = pinyinSyllable(readings.ids[i]);
        result.emplace_back(syllable.begin(), syllable.end());
    }
    return result;
}
