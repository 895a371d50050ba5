#include "downloads/formatting.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

std::wstring formatSize(int64_t bytes) {
    wchar_t buffer[48];
    if (bytes <= 0) return L"0 B";
    if (bytes > 1073741823)
        std::swprintf(buffer, 48, L"%.2f GB", static_cast<double>(bytes) / 1073741824.0);
    else if (bytes > 1048575)
        std::swprintf(buffer, 48, L"%.1f MB", static_cast<double>(bytes) / 1048576.0);
    else if (bytes <= 1023)
        std::swprintf(buffer, 48, L"%d B", static_cast<int>(bytes));
    else
        std::swprintf(buffer, 48, L"%d KB", static_cast<int>(bytes >> 10));
    return buffer;
}

std::wstring formatSpeed(int32_t bytesPerSecond) {
    wchar_t buffer[48];
    if (bytesPerSecond <= 0) return std::wstring();
    if (bytesPerSecond > 1048575)
        std::swprintf(buffer, 48, L"%.1f MB/s", static_cast<double>(bytesPerSecond) / 1048576.0);
    else if (bytesPerSecond <= 1023)
        std::swprintf(buffer, 48, L"%d B/s", bytesPerSecond);
    else
        std::swprintf(buffer, 48, L"%d KB/s", bytesPerSecond >> 10);
    return buffer;
}

std::wstring formatDate(int64_t millisecondsSinceEpoch) {
    if (millisecondsSinceEpoch <= 0) return std::wstring();
    // Beyond what FILETIME holds there is no date to show.
    if (millisecondsSinceEpoch > (INT64_MAX - 116444736000000000LL) / 10000) return std::wstring();
    const uint64_t ticks = static_cast<uint64_t>(millisecondsSinceEpoch) * 10000ULL + 116444736000000000ULL;
    FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    FILETIME local{};
    SYSTEMTIME time{};
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &time)) return std::wstring();
    wchar_t buffer[32];
    std::swprintf(buffer, 32, L"%02d-%02d", time.wMonth, time.wDay);
    return buffer;
}
