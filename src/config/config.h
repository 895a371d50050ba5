#pragma once
// The user's settings and the small JSON file that keeps them.
#include <string>

#include "base/text_convert.h"

// Built-in service origin, used until config.json names another.
inline constexpr wchar_t kDefaultServer[] = L"https://api.quillbox.app";
inline constexpr wchar_t kDefaultChannel[] = L"default";
// Connections one download may use at once.
inline constexpr int kDefaultConnections = 4;
inline constexpr int kMaxConnections = 8;

struct AppConfig {
    std::wstring server = kDefaultServer;
    std::wstring channel = kDefaultChannel;
    std::wstring downloadDir;  // empty: the default download folder
    int connectionsPerDownload = kDefaultConnections;  // 1 to kMaxConnections
    // Packages of a known installer type (or with the catalogue's arguments) install with no window.
    bool silentInstall = true;
};

// Never fails: a missing or bad file gives the defaults field by field.
AppConfig loadConfig();
// True when the whole file was written.
bool saveConfig(const AppConfig& config);
// Roaming application data + "\Tidewell\config.json"; creates the folder.
std::wstring configFilePath();
// Appends the file's bytes to out; false when it cannot be opened.
bool readWholeFile(const std::wstring& path, std::string& out);

// Pure pieces of loading and saving, exposed for tests.
AppConfig parseConfigText(const std::string& bytes);
std::string configFileText(const AppConfig& config);
