// The walk against chip models in process: every registered published map
// and a counter of 256 states, walked completely, as the chip can reach.
#include <gtest/gtest.h>

#include <set>

#include "explore.h"
#include "testkit.h"

namespace {

// With the states a walk leaves for good (the power-up states of 1594-01
// and of both 1599-01 maps lead to no return), and whether pins without a
// register hold levels of their own (1564-02: pins 12, 18 and 19 keep
// their level through their feedback, so a condition can read otherwise at
// the same state).
struct registered_map {
    const char *file, *device;
    unsigned left_for_good;
    bool latches;
};

const registered_map registered_maps[] = {
    {"sun3_60_1564-02_pal16r4.jed", "PAL16R4", 0, true},
    {"sun3_60_1599-01_pal16r4.jed", "PAL16R4", 1, false},
    {"sun3_60_1580-01_pal16r6.jed", "PAL16R6", 0, false},
    {"sun3_60_1594-01_pal16r8.jed", "PAL16R8", 1, false},
    {"sun3_60_1580-01_gdj_gal16v8.jed", "GAL16V8", 0, false},
    {"sun3_60_1599-01_gdj_gal16v8.jed", "GAL16V8", 1, false},
    {"alphamission_15b_fixed_gal16v8.jed", "GAL16V8", 0, false},
};

std::unique_ptr<sim_chip> make_map(const registered_map &m)
{
    std::string err;
    auto chip = sim_make_jedec_chip(m.device, published_maps_dir() + "/jedec/" + m.file, err);
    EXPECT_TRUE(chip) << err;
    return chip;
}

// The states a chip can reach from power-up, found on the model itself:
// every condition of every state reached, clocked once.
std::set<unsigned> model_states(const registered_map &m)
{
    std::unique_ptr<sim_chip> chip = make_map(m);
    const uint8_t reg = static_cast<uint8_t>(chip->power_up(0));
    std::set<unsigned> seen;
    std::vector<unsigned> todo;
    auto levels = [&] { return chip->read() & reg; };
    walk_latches latches;
    todo.push_back(levels());
    seen.insert(todo.back());
    while (!todo.empty()) {
        const unsigned s = todo.back();
        todo.pop_back();
        for (unsigned c = 0; c < walk_conditions(reg); c++) {
            chip->power_up(~s & reg);
            walk_step st;
            walk_levels(reg, c, st.ix, st.rx);
            st.clock = 1;
            const unsigned t = walk_apply(*chip, latches, st) & reg;
            if (seen.insert(t).second)
                todo.push_back(t);
        }
    }
    return seen;
}

TEST(WalkExplore, PublishedMapsReachEveryStateTheModelCan)
{
    if (published_maps_dir().empty())
        GTEST_SKIP() << published_maps_missing();
    for (const registered_map &m : registered_maps) {
        SCOPED_TRACE(m.file);
        std::unique_ptr<sim_chip> chip = make_map(m);
        walk_outcome w = walk_explore(walk_model_runner(*chip));
        EXPECT_EQ(w.error, "");
        EXPECT_EQ(w.left_for_good, m.left_for_good);
        EXPECT_EQ(w.tables.conflicts != 0, m.latches);
        if (!m.latches) {
            // Every transition tried but those of the states left for good,
            // of which the walk took one each.
            EXPECT_EQ(w.counts.states_with_untried, m.left_for_good);
            EXPECT_EQ(w.counts.untried, m.left_for_good * 255);
        }
        EXPECT_EQ(w.counts.unread, 0u);
        // The file holds it all.
        walk_record record;
        walk_tables tables;
        std::string err;
        ASSERT_TRUE(walk_parse(walk_file_bytes(w.record), record, tables, err)) << err;
        EXPECT_EQ(record.steps.size(), w.record.steps.size());
        EXPECT_EQ(w.counts.states, model_states(m).size());
    }
}

} // namespace

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
