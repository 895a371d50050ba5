#pragma once
// Finds catalogue apps for the search field: by name (as text, or as pinyin typed in full or by
// initials) and by description (as text).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "search/search_text.h"
#include "service/catalogue.h"

// What search() needs of one catalogue, folded and looked up once (tens of ms for 5 000 apps).
// It holds no pointer into the app list, only indices: keep the list it was built from unchanged.
class SearchIndex {
public:
    SearchIndex() = default;
    explicit SearchIndex(const std::vector<AppInfo>& apps);

    size_t appCount() const { return names_.size(); }

private:
    // A name character that pinyin can consume: a hanzi (its readings) or an ASCII letter or digit.
    // A character without either (an unknown hanzi, another script) has neither and stops a match.
    struct NameUnit {
        const uint16_t* readings = nullptr;
        uint16_t readingCount = 0;
        char ascii = 0;
    };

    bool nameMatchesPinyin(size_t app, const std::string& key, std::vector<uint8_t>& scratch) const;
    static bool consume(const NameUnit& unit, const std::string& key, size_t p, uint8_t* next);

    TextCorpus names_;
    TextCorpus descriptions_;
    std::vector<NameUnit> units_;
    std::vector<size_t> unitStarts_{0};      // app i's units are units_[unitStarts_[i], unitStarts_[i + 1])
    std::vector<uint64_t> nameLetters_;      // per app: every letter and digit its units can consume
    std::vector<uint64_t> nameFirstLetters_; // per app: the letters and digits its units start with

    friend std::vector<size_t> search(const SearchIndex& index, const std::wstring& query);
};

// Indices into the app list the index was built from: every app whose name matches the query, in
// catalogue order, then every app that matches by its description alone, in catalogue order.
// A name matches when it contains the query (letters case-insensitive, full-width letters and digits
// as half-width) or when the query, read as pinyin, covers a run of consecutive name characters:
// each hanzi by one of its readings in full or by its initial (the first letter, or zh / ch / sh),
// the last one also by the start of a reading, and letters and digits by themselves; spaces and
// apostrophes in the query are ignored. A description matches when it contains the query. Spaces
// around the query are ignored; a blank query finds nothing.
std::vector<size_t> search(const SearchIndex& index, const std::wstring& query);
