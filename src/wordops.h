// Eight dump bytes at a time: unaligned 64-bit loads and stores, byte lane
// helpers, and the bit transposes that turn 64 readings into one bit map
// word per pin (gather_bit, gather_bits) and back (place_bit). Only
// lane-wise operations are used, so byte order is of no concern.
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

// The sum of the eight lanes, each 0 or 1.
inline unsigned sum_flag_lanes(uint64_t v)
{
    return static_cast<unsigned>((v * 0x0101010101010101ull) >> 56);
}

// The number of set bits.
inline unsigned popcount64(uint64_t v)
{
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<unsigned>((v * 0x0101010101010101ull) >> 56);
}

// The bits of v, lowest first, placed at the set bits of mask; and back,
// the bits of v at the set bits of mask, packed lowest first.
inline uint32_t deposit_bits(uint32_t v, uint32_t mask)
{
    uint32_t out = 0;
    for (uint32_t m = mask; m; m &= m - 1, v >>= 1)
        out |= (v & 1) * (m & ~(m - 1));
    return out;
}

inline uint32_t extract_bits(uint32_t v, uint32_t mask)
{
    uint32_t out = 0, bit = 1;
    for (uint32_t m = mask; m; m &= m - 1, bit <<= 1) {
        if (v & m & ~(m - 1))
            out |= bit;
    }
    return out;
}

// The 8x8 bit matrix of v transposed: bit 8r + c goes to bit 8c + r.
inline uint64_t transpose_bits(uint64_t v)
{
    uint64_t t = (v ^ (v >> 7)) & 0x00AA00AA00AA00AAull;
    v ^= t ^ (t << 7);
    t = (v ^ (v >> 14)) & 0x0000CCCC0000CCCCull;
    v ^= t ^ (t << 14);
    t = (v ^ (v >> 28)) & 0x00000000F0F0F0F0ull;
    v ^= t ^ (t << 28);
    return v;
}

// Bit k of the 64 bytes from p, byte b in bit b. One multiply packs the
// eight lane bits of a word into its top byte, lane j to bit 56 + j.
inline uint64_t gather_bit(const uint8_t *p, int k)
{
    const uint64_t lanes = broadcast_byte(1), pack = 0x0102040810204080ull;
    return ((((load64(p) >> k) & lanes) * pack) >> 56) | ((((load64(p + 8) >> k) & lanes) * pack) >> 48 & 0xFF00) |
           ((((load64(p + 16) >> k) & lanes) * pack) >> 40 & 0xFF0000) |
           ((((load64(p + 24) >> k) & lanes) * pack) >> 32 & 0xFF000000) |
           ((((load64(p + 32) >> k) & lanes) * pack) >> 24 & 0xFF00000000) |
           ((((load64(p + 40) >> k) & lanes) * pack) >> 16 & 0xFF0000000000) |
           ((((load64(p + 48) >> k) & lanes) * pack) >> 8 & 0xFF000000000000) |
           ((((load64(p + 56) >> k) & lanes) * pack) & 0xFF00000000000000);
}

// Swaps the blocks of lo that a shift right by shift brings onto the
// blocks of hi in mask with those blocks of hi.
inline void swap_blocks(uint64_t &lo, uint64_t &hi, int shift, uint64_t mask)
{
    const uint64_t x = ((lo >> shift) ^ hi) & mask;
    hi ^= x;
    lo ^= x << shift;
}

// gather_bit(p, k) for every k at once: bit b of bits[k] is bit k of byte b
// of the 64 bytes from p. Each group of eight bytes is transposed as a bit
// matrix (byte k then holds bit k of the group's bytes), and the eight
// results as an 8x8 byte matrix: blocks of one, two and four bytes swapped
// across the diagonal.
inline void gather_bits(const uint8_t *p, uint64_t bits[8])
{
    for (int g = 0; g < 8; g++)
        bits[g] = transpose_bits(load64(p + 8 * g));
    const uint64_t one = 0x00FF00FF00FF00FFull, two = 0x0000FFFF0000FFFFull, four = 0x00000000FFFFFFFFull;
    swap_blocks(bits[0], bits[1], 8, one);
    swap_blocks(bits[2], bits[3], 8, one);
    swap_blocks(bits[4], bits[5], 8, one);
    swap_blocks(bits[6], bits[7], 8, one);
    swap_blocks(bits[0], bits[2], 16, two);
    swap_blocks(bits[1], bits[3], 16, two);
    swap_blocks(bits[4], bits[6], 16, two);
    swap_blocks(bits[5], bits[7], 16, two);
    swap_blocks(bits[0], bits[4], 32, four);
    swap_blocks(bits[1], bits[5], 32, four);
    swap_blocks(bits[2], bits[6], 32, four);
    swap_blocks(bits[3], bits[7], 32, four);
}

// The inverse: bit b of bits becomes bit k of byte b of the 64 bytes from p.
inline void place_bit(uint8_t *p, int k, uint64_t bits)
{
    const uint64_t lanes = broadcast_byte(1);
    const uint64_t v = transpose_bits(bits); // byte j, bit g: bit 8g + j
    for (int g = 0; g < 8; g++)
        store64(p + 8 * g, (load64(p + 8 * g) & ~(lanes << k)) | (((v >> g) & lanes) << k));
}

#endif
