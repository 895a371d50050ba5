#include <cstdint>
#include <string>

#include "service/ico_reduce.h"

namespace {

constexpr size_t kIcoHeaderBytes = 6;
constexpr size_t kIcoEntryBytes = 16;
constexpr uint32_t kMaxIcoImages = 64;
constexpr uint32_t kMaxRepackedSide = 1024;

uint32_t le16(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}

uint32_t le32(const std::string& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

uint32_t be32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8 | static_cast<uint8_t>(b[at + 3]);
}

void appendLe32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

uint32_t sideOf(uint8_t byte) { return byte == 0 ? 256 : byte; }

// Width and height from the image's own PNG or bitmap header when it has one; false when they are absurd.
bool imageDimensions(const std::string& body, const IcoImage& image, uint32_t& width, uint32_t& height) {
    width = sideOf(static_cast<uint8_t>(body[image.entry]));
    height = sideOf(static_cast<uint8_t>(body[image.entry + 1]));
    const size_t data = image.offset;
    if (image.size >= 24 && body.compare(data, 4, "\x89PNG", 4) == 0) {
        width = be32(body, data + 16);
        height = be32(body, data + 20);
    } else if (image.size >= 12) {
        const int32_t bitmapWidth = static_cast<int32_t>(le32(body, data + 4));
        const int32_t bitmapHeight = static_cast<int32_t>(le32(body, data + 8));
        if (le32(body, data) < 40 || bitmapWidth < 1 || bitmapHeight < 2) return true;
        width = static_cast<uint32_t>(bitmapWidth);
        height = static_cast<uint32_t>(bitmapHeight / 2);  // the height counts the mask as well
    } else {
        return true;
    }
    return width >= 1 && width <= kMaxRepackedSide && height >= 1 && height <= kMaxRepackedSide;
}

}  // namespace

std::optional<IcoImage> chooseIcoImage(const std::string& body) {
    if (body.size() < kIcoHeaderBytes + kIcoEntryBytes) return std::nullopt;
    const uint32_t count = le16(body, 4);
    if (le16(body, 0) != 0 || le16(body, 2) != 1 || count < 1 || count > kMaxIcoImages) return std::nullopt;
    const size_t entriesInBody = (body.size() - kIcoHeaderBytes) / kIcoEntryBytes;
    std::optional<IcoImage> chosen;
    int64_t bestScore = -1;
    for (size_t i = 0; i < count && i < entriesInBody; ++i) {
        const size_t entry = kIcoHeaderBytes + i * kIcoEntryBytes;
        const uint32_t size = le32(body, entry + 8);
        const uint32_t offset = le32(body, entry + 12);
        if (offset >= body.size() || body.size() - offset < size) continue;
        const int64_t score = static_cast<int64_t>(sideOf(static_cast<uint8_t>(body[entry]))) * 4096 + le16(body, entry + 6);
        if (score > bestScore) {
            bestScore = score;
            chosen = IcoImage{entry, size, offset};
        }
    }
    return chosen;
}

std::string reduceIcoToBestImage(const std::string& body) {
    const std::optional<IcoImage> chosen = chooseIcoImage(body);
    if (!chosen) return body;
    const IcoImage& image = *chosen;
    uint32_t width = 0, height = 0;
    if (!imageDimensions(body, image, width, height)) return body;

    std::string out;
    out.reserve(kIcoHeaderBytes + kIcoEntryBytes + image.size);
    out.append("\0\0\1\0\1\0", kIcoHeaderBytes);
    out.append(body, image.entry, 8);
    out[kIcoHeaderBytes] = static_cast<char>(width >= 256 ? 0 : width);
    out[kIcoHeaderBytes + 1] = static_cast<char>(height >= 256 ? 0 : height);
    appendLe32(out, image.size);
    appendLe32(out, static_cast<uint32_t>(kIcoHeaderBytes + kIcoEntryBytes));
    out.append(body, image.offset, image.size);
    return out;
}
