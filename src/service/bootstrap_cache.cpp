#include "service/bootstrap_cache.h"

#include "config/local_cache.h"
#include "json/json.h"

namespace {

constexpr wchar_t kBodyName[] = L"bootstrap.json";
constexpr wchar_t kStampName[] = L"bootstrap.stamp.json";
constexpr size_t kMaxBodyBytes = 8388608;  // the largest bootstrap the client accepts
constexpr size_t kMaxStampBytes = 16384;

}  // namespace

std::string bootstrapStampText(const BootstrapStamp& stamp, size_t bodyBytes) {
    return "{\"etag\":\"" + json::escapeString(stamp.etag) + "\",\"lastModified\":\"" +
           json::escapeString(stamp.lastModified) + "\",\"confirmedAt\":" + std::to_string(stamp.confirmedAtMs) +
           ",\"bytes\":" + std::to_string(bodyBytes) + "}";
}

bool parseBootstrapStamp(const std::string& text, BootstrapStamp& stamp, size_t& bodyBytes) {
    const json::ValuePtr root = json::parse(text);
    const json::Value* bytes = root ? root->find("bytes") : nullptr;
    if (!bytes || bytes->kind != json::Kind::Number || bytes->asInt64(-1) < 0) return false;
    bodyBytes = static_cast<size_t>(bytes->asInt64(0));
    const json::Value* etag = root->find("etag");
    const json::Value* lastModified = root->find("lastModified");
    const json::Value* confirmedAt = root->find("confirmedAt");
    stamp.etag = etag ? etag->asString("") : std::string();
    stamp.lastModified = lastModified ? lastModified->asString("") : std::string();
    stamp.confirmedAtMs = confirmedAt ? confirmedAt->asInt64(0) : 0;
    return true;
}

std::optional<CachedBootstrap> readCachedBootstrap() {
    std::optional<std::string> body = cache::read(kBodyName, kMaxBodyBytes);
    const std::optional<std::string> stampText = cache::read(kStampName, kMaxStampBytes);
    if (!body && !stampText) return std::nullopt;
    CachedBootstrap cached;
    size_t bytes = 0;
    if (!body || !stampText || !parseBootstrapStamp(*stampText, cached.stamp, bytes) || bytes != body->size()) {
        forgetCachedBootstrap();
        return std::nullopt;
    }
    cached.body = std::move(*body);
    return cached;
}

bool storeCachedBootstrap(const std::string& body, const BootstrapStamp& stamp) {
    if (body.size() > kMaxBodyBytes) return false;
    return cache::write(kBodyName, body) && storeBootstrapStamp(stamp, body.size());
}

bool storeBootstrapStamp(const BootstrapStamp& stamp, size_t bodyBytes) {
    return cache::write(kStampName, bootstrapStampText(stamp, bodyBytes));
}

void forgetCachedBootstrap() {
    cache::remove(kStampName);
    cache::remove(kBodyName);
}
