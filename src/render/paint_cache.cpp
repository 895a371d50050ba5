#include "render/paint_cache.h"

#include <utility>

#include <cwchar>

bool DibSurface::ensure(int w, int h) {
    if (dc_ && bits_ && w == w_ && h == h_) return true;
    release();
    if (w <= 0 || h <= 0) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    qb::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    void* bits = nullptr;
    qb::UniqueBitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc || !bitmap || !bits) return false;
    previous_ = ::SelectObject(dc.get(), bitmap.get());
    dc_ = std::move(dc);
    bitmap_ = std::move(bitmap);
    bits_ = static_cast<uint32_t*>(bits);
    w_ = w;
    h_ = h;
    return true;
}

void DibSurface::swap(DibSurface& other) noexcept {
    std::swap(dc_, other.dc_);
    std::swap(bitmap_, other.bitmap_);
    std::swap(previous_, other.previous_);
    std::swap(bits_, other.bits_);
    std::swap(w_, other.w_);
    std::swap(h_, other.h_);
}

void DibSurface::release() {
    // The bitmap leaves the DC before either is deleted.
    if (dc_ && previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_.get(), previous_);
    previous_ = nullptr;
    bitmap_.reset();
    dc_.reset();
    bits_ = nullptr;
    w_ = h_ = 0;
}

void fillBackground(const DibSurface& surface, uint32_t rgb) {
    const RECT all{0, 0, surface.width(), surface.height()};
    qb::UniqueBrush background(::CreateSolidBrush(palette::text(rgb)));
    ::FillRect(surface.dc(), &all, background.get());
}

bool ChromeKey::operator==(const ChromeKey& o) const {
    if (categories.size() != o.categories.size()) return false;
    for (size_t i = 0; i < categories.size(); ++i)
        if (categories[i].id != o.categories[i].id || categories[i].name != o.categories[i].name) return false;
    return w == o.w && h == o.h && maximized == o.maximized && downloadsPage == o.downloadsPage &&
           selectedCategoryId == o.selectedCategoryId && sidebarScroll == o.sidebarScroll &&
           sidebarBarVisible == o.sidebarBarVisible && ::EqualRect(&sidebarThumb, &o.sidebarThumb) &&
           sidebarBarActive == o.sidebarBarActive && hoverKind == o.hoverKind && hoverParam == o.hoverParam &&
           downloading == o.downloading && searchHasText == o.searchHasText && searchFocused == o.searchFocused &&
           updatesPage == o.updatesPage && updatable == o.updatable;
}

bool CardFaceKey::operator==(const CardFaceKey& o) const {
    return width == o.width && nameOnly == o.nameOnly && hovered == o.hovered && icon == o.icon && name == o.name &&
           version == o.version && description == o.description && meta == o.meta &&
           button.label == o.button.label && button.fill == o.button.fill && button.labelRgb == o.button.labelRgb &&
           button.showsProgress == o.button.showsProgress && button.percent == o.button.percent &&
           phase == o.phase;
}

bool CardFaceKey::sameButIcon(const CardFaceKey& other) const {
    CardFaceKey same = other;
    same.icon = icon;
    return *this == same;
}

bool RowFaceKey::operator==(const RowFaceKey& o) const {
    if (buttons.size() != o.buttons.size()) return false;
    for (size_t i = 0; i < buttons.size(); ++i) {
        const RowButton& a = buttons[i];
        const RowButton& b = o.buttons[i];
        if (a.kind != b.kind || a.slot != b.slot || a.primary != b.primary || std::wcscmp(a.label, b.label) != 0)
            return false;
    }
    return w == o.w && icon == o.icon && title.text == o.title.text && title.rgb == o.title.rgb;
}

void PaintCaches::matchLook(const CanvasLook& wanted) {
    if (look == wanted) return;
    look = wanted;
    chromeValid = false;
    cards = FaceCache<CardFaceKey>(cards.capacity());
    rows = FaceCache<RowFaceKey>(rows.capacity());
    cardChromes.clear();
}
