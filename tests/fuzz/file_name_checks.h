#pragma once
// Shared by the file-name harnesses: turns fuzz bytes into UTF-16 text and checks what any name
// headed for the disk must satisfy after sanitizeFileName.
#include <cstddef>
#include <cstdint>
#include <string>

#include "downloads/file_naming.h"

// Two bytes per code unit, so every UTF-16 unit (lone surrogates included) can reach the functions;
// a leading byte 0 instead reads the rest as Latin-1, which lets ASCII seeds stay readable.
inline std::wstring wideFromFuzz(const uint8_t* data, size_t size) {
    std::wstring text;
    if (size > 0 && data[0] == 0) {
        for (size_t i = 1; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));
        return text;
    }
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    return text;
}

inline bool isForbiddenInName(wchar_t c) {
    return c < 32 || c == L'"' || c == L'*' || c == L'/' || c == L':' || c == L'<' || c == L'>' || c == L'?' ||
           c == L'\\' || c == L'|';
}

inline bool hasLoneSurrogate(const std::wstring& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
        const bool low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            return true;
        }
    }
    return false;
}

// A sanitised name: never empty, at most 120 units, no character Windows refuses or that makes a
// path, no trailing blank or dot, no device name, and, when the source was well-formed UTF-16, no
// surrogate pair split by the length cut.
inline void checkSafeName(const std::wstring& source, const std::wstring& name) {
    if (name.empty() || name.size() > 120) __builtin_trap();
    for (wchar_t c : name)
        if (isForbiddenInName(c) || c > 0xFFFF) __builtin_trap();
    if (name.back() == L' ' || name.back() == L'.') __builtin_trap();
    if (isReservedDeviceName(name)) __builtin_trap();
    if (!hasLoneSurrogate(source) && hasLoneSurrogate(name)) __builtin_trap();
}
