#pragma once
// ICO repacking for the icon decoder: a pure function over bytes, no Windows calls.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The image of an ICO file that the reduction keeps.
struct IcoImage {
    size_t entry = 0;     // offset of its directory entry
    uint32_t size = 0;    // bytes of image data
    uint32_t offset = 0;  // where the image data starts; offset + size lies inside the file
};

// The usable image with the highest width * 4096 + bit count (the earlier one on a tie); nullopt when
// the body is not an ICO of 1 to 64 images or none of its entries lies inside the file.
std::optional<IcoImage> chooseIcoImage(const std::string& body);

// Reduces an ICO file to its best single image (largest, then deepest); other bodies come back unchanged,
// and so does an ICO whose chosen image declares a size outside 1..1024 (the header check refuses it).
std::string reduceIcoToBestImage(const std::string& body);
