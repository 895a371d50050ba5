#pragma once
// What a downloaded file contains: its MD5 and SHA-256 digests and the signatures of installers and archives.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct FileDigests {
    std::string md5;     // 32 lowercase hexadecimal digits; empty when not asked for
    std::string sha256;  // 64 lowercase hexadecimal digits; empty when not asked for
};

// Reads the whole file from offset 0 through `file` (a synchronous handle opened with GENERIC_READ; reads
// name their offsets, so the file pointer is not relied on and is left anywhere) and computes the digests
// asked for in one pass; false, with both digests empty, when the file cannot be read. Asking for neither
// reads nothing.
bool fileDigests(HANDLE file, bool wantMd5, bool wantSha256, FileDigests& out);
// Appends the digest as 32 lowercase hexadecimal digits; false when the file cannot be read.
bool fileMd5(const std::wstring& path, std::string& digest);
// Appends the digest as 64 lowercase hexadecimal digits; false when the file cannot be read.
bool fileSha256(const std::wstring& path, std::string& digest);
// A Windows executable ("MZ") or a Windows Installer package (compound document).
bool isInstallerFile(const std::wstring& path);
// L"zip", L"rar", L"7z" or empty.
std::wstring archiveKind(const std::wstring& path);

// What a package is by its first bytes. A compound document is taken for a Windows Installer package.
enum class PackageKind { Unknown, Executable, InstallerDatabase, Zip, Rar, SevenZip };
PackageKind sniffPackage(const uint8_t* head, size_t count);
// Reads the first bytes through an open handle (GENERIC_READ), from offset 0.
PackageKind sniffPackage(HANDLE file);
bool isArchiveKind(PackageKind kind);
// The extension a package of that kind is saved with (".exe", ".msi", ".zip", ".rar", ".7z"); empty
// for Unknown. An installer database saved as ".exe" could never be opened.
const wchar_t* packageExtension(PackageKind kind);
