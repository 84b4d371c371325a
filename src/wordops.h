// Eight dump bytes at a time: unaligned 64-bit loads and stores and byte
// lane helpers. Only lane-wise operations are used, so byte order is of no
// concern.
#ifndef WORDOPS_H
#define WORDOPS_H

#include <cstdint>
#include <cstring>

inline uint64_t load64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store64(uint8_t *p, uint64_t v)
{
    std::memcpy(p, &v, sizeof v);
}

// The byte b in all eight lanes.
inline uint64_t broadcast_byte(uint8_t b)
{
    return b * 0x0101010101010101ull;
}

// The OR of the eight lanes.
inline uint8_t fold_or(uint64_t v)
{
    v |= v >> 32;
    v |= v >> 16;
    v |= v >> 8;
    return static_cast<uint8_t>(v);
}

// The sum of the eight lanes, each 0 or 1.
inline unsigned sum_flag_lanes(uint64_t v)
{
    return static_cast<unsigned>((v * 0x0101010101010101ull) >> 56);
}

#endif
