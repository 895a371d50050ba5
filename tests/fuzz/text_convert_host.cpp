// Host stand-in for the UTF-8/UTF-16 conversions, so the text functions can be fuzzed on Linux. It
// behaves like MultiByteToWideChar/WideCharToMultiByte with flags 0: malformed input becomes U+FFFD,
// and the wide side holds UTF-16 code units (wchar_t is wider on Linux; values stay below 0x10000).
#include <cstdint>

#include "base/text_convert.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

void appendUnit(std::wstring& out, uint32_t code) {
    if (code >= 0x10000) {
        code -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(code));
    }
}

}  // namespace

std::wstring utf8ToWide(const std::string& text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        size_t extra = 0;
        uint32_t code = 0, minimum = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) extra = 1, code = lead & 0x1Fu, minimum = 0x80;
        else if ((lead & 0xF0) == 0xE0) extra = 2, code = lead & 0x0Fu, minimum = 0x800;
        else if ((lead & 0xF8) == 0xF0) extra = 3, code = lead & 0x07u, minimum = 0x10000;
        else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        size_t taken = 1;
        while (taken <= extra && i + taken < text.size() && (static_cast<uint8_t>(text[i + taken]) & 0xC0) == 0x80) {
            code = (code << 6) | (static_cast<uint8_t>(text[i + taken]) & 0x3Fu);
            ++taken;
        }
        if (taken <= extra || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            out.push_back(kReplacement);
        else
            appendUnit(out, code);
        i += taken;
    }
    return out;
}

std::string wideToUtf8(const std::wstring& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = static_cast<uint32_t>(text[i]) & 0xFFFF;
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = kReplacement;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}
