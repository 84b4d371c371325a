// Pin classification, float map and dependence masks against the plain
// pair-by-pair procedure.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <tuple>

#include "analysis_kit.h"

namespace {

struct reference_result {
    std::array<uint32_t, 8> flags{}, out_mask{}, oe_mask{};
    std::vector<uint8_t> hiz = std::vector<uint8_t>(dump_size);
};

reference_result reference_analysis(const std::vector<uint8_t> &d)
{
    reference_result r;
    for (int k = 7; k >= 0; k--) {
        uint32_t flags = 0x07;
        const uint32_t own = 1u << (k + 10);
        for (uint32_t i = 0; i < dump_size; i++) {
            if (!bit(d[i & ~own], k) && bit(d[i | own], k)) {
                flags |= 0x08;
                r.hiz[i] |= uint8_t(1u << k);
            } else {
                flags = (flags | 0x10) & ~0x04u & (bit(d[i], k) ? ~0x01u : ~0x02u);
            }
        }
        r.flags[k] = flags & 0x04 ? flags & ~0x03u : flags;
    }
    for (int k = 7; k >= 0; k--) {
        for (int j = 0; j < 18; j++) {
            if (j >= 10 && (j - 10 == k || !(r.flags[j - 10] & 0x08)))
                continue;   // a pin's own weak drive, or a pin that never floats
            const uint32_t s = 1u << j;
            for (uint32_t i = 0; i < dump_size; i++) {
                uint32_t a = i & ~s, b = i | s;
                if ((r.flags[k] & 0x10) && bit(d[a] ^ d[b], k) && !bit(r.hiz[a] | r.hiz[b], k))
                    r.out_mask[k] |= s;
                if ((r.flags[k] & 0x08) && !(r.flags[k] & 0x04) && bit(r.hiz[a] ^ r.hiz[b], k))
                    r.oe_mask[k] |= s;
            }
        }
    }
    return r;
}

// Pins that are pseudo-random functions of a few signals each, some of them
// I/O pins, enabled by their own functions of I8 and I9. B5 never floats,
// B2 is an input, the others float at least with I8 and I9 high.
void scrambled_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    const unsigned i = (rx << 10) | ix;
    auto h = [](unsigned x) { x *= 0x9E3779B1u; return (x ^ (x >> 15)) * 0x85EBCA77u; };
    oe = out = 0;
    for (int k = 0; k < 8; k++) {
        const unsigned sel_out = (0x0F3u << k | 1u << (10 + (k + 3) % 8)) & 0x3FCFFu;
        const unsigned i89 = i & 0x300u;
        oe |= unsigned(k == 5 || (k != 2 && i89 != 0x300u && (h(i89 + 77u * k) >> 7) % 3 != 0)) << k;
        out |= (h((i & sel_out) + 13u * k) >> 11 & 1u) << k;
    }
}

TEST(Classify, SameResultsAsThePairByPairProcedure)
{
    // Bytes that follow no chip model (as a faulty read might give), with
    // B6 and B7 well behaved so that some masks are not all-ones.
    std::vector<uint8_t> noise(dump_size);
    for (uint32_t i = 0; i < dump_size; i++)
        noise[i] = uint8_t((i * 2654435761u >> 26) | bit(i, 3) << 6 | (bit(i, 16) & bit(i, 1)) << 7);
    const std::vector<uint8_t> dumps[] = {
        std::vector<uint8_t>(dump_size, 0x00), std::vector<uint8_t>(dump_size, 0xFF),
        make_dump([](unsigned, unsigned, unsigned &oe, unsigned &out) { oe = out = 0; }),
        make_dump(u12_chip), make_dump(scrambled_chip), noise,
    };
    for (const std::vector<uint8_t> &d : dumps) {
        const reference_result r = reference_analysis(d);
        const std::unique_ptr<const dump_analysis> a = analyse_image(d);
        std::vector<uint8_t> hiz(dump_size);
        for (uint32_t i = 0; i < dump_size; i++)
            for (int k = 0; k < 8; k++)
                hiz[i] |= uint8_t(hiz_at(*a, k, i) << k);
        EXPECT_TRUE(r.hiz == hiz);
        uint32_t used = 0;
        bool floats = false, i9_output = false;
        for (int k = 0; k < 8; k++) {
            EXPECT_EQ(std::make_tuple(a->mc[k].flags, a->mc[k].out_mask, a->mc[k].oe_mask),
                      std::make_tuple(r.flags[k], r.out_mask[k], r.oe_mask[k])) << "B" << k;
            used |= r.out_mask[k] | r.oe_mask[k];
            floats = floats || (r.flags[k] & 0x08);
            i9_output = i9_output || (r.out_mask[k] & 0x200);
        }
        EXPECT_EQ(a->iterms_ever_used, used);
        EXPECT_EQ(a->some_pin_floats, floats);
        EXPECT_EQ(a->i9_drives_output, i9_output);
    }
}

} // namespace
