#include "service/bootstrap_cache.h"

#include "base/text_convert.h"

#include <cstdio>
#include <cstdlib>

#include "base/checksum.h"
#include "base/sha256.h"
#include "config/local_cache.h"
#include "json/json.h"
#include "service/catalogue_snapshot.h"

namespace {

constexpr wchar_t kBodyName[] = L"bootstrap.json";
constexpr wchar_t kStampName[] = L"bootstrap.stamp.json";
constexpr wchar_t kSnapshotName[] = L"catalogue.bin";
constexpr size_t kMaxSnapshotBytes = 64u << 20;  // 100 000 records of an 8 MiB body stay well under this
constexpr size_t kMaxBodyBytes = 8388608;  // the largest bootstrap the client accepts
constexpr size_t kMaxStampBytes = 16384;

}  // namespace

std::string bootstrapStampText(const BootstrapStamp& stamp, size_t bodyBytes) {
    char checksum[17];
    std::snprintf(checksum, sizeof checksum, "%016llx", static_cast<unsigned long long>(stamp.bodyChecksum));
    return "{\"etag\":\"" + json::escapeString(stamp.etag) + "\",\"lastModified\":\"" +
           json::escapeString(stamp.lastModified) + "\",\"confirmedAt\":" + std::to_string(stamp.confirmedAtMs) +
           ",\"bytes\":" + std::to_string(bodyBytes) + ",\"checksum\":\"" + checksum + "\",\"source\":\"" +
           json::escapeString(stamp.source) + "\",\"sha256\":\"" + json::escapeString(stamp.bodySha256) + "\"}";
}

std::string bodySha256Of(const std::string& body) {
    Sha256 digest;
    digest.update(body.data(), body.size());
    return digest.finishHex();
}

std::string bootstrapSource(const std::wstring& server, const std::wstring& channel) {
    return wideToUtf8(server) + "\n" + wideToUtf8(channel);
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
    const json::Value* source = root->find("source");
    stamp.source = source ? source->asString("") : std::string();
    const json::Value* sha256 = root->find("sha256");
    stamp.bodySha256 = sha256 ? sha256->asString("") : std::string();
    const json::Value* checksum = root->find("checksum");
    const std::string hex = checksum ? checksum->asString("") : std::string();
    char* end = nullptr;
    const unsigned long long value = hex.size() == 16 ? std::strtoull(hex.c_str(), &end, 16) : 0;
    stamp.bodyChecksum = end && *end == '\0' ? value : 0;
    return true;
}

std::optional<StoredStamp> readBootstrapStamp() {
    const std::optional<std::string> text = cache::read(kStampName, kMaxStampBytes);
    StoredStamp stored;
    if (!text || !parseBootstrapStamp(*text, stored.stamp, stored.bodyBytes)) return std::nullopt;
    return stored;
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
    const uint64_t checksum = qb::checksum64(body->data(), body->size());
    // A body changed on the disk (by hand, by a crash, by anyone) is never shown or named to the service.
    if ((cached.stamp.bodyChecksum != 0 && cached.stamp.bodyChecksum != checksum) ||
        cached.stamp.bodySha256.empty() || cached.stamp.bodySha256 != bodySha256Of(*body)) {
        forgetCachedBootstrap();
        return std::nullopt;
    }
    cached.stamp.bodyChecksum = checksum;
    cached.body = std::move(*body);
    return cached;
}

bool storeCachedBootstrap(const std::string& body, const BootstrapStamp& stamp) {
    if (body.size() > kMaxBodyBytes) return false;
    BootstrapStamp named = stamp;
    named.bodyChecksum = qb::checksum64(body.data(), body.size());
    named.bodySha256 = bodySha256Of(body);
    return cache::write(kBodyName, body) && storeBootstrapStamp(named, body.size());
}

bool storeBootstrapStamp(const BootstrapStamp& stamp, size_t bodyBytes) {
    return cache::write(kStampName, bootstrapStampText(stamp, bodyBytes));
}

void forgetCachedBootstrap() {
    cache::remove(kStampName);
    cache::remove(kBodyName);
    cache::remove(kSnapshotName);
}

std::unique_ptr<Catalogue> readCachedCatalogue(const StoredStamp& stored) {
    if (stored.stamp.bodyChecksum == 0) return nullptr;
    std::unique_ptr<Catalogue> lists;
    {
        const std::optional<cache::MappedFile> mapped = cache::map(kSnapshotName, kMaxSnapshotBytes);
        if (!mapped) return nullptr;
        lists = readCatalogueSnapshot(mapped->data(), mapped->size, stored.stamp.bodyChecksum);
    }
    // One that is damaged is never read again; one of another body is replaced once this one is parsed.
    if (!lists) cache::remove(kSnapshotName);
    return lists;
}

bool storeCachedCatalogue(const Catalogue& lists, uint64_t bodyChecksum) {
    const std::string bytes = catalogueSnapshotBytes(lists, bodyChecksum);
    return bytes.size() <= kMaxSnapshotBytes && cache::write(kSnapshotName, bytes);
}
