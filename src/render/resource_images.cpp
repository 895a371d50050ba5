#include "render/resource_images.h"

#include <cstring>

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

// Decoded by whichever thread asks first (the start-up warm-up, usually); a second caller waits for it.
gp::GpImage* logoImage() {
    static gp::GpImage* const image = decodeResourceImage(kLogoResource);
    return image;
}

gp::GpImage* downloadPictureImage() {
    static gp::GpImage* const image = decodeResourceImage(kDownloadPictureResource);
    return image;
}
