// The chips the simulated adapter can hold besides fuse maps: a replayed
// dump file and the two worked examples, modelled as logic. Every chip
// starts with all inputs and weak levels low, as the latches do at
// power-up.
#include "chip.h"

#include <cstdint>
#include <fstream>
#include <vector>

#include "signals.h"

namespace {

// Plays back a dump file: the reading for the current levels is the byte at
// dump index rx * 1024 + ix.
struct dump_chip final : sim_chip {
    std::vector<uint8_t> data;
    unsigned index = 0;
    void drive(unsigned ix, unsigned rx) override { index = (rx & 0xFFu) << 10 | (ix & 0x3FFu); }
    unsigned read() override { return data[index]; }
};

// What a combinational chip does for the given input levels ix and levels
// on B0..B7: oe bit k when it drives Bk, out bit k the level it drives.
using logic_fn = void (*)(unsigned ix, unsigned pins, unsigned &oe, unsigned &out);

// A combinational chip with real weak-drive behaviour: a pin it does not
// drive shows its weak level, and its logic sees that level too.
struct logic_chip final : sim_chip {
    logic_fn logic = nullptr;
    unsigned ix = 0, rx = 0;
    void drive(unsigned new_ix, unsigned new_rx) override
    {
        ix = new_ix;
        rx = new_rx;
    }
    unsigned read() override
    {
        // Start from the weak levels and let the outputs settle; feedback
        // through driven pins takes a few rounds at most.
        unsigned pins = rx;
        for (int round = 0; round < 8; round++) {
            unsigned oe = 0, out = 0;
            logic(ix, pins, oe, out);
            unsigned next = ((out & oe) | (rx & ~oe)) & 0xFFu;
            if (next == pins)
                break;
            pins = next;
        }
        return pins;
    }
};

unsigned bit(unsigned v, unsigned n)
{
    return (v >> n) & 1u;
}

// The U12 worked example.
void u12_logic(unsigned ix, unsigned pins, unsigned &oe, unsigned &out)
{
    oe = 0;
    out = 0;
    // B7 = I0 AND I1, always driven.
    oe |= 1u << 7;
    out |= (bit(ix, 0) & bit(ix, 1)) << 7;
    // B6 = NOT I3 while I2 is high.
    oe |= bit(ix, 2) << 6;
    out |= (bit(ix, 3) ^ 1u) << 6;
    // B5 and B1 are inputs. B4 is always driven low.
    oe |= 1u << 4;
    // B3 = I4 XOR the level on B5, always driven.
    oe |= 1u << 3;
    out |= (bit(ix, 4) ^ bit(pins, 5)) << 3;
    // B2 high while I5 is low.
    oe |= (bit(ix, 5) ^ 1u) << 2;
    out |= 1u << 2;
    // B0 = I6 while I9 is low.
    oe |= bit(ix, 9) ^ 1u;
    out |= bit(ix, 6);
}

// The PAL worked example: B0..B3 always driven, B4..B7 while I9 is low.
void pal_logic(unsigned ix, unsigned, unsigned &oe, unsigned &out)
{
    unsigned i[10];
    for (unsigned n = 0; n < 10; n++)
        i[n] = bit(ix, n);
    out = (i[0] & i[1]) | (i[2] | i[3]) << 1 | (i[4] ^ 1u) << 2 | (i[5] ^ i[6]) << 3 |
          i[7] << 4 | (i[8] & i[0]) << 5 | ((i[1] ^ 1u) & (i[2] ^ 1u)) << 6 | (i[3] | i[8]) << 7;
    oe = i[9] ? 0x0Fu : 0xFFu;
}

std::unique_ptr<sim_chip> make_dump_chip(const std::string &path, std::string &err)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        err = "cannot read `" + path + "'";
        return nullptr;
    }
    auto chip = std::make_unique<dump_chip>();
    chip->data.resize(DUMP_SIZE + 1);
    f.read(reinterpret_cast<char *>(chip->data.data()), static_cast<std::streamsize>(chip->data.size()));
    size_t got = static_cast<size_t>(f.gcount());
    if (f.bad() || got != DUMP_SIZE) {
        err = "`" + path + "' is not a dump of 262144 bytes";
        return nullptr;
    }
    chip->data.resize(DUMP_SIZE);
    return chip;
}

} // namespace

std::unique_ptr<sim_chip> sim_make_chip(const std::string &setting, std::string &err)
{
    const std::string dump = "dump:", example = "example:", jedec = "jedec:";
    if (setting.compare(0, dump.size(), dump) == 0)
        return make_dump_chip(setting.substr(dump.size()), err);
    if (setting.compare(0, example.size(), example) == 0) {
        std::string name = setting.substr(example.size());
        logic_fn logic = name == "u12" ? u12_logic : name == "pal" ? pal_logic : nullptr;
        if (!logic) {
            err = "no example chip `" + name + "' (u12 or pal)";
            return nullptr;
        }
        auto chip = std::make_unique<logic_chip>();
        chip->logic = logic;
        return chip;
    }
    if (setting.compare(0, jedec.size(), jedec) == 0) {
        std::string rest = setting.substr(jedec.size());
        size_t colon = rest.find(':');
        if (colon == std::string::npos) {
            err = "expected jedec:DEVICE:PATH";
            return nullptr;
        }
        return sim_make_jedec_chip(rest.substr(0, colon), rest.substr(colon + 1), err);
    }
    err = "unknown chip kind (dump:PATH, example:u12, example:pal or jedec:DEVICE:PATH)";
    return nullptr;
}
