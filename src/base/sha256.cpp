#include "base/sha256.h"

#include "base/digest_blocks.h"

#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define QB_SHA256_X86 1
#include <immintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace {

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u, 0xab1c5ed5u,
    0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu, 0x9bdc06a7u, 0xc19bf174u,
    0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu, 0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau,
    0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u, 0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u,
    0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu, 0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u,
    0xa2bfe8a1u, 0xa81a664bu, 0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u,
    0x19a4c116u, 0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u, 0xc67178f2u,
};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

// The next schedule word replaces the one 16 rounds older in a ring of 16.
inline uint32_t expand(uint32_t (&w)[16], int i) {
    const uint32_t w15 = w[(i + 1) & 15], w2 = w[(i + 14) & 15];
    const uint32_t s0 = rotr(w15, 7) ^ rotr(w15, 18) ^ (w15 >> 3);
    const uint32_t s1 = rotr(w2, 17) ^ rotr(w2, 19) ^ (w2 >> 10);
    return w[i & 15] += s0 + w[(i + 9) & 15] + s1;
}

// One round with the working variables renamed instead of shifted.
#define QB_SHA256_ROUND(a, b, c, d, e, f, g, h, i, word)                                                  \
    do {                                                                                                  \
        const uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + kRound[i] + \
                            (word);                                                                       \
        d += t1;                                                                                          \
        h = t1 + (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) | (c & (a | b)));                    \
    } while (0)

#define QB_SHA256_EIGHT_ROUNDS(i, w0, w1, w2, w3, w4, w5, w6, w7) \
    do {                                                          \
        QB_SHA256_ROUND(a, b, c, d, e, f, g, h, i, w0);           \
        QB_SHA256_ROUND(h, a, b, c, d, e, f, g, i + 1, w1);       \
        QB_SHA256_ROUND(g, h, a, b, c, d, e, f, i + 2, w2);       \
        QB_SHA256_ROUND(f, g, h, a, b, c, d, e, i + 3, w3);       \
        QB_SHA256_ROUND(e, f, g, h, a, b, c, d, i + 4, w4);       \
        QB_SHA256_ROUND(d, e, f, g, h, a, b, c, i + 5, w5);       \
        QB_SHA256_ROUND(c, d, e, f, g, h, a, b, i + 6, w6);       \
        QB_SHA256_ROUND(b, c, d, e, f, g, h, a, i + 7, w7);       \
    } while (0)

#define QB_SHA256_LOADED_ROUNDS(i) \
    QB_SHA256_EIGHT_ROUNDS(i, w[i], w[i + 1], w[i + 2], w[i + 3], w[i + 4], w[i + 5], w[i + 6], w[i + 7])
#define QB_SHA256_EXPANDED_ROUNDS(i)                                                                     \
    QB_SHA256_EIGHT_ROUNDS(i, expand(w, i), expand(w, i + 1), expand(w, i + 2), expand(w, i + 3),        \
                           expand(w, i + 4), expand(w, i + 5), expand(w, i + 6), expand(w, i + 7))

void compressPortable(uint32_t state[8], const uint8_t* p, size_t count) {
    for (; count > 0; --count, p += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load32(p + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        // Written out rather than looped: with constant indices the rounds compile about 20% faster.
        QB_SHA256_LOADED_ROUNDS(0);
        QB_SHA256_LOADED_ROUNDS(8);
        QB_SHA256_EXPANDED_ROUNDS(16);
        QB_SHA256_EXPANDED_ROUNDS(24);
        QB_SHA256_EXPANDED_ROUNDS(32);
        QB_SHA256_EXPANDED_ROUNDS(40);
        QB_SHA256_EXPANDED_ROUNDS(48);
        QB_SHA256_EXPANDED_ROUNDS(56);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#if defined(QB_SHA256_X86)

// Only this function is built for the SHA extensions; the rest of the program stays baseline x86-64.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((target("sha,sse4.1,ssse3")))
#endif
void compressShaExtensions(uint32_t state[8], const uint8_t* p, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // The instructions keep the state as the two halves ABEF and CDGH.
    const __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

// Four rounds: two instructions, each taking two of the four message-plus-constant words.
#define QB_SHA256_NI_ROUNDS(m, i)                                                                          \
    do {                                                                                                   \
        const __m128i wk = _mm_add_epi32(m, _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + (i)))); \
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);                                                      \
        abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));                             \
    } while (0)
// The next four schedule words from the last sixteen, written over the oldest four.
#define QB_SHA256_NI_SCHEDULE(m0, m1, m2, m3) \
    m0 = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(m0, m1), _mm_alignr_epi8(m3, m2, 4)), m3)

    for (; count > 0; --count, p += 64) {
        const __m128i savedAbef = abef, savedCdgh = cdgh;
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), byteSwap);
        QB_SHA256_NI_ROUNDS(m0, 0);
        QB_SHA256_NI_ROUNDS(m1, 4);
        QB_SHA256_NI_ROUNDS(m2, 8);
        QB_SHA256_NI_ROUNDS(m3, 12);
        for (int i = 16; i < 64; i += 16) {
            QB_SHA256_NI_SCHEDULE(m0, m1, m2, m3);
            QB_SHA256_NI_ROUNDS(m0, i);
            QB_SHA256_NI_SCHEDULE(m1, m2, m3, m0);
            QB_SHA256_NI_ROUNDS(m1, i + 4);
            QB_SHA256_NI_SCHEDULE(m2, m3, m0, m1);
            QB_SHA256_NI_ROUNDS(m2, i + 8);
            QB_SHA256_NI_SCHEDULE(m3, m0, m1, m2);
            QB_SHA256_NI_ROUNDS(m3, i + 12);
        }
        abef = _mm_add_epi32(abef, savedAbef);
        cdgh = _mm_add_epi32(cdgh, savedCdgh);
    }
#undef QB_SHA256_NI_ROUNDS
#undef QB_SHA256_NI_SCHEDULE

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// CPUID leaf 1: SSSE3 (ECX bit 9) and SSE4.1 (ECX bit 19); leaf 7: SHA (EBX bit 29).
bool cpuHasShaExtensions() {
    unsigned leaf1[4] = {}, leaf7[4] = {};
#if defined(_MSC_VER) && !defined(__clang__)
    int regs[4];
    __cpuid(regs, 0);
    if (regs[0] < 7) return false;
    __cpuid(regs, 1);
    leaf1[2] = static_cast<unsigned>(regs[2]);
    __cpuidex(regs, 7, 0);
    leaf7[1] = static_cast<unsigned>(regs[1]);
#else
    if (!__get_cpuid(1, &leaf1[0], &leaf1[1], &leaf1[2], &leaf1[3])) return false;
    if (!__get_cpuid_count(7, 0, &leaf7[0], &leaf7[1], &leaf7[2], &leaf7[3])) return false;
#endif
    return (leaf1[2] & (1u << 9)) && (leaf1[2] & (1u << 19)) && (leaf7[1] & (1u << 29));
}

#else

bool cpuHasShaExtensions() { return false; }

#endif

bool shaExtensionsAvailable() {
    static const bool available = cpuHasShaExtensions();
    return available;
}

}  // namespace

Sha256::Sha256(Engine engine) : compress_(&compressPortable) {
#if defined(QB_SHA256_X86)
    if (engine == Engine::Fastest && shaExtensionsAvailable()) compress_ = &compressShaExtensions;
#else
    (void)engine;
#endif
    reset();
}

bool Sha256::usesShaExtensions() { return shaExtensionsAvailable(); }

void Sha256::reset() {
    static const uint32_t kInitial[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                         0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};
    std::memcpy(state_, kInitial, sizeof state_);
    length_ = 0;
    buffered_ = 0;
}

void Sha256::update(const void* data, size_t length) {
    length_ += length;
    feedBlocks(buffer_, buffered_, static_cast<const uint8_t*>(data), length,
               [this](const uint8_t* from, size_t count) { compress_(state_, from, count); });
}

void Sha256::finish(uint8_t digest[32]) {
    const uint64_t bits = length_ * 8;
    uint8_t pad[72] = {0x80};
    const size_t padLength = (buffered_ < 56 ? 56 : 120) - buffered_;
    update(pad, padLength);
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    update(lengthBytes, 8);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(state_[i] >> (24 - 8 * j));
}

std::string Sha256::finishHex() {
    uint8_t digest[32];
    finish(digest);
    return lowerHex(digest, sizeof digest);
}
