#pragma once
// The folder that receives downloads: the user's choice from the settings, else Downloads\Quillbox.
#include <string>

// Stores the folder with its trailing backslashes removed; an empty path restores the default.
void setDownloadDirOverride(const std::wstring& path);
// The download folder, created (one level) if it does not exist yet.
std::wstring downloadDirectory();
// The folder as last resolved, else as it would resolve, for showing it: never any disk work (the
// window paints it).
std::wstring shownDownloadDirectory();
