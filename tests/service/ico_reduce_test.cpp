#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "service/ico_reduce.h"
#include "service/image_header.h"
#include "support/test_support.h"

namespace {

std::string le16(uint32_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
std::string be32(uint32_t v) { return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)}; }

// The start of a PNG file declaring width x height, padded with a marker byte to `size` bytes.
std::string png(uint32_t width, uint32_t height, size_t size = 64, char fill = 'p') {
    std::string data = std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(width) + be32(height);
    data.resize(std::max(size, data.size()), fill);
    return data;
}

// A bitmap header (height counting the mask) padded to `size` bytes.
std::string dib(int32_t width, int32_t doubledHeight, size_t size = 64, uint32_t headerSize = 40, char fill = 'd') {
    std::string data = le32(headerSize) + le32(static_cast<uint32_t>(width)) + le32(static_cast<uint32_t>(doubledHeight));
    data.resize(std::max(size, data.size()), fill);
    return data;
}

struct Image {
    uint8_t width;
    uint8_t height;
    uint16_t bits;
    std::string data;
    int64_t claimedSize = -1;    // -1: the data's real size
    int64_t claimedOffset = -1;  // -1: where the data really is
};

std::string ico(const std::vector<Image>& images, int count = -1) {
    std::string directory, data;
    const size_t dataStart = 6 + 16 * images.size();
    for (const Image& image : images) {
        directory += std::string{static_cast<char>(image.width), static_cast<char>(image.height), 7, 0};
        directory += le16(1) + le16(image.bits);
        directory += le32(static_cast<uint32_t>(image.claimedSize >= 0 ? image.claimedSize : image.data.size()));
        directory += le32(static_cast<uint32_t>(image.claimedOffset >= 0 ? image.claimedOffset : dataStart + data.size()));
        data += image.data;
    }
    return le16(0) + le16(1) + le16(count >= 0 ? count : static_cast<uint32_t>(images.size())) + directory + data;
}

// The single-image ICO the reduction should produce from `image` with the given directory sizes.
std::string repacked(const Image& image, uint8_t width, uint8_t height) {
    return le16(0) + le16(1) + le16(1) + std::string{static_cast<char>(width), static_cast<char>(height), 7, 0} +
           le16(1) + le16(image.bits) + le32(static_cast<uint32_t>(image.data.size())) + le32(22) + image.data;
}

TEST(IcoReduceTest, PicksTheLargestThenDeepestUsableImage) {
    const Image bmp16{16, 16, 32, dib(16, 32, 80, 40, 'a')};
    const Image bmp48{48, 48, 32, dib(48, 96, 90, 40, 'b')};
    const Image png256{0, 0, 32, png(256, 256, 100, 'c')};
    EXPECT_EQ(reduceIcoToBestImage(ico({bmp16, bmp48, png256})), repacked(png256, 0, 0));
    EXPECT_EQ(reduceIcoToBestImage(ico({png256, bmp48, bmp16})), repacked(png256, 0, 0));

    const Image deep32{32, 32, 32, dib(32, 64, 70, 40, 'e')};
    const Image shallow48{48, 48, 8, dib(48, 96, 70, 40, 'f')};
    const Image shallow32{32, 32, 4, dib(32, 64, 70, 40, 'g')};
    EXPECT_EQ(reduceIcoToBestImage(ico({deep32, shallow48})), repacked(shallow48, 48, 48));
    EXPECT_EQ(reduceIcoToBestImage(ico({shallow32, deep32})), repacked(deep32, 32, 32));

    const Image twin{32, 32, 32, dib(32, 64, 70, 40, 'h')};
    EXPECT_EQ(reduceIcoToBestImage(ico({deep32, twin})), repacked(deep32, 32, 32));
    EXPECT_EQ(reduceIcoToBestImage(ico({twin, deep32})), repacked(twin, 32, 32));
}

TEST(IcoReduceTest, SkipsEntriesThatPointPastTheEnd) {
    const Image bmp16{16, 16, 32, dib(16, 32)};
    Image tooLong{48, 48, 32, dib(48, 96)};
    tooLong.claimedSize = 100000;
    Image pastEnd{64, 64, 32, dib(64, 128)};
    pastEnd.claimedOffset = 5000;
    Image atEnd{64, 64, 32, dib(64, 128)};
    EXPECT_EQ(reduceIcoToBestImage(ico({bmp16, tooLong, pastEnd})), repacked(bmp16, 16, 16));

    // An entry whose offset is exactly the file size is outside it too.
    const std::string body = ico({bmp16, atEnd});
    std::string shifted = body;
    shifted.replace(6 + 16 + 12, 4, le32(static_cast<uint32_t>(body.size())));
    shifted.replace(6 + 16 + 8, 4, le32(0));
    EXPECT_EQ(reduceIcoToBestImage(shifted), repacked(bmp16, 16, 16));

    const std::string noneUsable = ico({tooLong, pastEnd});
    EXPECT_EQ(reduceIcoToBestImage(noneUsable), noneUsable);
}

TEST(IcoReduceTest, ReadsOnlyTheDirectoryThatIsThere) {
    const std::string whole = ico({Image{16, 16, 32, dib(16, 32)}, Image{32, 32, 32, dib(32, 64)}, Image{48, 48, 32, dib(48, 96)}});
    for (const size_t length : {size_t{21}, size_t{22}, size_t{30}, size_t{6 + 16 * 2}, size_t{6 + 16 * 3 + 10}}) {
        const std::string cut = whole.substr(0, length);
        EXPECT_EQ(reduceIcoToBestImage(cut), cut) << length;
    }

    // A count larger than the directory: what follows is read as entries only while 16 bytes remain.
    const Image only{32, 32, 32, dib(32, 64, 40)};
    EXPECT_EQ(reduceIcoToBestImage(ico({only}, 3)), repacked(only, 32, 32));
}

TEST(IcoReduceTest, TakesDimensionsFromTheImageHeaders) {
    struct Case {
        const char* what;
        Image image;
        int width;  // -1: the body comes back unchanged
        int height;
    };
    const Case cases[] = {
        {"png 2048", {0, 0, 32, png(2048, 2048)}, -1, -1},
        {"png 0 wide", {16, 16, 32, png(0, 16)}, -1, -1},
        {"png 300x200", {0, 0, 32, png(300, 200)}, 0, 200},
        {"png 1024", {0, 0, 32, png(1024, 1024)}, 0, 0},
        {"png 1025 high", {0, 0, 32, png(16, 1025)}, -1, -1},
        {"png under 24 bytes, read as an absurd bitmap header", {20, 10, 32, png(64, 64).substr(0, 23)}, -1, -1},
        {"bmp header wins", {0, 0, 32, dib(64, 128)}, 64, 64},
        {"bmp odd doubled height", {0, 0, 32, dib(40, 81)}, 40, 40},
        {"bmp 2000 wide", {0, 0, 32, dib(2000, 64)}, -1, -1},
        {"bmp core header", {24, 24, 32, dib(100, 200, 64, 12)}, 24, 24},
        {"bmp negative width", {24, 24, 32, dib(-5, 64)}, 24, 24},
        {"bmp height 1", {24, 24, 32, dib(8, 1)}, 24, 24},
        {"under 12 bytes", {20, 20, 32, std::string(8, 'x')}, 20, 20},
    };
    // A smaller image first, so that a repacked file always differs from the original.
    const Image decoy{1, 1, 1, dib(1, 2, 48)};
    for (const Case& c : cases) {
        const std::string body = ico({decoy, c.image});
        if (c.width < 0)
            EXPECT_EQ(reduceIcoToBestImage(body), body) << c.what;
        else
            EXPECT_EQ(reduceIcoToBestImage(body), repacked(c.image, static_cast<uint8_t>(c.width), static_cast<uint8_t>(c.height)))
                << c.what;
    }
}

TEST(IcoReduceTest, LeavesOtherFilesAlone) {
    const Image image{16, 16, 32, dib(16, 32)};
    std::string cursor = ico({image});
    cursor[2] = 2;
    std::string reserved = ico({image});
    reserved[0] = 1;
    std::string noImages = ico({image});
    noImages[4] = 0;
    std::string tooMany = ico({image});
    tooMany[4] = 65;
    const std::string pngFile = png(48, 48, 200);
    const std::string jpegFile = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(100, 'j');
    for (const std::string& body : {cursor, reserved, noImages, tooMany, pngFile, jpegFile, std::string()})
        EXPECT_EQ(reduceIcoToBestImage(body), body);

    std::string sixtyFour = ico({image}, 64);
    EXPECT_NE(reduceIcoToBestImage(sixtyFour), sixtyFour);
}

TEST(IcoReduceTest, ReducesARealMultiImageIconToItsPngFrame) {
    const std::wstring folder = qbtest::environment(L"QB_TEST_CATALOGUE");
    ASSERT_FALSE(folder.empty());
    const std::string body = qbtest::readFileBytes(folder + L"\\icons\\3.ico");
    ASSERT_GT(body.size(), 22u);
    ASSERT_EQ(body[4], 3);  // 16, 48 and 256 pixels

    const std::string reduced = reduceIcoToBestImage(body);
    ASSERT_GT(reduced.size(), 22u + 24u);
    EXPECT_EQ(reduced.substr(0, 6), le16(0) + le16(1) + le16(1));
    EXPECT_EQ(reduced[6], 0);
    EXPECT_EQ(reduced[7], 0);
    EXPECT_EQ(reduced.substr(18, 4), le32(22));
    EXPECT_EQ(reduced.substr(22, 4), "\x89PNG");
    EXPECT_EQ(reduced.size() - 22, static_cast<uint8_t>(reduced[14]) | static_cast<uint8_t>(reduced[15]) << 8 |
                                       static_cast<uint8_t>(reduced[16]) << 16);
    EXPECT_NE(body.find(reduced.substr(22)), std::string::npos);
}

}  // namespace

namespace {

std::string be16(uint32_t v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }

// A JPEG marker segment; its length counts itself.
std::string segment(uint8_t marker, const std::string& payload) {
    return std::string{'\xFF', static_cast<char>(marker)} + be16(static_cast<uint32_t>(payload.size() + 2)) + payload;
}

// A frame header (SOFn) of three components declaring width x height.
std::string frame(uint8_t marker, uint32_t width, uint32_t height) {
    return segment(marker, "\x08" + be16(height) + be16(width) + std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10));
}

// SOI, the segments, then the start of a scan.
std::string jpeg(const std::string& segments) {
    return "\xFF\xD8" + segments + segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) + std::string(40, '\x5A');
}

std::string gif(const char* version, uint32_t width, uint32_t height) {
    return std::string(version) + le16(width) + le16(height) + std::string("\xF7\x00\x00", 3) + std::string(40, 'g');
}

// A BMP file: the file header, then a core (12-byte) or info (40-byte or longer) header.
std::string bmp(int32_t width, int32_t height, uint32_t headerSize = 40) {
    std::string header = le32(headerSize);
    if (headerSize == 12)
        header += le16(static_cast<uint32_t>(width)) + le16(static_cast<uint32_t>(height)) + le16(1) + le16(24);
    else
        header += le32(static_cast<uint32_t>(width)) + le32(static_cast<uint32_t>(height)) + le16(1) + le16(24);
    header.resize(std::max<size_t>(headerSize, header.size()), '\0');
    const std::string pixels(64, 'b');
    return "BM" + le32(static_cast<uint32_t>(14 + header.size() + pixels.size())) + le32(0) +
           le32(static_cast<uint32_t>(14 + header.size())) + header + pixels;
}

const std::string kApp0 = segment(0xE0, std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
// An APP1 segment long enough to hide a false frame marker inside it.
const std::string kApp1 = segment(0xE1, "Exif" + std::string(6, '\0') + frame(0xC0, 9999, 9999) + std::string(3000, 'e'));
const std::string kTables = segment(0xDB, std::string(65, 'q')) + segment(0xC4, std::string(28, 'h'));

TEST(ImageHeaderTest, ReadsTheDeclaredSizeOfEachFormat) {
    struct Case {
        const char* what;
        std::string bytes;
        bool recognised;
        ImageFormat format;
        uint32_t width;
        uint32_t height;
    };
    Image png2048{0, 0, 32, png(2048, 2048)};
    Image unusable{48, 48, 32, dib(48, 96)};
    unusable.claimedOffset = 100000;
    std::string pngNoIhdr = png(16, 16);
    pngNoIhdr.replace(12, 4, "IDAT");
    std::string sixtyFive = ico({Image{16, 16, 32, dib(16, 32)}});
    sixtyFive[4] = 65;
    const std::string baseline = jpeg(kApp0 + kTables + frame(0xC0, 640, 480));
    const Case cases[] = {
        {"png", png(30000, 30000), true, ImageFormat::Png, 30000, 30000},
        {"png 1024", png(1024, 1024), true, ImageFormat::Png, 1024, 1024},
        {"png cut inside IHDR", png(16, 16).substr(0, 23), false, ImageFormat::Png, 0, 0},
        {"png without IHDR first", pngNoIhdr, false, ImageFormat::Png, 0, 0},
        {"jpeg baseline after APP0 and tables", baseline, true, ImageFormat::Jpeg, 640, 480},
        {"jpeg progressive after APP0 and APP1", jpeg(kApp0 + kApp1 + frame(0xC2, 1025, 30)), true, ImageFormat::Jpeg, 1025, 30},
        {"jpeg SOF1", jpeg(frame(0xC1, 3, 4)), true, ImageFormat::Jpeg, 3, 4},
        {"jpeg fill bytes before a marker", jpeg(kApp0 + "\xFF\xFF" + frame(0xC0, 5, 6)), true, ImageFormat::Jpeg, 5, 6},
        {"jpeg zero height", jpeg(frame(0xC0, 640, 0)), true, ImageFormat::Jpeg, 640, 0},
        {"jpeg scan before any frame", jpeg(kApp0 + kTables), false, ImageFormat::Jpeg, 0, 0},
        {"jpeg cut inside the frame header", baseline.substr(0, baseline.find("\xFF\xC0") + 6), false, ImageFormat::Jpeg, 0, 0},
        {"jpeg segment longer than the file", std::string("\xFF\xD8\xFF\xE0\x40\x00", 6) + std::string(100, 'x'), false, ImageFormat::Jpeg, 0, 0},
        {"jpeg segment length 1", std::string("\xFF\xD8\xFF\xE0\x00\x01", 6) + frame(0xC0, 5, 6), false, ImageFormat::Jpeg, 0, 0},
        {"jpeg garbage between segments", std::string("\xFF\xD8") + kApp0 + "x" + frame(0xC0, 5, 6), false, ImageFormat::Jpeg, 0, 0},
        {"jpeg SOI only", std::string("\xFF\xD8", 2), false, ImageFormat::Jpeg, 0, 0},
        {"gif87a", gif("GIF87a", 1024, 1), true, ImageFormat::Gif, 1024, 1},
        {"gif89a", gif("GIF89a", 1025, 1024), true, ImageFormat::Gif, 1025, 1024},
        {"gif cut", gif("GIF89a", 16, 16).substr(0, 9), false, ImageFormat::Gif, 0, 0},
        {"bmp info header", bmp(300, 200), true, ImageFormat::Bmp, 300, 200},
        {"bmp top-down", bmp(300, -1025), true, ImageFormat::Bmp, 300, 1025},
        {"bmp v5 header", bmp(1024, 768, 124), true, ImageFormat::Bmp, 1024, 768},
        {"bmp core header", bmp(1100, 20, 12), true, ImageFormat::Bmp, 1100, 20},
        {"bmp negative width", bmp(-16, 16), false, ImageFormat::Bmp, 0, 0},
        {"bmp unknown header size", bmp(16, 16, 20), false, ImageFormat::Bmp, 0, 0},
        {"bmp cut inside the info header", bmp(16, 16).substr(0, 14 + 30), false, ImageFormat::Bmp, 0, 0},
        {"ico png frame chosen", ico({Image{16, 16, 32, dib(16, 32)}, Image{0, 0, 32, png(256, 256)}}), true, ImageFormat::Ico, 256, 256},
        {"ico bitmap frame chosen, mask halved", ico({Image{16, 16, 32, dib(16, 32)}, Image{48, 48, 32, dib(48, 96)}}), true, ImageFormat::Ico, 48, 48},
        {"ico whose chosen png declares 2048", ico({Image{16, 16, 32, dib(16, 32)}, png2048}), true, ImageFormat::Ico, 2048, 2048},
        {"ico whose chosen frame lies about its size", ico({Image{200, 200, 32, dib(5000, 10000)}}), true, ImageFormat::Ico, 5000, 5000},
        {"ico without a usable image", ico({unusable}), false, ImageFormat::Ico, 0, 0},
        {"ico of 65 images", sixtyFive, false, ImageFormat::Ico, 0, 0},
        {"tiff", std::string("II*\0\x08\0\0\0", 8) + std::string(100, 't'), false, ImageFormat::Png, 0, 0},
        {"text", "this is not an image", false, ImageFormat::Png, 0, 0},
        {"empty", "", false, ImageFormat::Png, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<ImageHeader> header = readImageHeader(c.bytes);
        ASSERT_EQ(header.has_value(), c.recognised);
        if (!header) continue;
        EXPECT_EQ(header->format, c.format);
        EXPECT_EQ(header->width, c.width);
        EXPECT_EQ(header->height, c.height);
    }
}

TEST(ImageHeaderTest, OnlyKnownFormatsOfAtMost1024PixelsAreDecoded) {
    struct Case {
        const char* what;
        std::string body;
        bool decoded;
    };
    const Image small{16, 16, 32, dib(16, 32)};
    const Case cases[] = {
        {"png 1024 x 1024", png(1024, 1024), true},
        {"png 1025 wide", png(1025, 1), false},
        {"png 1025 high", png(1, 1025), false},
        {"png 30000 x 30000", png(30000, 30000, 1 << 20), false},
        {"png 0 wide", png(0, 16), false},
        {"png 1 x 1", png(1, 1), true},
        {"jpeg 1024 x 768", jpeg(kApp0 + frame(0xC0, 1024, 768)), true},
        {"jpeg progressive 1025 wide", jpeg(kApp0 + kApp1 + frame(0xC2, 1025, 30)), false},
        {"jpeg height to come later", jpeg(frame(0xC0, 640, 0)), false},
        {"gif 1024", gif("GIF89a", 1024, 1024), true},
        {"gif 1025", gif("GIF89a", 1025, 1024), false},
        {"bmp top-down 1024", bmp(1024, -1024), true},
        {"bmp top-down 1025", bmp(1024, -1025), false},
        {"bmp core 1025", bmp(1025, 8, 12), false},
        {"ico whose chosen png declares 2048", ico({small, Image{0, 0, 32, png(2048, 2048)}}), false},
        {"ico whose chosen bitmap declares 1025", ico({small, Image{0, 0, 32, dib(1025, 2050)}}), false},
        {"ico whose chosen frame lies about its size", ico({Image{200, 200, 32, dib(5000, 10000)}}), false},
        {"ico of 65 images", ico(std::vector<Image>(65, small)), false},
        {"tiff", std::string("MM\0*\0\0\0\x08", 8) + std::string(100, 't'), false},
        {"text", std::string(4194304, 'x'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<std::string> bytes = decodableIconBytes(c.body);
        ASSERT_EQ(bytes.has_value(), c.decoded);
        if (bytes) {
            EXPECT_EQ(*bytes, c.body);
        }
    }

    // A good ICO reaches the decoder reduced to its best image.
    const Image png256{0, 0, 32, png(256, 256, 100, 'c')};
    const std::optional<std::string> reduced = decodableIconBytes(ico({small, png256}));
    ASSERT_TRUE(reduced.has_value());
    EXPECT_EQ(*reduced, repacked(png256, 0, 0));
    const Image bmp1024{0, 0, 32, dib(1024, 2048)};
    EXPECT_EQ(decodableIconBytes(ico({small, bmp1024})), std::optional<std::string>(repacked(bmp1024, 0, 0)));
}

}  // namespace
