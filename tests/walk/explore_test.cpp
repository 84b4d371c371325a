// The walk engine in process on a counter of 256 states, whose every state
// is reached only by counting up from the one before or by a load: walked
// completely. (The published maps: tests/walk/walk_program_test.cpp.)
#include <gtest/gtest.h>

#include "explore.h"

namespace {

// An 8-bit counter on B0..B7 (all registered, pins show the count while I9
// is low): I1 high counts, I2 high loads I3..I8 into the low six bits and
// clears the top two; I2 wins.
struct counter_chip final : sim_chip {
    unsigned ix = 0, rx = 0, q = 0;
    void drive(unsigned new_ix, unsigned new_rx) override
    {
        if (!(ix & 1) && (new_ix & 1)) {
            if (ix >> 2 & 1)
                q = ix >> 3 & 0x3F;
            else if (ix >> 1 & 1)
                q = (q + 1) & 0xFF;
        }
        ix = new_ix;
        rx = new_rx;
    }
    unsigned read() override { return (ix >> 9 & 1) ? rx : q; }
    unsigned power_up(unsigned) override { return 0xFF; }
};

TEST(WalkExplore, ACounterOf256States)
{
    counter_chip chip;
    walk_outcome w = walk_explore(walk_model_runner(chip));
    EXPECT_EQ(w.error, "");
    EXPECT_EQ(w.counts.states, 256u);
    EXPECT_EQ(w.counts.transitions, 256u * 256u);
    EXPECT_EQ(w.counts.untried, 0u);
}

} // namespace
