#include "service/catalogue_snapshot.h"

#include <cstring>

#include "base/checksum.h"

namespace {

// Header: magic, the body's checksum, the payload's checksum, the payload's size; then the payload.
constexpr char kMagic[8] = {'Q', 'B', 'C', 'A', 'T', 'S', '0', '4'};
constexpr size_t kHeaderBytes = 32;
constexpr uint32_t kMaxCategories = 1000;  // the bootstrap's own limits
constexpr uint32_t kMaxApps = 100000;
// The smallest record: id, seven empty strings' lengths, one category count, two flags, three 64-bit
// numbers and a mirror count.
constexpr size_t kMinAppBytes = 4 + 7 * 4 + 4 + 2 + 3 * 8 + 4;

class Writer {
public:
    void u8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void u32(uint32_t v) { raw(&v, 4); }
    void i64(int64_t v) { raw(&v, 8); }
    void text(const std::wstring& s) {
        u32(static_cast<uint32_t>(s.size()));
        raw(s.data(), s.size() * sizeof(wchar_t));
    }
    void bytes(const std::string& s) {
        u32(static_cast<uint32_t>(s.size()));
        raw(s.data(), s.size());
    }
    std::string& out() { return out_; }

private:
    void raw(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
    std::string out_;
};

// Every read checks what is left first; after the first failure every read fails.
class Reader {
public:
    Reader(const char* data, size_t size) : p_(data), left_(size) {}
    bool ok() const { return ok_; }
    bool done() const { return ok_ && left_ == 0; }
    uint8_t u8() {
        uint8_t v = 0;
        raw(&v, 1);
        return v;
    }
    uint32_t u32() {
        uint32_t v = 0;
        raw(&v, 4);
        return v;
    }
    int64_t i64() {
        int64_t v = 0;
        raw(&v, 8);
        return v;
    }
    std::wstring text() {
        const uint32_t units = u32();
        if (!ok_ || units > left_ / sizeof(wchar_t)) return fail<std::wstring>();
        std::wstring s(units, L'\0');
        raw(&s[0], units * sizeof(wchar_t));
        return s;
    }
    std::string bytes() {
        const uint32_t count = u32();
        if (!ok_ || count > left_) return fail<std::string>();
        std::string s(p_, count);
        p_ += count;
        left_ -= count;
        return s;
    }

private:
    template <typename T>
    T fail() {
        ok_ = false;
        return T();
    }
    void raw(void* out, size_t n) {
        if (!ok_ || n > left_) {
            ok_ = false;
            return;
        }
        if (n) std::memcpy(out, p_, n);
        p_ += n;
        left_ -= n;
    }
    const char* p_;
    size_t left_;
    bool ok_ = true;
};

}  // namespace

std::string catalogueSnapshotBytes(const Catalogue& lists, uint64_t bodyChecksum) {
    Writer w;
    w.out().assign(kHeaderBytes, '\0');
    w.u32(static_cast<uint32_t>(lists.categories.size()));
    for (const CategoryInfo& c : lists.categories) {
        w.text(c.id);
        w.text(c.name);
    }
    w.u32(static_cast<uint32_t>(lists.apps.size()));
    for (const AppInfo& a : lists.apps) {
        w.u32(static_cast<uint32_t>(a.id));
        w.text(a.name);
        w.text(a.version);
        w.u32(static_cast<uint32_t>(a.categoryIds.size()));
        for (const std::wstring& id : a.categoryIds) w.text(id);
        w.text(a.description);
        w.text(a.icon);
        w.text(a.publisher);
        // Absent and empty differ: an empty text means the package cannot install silently.
        w.u8(a.silentArgs ? 1 : 0);
        if (a.silentArgs) w.text(*a.silentArgs);
        w.i64(a.packageSize);
        w.bytes(a.md5);
        w.bytes(a.sha256);
        w.u8(a.hasPackage ? 1 : 0);
        w.i64(a.downloads);
        w.i64(a.updatedAt);
        w.u32(static_cast<uint32_t>(a.mirrors.size()));
        for (const std::string& mirror : a.mirrors) w.bytes(mirror);
    }
    std::string& out = w.out();
    const uint64_t payloadBytes = out.size() - kHeaderBytes;
    const uint64_t payloadChecksum = qb::checksum64(out.data() + kHeaderBytes, payloadBytes);
    std::memcpy(&out[0], kMagic, 8);
    std::memcpy(&out[8], &bodyChecksum, 8);
    std::memcpy(&out[16], &payloadChecksum, 8);
    std::memcpy(&out[24], &payloadBytes, 8);
    return std::move(out);
}

std::unique_ptr<Catalogue> readCatalogueSnapshot(const char* data, size_t size, uint64_t bodyChecksum) {
    if (!data || size < kHeaderBytes || std::memcmp(data, kMagic, 8) != 0) return nullptr;
    uint64_t namedBody = 0, payloadChecksum = 0, payloadBytes = 0;
    std::memcpy(&namedBody, data + 8, 8);
    std::memcpy(&payloadChecksum, data + 16, 8);
    std::memcpy(&payloadBytes, data + 24, 8);
    if (namedBody != bodyChecksum || payloadBytes != size - kHeaderBytes) return nullptr;
    const char* payload = data + kHeaderBytes;
    if (qb::checksum64(payload, payloadBytes) != payloadChecksum) return nullptr;

    auto lists = std::make_unique<Catalogue>();
    Reader r(payload, payloadBytes);
    const uint32_t categories = r.u32();
    if (categories > kMaxCategories) return nullptr;
    lists->categories.resize(categories);
    for (CategoryInfo& c : lists->categories) {
        c.id = r.text();
        c.name = r.text();
    }
    const uint32_t apps = r.u32();
    if (!r.ok() || apps > kMaxApps || apps > payloadBytes / kMinAppBytes) return nullptr;
    lists->apps.resize(apps);
    for (AppInfo& a : lists->apps) {
        a.id = static_cast<int32_t>(r.u32());
        a.name = r.text();
        a.version = r.text();
        const uint32_t ids = r.u32();
        if (!r.ok() || ids > payloadBytes / 4) return nullptr;
        a.categoryIds.resize(ids);
        for (std::wstring& id : a.categoryIds) id = r.text();
        a.description = r.text();
        a.icon = r.text();
        a.publisher = r.text();
        if (r.u8() != 0) a.silentArgs = r.text();
        a.packageSize = r.i64();
        a.md5 = r.bytes();
        a.sha256 = r.bytes();
        a.hasPackage = r.u8() != 0;
        a.downloads = r.i64();
        a.updatedAt = r.i64();
        const uint32_t mirrors = r.u32();
        if (!r.ok() || mirrors > payloadBytes / 4) return nullptr;
        a.mirrors.resize(mirrors);
        for (std::string& mirror : a.mirrors) mirror = r.bytes();
        if (!r.ok()) return nullptr;
    }
    if (!r.done()) return nullptr;
    return lists;
}
