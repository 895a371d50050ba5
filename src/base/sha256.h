#pragma once
// SHA-256 (FIPS 180-4) over a byte stream: the processor's SHA extensions where it has them, portable
// code elsewhere. Our own rather than the platform's CNG, which measured 6 to 7 times slower under Wine.
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    enum class Engine { Fastest, Portable };

    // Portable forces the plain C++ rounds whatever the processor offers (tests and measurements).
    explicit Sha256(Engine engine = Engine::Fastest);
    void reset();
    void update(const void* data, size_t length);
    // Finishes the digest; the object must be reset before it is used again.
    void finish(uint8_t digest[32]);
    // The digest as 64 lowercase hexadecimal digits.
    std::string finishHex();

    // Whether Engine::Fastest runs on the SHA extensions on this processor.
    static bool usesShaExtensions();

private:
    using Compress = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);

    Compress compress_;
    uint32_t state_[8];
    uint64_t length_;
    uint8_t buffer_[64];
    size_t buffered_;
};
