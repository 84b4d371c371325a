#ifdef _MSC_VER
#define _CRT_SECURE_NO_WARNINGS  // fopen is standard C; no _s variants wanted
#endif
#include "analyze.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "cupl.h"
#include "summary.h"
#include "terms.h"
#include "wordops.h"

std::array<uint8_t, DUMP_SIZE> data;
std::array<uint8_t, DUMP_SIZE> hiz_data;
std::array<macrocell, NUM_BX> mc;
uint32_t iterms_ever_used;

bool load_dump(const char *filename)
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
    data.fill(0);
    size_t got = std::fread(data.data(), 1, DUMP_SIZE, f);
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

bool warn_implausible_dump(const uint8_t *image, const char *filename)
{
    bool all_ff = true, all_weak = true;
    for (uint32_t i = 0; i < DUMP_SIZE; i++) {
        all_ff = all_ff && image[i] == 0xFF;
        all_weak = all_weak && image[i] == (i >> RX_SHIFT);
    }
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

void clear_analysis()
{
    mc.fill(macrocell{});
    hiz_data.fill(0);
    iterms_ever_used = 0;
}

void classify_pins()
{
    // Float map: Bk floats in both conditions of the pair over its own weak
    // drive bit when it reads 0 on the low side and 1 on the high side.
    // All 1024 conditions of an rx block share the pair partner block.
    for (int k = 0; k < NUM_BX; k++) {
        const uint32_t bit = 1u << k;
        const uint64_t lanes = broadcast_byte(static_cast<uint8_t>(bit));
        const uint32_t partner = IX_COUNT << k;
        for (uint32_t rx = 0; rx < 256; rx++) {
            if (rx & bit)
                continue;
            const uint32_t lo = rx * IX_COUNT, hi = lo + partner;
            for (uint32_t w = 0; w < IX_COUNT; w += 8) {
                uint64_t f = ~load64(&data[lo + w]) & load64(&data[hi + w]) & lanes;
                store64(&hiz_data[lo + w], load64(&hiz_data[lo + w]) | f);
                store64(&hiz_data[hi + w], load64(&hiz_data[hi + w]) | f);
            }
        }
    }

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
        mc[k].flags = flags;
    }
}

bool is_eligible(int j, int k)
{
    if (j < NUM_INPUTS)
        return true;
    int p = j - BX_SIGNAL0;
    return p != k && (mc[p].flags & MC_HIZ) != 0;
}

bool some_pin_floats()
{
    for (const macrocell &m : mc)
        if (m.flags & MC_HIZ)
            return true;
    return false;
}

// For every signal j, which pins show a level difference while driven on
// both sides of some pair over j (out_diff[j]), and which pins change their
// float state across some pair over j (oe_diff[j]); all eight pins at once.
static void scan_pairs(std::array<uint8_t, NUM_SIGNALS> &out_diff, std::array<uint8_t, NUM_SIGNALS> &oe_diff)
{
    for (int j = 0; j < NUM_SIGNALS; j++) {
        const uint32_t s = 1u << j;
        uint64_t out_acc = 0, oe_acc = 0;
        if (s >= 8) {
            for (uint32_t base = 0; base < DUMP_SIZE; base += 2 * s) {
                for (uint32_t a = base; a < base + s; a += 8) {
                    uint64_t ha = load64(&hiz_data[a]), hb = load64(&hiz_data[a + s]);
                    out_acc |= (load64(&data[a]) ^ load64(&data[a + s])) & ~(ha | hb);
                    oe_acc |= ha ^ hb;
                }
                if (out_acc == ~uint64_t(0) && oe_acc == ~uint64_t(0))
                    break;  // every pin already shows both differences
            }
        } else {
            for (uint32_t a = 0; a < DUMP_SIZE; a++) {
                if (a & s)
                    continue;
                uint8_t ha = hiz_data[a], hb = hiz_data[a + s];
                out_acc |= static_cast<uint8_t>((data[a] ^ data[a + s]) & ~(ha | hb));
                oe_acc |= static_cast<uint8_t>(ha ^ hb);
            }
        }
        out_diff[j] = fold_or(out_acc);
        oe_diff[j] = fold_or(oe_acc);
    }
}

bool driven_level_follows(int k, uint32_t mask)
{
    // Bit v of seen[t]: some driven condition i with i & mask == t reads v.
    std::vector<uint8_t> seen(DUMP_SIZE, 0);
    for (uint32_t i = 0; i < DUMP_SIZE; i++)
        if (!((hiz_data[i] >> k) & 1))
            seen[i & mask] |= static_cast<uint8_t>(1u << ((data[i] >> k) & 1));
    for (uint8_t s : seen)
        if (s == 3)
            return false;
    return true;
}

void compute_masks()
{
    std::array<uint8_t, NUM_SIGNALS> out_diff{}, oe_diff{};
    scan_pairs(out_diff, oe_diff);

    for (int k = NUM_BX - 1; k >= 0; k--) {
        macrocell &m = mc[k];
        const bool has_out = (m.flags & MC_OUTPUT) != 0;
        const bool has_oe = (m.flags & MC_HIZ) && !(m.flags & MC_INPUT);
        m.out_mask = 0;
        m.oe_mask = 0;
        for (int j = 0; j < NUM_SIGNALS; j++) {
            if (!is_eligible(j, k))
                continue;
            if (has_out && ((out_diff[j] >> k) & 1))
                m.out_mask |= 1u << j;
            if (has_oe && ((oe_diff[j] >> k) & 1))
                m.oe_mask |= 1u << j;
        }
        // A level that changes only across conditions where the enable
        // changes too shows in no pair of driven conditions.
        const bool fixed = (m.flags & (MC_FIXED_LO | MC_FIXED_HI)) != 0;
        if (has_out && !fixed && (m.oe_mask & ~m.out_mask) && !driven_level_follows(k, m.out_mask) &&
            driven_level_follows(k, m.out_mask | m.oe_mask))
            m.out_mask |= m.oe_mask;
    }

    iterms_ever_used = 0;
    for (const macrocell &m : mc)
        iterms_ever_used |= m.out_mask | m.oe_mask;
}

bool warn_unreproduced(const equation_check &check, const char *filename)
{
    const std::array<uint32_t, NUM_BX> wrong = count_wrong(check);
    bool warned = false;
    for (int k = NUM_BX - 1; k >= 0; k--) {
        if (!wrong[k])
            continue;
        std::fprintf(stderr, "Warning: the printed equations do not reproduce `%s': %s (pin %d) has %lu wrong %s.\n",
                     filename, bx_name(k).c_str(), pin_number[BX_SIGNAL0 + k], static_cast<unsigned long>(wrong[k]),
                     wrong[k] == 1 ? "reading" : "readings");
        warned = true;
    }
    if (warned)
        std::fputs("Warning: the chip may hold state (registered outputs, latches), or the dump may be noise; "
                   "`gatesweep-check' shows where the equations fail.\n",
                   stderr);
    return warned;
}

bool analyze_pal(const char *filename)
{
    if (!load_dump(filename))
        return false;
    warn_implausible_dump(data.data(), filename);
    clear_analysis();
    classify_pins();
    compute_masks();
    print_summary(stdout, filename);
    term_table table = new_term_table();
    equation_check check = new_equation_check();
    write_cupl(stdout, filename, table, &check);
    warn_unreproduced(check, filename);
    return true;
}
