#pragma once
// What an image file declares about itself, read from its header before anything decodes it.
// Pure functions over bytes, no Windows calls.
#include <cstdint>
#include <optional>
#include <string>

enum class ImageFormat : int32_t { Png, Jpeg, Gif, Bmp, Ico };

struct ImageHeader {
    ImageFormat format = ImageFormat::Png;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Icons larger than this on either side are refused: GDI+ would allocate the whole bitmap first.
constexpr uint32_t kMaxIconSide = 1024;

// Format and declared size of a PNG (IHDR), JPEG (first SOFn), GIF (logical screen), BMP (core or info
// header; a negative height is a top-down bitmap) or ICO (the image the ICO reduction chooses, from its
// own PNG or bitmap header). nullopt for other formats and for truncated or malformed headers.
std::optional<ImageHeader> readImageHeader(const std::string& bytes);

// The bytes the icon loader may hand to GDI+: an ICO reduced to its best image, anything else as it is;
// nullopt when the format is unknown or a side is 0 or larger than kMaxIconSide.
std::optional<std::string> decodableIconBytes(const std::string& body);
