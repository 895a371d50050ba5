#include "downloads/file_naming.h"

#include <cstdint>
#include <optional>

#include "base/text_convert.h"

namespace {

constexpr size_t kMaxNameLength = 120;
constexpr size_t kMaxExtensionLength = 9;  // the dot included
constexpr size_t kMaxUrlSegment = 200;
constexpr size_t kMaxUrlName = 150;

const wchar_t* const kKnownExtensions[] = {L".exe", L".zip", L".rar", L".7z", L".msi", L".msix"};

bool isInvalidNameChar(wchar_t c) {
    switch (c) {
        case L'"': case L'*': case L'/': case L':': case L'<': case L'>': case L'?': case L'\\': case L'|':
            return true;
        default:
            return c < 32;
    }
}

// Direction overrides and invisible marks would let "report\u202Eexe.pdf" read as a PDF in Explorer.
bool isFormatCharacter(wchar_t c) {
    return (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF || c == 0x061C || c == 0x00AD;
}

wchar_t asciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

int hexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Windows silently drops trailing blanks and dots, so "a." and "a" would be one file and ".." a folder.
void trimTrailingBlanksAndDots(std::wstring& name) {
    while (!name.empty() && (name.back() == L' ' || name.back() == L'.')) name.pop_back();
}

// Keeps the first `count` code units without splitting a surrogate pair.
std::wstring prefixOf(const std::wstring& text, size_t count) {
    if (count < text.size() && count > 0 && isHighSurrogate(text[count - 1])) --count;
    return text.substr(0, count);
}

std::wstring truncateKeepingExtension(const std::wstring& name, size_t limit) {
    if (name.size() <= limit) return name;
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0 || name.size() - dot > kMaxExtensionLength) return prefixOf(name, limit);
    const std::wstring extension = name.substr(dot);
    return prefixOf(name, limit - extension.size()) + extension;
}

// Strict UTF-8 to UTF-16: overlong forms, surrogates, values above U+10FFFF and cut sequences fail.
std::optional<std::wstring> strictUtf8ToWide(const std::string& bytes) {
    std::wstring out;
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t lead = static_cast<uint8_t>(bytes[i]);
        uint32_t code = 0;
        size_t extra = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1Fu, extra = 1, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0Fu, extra = 2, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07u, extra = 3, minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (bytes.size() - i - 1 < extra) return std::nullopt;
        for (size_t k = 1; k <= extra; ++k) {
            const uint8_t next = static_cast<uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(code));
        }
        i += extra + 1;
    }
    return out;
}

std::wstring trimSpaces(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return std::wstring();
    const size_t last = text.find_last_not_of(L' ');
    return text.substr(first, last - first + 1);
}

// The RFC 5987 value of "filename*=" (charset'language'encoded), up to the next parameter.
std::wstring extendedDispositionName(const std::wstring& value) {
    const size_t key = value.find(L"filename*=");
    if (key == std::wstring::npos) return std::wstring();
    const std::wstring rest = value.substr(key + 10);
    const size_t firstQuote = rest.find(L'\'');
    if (firstQuote == std::wstring::npos) return std::wstring();
    const size_t secondQuote = rest.find(L'\'', firstQuote + 1);
    if (secondQuote == std::wstring::npos) return std::wstring();
    std::wstring encoded = rest.substr(secondQuote + 1);
    // A following "; filename=..." or "; size=..." belongs to the header, not to the name.
    encoded = encoded.substr(0, encoded.find(L';'));
    while (!encoded.empty() && (encoded.back() == L' ' || encoded.back() == L'\t')) encoded.pop_back();

    std::string bytes;
    bool decodedEscape = false;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == L'%' && i + 2 < encoded.size() && hexValue(encoded[i + 1]) >= 0 &&
            hexValue(encoded[i + 2]) >= 0) {
            bytes.push_back(static_cast<char>(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2])));
            decodedEscape = true;
            i += 2;
        } else {
            bytes.push_back(static_cast<char>(encoded[i] & 0xFF));
        }
    }
    return decodedEscape ? utf8ToWide(bytes) : encoded;
}

std::wstring plainDispositionName(const std::wstring& value) {
    const size_t key = value.find(L"filename=");
    if (key == std::wstring::npos) return std::wstring();
    const std::wstring rest = value.substr(key + 9);
    std::wstring name;
    if (!rest.empty() && rest[0] == L'"') {
        const size_t close = rest.find(L'"', 1);
        name = rest.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    } else {
        name = rest.substr(0, rest.find(L';'));
    }
    return trimSpaces(name);
}

}  // namespace

bool isReservedDeviceName(const std::wstring& name) {
    std::wstring stem = trimSpaces(name.substr(0, name.find(L'.')));
    trimTrailingBlanksAndDots(stem);
    for (wchar_t& c : stem) c = asciiLower(c);
    static const wchar_t* const kDevices[] = {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"};
    for (const wchar_t* device : kDevices)
        if (stem == device) return true;
    if (stem.size() == 4 && (stem.compare(0, 3, L"com") == 0 || stem.compare(0, 3, L"lpt") == 0)) {
        const wchar_t digit = stem[3];
        // Windows also treats the superscript digits 1-3 as port numbers.
        return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
    }
    return false;
}

std::wstring sanitizeFileName(const std::wstring& name) {
    std::wstring out;
    out.reserve(name.size());
    for (wchar_t c : name)
        if (!isInvalidNameChar(c) && !isFormatCharacter(c)) out.push_back(c);
    trimTrailingBlanksAndDots(out);
    if (isReservedDeviceName(out)) out.insert(0, 1, L'_');
    out = truncateKeepingExtension(out, kMaxNameLength);
    trimTrailingBlanksAndDots(out);
    // The cut can leave a device name behind ("nul" followed by many blanks and more text).
    if (isReservedDeviceName(out)) {
        out.insert(0, 1, L'_');
        out = truncateKeepingExtension(out, kMaxNameLength);
        trimTrailingBlanksAndDots(out);
    }
    return out.empty() ? std::wstring(L"app") : out;
}

std::wstring titleFileName(const std::wstring& title) { return sanitizeFileName(sanitizeFileName(title) + L".exe"); }

std::wstring fileNameFromDisposition(const std::wstring& value) {
    if (value.empty()) return std::wstring();
    std::wstring name = extendedDispositionName(value);
    if (!name.empty()) return name;
    return plainDispositionName(value);
}

std::wstring fileNameFromUrl(const std::wstring& url) {
    const std::wstring address = url.substr(0, url.find_first_of(L"?#"));
    const size_t slash = address.find_last_of(L"/\\");
    const std::wstring segment = slash == std::wstring::npos ? address : address.substr(slash + 1);
    if (segment.empty() || segment.size() > kMaxUrlSegment) return std::wstring();

    std::string bytes;
    for (size_t i = 0; i < segment.size(); ++i) {
        const wchar_t c = segment[i];
        if (c > 127) return std::wstring();
        if (c == L'%' && i + 2 < segment.size() && hexValue(segment[i + 1]) >= 0 && hexValue(segment[i + 2]) >= 0) {
            bytes.push_back(static_cast<char>(hexValue(segment[i + 1]) * 16 + hexValue(segment[i + 2])));
            i += 2;
        } else {
            bytes.push_back(static_cast<char>(c));
        }
    }
    const std::optional<std::wstring> decoded = strictUtf8ToWide(bytes);
    if (!decoded || decoded->empty()) return std::wstring();

    std::wstring name;
    for (wchar_t c : *decoded)
        if (!isInvalidNameChar(c)) name.push_back(c);
    if (name.empty() || name.size() > kMaxUrlName) return std::wstring();

    std::wstring lower = name;
    for (wchar_t& c : lower) c = asciiLower(c);
    for (const wchar_t* extension : kKnownExtensions) {
        const std::wstring ext(extension);
        if (lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0) return name;
    }
    return std::wstring();
}

std::wstring numberedFileName(const std::wstring& name, int number) {
    const std::wstring suffix = L" (" + std::to_wstring(number) + L")";
    const size_t dot = name.rfind(L'.');
    const bool hasExtension = dot != std::wstring::npos && dot > 0 && name.size() - dot <= kMaxExtensionLength;
    const std::wstring stem = hasExtension ? name.substr(0, dot) : name;
    const std::wstring extension = hasExtension ? name.substr(dot) : std::wstring();
    const size_t room = kMaxNameLength > suffix.size() + extension.size() ? kMaxNameLength - suffix.size() - extension.size() : 1;
    return prefixOf(stem, room) + suffix + extension;
}

std::wstring withExtension(const std::wstring& name, const std::wstring& extension) {
    const size_t dot = name.rfind(L'.');
    std::wstring stem = dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
    trimTrailingBlanksAndDots(stem);
    if (stem.empty()) stem = L"app";
    return sanitizeFileName(truncateKeepingExtension(stem + extension, kMaxNameLength));
}

std::wstring folderOfPath(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}
