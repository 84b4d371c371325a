#include "logic.h"

#include <cstdio>

#include "jedec.h"

namespace {

bool table_bit(const logic_table &t, uint32_t p)
{
    return (t[p / 64] >> (p % 64)) & 1;
}

// Whether table t changes with the level on pin Bj somewhere.
bool reads_pin(const logic_table &t, unsigned j)
{
    if (t.empty())
        return false;
    const uint32_t flip = 1u << (10 + j - 6); // pin levels sit above the six bits of a word
    for (uint32_t w = 0; w < t.size(); w++)
        if (!(w & flip) && t[w] != t[w | flip])
            return true;
    return false;
}

struct logic_chip final : sim_chip {
    logic_design design;
    std::string name;
    unsigned ix = 0, rx = 0;
    // The levels the array sees on B0..B7: the level on each pin, but the
    // register's level for a registered pin.
    unsigned pins = 0;
    unsigned registered = 0; // pins with a register
    unsigned reg = 0;        // their registers' levels
    bool reported = false;
    // Without a loop among the pins the chip holds no state but its
    // registers: its levels are settled once, when read, each pin after
    // those it reads.
    bool stateless = false;
    std::array<unsigned, 8> order{};
    bool dirty = false;

    unsigned level_of(unsigned k) const
    {
        if (registered >> k & 1)
            return reg >> k & 1;
        const logic_pin &pin = design[k];
        const uint32_t p = ix | pins << 10;
        const bool driven = pin.output && (pin.enable.empty() || table_bit(pin.enable, p));
        return driven ? static_cast<unsigned>(table_bit(pin.level, p)) : (rx >> k & 1);
    }
    void settle();
    void clock();
    void drive(unsigned new_ix, unsigned new_rx) override
    {
        new_ix &= 0x3FF;
        if (registered && !(ix & 1) && (new_ix & 1))
            clock();
        ix = new_ix;
        rx = new_rx & 0xFF;
        if (stateless)
            dirty = true;
        else
            settle();
    }
    unsigned read() override
    {
        if (dirty) {
            dirty = false;
            // Inputs read their weak levels, registers their own; then
            // each output from the levels of the pins it reads, already in
            // place.
            pins = (pins & outputs) | (rx & ~outputs & ~registered) | reg;
            for (unsigned n = 0; n < order_count; n++) {
                const unsigned k = order[n];
                const uint32_t p = ix | pins << 10;
                const uint64_t *en = enable[k];
                const bool driven = !en || ((en[p / 64] >> (p % 64)) & 1);
                const unsigned level = driven ? static_cast<unsigned>((level_table[k][p / 64] >> (p % 64)) & 1)
                                              : (rx >> k & 1);
                pins = (pins & ~(1u << k)) | level << k;
            }
        }
        // A registered pin floats while I9 is high.
        return (ix >> 9 & 1) ? (pins & ~registered) | (rx & registered) : pins;
    }
    unsigned power_up(unsigned q) override
    {
        reg = ~q & registered;
        pins = (pins & ~registered) | reg;
        if (stateless)
            dirty = true;
        else
            settle();
        return registered;
    }
    // The combinational outputs in the order they settle, and their tables.
    unsigned outputs = 0, order_count = 0;
    std::array<const uint64_t *, 8> level_table{}, enable{};
};

// The registers load what the array sees before the edge.
void logic_chip::clock()
{
    read();
    const uint32_t p = ix | pins << 10;
    unsigned next = 0;
    for (unsigned k = 0; k < 8; k++)
        if (registered >> k & 1)
            next |= static_cast<unsigned>(table_bit(design[k].level, p)) << k;
    reg = next;
    pins = (pins & ~registered) | reg;
}

// Which pins each combinational output reads (bit j of reads[k]: Bk reads
// Bj), by its tables. A register's input holds no loop.
std::array<unsigned, 8> pins_read(const logic_design &design)
{
    std::array<unsigned, 8> reads{};
    for (unsigned k = 0; k < 8; k++)
        for (unsigned j = 0; j < 8; j++)
            if (design[k].output && !design[k].registered &&
                (reads_pin(design[k].level, j) || reads_pin(design[k].enable, j)))
                reads[k] |= 1u << j;
    return reads;
}

void logic_chip::settle()
{
    unsigned changed = 0;
    for (unsigned pass = 0; pass < jedec_settle_passes; pass++) {
        changed = 0;
        for (unsigned k = 8; k-- > 0;) {
            const unsigned level = level_of(k);
            if (level != (pins >> k & 1)) {
                pins ^= 1u << k;
                changed |= 1u << k;
            }
        }
        if (!changed)
            return;
    }
    if (!reported) {
        reported = true;
        std::string names;
        for (unsigned k = 8; k-- > 0;)
            if (changed >> k & 1)
                names += " B" + std::to_string(k);
        std::fprintf(stderr,
                     "%s: feedback through%s does not settle at inputs 0x%03X, weak drive 0x%02X; "
                     "keeping the levels after %u passes (reported once)\n",
                     name.c_str(), names.c_str(), ix, rx, jedec_settle_passes);
    }
}

} // namespace

bool logic_settle_order(const std::array<unsigned, 8> &reads, unsigned outputs, std::array<unsigned, 8> &order,
                        unsigned &count)
{
    count = 0;
    unsigned placed = 0;
    for (bool progress = true; progress;) {
        progress = false;
        for (unsigned k = 8; k-- > 0;) {
            if ((outputs >> k & 1) && !(placed >> k & 1) && (reads[k] & outputs & ~placed) == 0) {
                order[count++] = k;
                placed |= 1u << k;
                progress = true;
            }
        }
    }
    return placed == outputs;
}

std::unique_ptr<sim_chip> sim_make_logic_chip(logic_design design, const std::string &name)
{
    auto chip = std::make_unique<logic_chip>();
    for (logic_pin &pin : design) {
        // A table of the wrong size reads as all false.
        if (pin.output && pin.level.size() != logic_points / 64)
            pin.level.assign(logic_points / 64, 0);
        if (!pin.enable.empty() && pin.enable.size() != logic_points / 64)
            pin.enable.assign(logic_points / 64, 0);
    }
    chip->design = std::move(design);
    chip->name = name;
    for (unsigned k = 0; k < 8; k++) {
        const logic_pin &pin = chip->design[k];
        if (!pin.output)
            continue;
        if (pin.registered) {
            chip->registered |= 1u << k;
            continue;
        }
        chip->outputs |= 1u << k;
        chip->level_table[k] = pin.level.data();
        chip->enable[k] = pin.enable.empty() ? nullptr : pin.enable.data();
    }
    // Only the combinational outputs settle in order; the inputs take their
    // weak levels. The registers start at Q = 0: their pins high.
    chip->reg = chip->registered;
    chip->pins = chip->reg;
    chip->stateless = logic_settle_order(pins_read(chip->design), chip->outputs, chip->order, chip->order_count);
    chip->settle();
    return chip;
}
