#pragma once
// The three sources of a download's file name (app name, Content-Disposition, URL) and the rule that
// makes any of them a safe Windows file name. Pure text functions: no file system, no Windows calls.
#include <string>

// Never empty and never a path: drops the characters Windows refuses (and code units 0-31), direction
// and invisible format marks, trailing blanks and dots, defuses reserved device names, keeps at most
// 120 characters with the extension.
std::wstring sanitizeFileName(const std::wstring& name);
// The name a download has until the server names it: the app's title as an ".exe", within the same
// 120 characters (a long title loses its end, never the extension).
std::wstring titleFileName(const std::wstring& title);
// The name a Content-Disposition value gives ("filename*=" before "filename="), or empty.
std::wstring fileNameFromDisposition(const std::wstring& value);
// The last path segment of a URL when it is a plausible package name with a known extension, or empty.
std::wstring fileNameFromUrl(const std::wstring& url);

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (with any extension): names that open a device, not a file.
bool isReservedDeviceName(const std::wstring& name);
// "setup.exe", 2 -> "setup (2).exe"; the extension stays and the result stays within 120 characters.
std::wstring numberedFileName(const std::wstring& name, int number);
// A sanitised name whose extension is `extension` (".exe"): a name's own last extension is replaced,
// so a server cannot plant "version.dll" where the next installer would load it.
std::wstring withExtension(const std::wstring& name, const std::wstring& extension);
// The folder part of a path ("C:\\d\\x.exe" -> "C:\\d"); empty when it has no separator.
std::wstring folderOfPath(const std::wstring& path);
