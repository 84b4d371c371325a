// Pin classification, float map and dependence masks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "analysis_kit.h"

namespace {

std::array<uint32_t, 8> all_flags()
{
    std::array<uint32_t, 8> f{};
    for (int k = 0; k < 8; k++)
        f[k] = mc[k].flags;
    return f;
}

// One chip for every pin, pin k the function f(k, ix, rx) -> {driven, level}.
struct pin_behaviour {
    bool driven;
    unsigned level;
};
chip_fn per_pin(const std::function<pin_behaviour(int, unsigned, unsigned)> &f)
{
    return [f](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = out = 0;
        for (int k = 0; k < 8; k++) {
            pin_behaviour b = f(k, ix, rx);
            oe |= unsigned(b.driven) << k;
            out |= (b.level & 1u) << k;
        }
    };
}

TEST(Classify, UniformDumps)
{
    // All zero: every pin an always-low output, nothing floats, no masks.
    analyse_image(std::vector<uint8_t>(dump_size, 0x00));
    for (int k = 0; k < 8; k++) {
        EXPECT_EQ(mc[k].flags, 0x11u) << k;
        EXPECT_EQ(mc[k].out_mask, 0u);
        EXPECT_EQ(mc[k].oe_mask, 0u);
    }
    EXPECT_TRUE(std::all_of(hiz_data.begin(), hiz_data.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(iterms_ever_used, 0u);

    analyse_image(std::vector<uint8_t>(dump_size, 0xFF));
    EXPECT_EQ(all_flags(), (std::array<uint32_t, 8>{0x12, 0x12, 0x12, 0x12, 0x12, 0x12, 0x12, 0x12}));

    // Every pin reads back its weak drive: all inputs, all floating, no masks.
    analyse_chip([](unsigned, unsigned, unsigned &oe, unsigned &out) { oe = out = 0; });
    EXPECT_EQ(all_flags(), (std::array<uint32_t, 8>{0x0C, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C}));
    EXPECT_TRUE(std::all_of(hiz_data.begin(), hiz_data.end(), [](uint8_t b) { return b == 0xFF; }));
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(mc[k].out_mask | mc[k].oe_mask, 0u) << k;
    EXPECT_EQ(iterms_ever_used, 0u);
}

TEST(Classify, ExampleChipFlags)
{
    analyse_chip(u12_chip);
    // B0 .. B7
    EXPECT_EQ(all_flags(), (std::array<uint32_t, 8>{0x18, 0x0C, 0x1A, 0x10, 0x11, 0x0C, 0x18, 0x10}));
    EXPECT_EQ(mc[7].out_mask, 0x003u);
    EXPECT_EQ(mc[6].out_mask, 0x008u);
    EXPECT_EQ(mc[6].oe_mask, 0x004u);
    EXPECT_EQ(mc[3].out_mask, 0x8010u);
    EXPECT_EQ(mc[2].out_mask, 0u);
    EXPECT_EQ(mc[2].oe_mask, 0x020u);
    EXPECT_EQ(mc[0].out_mask, 0x040u);
    EXPECT_EQ(mc[0].oe_mask, 0x200u);
    EXPECT_EQ(iterms_ever_used, 0x0827Fu);
    // Inputs and always-driven pins get no enable mask.
    EXPECT_EQ(mc[5].oe_mask | mc[1].oe_mask | mc[7].oe_mask | mc[3].oe_mask, 0u);
    // The float map marks B2 exactly where I5 is high.
    for (uint32_t i : {0u, 0x20u, 0x3FFFFu, 0x3FFDFu})
        EXPECT_EQ(bit(hiz_data[i], 2), bit(i, 5)) << i;
}

TEST(Classify, PinReadingInverseOfItsWeakDriveIsAnOutputWithEmptyMask)
{
    analyse_chip(per_pin([](int k, unsigned, unsigned rx) {
        return pin_behaviour{k == 4, bit(rx, 4) ^ 1u};
    }));
    EXPECT_EQ(mc[4].flags, 0x10u);
    EXPECT_EQ(mc[4].out_mask, 0u);
}

TEST(Classify, MasksFollowInputsAndFloatingIoPins)
{
    // B0 copies I3; B1 copies the level on input pin B2; B2 is an input.
    // B3 copies the level on B4, which never floats, so B4 is not eligible.
    analyse_chip(per_pin([](int k, unsigned ix, unsigned rx) {
        switch (k) {
        case 0: return pin_behaviour{true, bit(ix, 3)};
        case 1: return pin_behaviour{true, bit(rx, 2)};
        case 2: return pin_behaviour{false, 0};
        case 3: return pin_behaviour{true, bit(rx, 4)};
        case 4: return pin_behaviour{true, bit(ix, 0)};
        default: return pin_behaviour{true, 0};
        }
    }));
    EXPECT_EQ(mc[0].flags, 0x10u);
    EXPECT_EQ(mc[0].out_mask, 0x8u);
    EXPECT_EQ(mc[2].flags, 0x0Cu);
    EXPECT_EQ(mc[1].out_mask, 0x1000u);
    // B4 never floats, so its weak drive enters no mask, even though B3's
    // readings follow it.
    EXPECT_EQ(mc[3].out_mask, 0u);
    EXPECT_EQ(mc[3].flags, 0x10u);
}

TEST(Classify, EnableAndLevelDependences)
{
    // B0 floats when I9 is high and copies I0 otherwise; B1 floats when I9
    // is high and is driven low otherwise: the level step across I9 is a
    // float/driven pair and never enters out_mask.
    analyse_chip(per_pin([](int k, unsigned ix, unsigned) {
        if (k == 0)
            return pin_behaviour{!bit(ix, 9), bit(ix, 0)};
        if (k == 1)
            return pin_behaviour{!bit(ix, 9), 0};
        return pin_behaviour{true, 1};
    }));
    EXPECT_EQ(mc[0].flags, 0x18u);
    EXPECT_EQ(mc[0].out_mask, 0x1u);
    EXPECT_EQ(mc[0].oe_mask, 0x200u);
    EXPECT_EQ(mc[1].flags, 0x19u);
    EXPECT_EQ(mc[1].out_mask, 0u);
    EXPECT_EQ(mc[1].oe_mask, 0x200u);
    EXPECT_EQ(iterms_ever_used, 0x201u);
}

TEST(Classify, PinIsNeverAnInputOfItsOwnEquations)
{
    // B0 floats when I0 is high; when driven it is high, or with I1 high
    // the inverse of its own weak drive. B1 = level on B0 while B0 floats.
    // B0's own weak drive never enters B0's masks, but it does enter B1's.
    analyse_chip(per_pin([](int k, unsigned ix, unsigned rx) {
        if (k == 0)
            return pin_behaviour{!bit(ix, 0), bit(ix, 1) ? bit(rx, 0) ^ 1u : 1u};
        if (k == 1)
            return pin_behaviour{true, bit(ix, 0) ? bit(rx, 0) : 0u};
        return pin_behaviour{false, 0};
    }));
    EXPECT_EQ(mc[0].flags, 0x18u);
    EXPECT_EQ(mc[0].out_mask, 0x002u);
    EXPECT_EQ(mc[0].oe_mask, 0x001u);
    EXPECT_EQ(mc[1].out_mask, 0x401u);
}

// The plain pair-by-pair procedure, pin by pin, as a reference for the
// all-pins-at-once scans.
struct reference_result {
    std::array<uint32_t, 8> flags{}, out_mask{}, oe_mask{};
    std::vector<uint8_t> hiz;
};

reference_result reference_analysis(const std::vector<uint8_t> &d)
{
    reference_result r;
    r.hiz.assign(dump_size, 0);
    for (int k = 7; k >= 0; k--) {
        uint32_t flags = 0x07;
        const uint32_t own = 1u << (k + 10);
        for (uint32_t i = 0; i < dump_size; i++) {
            unsigned lo = bit(d[i & ~own], k), hi = bit(d[i | own], k);
            if (lo == 0 && hi == 1) {
                flags |= 0x08;
                r.hiz[i] |= uint8_t(1u << k);
            } else {
                flags = (flags | 0x10) & ~0x04u;
                flags &= bit(d[i], k) ? ~0x01u : ~0x02u;
            }
        }
        if (flags & 0x04)
            flags &= ~0x03u;
        r.flags[k] = flags;
    }
    for (int k = 7; k >= 0; k--) {
        for (int j = 0; j < 18; j++) {
            if (j >= 10 && (j - 10 == k || !(r.flags[j - 10] & 0x08)))
                continue;
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

// A chip whose pins are pseudo-random functions of a few signals each,
// with enables of their own, so that pins feed each other.
void scrambled_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    const unsigned i = (rx << 10) | ix;
    auto h = [](unsigned x) { x *= 0x9E3779B1u; return (x ^ (x >> 15)) * 0x85EBCA77u; };
    oe = out = 0;
    for (int k = 0; k < 8; k++) {
        const unsigned sel_out = (0x0F3u << k | 1u << (10 + (k + 3) % 8)) & 0x3FFFFu;
        const unsigned sel_oe = (k == 5) ? 0xFFFFFFFFu : (1u << (k % 3 + 7)) | (1u << (k + 1));
        bool driven = (h((i & sel_oe) + 77u * k) >> 7) % 3 != 0;
        if (k == 5)
            driven = true;                         // never floats: not an input
        if (k == 2)
            driven = false;                        // pure input
        oe |= unsigned(driven) << k;
        out |= (h((i & sel_out) + 13u * k) >> 11 & 1u) << k;
    }
}

TEST(Classify, SameResultsAsThePairByPairProcedure)
{
    for (const chip_fn &chip : {chip_fn(u12_chip), chip_fn(pal_chip), chip_fn(scrambled_chip)}) {
        std::vector<uint8_t> d = make_dump(chip);
        reference_result r = reference_analysis(d);
        analyse_image(d);
        EXPECT_EQ(all_flags(), r.flags);
        EXPECT_TRUE(std::equal(r.hiz.begin(), r.hiz.end(), hiz_data.begin()));
        uint32_t used = 0;
        for (int k = 0; k < 8; k++) {
            EXPECT_EQ(mc[k].out_mask, r.out_mask[k]) << "B" << k;
            EXPECT_EQ(mc[k].oe_mask, r.oe_mask[k]) << "B" << k;
            used |= r.out_mask[k] | r.oe_mask[k];
        }
        EXPECT_EQ(iterms_ever_used, used);
    }
}

TEST(Classify, SameResultsOnArbitraryReadings)
{
    // Bytes that follow no chip model at all (as a faulty read might give).
    std::vector<uint8_t> d(dump_size);
    uint32_t x = 12345;
    for (uint8_t &b : d) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    // Keep B6 and B7 well behaved so that some masks are not all-ones.
    for (uint32_t i = 0; i < dump_size; i++)
        d[i] = uint8_t((d[i] & 0x3F) | (bit(i, 3) << 6) | ((bit(i, 16) & bit(i, 1)) << 7));
    reference_result r = reference_analysis(d);
    analyse_image(d);
    EXPECT_EQ(all_flags(), r.flags);
    EXPECT_TRUE(std::equal(r.hiz.begin(), r.hiz.end(), hiz_data.begin()));
    for (int k = 0; k < 8; k++) {
        EXPECT_EQ(mc[k].out_mask, r.out_mask[k]) << "B" << k;
        EXPECT_EQ(mc[k].oe_mask, r.oe_mask[k]) << "B" << k;
    }
}

} // namespace
