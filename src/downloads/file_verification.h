#pragma once
// What a downloaded file contains: its MD5 digest and the signatures of installers and archives.
#include <string>

// Appends the digest as 32 lowercase hexadecimal digits; false when the file cannot be read.
bool fileMd5(const std::wstring& path, std::string& digest);
// A Windows executable ("MZ") or a Windows Installer package (compound document).
bool isInstallerFile(const std::wstring& path);
// L"zip", L"rar", L"7z" or empty.
std::wstring archiveKind(const std::wstring& path);
