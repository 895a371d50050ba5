#pragma once
// The catalogue records shared by the whole program and the bootstrap call that fills them.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "json/json.h"
#include "net/http_client.h"

struct CategoryInfo {
    std::wstring id;
    std::wstring name;
};

struct AppInfo {
    int32_t id = 0;
    std::wstring name;
    std::wstring version;
    std::vector<std::wstring> categoryIds;
    std::wstring description;
    std::wstring icon;
    int64_t packageSize = 0;
    std::string md5;
    std::string sha256;  // lowercase hex, as the catalogue gives it; empty when it gives none
    bool hasPackage = false;
    // The catalogue's arguments for installing without a window, replacing those of the installer's
    // type; an empty text means the package cannot install silently. Absent when not given.
    std::optional<std::wstring> silentArgs;
    // The simple name of the signer its installer must carry, chained to a trusted root; empty: any.
    std::wstring publisher;
    int64_t downloads = 0;
    int64_t updatedAt = 0;
    // Other URLs of the package's bytes, in the catalogue's order, as it gives them (UTF-8); the
    // download keeps only the absolute http(s) ones.
    std::vector<std::string> mirrors;
};
// The record lists grow by moving records, never by copying every string of every record.
static_assert(std::is_nothrow_move_constructible<AppInfo>::value, "AppInfo must move without copying");

// Why a catalogue could not be loaded.
enum class CatalogueFault : int32_t {
    None = 0,
    Network,            // the exchange failed (http says how)
    BadData,            // the answer is no bootstrap, or a 304 to a request that named no copy
    TooManyCategories,  // beyond 1 000
    TooManyApps,        // beyond 100 000
};

struct CatalogueError {
    CatalogueFault fault = CatalogueFault::None;
    HttpError http;
};

struct Catalogue {
    std::vector<CategoryInfo> categories;
    std::vector<AppInfo> apps;
    CatalogueError lastError;
    // Counts the times the lists were replaced: a result meant for older records (an icon fetched
    // for them) names the generation it was asked for, and a mismatch drops it.
    uint32_t generation = 0;

    // Replaces both lists on success; on failure (also beyond 100 000 apps or 1 000 categories) keeps
    // them and sets lastError.
    bool loadBootstrap(const std::wstring& server);
    // The same for a bootstrap body already at hand (the network's or the local cache's). With
    // parsedTree the parsed document is handed to the caller instead of freed here: freeing a
    // 5 000-app tree costs about as much as building the records, and a caller may do it later.
    bool parseBootstrap(const std::string& body, json::ValuePtr* parsedTree = nullptr);
    AppInfo* findApp(int32_t id);
    const AppInfo* findApp(int32_t id) const;
};

// Builds one record from one JSON value; a non-object gives a record of defaults.
AppInfo parseAppInfo(const json::Value& object);
// Keeps the digits of a version and at most its major and minor parts ("V 2.10.3 beta" -> "2.10").
std::wstring normalizeVersion(const std::wstring& text);

