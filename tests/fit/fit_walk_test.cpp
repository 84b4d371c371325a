// The fitter on walks of registered chips: published and random fuse maps
// and state machines built here, each walked in its chip model, fitted,
// checked against the walk, then run beside the original for random steps;
// and gatesweep-fit itself on walk files: its output, status and files.
#include "explore.h"
#include "fit_fuses.h"
#include "fit_walk.h"
#include "jedec_file.h"
#include "testkit.h"
#include "walk.h"

#include "../jedec/jedec_kit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned long side_steps = 100000; // the sanitizers slow the models tenfold
#else
constexpr unsigned long side_steps = 1000000;
#endif

std::unique_ptr<sim_chip> make_chip(const std::string &device, const std::string &text)
{
    std::string err;
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip_text(device, text, "test", err);
    EXPECT_TRUE(chip) << err;
    return chip;
}

walk_outcome walk_chip(sim_chip &chip)
{
    return walk_explore(walk_model_runner(chip));
}

std::string lines(const std::vector<std::string> &reasons)
{
    std::string s;
    for (const std::string &r : reasons)
        s += r + "\n";
    return s;
}

struct walk_fit {
    bool fits = false;
    fit_design design;
    std::vector<std::string> reasons;
    std::string jed;
    walk_replay_result replay;
};

walk_fit fit_outcome(const walk_outcome &w)
{
    walk_fit f;
    f.fits = fit_walk(w.record, w.tables, f.design, f.reasons);
    if (f.fits) {
        f.jed = jedec_text(fit_fuses(f.design), "test");
        std::string err;
        EXPECT_TRUE(fit_walk_replay(f.jed, "test", w.record, f.replay, err)) << err;
    }
    return f;
}

// The first state in the walk's order that the machine can return to.
int returning_state(const walk_tables &t)
{
    const size_t n = t.states.size();
    for (size_t s = 0; s < n; s++) {
        std::vector<bool> seen(n, false);
        std::vector<size_t> todo = {s};
        while (!todo.empty()) {
            const size_t at = todo.back();
            todo.pop_back();
            for (int16_t next : t.states[at].next) {
                if (next == walk_none || seen[static_cast<size_t>(next)])
                    continue;
                if (static_cast<size_t>(next) == s)
                    return static_cast<int>(s);
                seen[static_cast<size_t>(next)] = true;
                todo.push_back(static_cast<size_t>(next));
            }
        }
    }
    return -1;
}

// The original and the fitted chip side by side for random steps (random
// inputs, I9 and weak levels, a clock edge or none): from power-up where the
// walk tried every transition of every state it reached (with latches:
// every write, clock edge and drive check from every point it reached),
// otherwise from the first state the original can return to, to which both
// follow the walk's own steps (which also set the levels that latches built
// from gates hold, as power_up cannot). The count of steps at which they
// read otherwise.
unsigned long side_by_side(sim_chip &original, const std::string &fitted_jed, const walk_outcome &w,
                           unsigned seed, std::string &from)
{
    std::unique_ptr<sim_chip> fitted = make_chip("GAL16V8", fitted_jed);
    if (!fitted)
        return side_steps;
    const walk_record &record = w.record;
    EXPECT_EQ(fitted->power_up(~record.start & record.registered), record.registered);
    from = "power-up";
    walk_latches original_latches, fitted_latches;
    const bool whole = w.latch_walk ? w.latch_open.complete() : w.counts.untried == 0 && w.counts.unread == 0;
    if (!whole) {
        const int s = returning_state(w.tables);
        EXPECT_GE(s, 0) << "no state the machine returns to";
        if (s < 0)
            return side_steps;
        const uint8_t levels = w.tables.states[static_cast<size_t>(s)].levels, pins = record.registered;
        size_t i = 0;
        for (bool there = false; i < record.steps.size() && !there; i++) {
            const walk_step &step = record.steps[i];
            walk_apply(original, original_latches, step);
            walk_apply(*fitted, fitted_latches, step);
            there = !(step.ix & 0x200) && (step.reading & pins) == levels;
        }
        from = "state " + std::to_string(s) + " (step " + std::to_string(i) + ")";
    }
    std::mt19937 rng(seed);
    unsigned long differ = 0;
    for (unsigned long i = 0; i < side_steps; i++) {
        const uint32_t r = rng();
        walk_step step;
        step.ix = static_cast<uint16_t>(r & 0x3FE);
        step.rx = static_cast<uint8_t>(r >> 10);
        step.clock = static_cast<uint8_t>(r >> 18 & 1);
        if (walk_apply(original, original_latches, step) != walk_apply(*fitted, fitted_latches, step))
            differ++;
    }
    return differ;
}

std::string read_map(const std::string &file)
{
    return read_text(published_maps_dir() + "/jedec/" + file);
}

// Walks the chip, fits the walk, checks the fit against the walk and
// beside the original.
void expect_walk_fits(const std::string &device, const std::string &text, const std::string &what,
                      uint8_t registered)
{
    std::unique_ptr<sim_chip> chip = make_chip(device, text);
    ASSERT_TRUE(chip) << what;
    const walk_outcome w = walk_chip(*chip);
    EXPECT_EQ(w.record.registered, registered) << what;
    const walk_fit f = fit_outcome(w);
    ASSERT_TRUE(f.fits) << what << "\n" << lines(f.reasons);
    EXPECT_TRUE(f.replay.same()) << what << ": the fuse map reads otherwise than the walk from step "
                                 << f.replay.first;
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(f.design.pin[static_cast<size_t>(k)].registered, (registered >> k & 1) != 0) << what << " B" << k;
    std::unique_ptr<sim_chip> original = make_chip(device, text);
    std::string from;
    const unsigned long differ = side_by_side(*original, f.jed, w, 1, from);
    EXPECT_EQ(differ, 0u) << what << ": the fitted chip and the original differ (from " << from << ")";
}

// A random registered map on the registered column layout: each register
// 1 to 4 D terms of 1 to 3 literals over the inputs and every pin; each
// other pin unused or a combinational output of 1 to 3 terms over the
// inputs, the registers, the unused pins and the combinational pins below
// it (no loops), with an enable of one or two input literals or none.
// With latches, each combinational output also holds one level through its
// own feedback (a term that reads its own pin at the level it drives it
// to) where a term of inputs holds, and reads no other combinational pin
// (one that settles after it would race it).
jk_design random_registered(jk_device device, uint8_t reg_mask, unsigned seed, bool latches = false)
{
    std::mt19937 rng(seed);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    const uint32_t inputs = 0x1FE, pins = 0xFFu << 10;
    auto term = [&](uint32_t from, unsigned most) {
        jk_term t;
        for (unsigned l = pick(most) + 1; l-- > 0;) {
            unsigned n;
            do
                n = pick(18);
            while (!(from >> n & 1));
            if (!((t.high | t.low) >> n & 1))
                (pick(2) ? t.high : t.low) |= 1u << n;
        }
        return t;
    };
    jk_design d{device, {}};
    uint32_t readable = inputs | uint32_t(reg_mask) << 10;
    for (unsigned k = 0; k < 8; k++) {
        jk_output &o = d.out[k];
        o.kind = (reg_mask >> k & 1) ? 2 : pick(4) != 0 ? 1 : 0;
        if (!o.kind)
            readable |= 1u << (10 + k);
    }
    const uint32_t settled = readable; // inputs, registers and unused pins
    for (unsigned k = 0; k < 8; k++) {
        jk_output &o = d.out[k];
        if (o.kind == 2) {
            for (unsigned t = pick(4) + 1; t-- > 0;)
                o.terms.push_back(term(inputs | pins, 3));
        } else if (o.kind == 1) {
            for (unsigned t = pick(3) + 1; t-- > 0;)
                o.terms.push_back(term(latches ? settled : readable, 3));
            if (pick(2))
                o.has_oe = true, o.oe = term(inputs, 2);
            readable |= 1u << (10 + k);
        }
        o.active_high = device == jk_gal_registered && pick(2);
        if (o.kind == 1 && latches) {
            jk_term hold = term(inputs, 2);
            const uint32_t own = 1u << (10 + k);
            hold.high &= ~own;
            hold.low &= ~own;
            (o.active_high ? hold.high : hold.low) |= own;
            o.terms.push_back(hold);
        }
    }
    return d;
}

// A state machine of the test's own: registers at reg_mask whose next
// levels a function of the inputs (ix bit n = In) and the levels gives, no
// other pin driven.
using next_fn = std::function<unsigned(unsigned ix, unsigned levels)>;

struct machine_chip final : sim_chip {
    next_fn next;
    unsigned reg_mask = 0xFF, levels = 0xFF, ix = 0, rx = 0;
    void drive(unsigned new_ix, unsigned new_rx) override
    {
        if (!(ix & 1) && (new_ix & 1))
            levels = (levels & ~reg_mask) | (next(ix, levels) & reg_mask);
        ix = new_ix;
        rx = new_rx;
    }
    unsigned read() override { return (ix & 0x200) ? rx : (levels & reg_mask) | (rx & ~reg_mask); }
    unsigned power_up(unsigned q) override
    {
        levels = ~q & 0xFF;
        return reg_mask;
    }
};

// A one-bit counter on B0 that I1 enables, and on B7 either a level that
// changes at every write of the adapter's latches (no function of anything
// the array sees) or a latch: I2 sets it, I3 clears it, and otherwise it
// keeps its level (its set and clear in one latch of the adapter, so that
// it sees no level between writes).
struct counter_and_b7 final : sim_chip {
    bool toggles = false;
    unsigned ix = 0, rx = 0, q = 0, b7 = 0;
    void drive(unsigned new_ix, unsigned new_rx) override
    {
        if (!(ix & 1) && (new_ix & 1))
            q ^= ix >> 1 & 1;
        ix = new_ix;
        rx = new_rx;
        if (toggles)
            b7 ^= 1;
        else if (ix >> 2 & 1)
            b7 = 1;
        else if (ix >> 3 & 1)
            b7 = 0;
    }
    unsigned read() override { return (b7 << 7) | ((ix & 0x200) ? rx & 1 : q ^ 1) | (rx & 0x7E); }
    unsigned power_up(unsigned new_q) override
    {
        q = new_q & 1;
        return 1;
    }
};

// An 8-bit up counter on B0..B7: I1 enables the count, I2 loads I3..I8
// into B0..B5 and clears B6 and B7.
unsigned counter_with_load(unsigned ix, unsigned levels)
{
    if (ix >> 2 & 1)
        return (ix >> 3) & 0x3F;
    return (ix >> 1 & 1) ? (levels + 1) & 0xFF : levels;
}

// An 8-bit up counter on B0..B7 that I1 clears.
unsigned counter_with_clear(unsigned ix, unsigned levels)
{
    return (ix >> 1 & 1) ? 0 : (levels + 1) & 0xFF;
}

} // namespace

TEST(FitWalkPublished, EveryRegisteredMapFitsAndRunsAsTheOriginal)
{
    if (published_maps_dir().empty())
        GTEST_SKIP() << published_maps_missing();
    const struct {
        const char *file, *device;
        uint8_t registered;
    } maps[] = {
        {"sun3_60_1599-01_pal16r4.jed", "PAL16R4", 0x3C}, {"sun3_60_1580-01_pal16r6.jed", "PAL16R6", 0x7E},
        {"sun3_60_1594-01_pal16r8.jed", "PAL16R8", 0xFF}, {"sun3_60_1580-01_gdj_gal16v8.jed", "GAL16V8", 0x7E},
        {"sun3_60_1599-01_gdj_gal16v8.jed", "GAL16V8", 0x3C}, {"alphamission_15b_fixed_gal16v8.jed", "GAL16V8", 0x7E},
        // Pins 19, 18 and 12 of the 1564-02 are latches on their own
        // feedback (set, reset and hold terms), walked through every
        // point of registers, pin levels and condition.
        {"sun3_60_1564-02_pal16r4.jed", "PAL16R4", 0x3C},
    };
    for (const auto &m : maps)
        expect_walk_fits(m.device, read_map(m.file), m.file, m.registered);
}

TEST(FitWalkRandom, RegisteredMapsFitAndRunAsTheOriginal)
{
    const struct {
        const char *device;
        jk_device kit;
        uint8_t registered;
    } kinds[] = {
        {"PAL16R4", jk_pal16r8, 0x3C},
        {"PAL16R6", jk_pal16r8, 0x7E},
        {"PAL16R8", jk_pal16r8, 0xFF},
        {"GAL16V8", jk_gal_registered, 0x00}, // registers drawn per seed
    };
    for (const auto &k : kinds) {
        for (unsigned seed = 1; seed <= 3; seed++) {
            uint8_t registered = k.registered;
            if (!registered)
                registered = static_cast<uint8_t>(std::mt19937(seed * 77)() | 1u); // at least one register
            const jk_design d = random_registered(k.kit, registered, seed);
            expect_walk_fits(k.device, jk_text(jk_fuses(d)), std::string(k.device) + " seed " + std::to_string(seed),
                             registered);
        }
    }
}

// Random PAL16R4 and registered GAL16V8 maps whose combinational outputs
// are latches on their own feedback: walked through every point, fitted,
// and beside the original from power-up.
TEST(FitWalkRandom, MapsWithLatchesFitAndRunAsTheOriginal)
{
    // (In the GAL16V8 of seed 2, the first readings of the latch on B6
    // happen to agree with a function without feedback.)
    const struct {
        const char *device;
        jk_device kit;
        uint8_t registered;
        unsigned seed;
    } maps[] = {{"PAL16R4", jk_pal16r8, 0x3C, 1}, {"GAL16V8", jk_gal_registered, 0x0F, 2}};
    for (const auto &m : maps) {
        const jk_design d = random_registered(m.kit, m.registered, m.seed, true);
        expect_walk_fits(m.device, jk_text(jk_fuses(d)),
                         std::string(m.device) + " with latches, seed " + std::to_string(m.seed), m.registered);
    }
}

// 256 states: the counter that I1 clears fits (B7 in eight terms), and
// walked from power-up it tries every transition.
TEST(FitWalkMachines, AnEightBitCounterFits)
{
    machine_chip clear;
    clear.next = counter_with_clear;
    walk_outcome w = walk_chip(clear);
    EXPECT_EQ(w.counts.states, 256u);
    EXPECT_EQ(w.counts.untried, 0u);
    walk_fit f = fit_outcome(w);
    ASSERT_TRUE(f.fits) << lines(f.reasons);
    EXPECT_TRUE(f.replay.same());
    EXPECT_EQ(f.design.pin[7].out.terms.size(), 8u);
    machine_chip original;
    original.next = counter_with_clear;
    std::string from;
    EXPECT_EQ(side_by_side(original, f.jed, w, 2, from), 0u) << from;
}

TEST(FitWalkMachines, APinThatIsNoFunctionOfTheArrayIsRefused)
{
    counter_and_b7 chip;
    chip.toggles = true;
    const walk_outcome w = walk_chip(chip);
    ASSERT_EQ(w.record.registered, 0x01);
    const walk_fit f = fit_outcome(w);
    EXPECT_FALSE(f.fits);
    EXPECT_EQ(lines(f.reasons), "B7 (pin 19): it reads otherwise at the same inputs and pin levels: it holds state "
                                "of its own (a latch or an asynchronous loop)\n");
}

// The program, run on walk files in a scratch folder.
class FitWalkProgram : public ::testing::Test {
protected:
    std::string dir = make_temp_dir();
    run_result fit(const std::vector<std::string> &args) { return run_program(dir, {}, GATESWEEP_FIT_EXE, args); }
    void write_walk(const std::string &name, sim_chip &chip)
    {
        write_file(dir + "/" + name, walk_file_bytes(walk_chip(chip).record));
    }
};

TEST_F(FitWalkProgram, APublishedMapWritesAVerifiedMapAndCupl)
{
    if (published_maps_dir().empty())
        GTEST_SKIP() << published_maps_missing();
    std::unique_ptr<sim_chip> chip = make_chip("PAL16R6", read_map("sun3_60_1580-01_pal16r6.jed"));
    ASSERT_TRUE(chip);
    write_walk("r6.walk", *chip);
    run_result r = fit({"--cupl", "r6.pld", "r6.walk", "r6.jed"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    expect_golden("fit_walk_r6.txt", r.out);
    expect_golden("fit_walk_r6_jed.txt", read_text(dir + "/r6.jed"));
    expect_golden("fit_walk_r6_pld.txt", read_text(dir + "/r6.pld"));
}

// The 256-state counter with an enable and a load needs nine terms for B7.
TEST_F(FitWalkProgram, ARegisterThatNeedsMoreTermsThanACellIsRefused)
{
    machine_chip chip;
    chip.next = counter_with_load;
    const walk_outcome w = walk_chip(chip);
    EXPECT_EQ(w.counts.states, 256u);
    write_file(dir + "/load.walk", walk_file_bytes(w.record));
    run_result r = fit({"--cupl", "load.pld", "load.walk", "load.jed"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "`load.walk' does not fit a GAL16V8:\n"
                     "  B7 (pin 19): its register needs 9 product terms; a GAL16V8 cell has 8\n"
                     "Nothing written.\n");
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"load.walk"});
}

TEST_F(FitWalkProgram, AStartThatCannotPowerUpIsRefusedUnlessForced)
{
    machine_chip chip;
    chip.next = counter_with_clear;
    chip.power_up(0x01);
    write_walk("low.walk", chip);
    run_result r = fit({"low.walk", "low.jed"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "`low.walk' started in a state that a GAL16V8 cannot power up in:\n"
                     "  B0 (pin 12): the walk started with it low; a GAL16V8 powers up with its registers' pins high\n"
                     "  --force fits it all the same.\n"
                     "Nothing written.\n");
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"low.walk"});
    r = fit({"--force", "low.walk", "low.jed"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\nStart state: B7=1 B6=1 B5=1 B4=1 B3=1 B2=1 B1=1 B0=0.\n"
                         "Forced: the fitted chip powers up with B7=1 B6=1 B5=1 B4=1 B3=1 B2=1 B1=1 B0=1, not in "
                         "the start state;"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(file_exists(dir + "/low.jed"));
}

// The walk of a chip with a latch, complete, is fitted without --force,
// and the report says why the fit holds; cut short, it is refused, and
// forced the report says where the fitted chip may differ.
TEST_F(FitWalkProgram, AWalkOfLatchesIsFittedOnlyWhenComplete)
{
    counter_and_b7 chip;
    walk_record record = walk_chip(chip).record;
    write_file(dir + "/latch.walk", walk_file_bytes(record));
    run_result r = fit({"latch.walk", "latch.jed"});
    EXPECT_EQ(r.status, 0) << r.out;
    expect_golden("fit_walk_latch.txt", r.out);
    record.steps.resize(record.steps.size() - 40);
    write_file(dir + "/cut.walk", walk_file_bytes(record));
    r = fit({"cut.walk", "cut.jed"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "`cut.walk' is the walk of a chip with latches: B7 (pin 19) read otherwise at a state and "
                     "condition read before.\n"
                     "  The walk did not try every write of one of the adapter's latches and every clock edge from "
                     "the points it reached (0 writes of one latch, 4 clock edges and 4 drive checks untried), so no "
                     "fit is proven to behave as the chip.\n"
                     "  --force fits it all the same.\n"
                     "Nothing written.\n");
    EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"cut.walk", "latch.jed", "latch.walk"}));
    r = fit({"--force", "cut.walk", "cut.jed"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Forced: B7 (pin 19) hold levels of their own; where the walk could not go, the fitted "
                         "chip may\n  behave otherwise than the original.\n"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(file_exists(dir + "/cut.jed"));
}

// Walk files that cannot be read or are no walk, and outputs that are the
// walk: one line, status 2, nothing written.
TEST_F(FitWalkProgram, BadWalkFilesAndOutputsAreOneLine)
{
    machine_chip chip;
    chip.next = counter_with_clear;
    write_walk("good.walk", chip);
    std::vector<uint8_t> bytes = read_file(dir + "/good.walk");
    bytes.resize(bytes.size() / 2);
    write_file(dir + "/cut.walk", bytes);
    run_result r = fit({"cut.walk", "x.jed"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.substr(0, std::string("Error: `cut.walk' is no walk file: ").size()),
              "Error: `cut.walk' is no walk file: ");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    r = fit({"--cupl", "good.walk", "good.walk", "x.jed"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Error: `good.walk' is the walk `good.walk'; it would be overwritten.\n");
    EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"cut.walk", "good.walk"}));
}
