// The walk of a registered chip's state machine, over whatever carries the
// steps to the chip (the adapter through USB, or a chip model in tests):
// which pins are registered, then every reached state's readings and
// transitions, exploring until no state it can still reach has a
// transition left untried; for a chip with latches, then every write of
// one of the adapter's latches and a clock edge from every point
// (registers, pin levels, condition) it can still reach. Steps go to the chip in batches planned ahead
// along the transitions known so far, so that round trips, not steps,
// bound the time.
#ifndef WALK_EXPLORE_H
#define WALK_EXPLORE_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "chip.h"
#include "walk.h"

// Carries out the steps in order and gives one reading per step (the
// reading fields of steps are to be ignored).
using walk_runner = std::function<void(const std::vector<walk_step> &steps, std::vector<uint8_t> &readings)>;

// The walk so far, after every batch: states reached, transitions tried,
// untried transitions known in states that can still be reached, steps
// taken, and the steps the planner expects the rest to need (a guess).
struct walk_progress {
    unsigned states = 0;
    unsigned transitions = 0;
    unsigned pending = 0;
    size_t steps = 0;
    size_t steps_left = 0;
};
using walk_progress_fn = std::function<void(const walk_progress &)>;

struct walk_outcome {
    walk_record record;  // registered 0: a chip without registers
    walk_tables tables;
    walk_counts counts;
    // States left for good: reached, but not from where the walk ended;
    // their untried transitions are in counts.untried.
    unsigned left_for_good = 0;
    size_t batches = 0;
    // A chip with latches: whether their levels were walked too, from
    // every point reached (not where the chip has more points than
    // walk_latch_max_points), and what that left open.
    bool latch_walk = false;
    walk_latch_open latch_open;
    // Not empty when the chip answered as no state machine does (a
    // register that changed without a clock) or the walk would not end:
    // the walk stopped there.
    std::string error;
};

// Steps of the first batch: with I9 high and low, weak levels all low and
// all high, every level of I1..I8, no clock. A registered pin floats at
// every step with I9 high and reads one level at every step with I9 low.
uint8_t walk_find_registers(const std::vector<walk_step> &steps);
std::vector<walk_step> walk_probe_steps();

// The whole walk. Ends after the probe when no pin is registered.
walk_outcome walk_explore(const walk_runner &run, const walk_progress_fn &progress = nullptr);

// A runner over a chip model, step by step with walk_apply, its latches
// at 0 at the start as after the adapter's reset.
walk_runner walk_model_runner(sim_chip &chip);

#endif
