// The minimiser against brute force: every cover is correct, and on small
// functions it has the fewest terms that any cover has.
#include "minimize.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// The fewest OFF-free cubes that hold every ON point, by breadth-first
// search over sets of covered ON points (tables of up to 16 points).
unsigned brute_minimum(const std::vector<uint8_t> &table, unsigned nvars)
{
    std::vector<uint32_t> on;
    for (uint32_t x = 0; x < table.size(); x++)
        if (table[x] == MIN_ON)
            on.push_back(x);
    if (on.empty())
        return 0;
    std::vector<uint32_t> masks;
    const uint32_t full = (1u << nvars) - 1;
    for (uint32_t care = 0; care <= full; care++) {
        for (uint32_t value = care;; value = (value - 1) & care) {
            cube c{care, value};
            if (cube_off_free(table, nvars, c)) {
                uint32_t m = 0;
                for (size_t i = 0; i < on.size(); i++)
                    if ((on[i] & care) == value)
                        m |= 1u << i;
                if (m)
                    masks.push_back(m);
            }
            if (value == 0)
                break;
        }
    }
    const uint32_t goal = (uint32_t(1) << on.size()) - 1;
    std::vector<uint8_t> depth(goal + 1, 0xFF);
    std::vector<uint32_t> frontier{0};
    depth[0] = 0;
    for (unsigned d = 1;; d++) {
        std::vector<uint32_t> next;
        for (uint32_t s : frontier)
            for (uint32_t m : masks)
                if (depth[s | m] == 0xFF) {
                    depth[s | m] = static_cast<uint8_t>(d);
                    if ((s | m) == goal)
                        return d;
                    next.push_back(s | m);
                }
        frontier.swap(next);
    }
}

void expect_cover(const std::vector<uint8_t> &table, const min_result &r)
{
    for (uint32_t x = 0; x < table.size(); x++) {
        if (table[x] == MIN_ON) {
            ASSERT_TRUE(cover_holds(r.cover, x)) << "ON point " << x << " left out";
        }
        if (table[x] == MIN_OFF) {
            ASSERT_FALSE(cover_holds(r.cover, x)) << "OFF point " << x << " covered";
        }
    }
}

std::vector<uint8_t> random_table(std::mt19937 &rng, unsigned nvars, unsigned dc_percent)
{
    std::vector<uint8_t> t(size_t(1) << nvars);
    for (uint8_t &v : t) {
        unsigned r = rng() % 100;
        v = r < dc_percent ? MIN_DC : ((rng() & 1) ? MIN_ON : MIN_OFF);
    }
    return t;
}

} // namespace

TEST(Minimize, SmallFunctionsWithAndWithoutDontCaresAreMinimal)
{
    std::mt19937 rng(12345);
    for (unsigned dc : {0u, 30u, 70u}) {
        for (unsigned nvars = 1; nvars <= 4; nvars++) {
            for (int round = 0; round < 40; round++) {
                std::vector<uint8_t> t = random_table(rng, nvars, dc);
                min_result r = minimize(t, nvars, 8);
                expect_cover(t, r);
                EXPECT_EQ(r.cover.size(), brute_minimum(t, nvars)) << nvars << " variables, round " << round;
                EXPECT_TRUE(r.minimal);
            }
        }
    }
}

TEST(Minimize, LargerFunctionsAreCorrectCoversWithinTheirBounds)
{
    std::mt19937 rng(777);
    for (unsigned nvars : {8u, 11u, 14u}) {
        std::vector<uint8_t> t = random_table(rng, nvars, 90);
        min_result r = minimize(t, nvars, 7);
        expect_cover(t, r);
        EXPECT_LE(r.lower_bound, r.cover.size());
    }
}
