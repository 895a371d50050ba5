#include "search/search_index.h"

#include <algorithm>
#include <cstring>

#include "search/pinyin.h"

namespace {

bool isAsciiLetterOrDigit(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9'); }

// Letters a..z are bits 0..25, digits 0..9 bits 26..35.
uint64_t letterBit(wchar_t c) {
    return c >= L'a' ? uint64_t{1} << (c - L'a') : uint64_t{1} << (26 + c - L'0');
}

// Characters that a pinyin match steps over in a name: spaces and punctuation, ASCII or CJK.
bool isNameSeparator(wchar_t c) {
    return c < 0x80 || (c >= 0x00A0 && c <= 0x00BF) || (c >= 0x2000 && c <= 0x206F) ||
           (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFF65);
}

// The folded query as pinyin letters, without spaces and apostrophes; empty when it holds anything
// else (a hanzi, punctuation), which then matches names only as text.
std::string pinyinKey(const std::wstring& folded) {
    std::string key;
    for (wchar_t c : folded) {
        if (isAsciiLetterOrDigit(c))
            key += static_cast<char>(c);
        else if (!isSearchSpace(c) && c != L'\'' && c != 0x2019 && c != 0xFF07)
            return {};
    }
    return key;
}

bool startsWithRetroflex(std::string_view syllable) {
    return syllable.size() > 2 && syllable[1] == 'h' && (syllable[0] == 'z' || syllable[0] == 'c' || syllable[0] == 's');
}

}  // namespace

SearchIndex::SearchIndex(const std::vector<AppInfo>& apps) {
    size_t nameCharacters = 0, descriptionCharacters = 0;
    for (const AppInfo& app : apps) {
        nameCharacters += app.name.size();
        descriptionCharacters += app.description.size();
    }
    names_.reserve(apps.size(), nameCharacters);
    descriptions_.reserve(apps.size(), descriptionCharacters);
    units_.reserve(nameCharacters);
    unitStarts_.reserve(apps.size() + 1);
    nameLetters_.reserve(apps.size());
    nameFirstLetters_.reserve(apps.size());

    for (const AppInfo& app : apps) {
        const std::wstring name = foldSearchText(app.name);
        names_.add(name);
        descriptions_.add(foldSearchText(app.description));
        uint64_t letters = 0, firstLetters = 0;
        for (wchar_t c : name) {
            NameUnit unit;
            if (isAsciiLetterOrDigit(c)) {
                unit.ascii = static_cast<char>(c);
                letters |= letterBit(c);
                firstLetters |= letterBit(c);
            } else if (const PinyinReadings readings = pinyinReadingsOf(c); readings.count) {
                unit.readings = readings.ids;
                unit.readingCount = static_cast<uint16_t>(readings.count);
                for (size_t r = 0; r < readings.count; ++r) {
                    const std::string_view syllable = pinyinSyllable(readings.ids[r]);
                    firstLetters |= letterBit(syllable[0]);
                    for (char letter : syllable) letters |= letterBit(letter);
                }
            } else if (isNameSeparator(c)) {
                continue;
            }
            units_.push_back(unit);
        }
        unitStarts_.push_back(units_.size());
        nameLetters_.push_back(letters);
        nameFirstLetters_.push_back(firstLetters);
    }
}

// One name character consuming key[p..]: marks in `next` where the key stands after it, and
// answers true when the key ends inside it (the last character may be matched by the start of
// its reading).
bool SearchIndex::consume(const NameUnit& unit, const std::string& key, size_t p, uint8_t* next) {
    const size_t rest = key.size() - p;
    if (!unit.readingCount) {
        if (unit.ascii != key[p]) return false;
        if (rest == 1) return true;
        next[p + 1] = 1;
        return false;
    }
    for (size_t r = 0; r < unit.readingCount; ++r) {
        const std::string_view syllable = pinyinSyllable(unit.readings[r]);
        if (syllable[0] != key[p]) continue;
        if (rest <= syllable.size()) {
            if (std::memcmp(key.data() + p, syllable.data(), rest) == 0) return true;
        } else if (std::memcmp(key.data() + p, syllable.data(), syllable.size()) == 0) {
            next[p + syllable.size()] = 1;
        }
        next[p + 1] = 1;  // the first letter as the initial (rest > 1 here)
        if (rest > 2 && key[p + 1] == 'h' && startsWithRetroflex(syllable)) next[p + 2] = 1;
    }
    return false;
}

bool SearchIndex::nameMatchesPinyin(size_t app, const std::string& key, std::vector<uint8_t>& scratch) const {
    const size_t length = key.size();
    // reached[p]: a run of characters ending before the current one has consumed key[0, p).
    uint8_t* reached = scratch.data();
    uint8_t* next = scratch.data() + length + 1;
    std::fill(reached, reached + length + 1, uint8_t{0});
    for (size_t u = unitStarts_[app]; u < unitStarts_[app + 1]; ++u) {
        reached[0] = 1;  // a run may start at any character
        std::fill(next, next + length + 1, uint8_t{0});
        for (size_t p = 0; p < length; ++p) {
            if (reached[p] && consume(units_[u], key, p, next)) return true;
        }
        std::swap(reached, next);
    }
    return false;
}

std::vector<size_t> search(const SearchIndex& index, const std::wstring& query) {
    const std::wstring text = foldSearchText(trimSearchSpace(query));
    if (text.empty()) return {};
    const size_t count = index.appCount();
    std::vector<uint8_t> byName(count, 0), byDescription(count, 0);
    index.names_.markContaining(text, byName);

    const std::string key = pinyinKey(text);
    if (!key.empty()) {
        uint64_t keyLetters = 0;
        for (char c : key) keyLetters |= letterBit(c);
        const uint64_t firstBit = letterBit(key[0]);
        std::vector<uint8_t> scratch(2 * (key.size() + 1));
        for (size_t i = 0; i < count; ++i) {
            // Letters no reading of the name holds, or a first letter none starts with, rule it out cheaply.
            if (byName[i] || (keyLetters & ~index.nameLetters_[i]) || !(index.nameFirstLetters_[i] & firstBit)) continue;
            if (index.nameMatchesPinyin(i, key, scratch)) byName[i] = 1;
        }
    }

    index.descriptions_.markContaining(text, byDescription);
    std::vector<size_t> result;
    for (size_t i = 0; i < count; ++i)
        if (byName[i]) result.push_back(i);
    for (size_t i = 0; i < count; ++i)
        if (!byName[i] && byDescription[i]) result.push_back(i);
    return result;
}
