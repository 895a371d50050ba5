#include "service/icon_cache.h"

#include <utility>

IconCache::~IconCache() {
    if (loader_) loader_->close();
}

IconCache& IconCache::operator=(IconCache&& other) noexcept {
    if (this == &other) return *this;
    if (loader_) loader_->close();
    entries_ = std::move(other.entries_);
    loader_ = std::move(other.loader_);
    kept_ = other.kept_;
    decoded_ = other.decoded_;
    loading_ = other.loading_;
    clock_ = other.clock_;
    lastStamp_ = other.lastStamp_;
    generation_ = other.generation_;
    other.clear();
    return *this;
}

const IconCache::Entry* IconCache::find(int32_t appId, int size) const {
    const auto found = entries_.find(keyOf(appId, size));
    return found == entries_.end() ? nullptr : &found->second;
}

void IconCache::forgetOtherGenerations(uint32_t generation) {
    if (generation == generation_) return;
    clear();
    generation_ = generation;
}

void IconCache::setStatus(Entry& entry, IconStatus status) {
    if (entry.status == IconStatus::Loading) --loading_;
    if (entry.status == IconStatus::Ready) --decoded_;
    if (status == IconStatus::Loading) ++loading_;
    if (status == IconStatus::Ready) ++decoded_;
    entry.status = status;
}

void IconCache::makeReady(Entry& entry, qb::UniqueBitmap bitmap) {
    setStatus(entry, IconStatus::Ready);
    entry.bitmap = std::move(bitmap);
    entry.lastUse = ++clock_;
    if (++lastStamp_ == 0) ++lastStamp_;
    entry.stamp = lastStamp_;
    evictBeyondLimit();
}

// Frees the least recently used decoded icons until at most kept_ remain; their entries go, so the
// next request fetches them again (from the local cache).
void IconCache::evictBeyondLimit() {
    while (decoded_ > kept_) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.status == IconStatus::Ready && (oldest == entries_.end() || it->second.lastUse < oldest->second.lastUse))
                oldest = it;
        if (oldest == entries_.end()) return;
        setStatus(oldest->second, IconStatus::None);
        entries_.erase(oldest);
    }
}

void IconCache::request(const AppInfo& app, int size, const IconSource& source) {
    if (app.icon.empty()) return;
    forgetOtherGenerations(source.generation);
    Entry& entry = entries_[keyOf(app.id, size)];
    entry.lastUse = ++clock_;
    if (entry.status != IconStatus::None) return;
    std::optional<std::wstring> url = iconUrlFor(source.server, app.icon);
    if (!url) {
        setStatus(entry, IconStatus::Failed);
        return;
    }
    setStatus(entry, IconStatus::Loading);
    if (!loader_) loader_ = std::make_shared<IconLoader>(source.notifyWindow);
    IconLoader::enqueue(loader_, {app.id, source.generation, std::move(*url), size});
}

size_t IconCache::adoptResults(uint32_t currentGeneration) {
    forgetOtherGenerations(currentGeneration);
    if (!loader_) return 0;
    size_t adopted = 0;
    for (IconResult& result : loader_->takeResults()) {
        if (result.generation != generation_) continue;
        const auto found = entries_.find(keyOf(result.appId, result.size));
        if (found == entries_.end() || found->second.status != IconStatus::Loading) continue;
        if (result.bitmap) {
            makeReady(found->second, std::move(result.bitmap));
            ++adopted;
        } else {
            setStatus(found->second, IconStatus::Failed);
        }
    }
    return adopted;
}

void IconCache::store(int32_t appId, int size, qb::UniqueBitmap bitmap) {
    if (!bitmap) return;
    makeReady(entries_[keyOf(appId, size)], std::move(bitmap));
}

IconStatus IconCache::status(int32_t appId, int size) const {
    const Entry* entry = find(appId, size);
    return entry ? entry->status : IconStatus::None;
}

HBITMAP IconCache::bitmap(int32_t appId, int size) const {
    const Entry* entry = find(appId, size);
    return entry && entry->status == IconStatus::Ready ? entry->bitmap.get() : nullptr;
}

uint32_t IconCache::stamp(int32_t appId, int size) const {
    const Entry* entry = find(appId, size);
    return entry && entry->status == IconStatus::Ready ? entry->stamp : 0;
}

void IconCache::clear() {
    entries_.clear();
    decoded_ = 0;
    loading_ = 0;
}
