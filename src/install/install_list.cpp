#include "install/install_list.h"

#include <cmath>
#include <cwctype>
#include <unordered_set>

#include "base/text_convert.h"
#include "json/json.h"

namespace {

// Names shown in the confirmation before the rest is only counted.
constexpr size_t kNamesShown = 12;

std::wstring nth(size_t index) { return L"第 " + std::to_wstring(index + 1) + L" 款软件"; }

// Line and column (1-based, counting characters, not bytes) of a byte offset; a byte-order mark is no
// character.
std::wstring whereInText(const std::string& bytes, size_t offset) {
    size_t line = 1, column = 1;
    for (size_t i = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; i < offset && i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) {
            ++column;  // UTF-8 continuation bytes belong to the character before
        }
    }
    return L"第 " + std::to_wstring(line) + L" 行第 " + std::to_wstring(column) + L" 列";
}

// A member that must be text when present; false (and the problem) when it is something else.
bool readText(const json::Value& object, const char* key, const std::wstring& owner, std::wstring& out,
              std::wstring& problem) {
    const json::Value* value = object.find(key);
    if (!value) return true;
    if (value->kind != json::Kind::String) {
        problem = owner + L"的“" + Utf8ToWide(key) + L"”应是文本";
        return false;
    }
    out = Utf8ToWide(value->text);
    return true;
}

bool isBlank(const std::wstring& text) {
    for (const wchar_t c : text)
        if (!std::iswspace(c) && c != L'\x3000') return false;
    return true;
}

// One app of the list; the problem names it by its place.
bool readEntry(const json::Value& item, size_t index, InstallListEntry& entry, std::wstring& problem) {
    const std::wstring owner = nth(index);
    if (item.kind != json::Kind::Object) {
        problem = owner + L"应是一个对象 {…}";
        return false;
    }
    if (const json::Value* id = item.find("id")) {
        const double number = id->asDouble(0);
        if (id->kind != json::Kind::Number || !(number >= 1 && number <= 2147483647.0) ||
            std::floor(number) != number) {
            problem = owner + L"的编号“id”应是正整数";
            return false;
        }
        entry.id = static_cast<int32_t>(number);
    }
    if (!item.find("name")) {
        problem = owner + L"缺少名称“name”";
        return false;
    }
    if (!readText(item, "name", owner, entry.name, problem) ||
        !readText(item, "version", owner, entry.version, problem))
        return false;
    if (isBlank(entry.name)) {
        problem = owner + L"的名称“name”是空的";
        return false;
    }
    return true;
}

std::wstring trimmedServer(std::wstring server) {
    while (!server.empty() && server.back() == L'/') server.pop_back();
    for (wchar_t& c : server) c = static_cast<wchar_t>(std::towlower(c));
    return server;
}

std::wstring namesText(const std::vector<std::wstring>& names) {
    std::wstring text;
    for (size_t i = 0; i < names.size() && i < kNamesShown; ++i) text += (i ? L"、「" : L"「") + names[i] + L"」";
    if (names.size() > kNamesShown) text += L"等 " + std::to_wstring(names.size()) + L" 款";
    return text;
}

}  // namespace

std::wstring installListTooLarge() { return L"文件超过 1 MiB，不像是软件清单"; }

InstallListParse parseInstallList(const std::string& bytes) {
    InstallListParse result;
    if (bytes.size() > kMaxInstallListBytes) {
        result.problem = installListTooLarge();
        return result;
    }
    size_t failedAt = 0;
    const json::ValuePtr root = json::parse(bytes, &failedAt);
    if (!root) {
        result.problem = L"不是有效的 JSON：" + whereInText(bytes, failedAt) + L"有误";
        return result;
    }
    if (root->kind != json::Kind::Object) {
        result.problem = L"清单应是一个 JSON 对象 {…}";
        return result;
    }
    InstallList list;
    if (!readText(*root, "server", L"清单", list.server, result.problem) ||
        !readText(*root, "channel", L"清单", list.channel, result.problem))
        return result;
    const json::Value* apps = root->find("apps");
    if (!apps || apps->kind != json::Kind::Array) {
        result.problem = apps ? L"“apps”应是软件的列表 […]" : L"缺少软件列表“apps”";
        return result;
    }
    list.apps.resize(apps->items.size());
    for (size_t i = 0; i < apps->items.size(); ++i)
        if (!readEntry(*apps->items[i], i, list.apps[i], result.problem)) return result;
    result.list = std::move(list);
    return result;
}

std::string formatInstallList(const InstallList& list) {
    const auto quoted = [](const std::wstring& text) { return "\"" + json::escapeString(WideToUtf8(text)) + "\""; };
    std::string text = "{\n  \"server\": " + quoted(list.server) + ",\n  \"channel\": " + quoted(list.channel) +
                       ",\n  \"apps\": [";
    for (size_t i = 0; i < list.apps.size(); ++i) {
        const InstallListEntry& app = list.apps[i];
        text += (i ? ",\n    " : "\n    ");
        text += "{\"id\": " + std::to_string(app.id) + ", \"name\": " + quoted(app.name) +
                ", \"version\": " + quoted(app.version) + "}";
    }
    text += list.apps.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return text;
}

InstallList installedAppsList(const std::wstring& server, const std::wstring& channel, const std::vector<AppInfo>& apps,
                              const std::unordered_map<int32_t, InstallStatus>& installed) {
    InstallList list{server, channel, {}};
    for (const AppInfo& app : apps) {
        const auto found = installed.find(app.id);
        if (found == installed.end()) continue;
        const std::wstring& version = found->second.registration.displayVersion;
        list.apps.push_back({app.id, app.name, version.empty() ? app.version : version});
    }
    return list;
}

bool sameCatalogue(const std::wstring& serverA, const std::wstring& channelA, const std::wstring& serverB,
                   const std::wstring& channelB) {
    return channelA == channelB && trimmedServer(serverA) == trimmedServer(serverB);
}

ImportPlan planImport(const InstallList& list, const std::wstring& server, const std::wstring& channel,
                      const std::vector<AppInfo>& apps, const std::unordered_map<int32_t, InstallStatus>& installed) {
    ImportPlan plan;
    plan.match = sameCatalogue(list.server, list.channel, server, channel) ? ListMatch::ById : ListMatch::ByName;
    std::unordered_map<int32_t, size_t> byId;
    std::unordered_map<std::wstring, size_t> byName;  // the first app of each name
    for (size_t i = 0; i < apps.size(); ++i) {
        byId.emplace(apps[i].id, i);
        byName.emplace(apps[i].name, i);
    }
    const auto appFor = [&](const InstallListEntry& entry) -> const AppInfo* {
        if (plan.match == ListMatch::ById && entry.id != 0) {
            const auto found = byId.find(entry.id);
            return found == byId.end() ? nullptr : &apps[found->second];
        }
        const auto found = byName.find(entry.name);
        return found == byName.end() ? nullptr : &apps[found->second];
    };
    std::unordered_set<int32_t> seen;
    for (const InstallListEntry& entry : list.apps) {
        const AppInfo* found = appFor(entry);
        if (!found) {
            plan.unknown.push_back(entry.name);
            continue;
        }
        const AppInfo& app = *found;
        if (!seen.insert(app.id).second) continue;
        if (installed.count(app.id)) {
            ++plan.alreadyInstalled;
        } else if (!app.hasPackage) {
            plan.noPackageIds.push_back(app.id);
            plan.noPackage.push_back(app.name);
        } else {
            plan.install.push_back(app.id);
            plan.installNames.push_back(app.name);
        }
    }
    return plan;
}

std::wstring importQuestion(const ImportPlan& plan) {
    std::wstring text = plan.install.empty()
                            ? std::wstring(L"清单中没有需要安装的软件。")
                            : L"将安装 " + std::to_wstring(plan.install.size()) + L" 款软件：\n" +
                                  namesText(plan.installNames);
    text += plan.match == ListMatch::ById ? L"\n\n清单来自当前的服务器，按软件编号匹配。"
                                          : L"\n\n清单来自其他服务器，按软件名称匹配。";
    if (!plan.noPackage.empty())
        text += L"\n跳过 " + std::to_wstring(plan.noPackage.size()) + L" 款暂无安装包的软件：" + namesText(plan.noPackage);
    if (!plan.unknown.empty())
        text += L"\n跳过 " + std::to_wstring(plan.unknown.size()) + L" 款软件目录中没有的软件：" + namesText(plan.unknown);
    if (plan.alreadyInstalled > 0) text += L"\n已安装的 " + std::to_wstring(plan.alreadyInstalled) + L" 款不再安装。";
    return text;
}
