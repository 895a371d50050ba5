#pragma once
// Install lists ("软件清单"): the installed apps the catalogue knows, written as a small JSON file that
// another machine imports to install the same apps. Pure: parsing, formatting and matching a list
// against the catalogue; the files themselves are read and written in install_list_file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "install/installed_apps.h"
#include "service/catalogue.h"

// A list larger than this is refused before it is parsed.
inline constexpr size_t kMaxInstallListBytes = 1024 * 1024;

struct InstallListEntry {
    int32_t id = 0;  // the catalogue's id on the list's server; 0 when the list gives none
    std::wstring name;
    std::wstring version;
};

struct InstallList {
    std::wstring server;   // the catalogue's service and channel the list was written from
    std::wstring channel;
    std::vector<InstallListEntry> apps;
};

// The first problem of a list file, for whoever words it.
enum class InstallListFault : int32_t {
    None = 0,
    CannotOpen,         // the file cannot be opened (systemCode)
    CannotWrite,        // the file cannot be written (systemCode)
    TooLarge,           // over kMaxInstallListBytes
    NotJson,            // reading stopped at line, column
    NotAnObject,        // the document is no object
    ListMemberNotText,  // the list's member is no text
    NoApps,             // there is no "apps"
    AppsNotAList,       // "apps" is no array
    AppNotAnObject,     // the app-th entry is no object
    AppBadId,           // its "id" is no whole number from 1 to 2147483647
    AppNoName,
    AppMemberNotText,   // its member is no text
    AppBlankName,
};

struct InstallListProblem {
    InstallListFault fault = InstallListFault::None;
    size_t app = 0;        // the entry's place in "apps", from 0
    std::string member;    // "server", "channel", "name" or "version"
    size_t line = 0;       // from 1, counting characters (a byte-order mark is none)
    size_t column = 0;
    uint32_t systemCode = 0;
};

// A parsed list, or the first problem found (the list is then empty).
struct InstallListParse {
    std::optional<InstallList> list;
    InstallListProblem problem;
};
InstallListParse parseInstallList(const std::string& bytes);
// The list as UTF-8 JSON, one app a line.
std::string formatInstallList(const InstallList& list);

// The catalogue apps the registrations list as installed, in catalogue order, each with its installed
// version (the catalogue's when the registration gives none).
InstallList installedAppsList(const std::wstring& server, const std::wstring& channel, const std::vector<AppInfo>& apps,
                              const std::unordered_map<int32_t, InstallStatus>& installed);

enum class ListMatch { ById, ByName };

// What importing a list into this catalogue does: which apps it installs (catalogue ids, in the
// list's order, each once) and what it leaves out.
struct ImportPlan {
    ListMatch match = ListMatch::ById;
    std::vector<int32_t> install;
    std::vector<std::wstring> installNames;
    std::vector<int32_t> noPackageIds;          // in the catalogue without a package
    std::vector<std::wstring> noPackage;
    std::vector<std::wstring> unknown;          // not in the catalogue
    size_t alreadyInstalled = 0;
};
// Matches by id when the list comes from this server and channel (an entry without an id by name),
// otherwise by exact name.
ImportPlan planImport(const InstallList& list, const std::wstring& server, const std::wstring& channel,
                      const std::vector<AppInfo>& apps, const std::unordered_map<int32_t, InstallStatus>& installed);
// True when both name the same service (letter case and trailing slashes aside) and the same channel.
bool sameCatalogue(const std::wstring& serverA, const std::wstring& channelA, const std::wstring& serverB,
                   const std::wstring& channelB);
