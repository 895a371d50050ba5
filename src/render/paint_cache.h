#pragma once
// What painting keeps between paints on the window thread: the back buffer, the header and sidebar
// layer, and one face per shown card and download row. Each cached picture is drawn again only
// when its key (everything it shows) changes, and composed into the back buffer with BitBlt.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "render/canvas.h"
#include "render/state_texts.h"

// A 32-bit top-down DIB section selected into its own memory DC.
class DibSurface {
public:
    DibSurface() = default;
    ~DibSurface() { release(); }
    DibSurface(const DibSurface&) = delete;
    DibSurface& operator=(const DibSurface&) = delete;

    // Keeps the pixels when the size is already w x h; false when the surface cannot be made.
    bool ensure(int w, int h);
    // Exchanges the two surfaces (a surface made on another thread is taken over this way).
    void swap(DibSurface& other) noexcept;
    HDC dc() const { return dc_.get(); }
    PixelBuffer pixels() const { return {bits_, w_, h_}; }
    int width() const { return w_; }
    int height() const { return h_; }

private:
    void release();

    qb::UniqueMemoryDc dc_;
    qb::UniqueBitmap bitmap_;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
    int w_ = 0;
    int h_ = 0;
};

// Fills a surface with #RRGGBB; the window background by default, as the back buffer starts.
void fillBackground(const DibSurface& surface, uint32_t rgb = palette::kWindowBackground);

// Everything the header and the sidebar show.
struct ChromeKey {
    int w = 0;
    int h = 0;
    bool maximized = false;
    bool downloadsPage = false;
    std::wstring selectedCategoryId;
    std::vector<CategoryInfo> categories;
    int sidebarScroll = 0;
    // The sidebar's scroll bar as the last update step placed it: faces drawn between paints may make
    // the layer before the next update step has placed the bar for what it shows.
    bool sidebarBarVisible = false;
    RECT sidebarThumb{};
    bool sidebarBarActive = false;
    HitKind hoverKind = HitKind::None;  // None unless the pointer is on the header or the sidebar
    int32_t hoverParam = 0;
    int downloading = 0;  // the badge's count
    bool searchHasText = false;  // the search field's clear button, or its placeholder
    bool searchFocused = false;
    bool updatesPage = false;
    int updatable = 0;  // the updates pill's count
    bool operator==(const ChromeKey& other) const;
};

// Everything one card shows.
struct CardFaceKey {
    int width = 0;
    bool nameOnly = false;
    bool hovered = false;
    int64_t icon = 0;
    std::wstring name;
    std::wstring version;
    std::wstring description;
    std::wstring meta;
    CardButtonLook button;
    int phase = 0;  // where in a pixel the face's corner lies (DpiScale::phase of x, times 96, plus y's)
    bool operator==(const CardFaceKey& other) const;
    // The same but for the icon tile.
    bool sameButIcon(const CardFaceKey& other) const;
};

// The parts of a download row that stay put while it downloads: card, icon, title and buttons.
struct RowFaceKey {
    int w = 0;
    int64_t icon = 0;
    ColouredText title;
    std::vector<RowButton> buttons;
    bool operator==(const RowFaceKey& other) const;
};

// Faces of a bounded number of items by id; the least recently drawn one makes room for a new one.
template <typename Key>
class FaceCache {
public:
    explicit FaceCache(size_t capacity) : capacity_(capacity) {}

    struct Face {
        DibSurface* surface = nullptr;  // null when no picture could be made: draw directly
        bool current = false;           // already shows key; otherwise the caller draws it now
    };
    // The face of id, sized w x h, for key.
    Face find(int32_t id, const Key& key, int w, int h) {
        ++clock_;
        Entry* slot = nullptr;
        for (Entry& entry : entries_)
            if (entry.id == id) slot = &entry;
        if (!slot && entries_.size() < capacity_) {
            entries_.emplace_back();
            slot = &entries_.back();
            slot->surface = std::make_unique<DibSurface>();
        } else if (!slot) {
            slot = &entries_.front();
            for (Entry& entry : entries_)
                if (entry.lastDrawn < slot->lastDrawn) slot = &entry;
            slot->valid = false;
        }
        slot->id = id;
        slot->lastDrawn = clock_;
        const bool sized = slot->surface->width() == w && slot->surface->height() == h;
        if (slot->valid && sized && slot->key == key) return {slot->surface.get(), true};
        if (!slot->surface->ensure(w, h)) {
            slot->valid = false;
            return {};
        }
        slot->key = key;
        slot->valid = true;
        return {slot->surface.get(), false};
    }
    // Whether id's face already shows key, without touching the cache.
    bool holds(int32_t id, const Key& key) const {
        for (const Entry& entry : entries_)
            if (entry.id == id) return entry.valid && entry.key == key;
        return false;
    }
    // What id's face shows now, or null when it has none.
    const Key* shown(int32_t id) const {
        for (const Entry& entry : entries_)
            if (entry.id == id && entry.valid) return &entry.key;
        return nullptr;
    }
    // id's face as it is, w x h, to be shown once more before it is drawn again; null when none.
    const DibSurface* asItIs(int32_t id, int w, int h) {
        for (Entry& entry : entries_) {
            if (entry.id != id || !entry.valid || entry.surface->width() != w || entry.surface->height() != h) continue;
            entry.lastDrawn = ++clock_;
            return entry.surface.get();
        }
        return nullptr;
    }
    size_t size() const { return entries_.size(); }
    size_t capacity() const { return capacity_; }
    // Room for at least this many: a window larger than the first guess shows more at once.
    void reserve(size_t capacity) { capacity_ = std::max(capacity_, capacity); }

private:
    struct Entry {
        int32_t id = 0;
        Key key;
        std::unique_ptr<DibSurface> surface;
        uint64_t lastDrawn = 0;
        bool valid = false;
    };
    std::vector<Entry> entries_;
    size_t capacity_;
    uint64_t clock_ = 0;
};

// Window-thread state of the painters, owned by the window (or a test) and freed with it.
struct PaintCaches {
    DibSurface backBuffer;
    // Made ahead of the first frame (by the paint warm-up), which draws into it rather than a new one.
    std::unique_ptr<DibSurface> firstBackBuffer;
    DibSurface chrome;  // the header and sidebar at their places in the client, over the background
    ChromeKey chromeKey;
    bool chromeValid = false;
    // A few screens of cards: at 1180 x 780 one screen shows at most 16, about 13 MiB for 64.
    FaceCache<CardFaceKey> cards{64};
    // The white card with its border and divider, by width, hover and phase: the start of every face.
    struct CardChrome {
        int width = 0;
        bool hovered = false;
        int phase = 0;
        DibSurface surface;
    };
    std::vector<std::unique_ptr<CardChrome>> cardChromes;  // the few of the grid's widths and phases
    FaceCache<RowFaceKey> rows{10};  // a window 1080 pixels high shows 10 rows
    CanvasLook look;  // what every picture above was drawn with

    // Forgets every picture drawn with another look (a new DPI, high contrast turned on or off).
    void matchLook(const CanvasLook& wanted);
};
