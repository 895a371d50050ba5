#include "install/install_list.h"

#include <cmath>
#include <cwctype>
#include <unordered_set>

#include "base/text_convert.h"
#include "json/json.h"

namespace {

InstallListProblem problemOf(InstallListFault fault, size_t app = 0) {
    InstallListProblem problem;
    problem.fault = fault;
    problem.app = app;
    return problem;
}

// Where a byte offset lies, in lines and characters (not bytes) from 1; a byte-order mark is no character.
InstallListProblem notJsonAt(const std::string& bytes, size_t offset) {
    InstallListProblem problem = problemOf(InstallListFault::NotJson);
    size_t line = 1, column = 1;
    for (size_t i = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; i < offset && i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) {
            ++column;  // UTF-8 continuation bytes belong to the character before
        }
    }
    problem.line = line;
    problem.column = column;
    return problem;
}

// A member that must be text when present; false (and the problem, of the list or of the app-th entry
// as `notText` says) when it is something else.
bool readText(const json::Value& object, const char* key, InstallListProblem notText, std::wstring& out,
              InstallListProblem& problem) {
    const json::Value* value = object.find(key);
    if (!value) return true;
    if (value->kind != json::Kind::String) {
        problem = std::move(notText);
        problem.member = key;
        return false;
    }
    out = utf8ToWide(value->text);
    return true;
}

bool isBlank(const std::wstring& text) {
    for (const wchar_t c : text)
        if (!std::iswspace(c) && c != L'\x3000') return false;
    return true;
}

// One app of the list; the problem names it by its place.
bool readEntry(const json::Value& item, size_t index, InstallListEntry& entry, InstallListProblem& problem) {
    if (item.kind != json::Kind::Object) {
        problem = problemOf(InstallListFault::AppNotAnObject, index);
        return false;
    }
    if (const json::Value* id = item.find("id")) {
        const double number = id->asDouble(0);
        if (id->kind != json::Kind::Number || !(number >= 1 && number <= 2147483647.0) ||
            std::floor(number) != number) {
            problem = problemOf(InstallListFault::AppBadId, index);
            return false;
        }
        entry.id = static_cast<int32_t>(number);
    }
    if (!item.find("name")) {
        problem = problemOf(InstallListFault::AppNoName, index);
        return false;
    }
    const InstallListProblem notText = problemOf(InstallListFault::AppMemberNotText, index);
    if (!readText(item, "name", notText, entry.name, problem) ||
        !readText(item, "version", notText, entry.version, problem))
        return false;
    if (isBlank(entry.name)) {
        problem = problemOf(InstallListFault::AppBlankName, index);
        return false;
    }
    return true;
}

std::wstring trimmedServer(std::wstring server) {
    while (!server.empty() && server.back() == L'/') server.pop_back();
    for (wchar_t& c : server) c = static_cast<wchar_t>(std::towlower(c));
    return server;
}

}  // namespace

InstallListParse parseInstallList(const std::string& bytes) {
    InstallListParse result;
    if (bytes.size() > kMaxInstallListBytes) {
        result.problem = problemOf(InstallListFault::TooLarge);
        return result;
    }
    size_t failedAt = 0;
    const json::ValuePtr root = json::parse(bytes, &failedAt);
    if (!root) {
        result.problem = notJsonAt(bytes, failedAt);
        return result;
    }
    if (root->kind != json::Kind::Object) {
        result.problem = problemOf(InstallListFault::NotAnObject);
        return result;
    }
    InstallList list;
    const InstallListProblem notText = problemOf(InstallListFault::ListMemberNotText);
    if (!readText(*root, "server", notText, list.server, result.problem) ||
        !readText(*root, "channel", notText, list.channel, result.problem))
        return result;
    const json::Value* apps = root->find("apps");
    if (!apps || apps->kind != json::Kind::Array) {
        result.problem = problemOf(apps ? InstallListFault::AppsNotAList : InstallListFault::NoApps);
        return result;
    }
    list.apps.resize(apps->items.size());
    for (size_t i = 0; i < apps->items.size(); ++i)
        if (!readEntry(*apps->items[i], i, list.apps[i], result.problem)) return result;
    result.list = std::move(list);
    return result;
}

std::string formatInstallList(const InstallList& list) {
    const auto quoted = [](const std::wstring& text) { return "\"" + json::escapeString(wideToUtf8(text)) + "\""; };
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
