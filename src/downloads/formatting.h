#pragma once
// Short texts for sizes, speeds and catalogue dates (units of 1024).
#include <cstdint>
#include <string>

std::wstring formatSize(int64_t bytes);
std::wstring formatSpeed(int32_t bytesPerSecond);
// Month and day in local time ("03-01"); empty for 0 or less.
std::wstring formatDate(int64_t millisecondsSinceEpoch);
