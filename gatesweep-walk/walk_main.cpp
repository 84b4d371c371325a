// The gatesweep-walk program (gatesweep-walk-b for adapter board B): walks
// the state machine of the registered chip in the adapter through the USB
// module and saves the walk file that gatesweep-fit fits and
// gatesweep-check replays. Exit status 0 walk saved, 1 a chip without
// registers (nothing written), 2 a failure (nothing written).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "explore.h"
#include "files.h"
#include "intf.h"
#include "mcu.h"
#include "signals.h"
#include "usb.h"
#include "walk.h"

namespace {

const char *const program = GATESWEEP_PROGRAM;

void usage(FILE *out)
{
    std::fprintf(out,
                 "usage: %s FILE.walk\n"
                 "  Walks the state machine of the registered PAL in adapter board %s (on an\n"
                 "  FT2232 module, DLP2232M) and saves the walk in FILE.walk for gatesweep-fit\n"
                 "  and gatesweep-check. Right after power-up the walk starts in the chip's\n"
                 "  power-up state. Press Ctrl+C to abort; nothing is written then.\n"
                 "  Exit status: 0 walk saved, 1 the chip has no registers (nothing written),\n"
                 "  2 no module, unwritable file or a failing module (nothing written).\n",
                 program, intf_board);
}

// The dump program of this board, for a chip without registers.
const char *dump_program()
{
    return intf_board[0] == 'B' ? "gatesweep-b" : "gatesweep";
}

// The levels the adapter's latches apply (numbered as in a dump: ix bit n
// is In, rx bit k the weak level of Bk), as the last commands set them.
struct latch_levels {
    uint16_t ix = 0;
    uint8_t rx = 0;
};

// Steps per command block: one reply byte each, as many as a block of the
// dump sweep reads, so that the module's buffers hold what a block asks.
constexpr size_t block_steps = IX_COUNT;
// Bytes of one step at most: the weak levels, the high latch, the low
// latch twice (4 bytes each) and the read (3).
constexpr size_t step_bytes_max = 4 * 4 + 3;

// Appends the commands of one step: the weak levels and the high input
// latch where they change, the low latch with I0 low where it changes, for
// a clock the low latch with I0 high, then the read of B0..B7.
int append_step(uint8_t *buf, latch_levels &held, const walk_step &step)
{
    const uint16_t ix = static_cast<uint16_t>(step.ix & IX_MASK & ~1u);
    int n = 0;
    if (step.rx != held.rx)
        n += set_rx(buf + n, step.rx);
    if ((ix ^ held.ix) & 0x300u)
        n += set_ixh(buf + n, ix);
    if ((ix ^ held.ix) & 0xFFu)
        n += set_ixl(buf + n, ix);
    held.ix = ix;
    held.rx = step.rx;
    if (step.clock) {
        held.ix = static_cast<uint16_t>(ix | 1u);
        n += set_ixl(buf + n, held.ix);
    }
    return n + read_bx(buf + n);
}

// Carries out the steps on the module in blocks, each one write ending in
// Send Immediate and one read of its replies.
void usb_run(int dev, latch_levels &held, const std::vector<walk_step> &steps, std::vector<uint8_t> &readings)
{
    readings.assign(steps.size(), 0);
    std::vector<uint8_t> cmd(block_steps * step_bytes_max + 1);
    for (size_t first = 0; first < steps.size(); first += block_steps) {
        const size_t count = std::min(block_steps, steps.size() - first);
        int n = 0;
        for (size_t i = 0; i < count; i++)
            n += append_step(cmd.data() + n, held, steps[first + i]);
        n += mcu_flush(cmd.data() + n);
        ft_send_data(dev, cmd.data(), n);
        ft_get_data(dev, readings.data() + first, static_cast<int>(count));
    }
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// "B2 (pin 14), B3 (pin 15)": the pins of a set, lowest first.
std::string pin_list(uint8_t pins)
{
    std::string s;
    for (int k = 0; k < NUM_BX; k++) {
        if (!((pins >> k) & 1))
            continue;
        if (!s.empty())
            s += ", ";
        s += bx_name(k) + " (pin " + std::to_string(pin_number[BX_SIGNAL0 + k]) + ")";
    }
    return s.empty() ? "none" : s;
}

// "B7 B6 B5 B4 = 1 0 1 1": the levels of the registered pins, highest first.
std::string state_text(uint8_t registered, uint8_t levels)
{
    std::string names, values;
    for (int k = NUM_BX - 1; k >= 0; k--) {
        if (!((registered >> k) & 1))
            continue;
        names += bx_name(k) + " ";
        values += std::string(values.empty() ? "" : " ") + (((levels >> k) & 1) ? "1" : "0");
    }
    return names + "= " + values;
}

// What the non-registered pins did over the walk's readings: driven at
// some condition (a reading other than its weak level), and floating at
// some condition (its weak level read back with either weak level).
struct pin_roles {
    uint8_t driven = 0;
    uint8_t floats = 0;
};

pin_roles combinational_roles(const walk_outcome &w)
{
    pin_roles roles;
    const uint8_t registered = w.record.registered;
    for (const walk_state &state : w.tables.states) {
        for (unsigned c = 0; c < state.reading.size(); c++) {
            if (state.reading[c] == walk_none)
                continue;
            uint16_t ix;
            uint8_t rx;
            walk_levels(registered, c, ix, rx);
            const uint8_t read = static_cast<uint8_t>(state.reading[c]);
            roles.driven = static_cast<uint8_t>(roles.driven | ((read ^ rx) & ~registered));
            for (int k = 0; k < NUM_BX; k++) {
                const uint8_t pin = static_cast<uint8_t>(1u << k);
                if (!(registered & pin) && walk_floats(state, registered, c, k) == 1)
                    roles.floats = static_cast<uint8_t>(roles.floats | pin);
            }
        }
    }
    return roles;
}

// "B0 (pin 12) output, B1 (pin 13) output with an enable, B2 (pin 14) input".
std::string combinational_text(const walk_outcome &w)
{
    const pin_roles roles = combinational_roles(w);
    std::string s;
    for (int k = 0; k < NUM_BX; k++) {
        const uint8_t pin = static_cast<uint8_t>(1u << k);
        if (w.record.registered & pin)
            continue;
        const char *role = (w.tables.unsteady & pin)  ? "latch"
                           : !(roles.driven & pin)     ? "input"
                           : (roles.floats & pin)      ? "output with an enable"
                                                       : "output";
        s += (s.empty() ? "" : ", ") + pin_list(pin) + " " + role;
    }
    return s.empty() ? "none" : s;
}

void print_report(const walk_outcome &w, double seconds)
{
    const uint8_t registered = w.record.registered;
    const walk_counts &n = w.counts;
    std::printf("Registered pins: %s; clock pin 1 (I0), enable pin 11 (I9).\n", pin_list(registered).c_str());
    std::printf("Started in state %s: the chip's power-up state, if it was powered up just before the walk.\n",
                state_text(registered, w.record.start).c_str());
    std::printf("Combinational pins: %s.\n", combinational_text(w).c_str());
    if (w.latch_walk) {
        // A chip with latches is walked through its points (registers,
        // pin levels, condition), not its states.
        const walk_latch_open &o = w.latch_open;
        std::printf("Latches: %s hold levels of their own; the walk went through %zu points (registers, pin "
                    "levels and condition).\n",
                    pin_list(w.tables.unsteady).c_str(), o.points);
        if (o.complete())
            std::printf("From every point reached, every write of one of the adapter's latches and a clock edge "
                        "were tried, and every pin not seen floating was seen driven.\n");
        else
            std::printf("From the points reached, %s stay untried (the walk found no way back to them).\n",
                        walk_latch_open_text(o).c_str());
    } else {
        // Untried transitions of states the walk could still reach come
        // only from pins that read otherwise at the same state and
        // condition.
        const unsigned left = w.left_for_good;
        const unsigned stuck = n.states_with_untried - std::min(n.states_with_untried, left);
        if (n.states_with_untried == 0)
            std::printf("Every transition of every reached state was tried.\n");
        else if (left == 1)
            std::printf("1 state was left for good (the walk found no way back to it).\n");
        else if (left > 1)
            std::printf("%u states were left for good (the walk found no way back to them).\n", left);
        if (w.tables.unsteady)
            std::printf("Latches: %s read otherwise at a state and condition read before (%u times): they hold "
                        "levels of their own, which a walk cannot set at will.\n",
                        pin_list(w.tables.unsteady).c_str(), w.tables.conflicts);
        if (n.states_with_untried)
            std::printf("%u transitions of %u state%s stay untried%s.\n", n.untried, n.states_with_untried,
                        n.states_with_untried == 1 ? "" : "s",
                        stuck ? " (in states the walk could still reach: the latches did not repeat them)" : "");
    }
    std::printf("Walked %u states and %u transitions in %.1f s.\n", n.states, n.transitions, seconds);
}

int walk(const char *path)
{
    file_target target;
    if (!file_target_check(path, target)) {
        std::printf("Error: could not write to `%s'.\n", path);
        return 2;
    }
    const int dev = intf_open();
    // intf_open gives device 0 also when no module is attached (after
    // saying so); the library is then left alone.
    if (!ft_device[dev].is_open)
        return 2;
    intf_reset(dev);
    std::printf("Walking the state machine. Press Ctrl+C to abort.\n");
    // What has been said stays said when the walk is interrupted.
    std::fflush(stdout);

    latch_levels held; // intf_reset set every latch to 0
    const walk_runner runner = [dev, &held](const std::vector<walk_step> &steps, std::vector<uint8_t> &readings) {
        usb_run(dev, held, steps, readings);
    };
    const auto start = std::chrono::steady_clock::now();
    int shown = 0;
    double shown_at = 0.0;
    // A new line every tenth of a second at most: batches can come faster
    // than a console takes lines.
    const walk_progress_fn progress = [&](const walk_progress &p) {
        const double now = seconds_since(start);
        if (shown > 0 && now - shown_at < 0.1)
            return;
        shown_at = now;
        const double per_step = p.steps ? now / static_cast<double>(p.steps) : 0.0;
        const int len = std::fprintf(stderr, "Walking: %u states, %u transitions, about %.1f s left", p.states,
                                     p.transitions, per_step * static_cast<double>(p.steps_left));
        std::fprintf(stderr, "%*s\r", shown > len ? shown - len : 0, "");
        shown = std::max(shown, len);
    };
    const walk_outcome w = walk_explore(runner, progress);
    const double seconds = seconds_since(start);
    if (shown > 0)
        std::fprintf(stderr, "%*s\r", shown, "");
    intf_close(dev);

    if (!w.error.empty()) {
        std::printf("Error: the walk stopped: %s. Nothing written.\n", w.error.c_str());
        return 2;
    }
    if (w.record.registered == 0) {
        std::printf("No registered pins: this chip holds no state; read it with `%s dump'.\n", dump_program());
        return 1;
    }
    print_report(w, seconds);
    const std::vector<uint8_t> bytes = walk_file_bytes(w.record);
    if (bytes.empty()) {
        // The readings are no walk of a chip; the engine stops before that.
        std::printf("Error: the readings make no walk file. Nothing written.\n");
        return 2;
    }
    if (!file_target_write(target, bytes.data(), bytes.size())) {
        std::printf("Error: could not write to `%s'.\n", path);
        return 2;
    }
    std::printf("Data saved to `%s'.\n", path);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *path = nullptr;
    const int shown = help_or_version(argc, argv, program, GATESWEEP_VERSION, usage);
    if (shown >= 0)
        return shown;
    for (int a = 1; a < argc; a++) {
        if (argv[a][0] == '-' && argv[a][1] != '\0') {
            std::fprintf(stderr, "%s: unknown option `%s' (see --help).\n", program, argv[a]);
            return 2;
        }
        if (path) {
            std::fprintf(stderr, "%s: one walk file only, not also `%s' (see --help).\n", program, argv[a]);
            return 2;
        }
        path = argv[a];
    }
    if (!path) {
        std::fprintf(stderr, "%s: name the walk file to write (see --help).\n", program);
        return 2;
    }
    int status;
    try {
        status = walk(path);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s: out of memory\n", program);
        return 2;
    }
    return stdout_complete(program) ? status : 2;
}
