#include "base/text_convert.h"

#include <windows.h>

#include <climits>

std::wstring utf8ToWide(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(needed), L'\0');
    const int written = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), needed);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

std::string wideToUtf8(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) return std::string();
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    const int written =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}
