// gatesweep-check on walks of a registered chip: a 2-bit counter with an
// enable on a PAL16R4-like pinout, walked in process from its model and
// checked against its equations, right and wrong; the texts that cannot
// describe the walk's chip; walk files that no walk wrote, for
// gatesweep-check and gatesweep-fit; and the texts gatesweep-fit writes for
// walks of the counter and of the registered published maps.
#include <gtest/gtest.h>

#include "chip.h"
#include "explore.h"
#include "sweep.h"
#include "testkit.h"
#include "walk.h"

#include <filesystem>

namespace {

unsigned bit(unsigned v, unsigned n) { return v >> n & 1; }

// The counter: registers at B2 (the low bit) and B3 count up at each clock
// edge while I1 is high; B7 = B2 & B3, always driven; B6 = !B2, driven
// while I3 is high; B0, B1, B4 and B5 are inputs. Written out by hand, so
// that nothing of the chip library's logic chip is in it.
struct counter_chip final : sim_chip {
    unsigned ix = 0, rx = 0;
    unsigned state = 0x0C; // levels of B2 and B3; Q = 0 shows them high

    void drive(unsigned new_ix, unsigned new_rx) override
    {
        if (!bit(ix, 0) && bit(new_ix, 0)) {
            const unsigned q0 = bit(state, 2), q1 = bit(state, 3), en = bit(ix, 1);
            state = (q0 ^ en) << 2 | (q1 ^ (q0 & en)) << 3;
        }
        ix = new_ix, rx = new_rx;
    }
    unsigned read() override
    {
        const unsigned q0 = bit(state, 2), q1 = bit(state, 3);
        const unsigned regs = bit(ix, 9) ? rx & 0x0C : state;
        const unsigned b6 = bit(ix, 3) ? (q0 ^ 1) << 6 : rx & 0x40;
        return (rx & 0x33) | regs | b6 | (q0 & q1) << 7;
    }
    unsigned power_up(unsigned q) override
    {
        state = ~q & 0x0C;
        return 0x0C;
    }
};

const std::string pins = "pin 1 = I0; pin 2 = I1; pin 3 = I2; pin 4 = I3; pin 5 = I4; pin 6 = I5; pin 7 = I6;"
                         " pin 8 = I7; pin 9 = I8; pin 11 = I9;\npin 12 = B0; pin 13 = B1; pin 14 = B2; pin 15 = B3;"
                         " pin 16 = B4; pin 17 = B5; pin 18 = B6; pin 19 = B7;\n";

// The counter's equations, B3's as the complement of the level it loads.
const std::string counter_text = "Name counter;\nDevice g16v8ms;\n" + pins +
                                 " B2.d\t=  B2 & !I1\n\t# !B2 &  I1;\n"
                                 "!B3.d\t= !B3 & !B2\n\t# !B3 & !I1\n\t#  B3 &  B2 &  I1;\n"
                                 " B6\t= !B2;\n B6.oe\t=  I3;\n B7\t=  B2 &  B3;\n";

std::string edited(std::string text, const std::string &from, const std::string &to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The walk file of the counter, walked from power-up or, with q, from the
// registers' Q set to q.
std::vector<uint8_t> counter_walk(int q = -1, uint32_t *steps = nullptr)
{
    counter_chip chip;
    if (q >= 0)
        chip.power_up(static_cast<unsigned>(q));
    walk_outcome walk = walk_explore(walk_model_runner(chip));
    EXPECT_EQ(walk.record.registered, 0x0C);
    EXPECT_EQ(walk.counts.states, 4u);
    if (steps)
        *steps = static_cast<uint32_t>(walk.record.steps.size());
    return walk_file_bytes(walk.record);
}

// A scratch folder holding counter.walk (from power-up), start.walk (from
// B3 high, B2 low) and counter.bin (the counter swept as a dump).
const std::string &counter_dir()
{
    static const std::string dir = [] {
        const std::string d = make_temp_dir();
        write_file(d + "/counter.walk", counter_walk());
        write_file(d + "/start.walk", counter_walk(0x04));
        write_file(d + "/counter.bin", sweep_chip(std::make_unique<counter_chip>()));
        return d;
    }();
    return dir;
}

run_result check(const std::string &text, const std::string &input)
{
    write_text(counter_dir() + "/chip.pld", text);
    return run_program(counter_dir(), {}, GATESWEEP_CHECK_EXE, {input, "chip.pld"});
}

uint32_t crc32(const std::vector<uint8_t> &bytes, size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        c ^= bytes[i];
        for (int b = 0; b < 8; b++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

void put32(std::vector<uint8_t> &bytes, size_t at, uint32_t v)
{
    for (unsigned n = 0; n < 4; n++)
        bytes[at + n] = static_cast<uint8_t>(v >> 8 * n);
}

// The bytes with their checksum made right again.
std::vector<uint8_t> resealed(std::vector<uint8_t> bytes)
{
    put32(bytes, bytes.size() - 4, crc32(bytes, bytes.size() - 4));
    return bytes;
}

} // namespace

TEST(WalkCheck, CounterRightAndWrong)
{
    const std::string cases[][4] = {
        {counter_text, "counter.walk", "0", "walk_check_counter.txt"},
        {counter_text, "start.walk", "0", "walk_check_counter_start.txt"},
        // One wrong term of the combinational output: only B7 differs.
        {edited(counter_text, " B7\t=  B2 &  B3;", " B7\t=  B2 & !B3;"), "counter.walk", "1",
         "walk_check_counter_b7.txt"},
        // One wrong term of a register: the states part, and all that reads them.
        {edited(counter_text, "\t# !B2 &  I1;", "\t# !B2 &  I2;"), "counter.walk", "1",
         "walk_check_counter_d.txt"},
        // Swept as a dump, the registers clocked as a dump clocks them.
        {counter_text, "counter.bin", "0", "jedec_check_u12.txt"},
    };
    for (const auto &c : cases) {
        run_result r = check(c[0], c[1]);
        EXPECT_EQ(std::to_string(r.status) + r.err, c[2]) << c[1] << " " << c[3];
        expect_golden(c[3], r.out);
    }
}

TEST(WalkCheck, TextsThatCannotDescribeTheWalksChipAndWalksAsDumps)
{
    const std::string head = pins + "/* Output and output enable equations */\n", at = "chip.pld: line ";
    const std::string cases[][2] = {
        {edited(counter_text, "!B3.d\t=", "!B3\t="), "chip.pld: B3 has a register in the walk, but no equation B3.d"},
        {counter_text + " B4.d\t=  I2;\n", "chip.pld: an equation B4.d, but B4 has no register in the walk"},
        {edited(counter_text, " B7\t=  B2 &  B3;", " B7\t=  B2 &  B3 &  I0;"),
         "chip.pld: the equation for B7 reads I0 (pin 1), which no array of a registered chip sees"},
        {edited(counter_text, " B6.oe\t=  I3;", " B6.oe\t= !I9;"),
         "chip.pld: the equation for B6.oe reads I9 (pin 11), which no array of a registered chip sees"},
        {head + " B2.d\t=  I1;\n B2.d\t=  I2;\n", at + "5: a second equation for B2.d"},
        {head + " B2.d\t=  I1;\n B2\t=  I2;\n", at + "5: an output equation for B2, which has a register equation B2.d"},
        {head + " B2.d\t=  I1;\n B2.oe\t=  I2;\n",
         at + "5: an enable equation for B2, which has a register equation B2.d"},
        {head + " B2\t=  I1;\n!B2.d\t=  I2;\n", at + "5: a register equation B2.d for B2, which has an output equation"},
        {head + " B2.d\t= ;\n", at + "4: nothing after `=' in the equation for B2.d"},
        {head + " B2.dq\t=  I1;\n", at + "4: expected `=', found `q'"},
    };
    for (const auto &c : cases) {
        run_result r = check(c[0], "counter.walk");
        EXPECT_EQ(std::to_string(r.status) + r.out + r.err, "2gatesweep-check: " + c[1] + "\n") << c[0];
    }
    // Nor is a walk one of two dumps to compare.
    run_result r = run_program(counter_dir(), {}, GATESWEEP_CHECK_EXE, {"--compare", "counter.bin", "counter.walk"});
    EXPECT_EQ(std::to_string(r.status) + r.out + r.err,
              "2gatesweep-check: `counter.walk' is a walk, not a dump of 262144\n");
}

TEST(WalkCheck, HostileWalkFiles)
{
    const std::string dir = make_temp_dir();
    uint32_t steps = 0;
    const std::vector<uint8_t> good = counter_walk(-1, &steps);
    // The header's state count (16 bits) and step count (32 bits).
    const size_t states_at = 30, steps_at = 32, header_size = 36;
    ASSERT_GT(good.size(), size_t(dump_size));
    auto cut = [&](size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(n)); };
    auto with = [&](size_t at, uint8_t v) {
        std::vector<uint8_t> b = good;
        b[at] = v;
        return b;
    };
    std::vector<uint8_t> trailing = good, many_states = good, far_steps = good;
    trailing.push_back(0);
    many_states[states_at] = many_states[states_at + 1] = 0xFF;
    put32(far_steps, steps_at, steps + 1000);
    // The first reading in the tables (state 0, condition 0) changed, and
    // the checksum made to fit.
    const size_t tables = header_size + 4;
    ASSERT_NE(good[tables + 1], 0xFF) << "condition 0 of the start state unread";
    const std::vector<uint8_t> tables_off = resealed(with(tables, good[tables] ^ 0x01));
    // The last step without a clock and with I9 low reads B2 otherwise than its state.
    const size_t log = good.size() - 4 - size_t(steps) * 5;
    size_t moved = steps;
    while (moved-- > 0 && (good[log + moved * 5 + 1] & 0x02 || good[log + moved * 5 + 3]))
        ;
    ASSERT_LT(moved, steps);
    const std::vector<uint8_t> no_walk = resealed(with(log + moved * 5 + 4, good[log + moved * 5 + 4] ^ 0x04));

    std::filesystem::create_directory(dir + "/folder.walk");
    // What gatesweep-check says of each (gatesweep-fit reads walk files
    // with the same reader).
    const std::string no_dump = " bytes, not a dump of 262144";
    const std::pair<std::string, std::vector<uint8_t>> files[] = {
        {"empty.walk", {}},
        {"other.walk", with(6, '\n')},
        {"magic.walk", cut(8)},
        {"version.walk", with(8, 2)},
        {"flipped.walk", with(good.size() / 2, good[good.size() / 2] ^ 0x10)},
        {"trailing.walk", trailing},
        {"unmatched.walk", tables_off},
        {"nowalk.walk", no_walk},
        {"states.walk", many_states},
        {"far.walk", far_steps},
    };
    const std::string said[][2] = {
        {"empty.walk", "`empty.walk' holds 0" + no_dump},
        {"other.walk", "`other.walk' holds more than 262144" + no_dump},
        {"magic.walk", "magic.walk: a walk file cut short in its header"},
        {"version.walk", "version.walk: a walk file of version 2; this program reads version 1"},
        {"flipped.walk", "flipped.walk: a walk file whose checksum does not match: it was damaged"},
        {"trailing.walk", "trailing.walk: a walk file with bytes after its end"},
        {"unmatched.walk", "unmatched.walk: a walk file whose tables do not match its steps"},
        {"nowalk.walk", "nowalk.walk: a walk file whose steps are no walk of a chip: step " + std::to_string(moved + 1) +
                            ": the registers changed without a clock"},
        {"states.walk", "states.walk: a walk file with 65535 states and " + std::to_string(steps) +
                            " steps, more than its registers allow"},
        {"far.walk", "far.walk: a walk file cut short"},
        {"folder.walk", "cannot read the dump `folder.walk'"},
        {"none.walk", "cannot read the dump `none.walk'"},
    };
    write_text(dir + "/chip.pld", counter_text);
    for (const auto &f : files)
        write_file(dir + "/" + f.first, f.second);
    for (const auto &c : said) {
        run_result r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {c[0], "chip.pld"});
        EXPECT_EQ(std::to_string(r.status) + r.out + r.err, "2gatesweep-check: " + c[1] + "\n") << c[0];
    }
    for (const auto &f : files)
        std::filesystem::remove(dir + "/" + f.first);
    EXPECT_EQ(dir_entries(dir).size(), 2u); // chip.pld and folder.walk
    std::filesystem::remove_all(dir);
}

TEST(WalkCheck, FittedTextsReplayExact)
{
    // What gatesweep-fit --cupl writes for a walk replays exactly on it; the
    // same text with its first register's equation complemented does not.
    struct map {
        const char *device, *file;
    };
    // (Not the GAL16V8 maps of the 1580-01 and 1599-01, the same logic as
    // their PALs.)
    const map maps[] = {
        {"PAL16R4", "sun3_60_1599-01_pal16r4.jed"}, {"PAL16R4", "sun3_60_1564-02_pal16r4.jed"},
        {"PAL16R6", "sun3_60_1580-01_pal16r6.jed"},
        {"PAL16R8", "sun3_60_1594-01_pal16r8.jed"}, {"GAL16V8", "alphamission_15b_fixed_gal16v8.jed"},
    };
    std::vector<std::pair<std::string, std::unique_ptr<sim_chip>>> chips;
    chips.emplace_back("counter", std::make_unique<counter_chip>());
    if (!published_maps_dir().empty()) {
        for (const map &m : maps) {
            std::string err;
            chips.emplace_back(m.file, sim_make_jedec_chip(m.device, published_maps_dir() + "/jedec/" + m.file, err));
            ASSERT_TRUE(chips.back().second) << err;
        }
    }
    const std::string dir = make_temp_dir();
    for (auto &c : chips) {
        const walk_outcome walk = walk_explore(walk_model_runner(*c.second));
        write_file(dir + "/chip.walk", walk_file_bytes(walk.record));
        run_result r = run_program(dir, {}, GATESWEEP_FIT_EXE, {"--cupl", "chip.pld", "chip.walk", "chip.jed"});
        ASSERT_EQ(r.status, 0) << c.first << "\n" << r.out << r.err;
        std::string exact;
        for (unsigned k = 8; k-- > 0;)
            exact += "B" + std::to_string(k) + ": 0 mismatches\n";
        exact += "Round trip exact: the equations reproduce all " + std::to_string(walk.record.steps.size()) +
                 " steps of the walk.\n";
        r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"chip.walk", "chip.pld"});
        EXPECT_EQ(std::to_string(r.status) + r.err + r.out, "0" + exact) << c.first;

        std::string text = read_text(dir + "/chip.pld");
        const size_t d = text.find(".d\t=");
        ASSERT_NE(d, std::string::npos) << c.first;
        const size_t line = text.rfind('\n', d) + 1;
        text[line] = text[line] == '!' ? ' ' : '!';
        write_text(dir + "/chip.pld", text);
        r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"chip.walk", "chip.pld"});
        EXPECT_EQ(std::to_string(r.status) + r.err, "1") << c.first << "\n" << r.out;
    }
    std::filesystem::remove_all(dir);
}
