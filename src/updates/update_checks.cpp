#include "updates/update_checks.h"

#include "base/text_convert.h"
#include "config/local_cache.h"
#include "json/json.h"

namespace updates {

namespace {

constexpr wchar_t kAnnouncedFile[] = L"announced-updates.json";
constexpr size_t kLongestAnnouncedFile = 4 * 1024 * 1024;
constexpr uint64_t kHourMs = 3600ull * 1000;

}  // namespace

uint64_t msUntilNextCheck(uint64_t nowMs, uint64_t lastCheckMs, int hours) {
    if (lastCheckMs == 0) return 0;
    const uint64_t due = lastCheckMs + static_cast<uint64_t>(hours > 0 ? hours : 1) * kHourMs;
    return nowMs >= due ? 0 : due - nowMs;
}

bool meteredCost(uint32_t costFlags) {
    // "Set as metered connection" in the system's settings reports the fixed cost.
    constexpr uint32_t kFixed = 0x2, kVariable = 0x4, kOverLimit = 0x10000, kCongested = 0x20000, kRoaming = 0x40000,
                       kNearLimit = 0x80000;
    return (costFlags & (kFixed | kVariable | kOverLimit | kCongested | kRoaming | kNearLimit)) != 0;
}

std::vector<Updatable> toAnnounce(const std::vector<Updatable>& updatable, const Announced& announced) {
    std::vector<Updatable> fresh;
    for (const Updatable& app : updatable) {
        const auto named = announced.find(app.id);
        if (named == announced.end() || named->second != app.version) fresh.push_back(app);
    }
    return fresh;
}

void markAnnounced(Announced& announced, const std::vector<Updatable>& named) {
    for (const Updatable& app : named) announced[app.id] = app.version;
}

std::string announcedText(const Announced& announced) {
    std::string text = "{\"announced\":[";
    bool first = true;
    for (const auto& [id, version] : announced) {
        text += (first ? "" : ",") + std::string("{\"id\":") + std::to_string(id) + ",\"version\":\"" +
                json::escapeString(wideToUtf8(version)) + "\"}";
        first = false;
    }
    return text + "]}\n";
}

Announced parseAnnounced(const std::string& text) {
    Announced announced;
    const json::ValuePtr root = json::parse(text);
    const json::Value* list = root ? root->find("announced") : nullptr;
    if (!list || list->kind != json::Kind::Array) return announced;
    for (const json::ValuePtr& item : list->items) {
        const json::Value* id = item ? item->find("id") : nullptr;
        const json::Value* version = item ? item->find("version") : nullptr;
        if (!id || id->kind != json::Kind::Number || !version || version->kind != json::Kind::String) continue;
        if (id->number < 1 || id->number > INT32_MAX) continue;
        announced[static_cast<int32_t>(id->number)] = utf8ToWide(version->text);
    }
    return announced;
}

Announced loadAnnounced() {
    const std::optional<std::string> text = cache::read(kAnnouncedFile, kLongestAnnouncedFile);
    return text ? parseAnnounced(*text) : Announced{};
}

bool saveAnnounced(const Announced& announced) { return cache::write(kAnnouncedFile, announcedText(announced)); }

}  // namespace updates
