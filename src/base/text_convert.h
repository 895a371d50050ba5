#pragma once
// The only conversions between UTF-8 (JSON, HTTP, URLs) and UTF-16 (interface text, paths).
#include <string>

std::wstring utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::wstring& text);
