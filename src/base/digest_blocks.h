#pragma once
// What MD5 and SHA-256 share: feeding bytes to a 64-byte-block compression function with a partial
// block kept between calls, and the lowercase hexadecimal text of a digest.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// Passes every whole 64-byte block of the stream to compress(blocks, count); what is left waits in
// buffer (buffered bytes of it) for the next call.
template <typename Compress>
void feedBlocks(uint8_t (&buffer)[64], size_t& buffered, const uint8_t* p, size_t length, Compress compress) {
    if (buffered > 0) {
        const size_t take = length < 64 - buffered ? length : 64 - buffered;
        std::memcpy(buffer + buffered, p, take);
        buffered += take;
        p += take;
        length -= take;
        if (buffered < 64) return;
        compress(buffer, 1);
        buffered = 0;
    }
    const size_t whole = length / 64;
    if (whole > 0) compress(p, whole);
    p += whole * 64;
    length -= whole * 64;
    std::memcpy(buffer, p, length);
    buffered = length;
}

inline std::string lowerHex(const uint8_t* bytes, size_t count) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 15]);
    }
    return text;
}
