#include "render/resource_images.h"

#include <cstring>

namespace {

struct ImageCache {
    bool tried = false;
    gp::GpImage* image = nullptr;

    gp::GpImage* get(int resourceId) {
        if (!tried) {
            tried = true;
            image = decodeResourceImage(resourceId);
        }
        return image;
    }
};

}  // namespace

gp::GpImage* decodeResourceImage(int resourceId) {
    HRSRC info = ::FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!info) return nullptr;
    HGLOBAL loaded = ::LoadResource(nullptr, info);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(nullptr, info);
    if (!bytes || size == 0) return nullptr;

    qb::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) return nullptr;
    void* target = ::GlobalLock(block.get());
    if (!target) return nullptr;
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(block.get());

    IStream* stream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(block.get(), TRUE, &stream)) || !stream) return nullptr;
    block.release();  // the stream owns the block now
    gp::GpBitmap* bitmap = nullptr;
    const gp::GpStatus status = gp::GdipCreateBitmapFromStream(stream, &bitmap);
    stream->Release();  // GDI+ keeps its own reference while the image lives
    if (status != Gdiplus::Ok) {
        if (bitmap) gp::GdipDisposeImage(bitmap);
        return nullptr;
    }
    return bitmap;
}

gp::GpImage* logoImage() {
    static ImageCache cache;
    return cache.get(kLogoResource);
}

gp::GpImage* downloadPictureImage() {
    static ImageCache cache;
    return cache.get(kDownloadPictureResource);
}
