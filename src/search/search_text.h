#pragma once
// Text folding for search, and one pass over many texts that finds each text holding a needle.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ASCII letters lowercase; full-width letters and digits (Ａ ａ ０) become their lowercase ASCII twins.
wchar_t foldSearchChar(wchar_t c);
std::wstring foldSearchText(const std::wstring& text);
// ASCII white space, the no-break space and the ideographic space (U+3000) an IME types.
bool isSearchSpace(wchar_t c);
std::wstring trimSearchSpace(const std::wstring& text);

// Many texts joined in one buffer, so that a needle is looked for in one pass over all of them.
class TextCorpus {
public:
    void reserve(size_t texts, size_t characters);
    void add(const std::wstring& text);
    size_t size() const { return starts_.size() - 1; }
    size_t characters() const { return buffer_.size(); }
    // Sets marks[i] to 1 for every text i that contains needle (not empty); marks has size() entries.
    void markContaining(const std::wstring& needle, std::vector<uint8_t>& marks) const;

private:
    std::wstring buffer_;
    std::vector<size_t> starts_{0};  // text i is buffer_[starts_[i], starts_[i + 1])
};
