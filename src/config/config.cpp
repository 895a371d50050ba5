#include "config/config.h"

#include <windows.h>
#include <shlobj.h>

#include "base/atomic_file.h"
#include "base/win_handles.h"
#include "json/json.h"

namespace {

void trimTrailing(std::wstring& text, const wchar_t* separators) {
    while (!text.empty() && wcschr(separators, text.back()) != nullptr) text.pop_back();
}

std::wstring memberText(const json::Value& root, const char* key, bool* present) {
    const json::Value* member = root.find(key);
    *present = member != nullptr;
    return member ? utf8ToWide(member->asString("")) : std::wstring();
}

std::wstring programFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer);
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring(L".") : path.substr(0, cut);
}

void readFlag(const json::Value& root, const char* name, bool& flag) {
    const json::Value* value = root.find(name);
    if (value && value->kind == json::Kind::Bool) flag = value->boolValue;
}

// A whole number kept between lo and hi; anything but a number leaves the default.
void readCount(const json::Value& root, const char* name, int lo, int hi, int& count) {
    const json::Value* value = root.find(name);
    if (value && value->kind == json::Kind::Number)
        count = value->number < lo ? lo : value->number > hi ? hi : static_cast<int>(value->number);
}

void readBackgroundSettings(const json::Value& root, AppConfig& config) {
    readFlag(root, "closeToTray", config.closeToTray);
    readCount(root, "updateCheckHours", 1, kMaxUpdateCheckHours, config.updateCheckHours);
    readFlag(root, "checkOnMetered", config.checkOnMetered);
    readFlag(root, "autoUpdate", config.autoUpdate);
    readCount(root, "autoUpdateIdleMinutes", 0, kMaxAutoUpdateIdleMinutes, config.autoUpdateIdleMinutes);
}

const char* flagText(bool flag) { return flag ? "true" : "false"; }

}  // namespace

bool readWholeFile(const std::wstring& path, std::string& out) {
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) out.append(chunk, read);
    return true;
}

std::wstring configFilePath() {
    wchar_t buffer[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    std::wstring folder = std::wstring(buffer) + L"\\Tidewell";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\config.json";
}

AppConfig parseConfigText(const std::string& bytes) {
    AppConfig config;
    if (bytes.empty()) return config;
    const json::ValuePtr root = json::parse(bytes);
    if (!root) return config;

    bool present = false;
    std::wstring server = memberText(*root, "server", &present);
    if (present) {
        trimTrailing(server, L"/");
        if (!server.empty()) config.server = server;
    }
    std::wstring channel = memberText(*root, "channel", &present);
    if (present && !channel.empty()) config.channel = channel;
    std::wstring downloadDir = memberText(*root, "downloadDir", &present);
    if (present) {
        trimTrailing(downloadDir, L"\\/");
        if (downloadDir.size() >= 3) config.downloadDir = downloadDir;
    }
    const json::Value* connections = root->find("connectionsPerDownload");
    if (connections && connections->kind == json::Kind::Number) {
        const double wanted = connections->number;
        config.connectionsPerDownload = wanted < 1 ? 1 : wanted > kMaxConnections ? kMaxConnections : static_cast<int>(wanted);
    }
    const json::Value* limit = root->find("speedLimitKBps");
    if (limit && limit->kind == json::Kind::Number && limit->number >= 1)
        config.speedLimitKBps = limit->number > kMaxSpeedLimitKBps ? kMaxSpeedLimitKBps : static_cast<int>(limit->number);
    const json::Value* silent = root->find("silentInstall");
    if (silent && silent->kind == json::Kind::Bool) config.silentInstall = silent->boolValue;
    readBackgroundSettings(*root, config);
    return config;
}

AppConfig loadConfig() {
    std::string bytes;
    if (!readWholeFile(configFilePath(), bytes)) readWholeFile(programFolder() + L"\\config.json", bytes);
    return parseConfigText(bytes);
}

std::string configFileText(const AppConfig& config) {
    return "{\n  \"server\": \"" + json::escapeString(wideToUtf8(config.server)) + "\",\n  \"channel\": \"" +
           json::escapeString(wideToUtf8(config.channel)) + "\",\n  \"downloadDir\": \"" +
           json::escapeString(wideToUtf8(config.downloadDir)) + "\",\n  \"connectionsPerDownload\": " +
           std::to_string(config.connectionsPerDownload) + ",\n  \"silentInstall\": " +
           (config.silentInstall ? "true" : "false") + ",\n  \"speedLimitKBps\": " +
           std::to_string(config.speedLimitKBps) + ",\n  \"closeToTray\": " + flagText(config.closeToTray) +
           ",\n  \"updateCheckHours\": " + std::to_string(config.updateCheckHours) + ",\n  \"checkOnMetered\": " +
           flagText(config.checkOnMetered) + ",\n  \"autoUpdate\": " + flagText(config.autoUpdate) +
           ",\n  \"autoUpdateIdleMinutes\": " + std::to_string(config.autoUpdateIdleMinutes) + "\n}\n";
}

bool saveConfig(const AppConfig& config) {
    return qb::writeFileAtomically(configFilePath(), configFileText(config)) == ERROR_SUCCESS;
}
