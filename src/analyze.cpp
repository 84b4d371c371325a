#ifdef _MSC_VER
#define _CRT_SECURE_NO_WARNINGS  // fopen is standard C; no _s variants wanted
#endif
#include "analyze.h"

#include "sweep.h"

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
    // Eight readings at a time; the weak drive of index i is i >> 10, the
    // same over the 1024 indices of a block.
    uint64_t not_ff = 0, not_weak = 0;
    for (uint32_t i = 0; i < DUMP_SIZE; i += 8) {
        const uint64_t v = load64(&image[i]);
        not_ff |= ~v;
        not_weak |= v ^ broadcast_byte(static_cast<uint8_t>(i >> RX_SHIFT));
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
    a.hiz_data.fill(0);
    a.iterms_ever_used = 0;
    a.some_pin_floats = false;
    a.i9_drives_output = false;
}

void classify_pins(dump_analysis &a)
{
    const std::array<uint8_t, DUMP_SIZE> &data = a.data;
    std::array<uint8_t, DUMP_SIZE> &hiz_data = a.hiz_data;
    // Float map: Bk floats in both conditions of the pair over its own weak
    // drive bit when it reads 0 on the low side and 1 on the high side, the
    // rule the chip library applies to any readings.
    float_map(data.data(), hiz_data.data());

    // Per pin: does it ever float, is it ever driven, and which levels does
    // it show while driven.
    uint64_t any_float = 0, any_driven = 0, any_high = 0, any_low = 0;
    for (uint32_t i = 0; i < DUMP_SIZE; i += 8) {
        uint64_t h = load64(&hiz_data[i]), d = load64(&data[i]);
        any_float |= h;
        any_driven |= ~h;
        any_high |= d & ~h;
        any_low |= ~d & ~h;
    }
    const uint8_t floats = fold_or(any_float), driven = fold_or(any_driven);
    const uint8_t high = fold_or(any_high), low = fold_or(any_low);

    for (int k = NUM_BX - 1; k >= 0; k--) {
        uint32_t flags = MC_FIXED_LO | MC_FIXED_HI | MC_INPUT;
        if ((floats >> k) & 1)
            flags |= MC_HIZ;
        if ((driven >> k) & 1)
            flags = (flags | MC_OUTPUT) & ~MC_INPUT;
        if ((low >> k) & 1)
            flags &= ~MC_FIXED_HI;
        if ((high >> k) & 1)
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

// For every signal j, which pins show a level difference while driven on
// both sides of some pair over j (out_diff[j]), and which pins change their
// float state across some pair over j (oe_diff[j]); all eight pins at once,
// eight indices a word. Signals 0..2 pair bytes of the same word: their
// partners are brought into place with a shift, and only the lanes with the
// signal low count.
static void scan_pairs(const dump_analysis &a, std::array<uint8_t, NUM_SIGNALS> &out_diff,
                       std::array<uint8_t, NUM_SIGNALS> &oe_diff)
{
    const uint8_t *const d = a.data.data(), *const h = a.hiz_data.data();
    for (int j = 0; j < NUM_SIGNALS; j++) {
        const uint32_t s = 1u << j;
        uint64_t out_acc = 0, oe_acc = 0;
        if (s >= 8) {
            for (uint32_t base = 0; base < DUMP_SIZE; base += 2 * s) {
                const uint8_t *dp = d + base, *hp = h + base;
                for (const uint8_t *end = dp + s; dp < end; dp += 8, hp += 8) {
                    uint64_t ha = load64(hp), hb = load64(hp + s);
                    out_acc |= (load64(dp) ^ load64(dp + s)) & ~(ha | hb);
                    oe_acc |= ha ^ hb;
                }
                if (out_acc == ~uint64_t(0) && oe_acc == ~uint64_t(0))
                    break;  // every pin already shows both differences
            }
        } else {
            uint64_t low = 0; // the lanes whose index has signal j low
            for (uint32_t lane = 0; lane < 8; lane++)
                if (!(lane & s))
                    low |= uint64_t(0xFF) << (8 * lane);
            const int shift = static_cast<int>(8 * s);
            for (uint32_t i = 0; i < DUMP_SIZE; i += 8) {
                const uint64_t dv = load64(d + i), hv = load64(h + i);
                const uint64_t hb = hv >> shift;
                out_acc |= (dv ^ (dv >> shift)) & ~(hv | hb) & low;
                oe_acc |= (hv ^ hb) & low;
            }
        }
        out_diff[j] = fold_or(out_acc);
        oe_diff[j] = fold_or(oe_acc);
    }
}

void pin_bits(const dump_analysis &a, int k, uint64_t *level, uint64_t *floats)
{
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        level[w] = gather_bit(&a.data[64 * w], k);
        floats[w] = gather_bit(&a.hiz_data[64 * w], k);
    }
}

uint32_t project_bits(uint64_t *bits, uint32_t mask)
{
    // Signals 6..17 select the word, 0..5 the bit. Signals outside the mask
    // are folded in from the high ones down; each fold reads only words
    // still in play, those without the signals folded so far.
    const uint32_t word_keep = (mask >> 6) & (INDEX_WORDS - 1), word_drop = (INDEX_WORDS - 1) & ~word_keep;
    uint32_t folded = 0;
    for (uint32_t s = INDEX_WORDS / 2; s; s >>= 1) {
        if (!(word_drop & s))
            continue;
        const uint32_t skip = folded | s;
        for (uint32_t w = 0; w < INDEX_WORDS; w = ((w | skip) + 1) & ~skip)
            bits[w] |= bits[w | s];
        folded |= s;
    }
    uint64_t keep = 0; // the bits without signals outside the mask
    for (uint32_t b = 0; b < 64; b++)
        if ((b & ~mask & 63) == 0)
            keep |= uint64_t(1) << b;
    uint32_t n = 0;
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        if (w & word_drop) {
            bits[w] = 0;
            continue;
        }
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
    index_bits level(INDEX_WORDS), floats(INDEX_WORDS);
    pin_bits(a, k, level.data(), floats.data());
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        const uint64_t driven = ~floats[w];
        floats[w] = driven & ~level[w]; // now: driven at level 0
        level[w] &= driven;
    }
    project_bits(level.data(), mask);
    project_bits(floats.data(), mask);
    for (uint32_t w = 0; w < INDEX_WORDS; w++)
        if (level[w] & floats[w])
            return false;
    return true;
}

void compute_masks(dump_analysis &a)
{
    std::array<uint8_t, NUM_SIGNALS> out_diff{}, oe_diff{};
    scan_pairs(a, out_diff, oe_diff);

    for (int k = NUM_BX - 1; k >= 0; k--) {
        macrocell &m = a.mc[k];
        const bool has_out = (m.flags & MC_OUTPUT) != 0;
        const bool has_oe = (m.flags & MC_HIZ) && !(m.flags & MC_INPUT);
        m.out_mask = 0;
        m.oe_mask = 0;
        for (int j = 0; j < NUM_SIGNALS; j++) {
            if (!is_eligible(a, j, k))
                continue;
            if (has_out && ((out_diff[j] >> k) & 1))
                m.out_mask |= 1u << j;
            if (has_oe && ((oe_diff[j] >> k) & 1))
                m.oe_mask |= 1u << j;
        }
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
