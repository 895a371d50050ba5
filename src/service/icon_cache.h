#pragma once
// The window thread's decoded icons, one per app and drawn size, at most a few hundred of them: the
// least recently asked for is freed first and comes back from the local cache when asked for again.
// Failures are remembered, so an icon that cannot be had is not fetched again and again.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/win_handles.h"
#include "service/catalogue.h"
#include "service/icon_loader.h"

enum class IconStatus : int32_t { None, Loading, Ready, Failed };

// 256 icons of 84 pixels are 7 MiB of bitmaps.
constexpr size_t kIconsKept = 256;

// Where a request's icon comes from and who hears of it: built by the caller for each request.
struct IconSource {
    const std::wstring& server;
    uint32_t generation;  // the catalogue's current one
    HWND notifyWindow;    // receives WM_QB_ICON_READY; the first request fixes it
};

class IconCache {
public:
    explicit IconCache(size_t kept = kIconsKept) : kept_(kept) {}
    ~IconCache();
    IconCache(const IconCache&) = delete;
    IconCache& operator=(const IconCache&) = delete;
    IconCache(IconCache&& other) noexcept = default;
    // Closes this cache's loader first (tests reset the application state by assignment).
    IconCache& operator=(IconCache&& other) noexcept;

    // Marks the icon as just used and queues its fetch unless it is decoded, loading or failed; an app
    // without an icon path asks for nothing. A new generation first forgets every icon of the old one.
    void request(const AppInfo& app, int size, const IconSource& source);
    // Takes the loader's finished icons; drops those for another generation than current or no longer
    // asked for. Returns how many changed what is drawn.
    size_t adoptResults(uint32_t currentGeneration);
    // Puts a decoded icon in directly (previews and tests), as if it had just arrived.
    void store(int32_t appId, int size, qb::UniqueBitmap bitmap);

    IconStatus status(int32_t appId, int size) const;
    // The decoded bitmap, or null; the cache keeps it.
    HBITMAP bitmap(int32_t appId, int size) const;
    // Changes whenever bitmap(appId, size) does; 0 while there is none.
    uint32_t stamp(int32_t appId, int size) const;
    size_t decodedCount() const { return decoded_; }
    size_t loadingCount() const { return loading_; }
    // Forgets every icon; results still on their way are dropped when they arrive.
    void clear();

private:
    struct Entry {
        IconStatus status = IconStatus::None;
        qb::UniqueBitmap bitmap;
        uint64_t lastUse = 0;
        uint32_t stamp = 0;
    };
    static uint64_t keyOf(int32_t appId, int size) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(appId)) << 32) | static_cast<uint32_t>(size);
    }
    const Entry* find(int32_t appId, int size) const;
    void forgetOtherGenerations(uint32_t generation);
    void setStatus(Entry& entry, IconStatus status);
    void makeReady(Entry& entry, qb::UniqueBitmap bitmap);
    void evictBeyondLimit();

    std::unordered_map<uint64_t, Entry> entries_;
    std::shared_ptr<IconLoader> loader_;
    size_t kept_;
    size_t decoded_ = 0;
    size_t loading_ = 0;
    uint64_t clock_ = 0;
    uint32_t lastStamp_ = 0;
    uint32_t generation_ = 0;
};
