// libFuzzer harness: the ICO reduction and the image header reader read only inside their input. What
// the reduction returns is either the input unchanged or a one-image ICO whose directory entry points
// at exactly the image bytes, which are a copy of bytes of the input; what the icon check lets through
// declares 1 to 1024 pixels a side.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "service/ico_reduce.h"
#include "service/image_header.h"

namespace {

uint32_t le32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<uint8_t>(b[at + k]);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    if (const std::optional<std::string> decodable = decodableIconBytes(body)) {
        const std::optional<ImageHeader> header = readImageHeader(*decodable);
        if (!header || header->width < 1 || header->width > kMaxIconSide || header->height < 1 ||
            header->height > kMaxIconSide)
            __builtin_trap();
    }
    const std::string out = reduceIcoToBestImage(body);
    if (out == body) return 0;
    if (out.size() < 22 || std::memcmp(out.data(), "\0\0\1\0\1\0", 6) != 0) __builtin_trap();
    if (le32(out, 18) != 22 || le32(out, 14) != out.size() - 22) __builtin_trap();
    if (body.find(out.substr(22)) == std::string::npos) __builtin_trap();
    // Reducing again keeps the single image as it is.
    const std::string again = reduceIcoToBestImage(out);
    if (again.size() != out.size() || again.compare(22, std::string::npos, out, 22, std::string::npos) != 0)
        __builtin_trap();
    return 0;
}
