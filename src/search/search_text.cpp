#include "search/search_text.h"

#include <cwchar>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QB_SEARCH_SSE2 1
#endif
#if defined(_MSC_VER)
#include <intrin.h>
#endif

static_assert(sizeof(wchar_t) == 2, "the scan compares UTF-16 code units");

namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);

#if QB_SEARCH_SSE2
unsigned lowestBit(unsigned mask) {
#if defined(_MSC_VER)
    unsigned long index;
    _BitScanForward(&index, mask);
    return static_cast<unsigned>(index);
#else
    return static_cast<unsigned>(__builtin_ctz(mask));
#endif
}
#endif

// The first position from `from` where needle (m >= 1 units) occurs in hay (n units), or kNotFound.
// Eight positions at a time: a candidate must show the needle's first and last unit where they
// belong, and only candidates are compared in full.
size_t find(const wchar_t* hay, size_t n, size_t from, const wchar_t* needle, size_t m) {
    if (m > n) return kNotFound;
    const size_t lastStart = n - m;
    size_t i = from;
#if QB_SEARCH_SSE2
    const __m128i first = _mm_set1_epi16(static_cast<short>(needle[0]));
    const __m128i last = _mm_set1_epi16(static_cast<short>(needle[m - 1]));
    for (; i + 8 <= lastStart + 1; i += 8) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + m - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(head, first), _mm_cmpeq_epi16(tail, last))));
        while (mask) {
            const unsigned bit = lowestBit(mask);
            const size_t pos = i + bit / 2;
            if (m <= 2 || std::wmemcmp(hay + pos + 1, needle + 1, m - 2) == 0) return pos;
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; i <= lastStart; ++i) {
        if (hay[i] == needle[0] && hay[i + m - 1] == needle[m - 1] &&
            (m <= 2 || std::wmemcmp(hay + i + 1, needle + 1, m - 2) == 0))
            return i;
    }
    return kNotFound;
}

}  // namespace

wchar_t foldSearchChar(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c - L'A' + L'a');
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<wchar_t>(c - 0xFF21 + L'a');  // Ａ..Ｚ
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<wchar_t>(c - 0xFF41 + L'a');  // ａ..ｚ
    if (c >= 0xFF10 && c <= 0xFF19) return static_cast<wchar_t>(c - 0xFF10 + L'0');  // ０..９
    return c;
}

std::wstring foldSearchText(const std::wstring& text) {
    std::wstring result(text);
    for (wchar_t& c : result) c = foldSearchChar(c);
    return result;
}

bool isSearchSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x00A0 || c == 0x3000;
}

std::wstring trimSearchSpace(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isSearchSpace(text[begin])) ++begin;
    while (end > begin && isSearchSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

void TextCorpus::reserve(size_t texts, size_t characters) {
    starts_.reserve(texts + 1);
    buffer_.reserve(characters);
}

void TextCorpus::add(const std::wstring& text) {
    buffer_ += text;
    starts_.push_back(buffer_.size());
}

void TextCorpus::markContaining(const std::wstring& needle, std::vector<uint8_t>& marks) const {
    if (needle.empty()) return;
    const wchar_t* hay = buffer_.data();
    const size_t n = buffer_.size(), m = needle.size();
    size_t text = 0;
    size_t pos = find(hay, n, 0, needle.data(), m);
    while (pos != kNotFound) {
        while (starts_[text + 1] <= pos) ++text;
        if (pos + m <= starts_[text + 1]) {
            marks[text] = 1;
            pos = starts_[text + 1];  // one hit per text is enough
        } else {
            ++pos;  // the hit runs into the next text
        }
        pos = find(hay, n, pos, needle.data(), m);
    }
}
