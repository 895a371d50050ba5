#pragma once
// A fast 64-bit checksum for telling a file we wrote from a damaged or different one. It reads eight
// bytes per step (FNV-1a's xor and multiply on 64-bit words), so a few megabytes cost a millisecond
// or two; it is no defence against deliberate forgery, which the cache does not need.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qb {

inline uint64_t checksum64(const void* data, size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    uint64_t hash = 14695981039346656037ULL ^ size;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        hash = (hash ^ word) * 1099511628211ULL;
        hash ^= hash >> 29;
    }
    for (; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ULL;
    return hash ^ (hash >> 32);
}

}  // namespace qb
