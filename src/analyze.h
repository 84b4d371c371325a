// Dump analysis: loads a dump file into an image and analyses the image into
// one value, the dump_analysis: the readings pin by pin (and from them the
// float map), the class of every I/O pin,
// what the levels and enables depend on, and the conditions the summary
// reads. The summary (summary.h), the term extraction (terms.h), the CUPL
// writer (cupl.h) and the fitter read it; only this module writes it.
#ifndef ANALYZE_H
#define ANALYZE_H

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "signals.h"

// Behaviour flags of an I/O pin.
constexpr uint32_t MC_FIXED_LO = 0x01;  // driven somewhere, every driven reading 0
constexpr uint32_t MC_FIXED_HI = 0x02;  // driven somewhere, every driven reading 1
constexpr uint32_t MC_INPUT = 0x04;     // never driven
constexpr uint32_t MC_HIZ = 0x08;       // floats in at least one condition
constexpr uint32_t MC_OUTPUT = 0x10;    // driven in at least one condition

// What the analysis knows about one I/O pin Bk (record k). The level each
// equation lists and its term count are the CUPL writer's choice (terms.h).
struct macrocell {
    uint32_t flags;
    uint32_t out_mask;   // signals the driven level depends on
    uint32_t oe_mask;    // signals the float/driven state depends on
};

// Bit maps over the dump indices: bit b of word w stands for index 64w + b.
constexpr uint32_t INDEX_WORDS = DUMP_SIZE / 64;
using index_bits = std::vector<uint64_t>;
// One pin's bit map over every dump index.
using pin_map = std::array<uint64_t, INDEX_WORDS>;

// The analysis of one dump image.
struct dump_analysis {
    // The dump image: bit k of data[i] is the level read back on Bk in condition i.
    std::array<uint8_t, DUMP_SIZE> data;
    // The same readings pin by pin: bit b of data_bits[k][w] is bit k of data[64w + b].
    std::array<pin_map, NUM_BX> data_bits;
    std::array<macrocell, NUM_BX> mc;
    // Union of every out_mask and oe_mask.
    uint32_t iterms_ever_used;
    // Some pin's flags hold MC_HIZ: at least one I/O pin floats in some condition.
    bool some_pin_floats;
    // Some pin's out_mask holds I9.
    bool i9_drives_output;
};

// The float map, hiz_data, follows from the readings and is kept as no
// field: Bk floats in both conditions of the pair over its own weak drive
// when it reads 0 on the low side and 1 on the high side (the rule the chip
// library applies to any readings). Its own weak drive is bit 4 + k of a
// word number, so word w of Bk's float map comes from two words of its
// data_bits, the word with that bit clear and the one with it set.
inline uint64_t hiz_bits(const dump_analysis &a, int k, uint32_t w)
{
    const uint32_t own = bx_bit(k) / 64;
    return ~a.data_bits[k][w & ~own] & a.data_bits[k][w | own];
}
// Whether Bk floats in condition i.
inline bool hiz_at(const dump_analysis &a, int k, uint32_t i)
{
    return (hiz_bits(a, k, i / 64) >> (i % 64)) & 1;
}

// Projects a bit map of INDEX_WORDS words onto the signals of mask, in
// place: afterwards bit p of every p without signals outside mask is set
// when some bit i with i & mask == p was set, and all other bits are 0.
// Returns the number of bits set.
uint32_t project_bits(uint64_t *bits, uint32_t mask);
// Word w of the projection spread back over the dump indices: bit i is bit
// i & mask of bits, a map that project_bits made over mask. That is the
// word of w & (mask >> 6), its bits spread over the low signals outside
// the mask.
inline uint64_t projected_word(const uint64_t *bits, uint32_t w, uint32_t mask)
{
    uint64_t x = bits[w & (mask >> 6)];
    for (uint32_t s = 1; s < 64; s <<= 1)
        if (!(mask & s))
            x |= x << s;
    return x;
}

// Analyses a dump image of DUMP_SIZE bytes (bytes it lacks are taken as 0,
// bytes beyond are not read): clear_analysis, classify_pins and
// compute_masks in turn. The value is 512 KiB, so it lives on the heap.
std::unique_ptr<const dump_analysis> analyse_dump(const std::vector<uint8_t> &image);

// Reads the dump file into image, DUMP_SIZE bytes (missing bytes 0). Prints
// the not-found line and returns false when the file cannot be opened or is
// a directory; warns on standard error when the file holds fewer than
// 262144 bytes, or more (of which it reads only the first 262144 and one
// beyond).
bool load_dump(const char *filename, std::vector<uint8_t> &image);
// Warns on standard error when the 262144 readings of image (DUMP_SIZE
// bytes) cannot come from a chip in the right adapter board: every byte 0xFF
// (the pin buffer never answered), or every reading equal to its weak drive
// (no pin ever driven).
// True when it warned.
bool warn_implausible_dump(const std::vector<uint8_t> &image, const char *filename);

// The stages of analyse_dump, in their order (the benchmark times them one
// by one). Each fills its part of a, whose data holds the dump image.

// Zeroes the pin records, iterms_ever_used and the conditions.
void clear_analysis(dump_analysis &a);
// Fills data_bits from data, the flags of every pin and some_pin_floats.
void classify_pins(dump_analysis &a);
// Fills out_mask and oe_mask of every pin, iterms_ever_used and
// i9_drives_output. An output whose driven readings are no function of its
// out_mask alone, but are one of out_mask and oe_mask together (its level
// changes only where its enable changes too), gets the union as its out_mask.
void compute_masks(dump_analysis &a);

#endif
