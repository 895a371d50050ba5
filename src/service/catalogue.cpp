#include "service/catalogue.h"

AppInfo& AppInfo::operator=(const AppInfo& other) {
    if (this == &other) return *this;
    id = other.id;
    name = other.name;
    version = other.version;
    categoryIds = other.categoryIds;
    description = other.description;
    icon = other.icon;
    packageSize = other.packageSize;
    md5 = other.md5;
    hasPackage = other.hasPackage;
    downloads = other.downloads;
    updatedAt = other.updatedAt;
    iconBitmap = other.iconBitmap;
    iconState.store(other.iconState.load(std::memory_order_acquire), std::memory_order_release);
    return *this;
}

AppInfo* Catalogue::FindApp(int32_t id) {
    for (AppInfo& app : apps)
        if (app.id == id) return &app;
    return nullptr;
}

const AppInfo* Catalogue::FindApp(int32_t id) const {
    for (const AppInfo& app : apps)
        if (app.id == id) return &app;
    return nullptr;
}

// Stand-in until the service client lands: every load fails as a network error would.
bool Catalogue::LoadBootstrap(const std::wstring& /*server*/) {
    lastError = L"网络错误";
    return false;
}
