#include "render/resource_images.h"

#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// The bytes of an RCDATA resource of this program; null when there is none.
const void* resourceBytes(int resourceId, DWORD& size) {
    size = 0;
    HRSRC info = ::FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!info) return nullptr;
    HGLOBAL loaded = ::LoadResource(nullptr, info);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (bytes) size = ::SizeofResource(nullptr, info);
    return bytes;
}

}  // namespace

Picture pictureFromRows(const uint8_t* bgra, size_t byteCount, int width, int height) {
    Picture picture;
    if (!bgra || width <= 0 || height <= 0 || byteCount != static_cast<size_t>(width) * height * 4) return picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        const uint8_t* p = bgra + 4 * i;
        const uint32_t alpha = p[3];
        auto scaled = [alpha](uint8_t c) { return (c * alpha + 127) / 255; };
        picture.pixels[i] = alpha << 24 | scaled(p[2]) << 16 | scaled(p[1]) << 8 | scaled(p[0]);
    }
    return picture;
}

Picture pictureFromResource(int resourceId, int width, int height) {
    DWORD size = 0;
    const void* bytes = resourceBytes(resourceId, size);
    return pictureFromRows(static_cast<const uint8_t*>(bytes), size, width, height);
}

Picture pictureFromImage(gp::GpImage* image, int side) {
    Picture picture;
    if (!image || side <= 0) return picture;
    std::vector<uint32_t> pixels(static_cast<size_t>(side) * side, 0);
    gp::GpBitmap* bitmap = nullptr;
    BYTE* bits = reinterpret_cast<BYTE*>(pixels.data());
    if (gp::GdipCreateBitmapFromScan0(side, side, side * 4, PixelFormat32bppPARGB, bits, &bitmap) != Gdiplus::Ok)
        return picture;
    gp::UniqueImage owned(bitmap);
    gp::UniqueGraphics graphics;
    if (gp::GdipGetImageGraphicsContext(bitmap, graphics.put()) != Gdiplus::Ok) return picture;
    gp::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
    gp::GdipSetPixelOffsetMode(graphics.get(), Gdiplus::PixelOffsetModeHalf);
    if (gp::GdipDrawImageRectI(graphics.get(), image, 0, 0, side, side) != Gdiplus::Ok) return picture;
    graphics.reset();
    owned.reset();  // the pixels are final once the bitmap over them is gone
    picture.width = picture.height = side;
    picture.pixels = std::move(pixels);
    return picture;
}

namespace {

enum class Kept { Logo, DownloadPicture };

struct RawPicture {
    Kept kept;
    int side;
    int resourceId;
};
constexpr RawPicture kRawPictures[] = {
    {Kept::Logo, kLogoSize, kLogoPixelsResource},
    {Kept::Logo, 69, kLogoPixels150Resource},
    {Kept::Logo, 92, kLogoPixels200Resource},
    {Kept::DownloadPicture, kDownloadPictureSize, kDownloadPicturePixelsResource},
    {Kept::DownloadPicture, 30, kDownloadPicturePixels150Resource},
    {Kept::DownloadPicture, 40, kDownloadPicturePixels200Resource},
};

Picture makePicture(Kept kept, int side) {
    for (const RawPicture& raw : kRawPictures)
        if (raw.kept == kept && raw.side == side) return pictureFromResource(raw.resourceId, side, side);
    return pictureFromImage(kept == Kept::Logo ? logoImage() : downloadPictureImage(), side);
}

// Pictures are never dropped, so a reference to one stays good for the process.
const Picture& keptPicture(Kept kept, int side) {
    static std::mutex lock;
    static std::map<std::pair<Kept, int>, Picture> pictures;
    const std::lock_guard<std::mutex> held(lock);
    const auto key = std::make_pair(kept, side);
    auto found = pictures.find(key);
    if (found == pictures.end()) found = pictures.emplace(key, makePicture(kept, side)).first;
    return found->second;
}

}  // namespace

const Picture& logoPicture(int side) { return keptPicture(Kept::Logo, side); }

const Picture& downloadPicturePixels(int side) { return keptPicture(Kept::DownloadPicture, side); }

gp::GpImage* decodeResourceImage(int resourceId) {
    DWORD size = 0;
    const void* bytes = resourceBytes(resourceId, size);
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
