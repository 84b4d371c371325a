#ifdef _MSC_VER
#define _CRT_SECURE_NO_WARNINGS  // fopen is standard C; no _s variants wanted
#endif
#include "analyze.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "wordops.h"

bool load_dump(const char *filename, std::vector<uint8_t> &image)
{
    // A directory opens for reading on some systems; it is no dump file.
    std::error_code ec;
    FILE *f = nullptr;
    if (!std::filesystem::is_directory(std::filesystem::path(filename), ec))
        f = std::fopen(filename, "rb");
    if (!f) {
        std::printf("File `%s' not found.\n", filename);
        return false;
    }
    image.assign(DUMP_SIZE, 0);
    size_t got = std::fread(image.data(), 1, DUMP_SIZE, f);
    // One byte more tells a long file (or a device such as /dev/urandom)
    // from a dump without reading it all.
    const bool longer = got == DUMP_SIZE && std::fgetc(f) != EOF;
    std::fclose(f);
    if (got < DUMP_SIZE)
        std::fprintf(stderr, "Warning: `%s' holds only %ld of 262144 bytes; the rest is taken as 0.\n",
                     filename, static_cast<long>(got));
    if (longer)
        std::fprintf(stderr, "Warning: `%s' holds more than 262144 bytes; only the first 262144 are read.\n",
                     filename);
    return true;
}

bool warn_implausible_dump(const std::vector<uint8_t> &image, const char *filename)
{
    // Eight readings at a time; the weak drive rx is the same over the 1024
    // indices of a block.
    uint64_t not_ff = 0, not_weak = 0;
    for (uint32_t rx = 0; rx < RX_COUNT; rx++) {
        const uint64_t weak = broadcast_byte(static_cast<uint8_t>(rx));
        for (uint32_t i = dump_index(rx, 0); i < dump_index(rx + 1, 0); i += 8) {
            const uint64_t v = load64(&image[i]);
            not_ff |= ~v;
            not_weak |= v ^ weak;
        }
    }
    const bool all_ff = not_ff == 0, all_weak = not_weak == 0;
    if (all_ff)
        std::fprintf(stderr,
                     "Warning: every reading in `%s' is 0xFF: the pin buffer never answered. Is this the "
                     "program for your adapter board? `gatesweep' is for board A, `gatesweep-b' for board B.\n",
                     filename);
    else if (all_weak)
        std::fprintf(stderr,
                     "Warning: every reading in `%s' equals its weak drive: no pin was ever driven. "
                     "Is a chip in the socket?\n",
                     filename);
    return all_ff || all_weak;
}

void clear_analysis(dump_analysis &a)
{
    a.mc.fill(macrocell{});
    a.iterms_ever_used = 0;
    a.some_pin_floats = false;
    a.i9_drives_output = false;
}

void classify_pins(dump_analysis &a)
{
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        uint64_t bits[NUM_BX];
        gather_bits(&a.data[64 * w], bits);
        for (int k = 0; k < NUM_BX; k++)
            a.data_bits[k][w] = bits[k];
    }

    // Per pin: does it ever float, is it ever driven, and which levels does
    // it show while driven. Both words of a pair over the pin's own weak
    // drive at once: the pin floats in both or in neither.
    for (int k = NUM_BX - 1; k >= 0; k--) {
        const pin_map &level = a.data_bits[k];
        const uint32_t own = bx_bit(k) / 64;
        uint64_t any_float = 0, any_driven = 0, any_high = 0, any_low = 0;
        for (uint32_t w = 0; w < INDEX_WORDS; w = ((w | own) + 1) & ~own) {
            const uint64_t lo = level[w], hi = level[w | own], h = ~lo & hi;
            any_float |= h;
            any_driven |= ~h;
            any_high |= (lo | hi) & ~h;
            any_low |= ~(lo & hi) & ~h;
        }
        uint32_t flags = MC_FIXED_LO | MC_FIXED_HI | MC_INPUT;
        if (any_float)
            flags |= MC_HIZ;
        if (any_driven)
            flags = (flags | MC_OUTPUT) & ~MC_INPUT;
        if (any_low)
            flags &= ~MC_FIXED_HI;
        if (any_high)
            flags &= ~MC_FIXED_LO;
        if (flags & MC_INPUT)
            flags &= ~(MC_FIXED_LO | MC_FIXED_HI);
        a.mc[k].flags = flags;
        a.some_pin_floats = a.some_pin_floats || (flags & MC_HIZ);
    }
}

// Whether signal j may be an input of the equations of pin Bk.
static bool is_eligible(const dump_analysis &a, int j, int k)
{
    if (j < NUM_INPUTS)
        return true;
    int p = j - BX_SIGNAL0;
    return p != k && (a.mc[p].flags & MC_HIZ) != 0;
}

// The bits of a word whose index has signal j (0..5) low.
static uint64_t low_bits(int j)
{
    uint64_t low = 0;
    for (uint32_t b = 0; b < 64; b++)
        if (!((b >> j) & 1))
            low |= uint64_t(1) << b;
    return low;
}

// The signals across which the float map of a pin changes: some pair of
// conditions over the signal (two indices that differ in its bit alone)
// where the pin floats on one side only. Every signal is tried, from the
// highest down, and a map that does not change across a signal is the same
// on both of its sides: its words with the signal low stand for the whole,
// and the signals below are tried on them alone (skip: the bits of the
// word number so left out). Signals 6 and up pair whole words (word w with
// w | the signal's bit in the word number), signals 0..5 bits of one word,
// brought into place with a shift, where only the bits with the signal low
// count. A pin's float map never changes across its own weak drive, so
// that one alone halves the words to read. A signal is done at its first
// difference.
static uint32_t float_changes(const uint64_t *floats)
{
    uint32_t found = 0, skip = 0;
    for (int j = NUM_SIGNALS - 1; j >= 0; j--) {
        uint64_t diff = 0;
        if (j >= 6) {
            const uint32_t ws = 1u << (j - 6), pair_skip = skip | ws;
            for (uint32_t w = 0; w < INDEX_WORDS && !diff; w = ((w | pair_skip) + 1) & ~pair_skip)
                diff = floats[w] ^ floats[w | ws];
            if (!diff)
                skip |= ws;
        } else {
            const uint32_t s = 1u << j;
            const uint64_t low = low_bits(j);
            for (uint32_t w = 0; w < INDEX_WORDS && !diff; w = ((w | skip) + 1) & ~skip)
                diff = (floats[w] ^ (floats[w] >> s)) & low;
        }
        if (diff)
            found |= 1u << j;
    }
    return found;
}

// The signals among candidates across which the driven level of a pin
// changes: some pair of conditions over the signal where the pin is driven
// on both sides and reads two levels. level and floats: the pin's bit maps;
// floating: the signals across which its float map changes. Tried as the
// float map is, from the highest signal down: where neither the float map
// nor the driven level changes across a signal, both are the same on its
// two sides, and the signals below are tried on the words with it low.
// Signals that are no candidates are tried only for that.
static uint32_t level_changes(const uint64_t *level, const uint64_t *floats, uint32_t candidates, uint32_t floating)
{
    uint32_t found = 0, skip = 0;
    for (int j = NUM_SIGNALS - 1; j >= 0; j--) {
        const uint32_t s = 1u << j;
        const bool candidate = (candidates & s) != 0;
        uint64_t diff = 0;
        if (j >= 6) {
            if (!candidate && (floating & s))
                continue; // neither wanted nor of use
            const uint32_t ws = s / 64, pair_skip = skip | ws;
            for (uint32_t w = 0; w < INDEX_WORDS && !diff; w = ((w | pair_skip) + 1) & ~pair_skip) {
                const uint32_t v = w | ws;
                diff = (level[w] ^ level[v]) & ~(floats[w] | floats[v]);
            }
            if (!diff && !(floating & s))
                skip |= ws;
        } else {
            if (!candidate)
                continue;
            const uint64_t low = low_bits(j);
            for (uint32_t w = 0; w < INDEX_WORDS && !diff; w = ((w | skip) + 1) & ~skip) {
                const uint64_t x = level[w], f = floats[w];
                diff = (x ^ (x >> s)) & ~(f | (f >> s)) & low;
            }
        }
        if (diff && candidate)
            found |= s;
    }
    return found;
}

uint32_t project_bits(uint64_t *bits, uint32_t mask)
{
    // Signals 6..17 select the word, 0..5 the bit. Signals outside the mask
    // are folded in from the high ones down: word w takes in word w | s
    // (s the signal's bit in the word number) and that word is cleared.
    // Each fold reads only words still in play, those without the signals
    // folded so far, in runs of s words: the bits below s are not folded yet.
    const uint32_t word_keep = (mask >> 6) & (INDEX_WORDS - 1), word_drop = (INDEX_WORDS - 1) & ~word_keep;
    uint32_t folded = 0;
    for (uint32_t s = INDEX_WORDS / 2; s; s >>= 1) {
        if (!(word_drop & s))
            continue;
        const uint32_t skip = folded | (2 * s - 1); // the runs start at the words without these bits
        for (uint32_t run = 0; run < INDEX_WORDS; run = ((run | skip) + 1) & ~skip) {
            for (uint32_t w = run; w < run + s; w++) {
                bits[w] |= bits[w + s];
                bits[w + s] = 0;
            }
        }
        folded |= s;
    }
    // Then, in the words left, the bits of the low signals outside the mask.
    uint64_t keep = 0; // the bits without signals outside the mask
    for (uint32_t b = 0; b < 64; b++)
        if ((b & ~mask & 63) == 0)
            keep |= uint64_t(1) << b;
    uint32_t n = 0;
    for (uint32_t w = 0; w < INDEX_WORDS; w = ((w | word_drop) + 1) & ~word_drop) {
        uint64_t x = bits[w];
        for (uint32_t s = 32; s; s >>= 1)
            if (!(mask & s))
                x |= x >> s;
        bits[w] = x & keep;
        n += popcount64(bits[w]);
    }
    return n;
}

// Whether the driven readings of pin Bk are a function of the signals in mask:
// no two conditions that agree on them read different levels while driven,
// that is, no term index of mask occurs at both driven levels.
static bool driven_level_follows(const dump_analysis &a, int k, uint32_t mask)
{
    pin_map high, low;
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        const uint64_t driven = ~hiz_bits(a, k, w);
        high[w] = driven & a.data_bits[k][w];
        low[w] = driven & ~a.data_bits[k][w];
    }
    project_bits(high.data(), mask);
    project_bits(low.data(), mask);
    for (uint32_t w = 0; w < INDEX_WORDS; w++)
        if (high[w] & low[w])
            return false;
    return true;
}

void compute_masks(dump_analysis &a)
{
    for (int k = NUM_BX - 1; k >= 0; k--) {
        macrocell &m = a.mc[k];
        const bool has_out = (m.flags & MC_OUTPUT) != 0;
        const bool has_oe = (m.flags & MC_HIZ) && !(m.flags & MC_INPUT);
        uint32_t eligible = 0;
        for (int j = 0; j < NUM_SIGNALS; j++)
            if (is_eligible(a, j, k))
                eligible |= 1u << j;
        pin_map floats;
        for (uint32_t w = 0; w < INDEX_WORDS; w++)
            floats[w] = hiz_bits(a, k, w);
        const uint64_t *const level = a.data_bits[k].data();
        const uint32_t floating = float_changes(floats.data());
        m.out_mask = has_out ? level_changes(level, floats.data(), eligible, floating) : 0;
        m.oe_mask = has_oe ? floating & eligible : 0;
        // A level that changes only across conditions where the enable
        // changes too shows in no pair of driven conditions.
        const bool fixed = (m.flags & (MC_FIXED_LO | MC_FIXED_HI)) != 0;
        if (has_out && !fixed && (m.oe_mask & ~m.out_mask) && !driven_level_follows(a, k, m.out_mask) &&
            driven_level_follows(a, k, m.out_mask | m.oe_mask))
            m.out_mask |= m.oe_mask;
    }

    a.iterms_ever_used = 0;
    a.i9_drives_output = false;
    for (const macrocell &m : a.mc) {
        a.iterms_ever_used |= m.out_mask | m.oe_mask;
        a.i9_drives_output = a.i9_drives_output || (m.out_mask & signal_bit(I9_SIGNAL));
    }
}

std::unique_ptr<const dump_analysis> analyse_dump(const std::vector<uint8_t> &image)
{
    // Not zeroed first: the image and the stages write every field.
    std::unique_ptr<dump_analysis> a(new dump_analysis);
    const size_t n = std::min<size_t>(image.size(), DUMP_SIZE);
    std::copy_n(image.begin(), n, a->data.begin());
    std::fill(a->data.begin() + static_cast<std::ptrdiff_t>(n), a->data.end(), uint8_t(0));
    clear_analysis(*a);
    classify_pins(*a);
    compute_masks(*a);
    return a;
}
