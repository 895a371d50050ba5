#pragma once
// MD5 (RFC 1321) over a byte stream, written for speed on one core.
#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
public:
    Md5() { reset(); }
    void reset();
    void update(const void* data, size_t length);
    // Finishes the digest; the object must be reset before it is used again.
    void finish(uint8_t digest[16]);
    // The digest as 32 lowercase hexadecimal digits.
    std::string finishHex();

private:
    void blocks(const uint8_t* data, size_t count);

    uint32_t state_[4];
    uint64_t length_;
    uint8_t buffer_[64];
    size_t buffered_;
};
