#pragma once
// Shared helpers for the unit tests that run under Wine.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace qbtest {

// A fresh, empty folder under the temporary folder, unique per call.
std::wstring makeScratchDir(const std::wstring& tag);
// Removes a folder tree; ignores what cannot be removed.
void removeTree(const std::wstring& path);
bool writeFileBytes(const std::wstring& path, const std::string& bytes);
std::string readFileBytes(const std::wstring& path);
// Names of the files and folders directly in a folder, sorted; empty when it cannot be listed.
std::vector<std::wstring> filesIn(const std::wstring& folder);
bool fileExists(const std::wstring& path);
// Environment variable as UTF-16, empty when unset.
std::wstring environment(const wchar_t* name);
// Folder holding the running test executable.
std::wstring exeFolder();
// Looks at `condition` until it holds, running `between` (a message pump, a dialog closer) and sleeping
// 10 ms between looks; false when it still does not hold after timeoutMs.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs, const std::function<void()>& between = {});

}  // namespace qbtest
