#include "service/image_header.h"

#include <cstring>

#include "service/ico_reduce.h"

namespace {

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr size_t kBmpFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;
constexpr uint32_t kInfoHeaderBytes = 40;

// A window over bytes; callers check has() before every read.
struct Bytes {
    const uint8_t* data;
    size_t size;

    bool has(size_t at, size_t count) const { return at <= size && size - at >= count; }
    bool equals(size_t at, const char* text, size_t length) const {
        return has(at, length) && std::memcmp(data + at, text, length) == 0;
    }
    uint32_t u8(size_t at) const { return data[at]; }
    uint32_t be16(size_t at) const { return u8(at) << 8 | u8(at + 1); }
    uint32_t le16(size_t at) const { return u8(at) | u8(at + 1) << 8; }
    uint32_t be32(size_t at) const { return be16(at) << 16 | be16(at + 2); }
    uint32_t le32(size_t at) const { return le16(at) | le16(at + 2) << 16; }
    Bytes sub(size_t at, size_t count) const { return {data + at, count}; }
};

std::optional<ImageHeader> pngHeader(Bytes b, ImageFormat format) {
    if (!b.equals(0, kPngSignature, 8) || !b.equals(12, "IHDR", 4) || !b.has(16, 8)) return std::nullopt;
    return ImageHeader{format, b.be32(16), b.be32(20)};
}

// SOF0..SOF15 without DHT (C4), JPG (C8) and DAC (CC), which share the range.
bool isStartOfFrame(uint32_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the marker segments up to the first frame header; every step moves forward, so the walk ends
// within the data.
std::optional<ImageHeader> jpegHeader(Bytes b) {
    if (!b.has(0, 2) || b.u8(0) != 0xFF || b.u8(1) != 0xD8) return std::nullopt;
    size_t at = 2;
    for (;;) {
        if (!b.has(at, 2) || b.u8(at) != 0xFF) return std::nullopt;
        while (b.has(at, 2) && b.u8(at + 1) == 0xFF) ++at;  // fill bytes before a marker
        if (!b.has(at, 2)) return std::nullopt;
        const uint32_t marker = b.u8(at + 1);
        at += 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // markers without a length
        // A scan, the end or a second start before any frame header: no size to be had.
        if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return std::nullopt;
        if (!b.has(at, 2)) return std::nullopt;
        const uint32_t length = b.be16(at);  // counts its own two bytes
        if (length < 2 || !b.has(at, length)) return std::nullopt;
        if (isStartOfFrame(marker)) {
            if (length < 8) return std::nullopt;  // length, precision, height, width, component count
            return ImageHeader{ImageFormat::Jpeg, b.be16(at + 5), b.be16(at + 3)};
        }
        at += length;
    }
}

std::optional<ImageHeader> gifHeader(Bytes b) {
    if (!(b.equals(0, "GIF87a", 6) || b.equals(0, "GIF89a", 6)) || !b.has(6, 4)) return std::nullopt;
    return ImageHeader{ImageFormat::Gif, b.le16(6), b.le16(8)};
}

// A bitmap header at `at`: BITMAPCOREHEADER (16-bit sizes) or BITMAPINFOHEADER and its successors
// (signed 32-bit sizes; a negative height is a top-down bitmap). The whole basic header must be there.
std::optional<ImageHeader> dibHeader(Bytes b, size_t at, ImageFormat format) {
    if (!b.has(at, 4)) return std::nullopt;
    const uint32_t headerSize = b.le32(at);
    if (headerSize == kCoreHeaderBytes && b.has(at, kCoreHeaderBytes))
        return ImageHeader{format, b.le16(at + 4), b.le16(at + 6)};
    if (headerSize < kInfoHeaderBytes || !b.has(at, kInfoHeaderBytes)) return std::nullopt;
    const int64_t width = static_cast<int32_t>(b.le32(at + 4));
    const int64_t height = static_cast<int32_t>(b.le32(at + 8));
    if (width < 0) return std::nullopt;
    return ImageHeader{format, static_cast<uint32_t>(width), static_cast<uint32_t>(height < 0 ? -height : height)};
}

std::optional<ImageHeader> bmpHeader(Bytes b) {
    if (!b.equals(0, "BM", 2) || !b.has(0, kBmpFileHeaderBytes)) return std::nullopt;
    return dibHeader(b, kBmpFileHeaderBytes, ImageFormat::Bmp);
}

// The image the reduction keeps: a PNG, or a bitmap whose height counts its mask as well.
std::optional<ImageHeader> icoHeader(const std::string& bytes, Bytes b) {
    const std::optional<IcoImage> chosen = chooseIcoImage(bytes);
    if (!chosen) return std::nullopt;
    const Bytes image = b.sub(chosen->offset, chosen->size);
    if (image.equals(0, kPngSignature, 8)) return pngHeader(image, ImageFormat::Ico);
    std::optional<ImageHeader> header = dibHeader(image, 0, ImageFormat::Ico);
    if (header) header->height /= 2;
    return header;
}

}  // namespace

std::optional<ImageHeader> readImageHeader(const std::string& bytes) {
    const Bytes b{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    if (b.equals(0, kPngSignature, 8)) return pngHeader(b, ImageFormat::Png);
    if (b.equals(0, "\xFF\xD8", 2)) return jpegHeader(b);
    if (b.equals(0, "GIF8", 4)) return gifHeader(b);
    if (b.equals(0, "BM", 2)) return bmpHeader(b);
    if (b.equals(0, "\0\0\1\0", 4)) return icoHeader(bytes, b);
    return std::nullopt;
}

std::optional<std::string> decodableIconBytes(const std::string& body) {
    std::string data = reduceIcoToBestImage(body);
    const std::optional<ImageHeader> header = readImageHeader(data);
    if (!header || header->width < 1 || header->height < 1 || header->width > kMaxIconSide ||
        header->height > kMaxIconSide)
        return std::nullopt;
    return data;
}
