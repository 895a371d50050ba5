#include "service/catalogue.h"

#include <cwctype>

#include "base/text_convert.h"
#include "json/json.h"
#include "net/http_client.h"

namespace {

// A bootstrap with more than these fails: the records of a hostile answer would outgrow memory.
constexpr size_t kMaxApps = 100000;
constexpr size_t kMaxCategories = 1000;

std::wstring wideMember(const json::Value& object, const char* key) {
    const json::Value* value = object.find(key);
    return value ? utf8ToWide(value->asString("")) : std::wstring();
}

int64_t int64Member(const json::Value& object, const char* key) {
    const json::Value* value = object.find(key);
    return value ? value->asInt64(0) : 0;
}

// The elements of an array value; anything else has none.
const std::vector<json::ValuePtr>& arrayItems(const json::Value* value) {
    static const std::vector<json::ValuePtr> kNone;
    return value && value->kind == json::Kind::Array ? value->items : kNone;
}

std::vector<std::wstring> categoryIdsOf(const json::Value& object) {
    std::vector<std::wstring> ids;
    for (const json::ValuePtr& item : arrayItems(object.find("categoryIds"))) {
        std::wstring id = item ? utf8ToWide(item->asString("")) : std::wstring();
        if (!id.empty()) ids.push_back(std::move(id));
    }
    if (ids.empty()) {
        std::wstring single = wideMember(object, "categoryId");
        if (!single.empty()) ids.push_back(std::move(single));
    }
    return ids;
}

std::vector<std::string> mirrorsOf(const json::Value& object) {
    std::vector<std::string> mirrors;
    for (const json::ValuePtr& item : arrayItems(object.find("mirrors")))
        if (item && item->kind == json::Kind::String) mirrors.push_back(item->asString(""));
    return mirrors;
}

}  // namespace

AppInfo* Catalogue::findApp(int32_t id) {
    for (AppInfo& app : apps)
        if (app.id == id) return &app;
    return nullptr;
}

const AppInfo* Catalogue::findApp(int32_t id) const {
    for (const AppInfo& app : apps)
        if (app.id == id) return &app;
    return nullptr;
}

std::wstring normalizeVersion(const std::wstring& text) {
    std::wstring result;
    for (const wchar_t c : text) {
        if (std::iswdigit(c)) {
            result.push_back(c);
        } else if ((c == L' ' || c == L',' || c == L'.') && !result.empty() && result.back() != L'.') {
            result.push_back(L'.');
        }
    }
    while (!result.empty() && result.back() == L'.') result.pop_back();
    const size_t firstDot = result.find(L'.');
    if (firstDot != std::wstring::npos) {
        const size_t secondDot = result.find(L'.', firstDot + 1);
        if (secondDot != std::wstring::npos) result.resize(secondDot);
    }
    return result;
}

AppInfo parseAppInfo(const json::Value& object) {
    AppInfo app;
    if (const json::Value* id = object.find("id")) app.id = id->asInt(0);
    app.name = wideMember(object, "name");
    app.version = normalizeVersion(wideMember(object, "version"));
    app.categoryIds = categoryIdsOf(object);
    app.description = wideMember(object, "description");
    app.icon = wideMember(object, "icon");
    app.packageSize = int64Member(object, "packageSize");
    if (const json::Value* md5 = object.find("md5")) app.md5 = md5->asString("");
    if (const json::Value* sha256 = object.find("sha256")) app.sha256 = sha256->asString("");
    if (const json::Value* hasPackage = object.find("hasPackage")) app.hasPackage = hasPackage->asBool(false);
    if (const json::Value* args = object.find("silentArgs"); args && args->kind == json::Kind::String)
        app.silentArgs = utf8ToWide(args->asString(""));
    app.publisher = wideMember(object, "publisher");
    app.downloads = int64Member(object, "downloads");
    app.updatedAt = int64Member(object, "updatedAt");
    app.mirrors = mirrorsOf(object);
    return app;
}

bool Catalogue::loadBootstrap(const std::wstring& server) {
    lastError = CatalogueError{};
    std::string body;
    HttpError error;
    if (!HttpClient::Get(server + L"/api/client/bootstrap", body, error)) {
        lastError = CatalogueError{CatalogueFault::Network, error};
        return false;
    }
    return parseBootstrap(body);
}

bool Catalogue::parseBootstrap(const std::string& body, json::ValuePtr* parsedTree) {
    lastError = CatalogueError{};
    json::ValuePtr root = json::parse(body);
    struct HandOut {
        json::ValuePtr& root;
        json::ValuePtr* target;
        ~HandOut() {
            if (target) *target = std::move(root);
        }
    } handOut{root, parsedTree};
    const json::Value* data = root ? root->find("data") : nullptr;
    if (!data) {
        lastError.fault = CatalogueFault::BadData;
        return false;
    }
    const std::vector<json::ValuePtr>& categoryItems = arrayItems(data->find("categories"));
    const std::vector<json::ValuePtr>& appItems = arrayItems(data->find("apps"));
    if (categoryItems.size() > kMaxCategories) {
        lastError.fault = CatalogueFault::TooManyCategories;
        return false;
    }
    if (appItems.size() > kMaxApps) {
        lastError.fault = CatalogueFault::TooManyApps;
        return false;
    }
    categories.clear();
    categories.reserve(categoryItems.size());
    for (const json::ValuePtr& item : categoryItems) {
        CategoryInfo category;
        if (item) {
            category.id = wideMember(*item, "id");
            category.name = wideMember(*item, "name");
        }
        categories.push_back(std::move(category));
    }
    apps.clear();
    apps.reserve(appItems.size());
    for (const json::ValuePtr& item : appItems)
        apps.push_back(item ? parseAppInfo(*item) : AppInfo());
    return true;
}
