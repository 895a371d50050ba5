#include "service/icon_decode.h"

#include <objidl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

// The GDI+ headers use unqualified min and max, which NOMINMAX removes.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "service/image_header.h"

namespace {

namespace gdip = Gdiplus::DllExports;

struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};
using StreamPtr = std::unique_ptr<IStream, StreamRelease>;

struct ImageDispose {
    void operator()(Gdiplus::GpBitmap* bitmap) const { gdip::GdipDisposeImage(bitmap); }
};
using BitmapPtr = std::unique_ptr<Gdiplus::GpBitmap, ImageDispose>;

struct GraphicsDelete {
    void operator()(Gdiplus::GpGraphics* graphics) const { gdip::GdipDeleteGraphics(graphics); }
};
using GraphicsPtr = std::unique_ptr<Gdiplus::GpGraphics, GraphicsDelete>;

// A read-only stream over a copy of the bytes; null on failure.
StreamPtr streamOver(const std::string& data) {
    qb::UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, data.size()));
    if (!memory) return nullptr;
    void* target = ::GlobalLock(memory.get());
    if (!target) return nullptr;
    std::memcpy(target, data.data(), data.size());
    ::GlobalUnlock(memory.get());
    IStream* stream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(memory.get(), TRUE, &stream)) || !stream) return nullptr;
    memory.release();  // the stream frees it now
    return StreamPtr(stream);
}

// The source drawn into a side x side premultiplied GDI+ bitmap with the painters' bicubic filter.
BitmapPtr scaledCopy(Gdiplus::GpBitmap* source, int side) {
    Gdiplus::GpBitmap* raw = nullptr;
    gdip::GdipCreateBitmapFromScan0(side, side, 0, PixelFormat32bppPARGB, nullptr, &raw);
    BitmapPtr target(raw);
    if (!target) return nullptr;
    Gdiplus::GpGraphics* rawGraphics = nullptr;
    if (gdip::GdipGetImageGraphicsContext(target.get(), &rawGraphics) != Gdiplus::Ok || !rawGraphics) return nullptr;
    const GraphicsPtr graphics(rawGraphics);
    gdip::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
    if (gdip::GdipDrawImageRectI(graphics.get(), source, 0, 0, side, side) != Gdiplus::Ok) return nullptr;
    return target;
}

// Copies the premultiplied pixels row by row into a new top-down DIB section.
qb::UniqueBitmap toDibSection(Gdiplus::GpBitmap* scaled, int side) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), side, -side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    qb::UniqueBitmap dib(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dib || !bits) return {};
    const Gdiplus::GpRect all(0, 0, side, side);
    Gdiplus::BitmapData data{};
    if (gdip::GdipBitmapLockBits(scaled, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) !=
        Gdiplus::Ok)
        return {};
    const size_t rowBytes = static_cast<size_t>(side) * 4;
    for (int y = 0; y < side; ++y)
        std::memcpy(static_cast<uint8_t*>(bits) + rowBytes * y, static_cast<const uint8_t*>(data.Scan0) + data.Stride * y,
                    rowBytes);
    gdip::GdipBitmapUnlockBits(scaled, &data);
    return dib;
}

}  // namespace

qb::UniqueBitmap decodeIconAtSize(const std::string& body, int side) {
    if (side <= 0 || side > kMaxDrawnIconSide) return {};
    // An unknown format or a declared size beyond 1024 pixels never reaches GDI+, which would
    // allocate the whole bitmap before looking any further.
    const std::optional<std::string> data = decodableIconBytes(body);
    if (!data) return {};
    const StreamPtr stream = streamOver(*data);
    if (!stream) return {};
    Gdiplus::GpBitmap* raw = nullptr;
    gdip::GdipCreateBitmapFromStream(stream.get(), &raw);
    const BitmapPtr source(raw);
    if (!source) return {};
    const BitmapPtr scaled = scaledCopy(source.get(), side);
    if (!scaled) return {};
    return toDibSection(scaled.get(), side);
}
