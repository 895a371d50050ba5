#pragma once
// Install-list files on disk: read (at most kMaxInstallListBytes) and written whole, on the calling
// thread or on a worker that hands the outcome to a window by WM_QB_LIST_FILE_DONE.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "install/install_list.h"

// The list in the file, or the first problem (the file cannot be opened, is too large, or its text is
// not a list).
InstallListParse readInstallListFile(const std::wstring& path);
// Replaces the file's contents with text; no problem when it was written, else CannotWrite with the
// system's error (a file left half written is removed).
InstallListProblem writeInstallListFile(const std::wstring& path, const std::string& text);

// A worker's read or write, by the number the window gave it.
struct InstallListFileJob {
    uint32_t number = 0;
    bool reading = false;
    std::wstring path;
    std::optional<InstallList> list;  // what a read found
    InstallListProblem problem;       // none when the file was read or written
};
// Each posts WM_QB_LIST_FILE_DONE with number to window when done; false when no thread could be made.
bool startInstallListRead(HWND window, uint32_t number, const std::wstring& path);
bool startInstallListWrite(HWND window, uint32_t number, const std::wstring& path, std::string text);
// The finished job of that number, once; nullopt when there is none.
std::optional<InstallListFileJob> takeInstallListFileJob(uint32_t number);
