#include "jedec.h"
#include "gal16v8.h"
#include "jedec_file.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

enum cell_kind : uint8_t { cell_input, cell_comb, cell_reg };

// A sum of product terms. A term is the mask of its connected columns; it
// holds when every connected column is high. Terms that can never hold are
// left out; a term with nothing connected makes the sum always true.
struct term_sum {
    std::array<uint32_t, 8> terms{};
    unsigned count = 0;
    bool always = false;
};

struct jedec_cell {
    cell_kind kind = cell_input;
    term_sum out; // product terms of the output (the D terms of a register)
    term_sum oe;  // enable of a combinational output
    unsigned invert = 1; // 1: the pin is low when the sum holds
};

enum device_kind { dev_pal16l8, dev_pal16r4, dev_pal16r6, dev_pal16r8, dev_gal16v8 };

struct device_entry {
    const char *name;
    device_kind kind;
    unsigned fuses;
    uint8_t reg_mask; // I/O pins with a register (PALs)
};

const std::array<device_entry, 5> device_table = {{
    {"PAL16L8", dev_pal16l8, 2048, 0x00},
    {"PAL16R4", dev_pal16r4, 2048, 0x3C}, // pins 14 to 17
    {"PAL16R6", dev_pal16r6, 2048, 0x7E}, // pins 13 to 18
    {"PAL16R8", dev_pal16r8, 2048, 0xFF},
    {"GAL16V8", dev_gal16v8, 2194, 0x00},
}};

struct jedec_chip final : sim_chip {
    std::array<jedec_cell, 8> cell;
    // Array column levels contributed by the inputs, the pins and the
    // registers, indexed by their levels; the column word is their OR.
    std::array<uint32_t, 1024> col_ix{};
    std::array<uint32_t, 256> col_pin{};
    std::array<uint32_t, 256> col_reg{};
    unsigned comb_mask = 0, reg_mask = 0, input_mask = 0;
    unsigned ix = 0, rx = 0;
    unsigned pins = 0;   // levels on B0..B7
    unsigned reg = 0xFF; // levels the registers put on their pins (Q = 0)
    bool reported = false;
    std::string path;

    void drive(unsigned new_ix, unsigned new_rx) override;
    unsigned read() override { return pins; }
    unsigned power_up(unsigned q) override;
};

inline bool sum_holds(const term_sum &s, uint32_t columns)
{
    if (s.always)
        return true;
    for (unsigned i = 0; i < s.count; i++) {
        if ((s.terms[i] & ~columns) == 0)
            return true;
    }
    return false;
}

void add_row(term_sum &s, const std::vector<uint8_t> &fuses, unsigned row, bool enabled)
{
    if (!enabled)
        return;
    uint32_t conn = 0;
    for (unsigned c = 0; c < 32; c++) {
        if (fuses[row * 32 + c] == 0)
            conn |= 1u << c;
    }
    if (conn & (conn >> 1) & 0x55555555u)
        return; // holds a column and its complement: never true
    if (conn == 0)
        s.always = true;
    else
        s.terms[s.count++] = conn;
}

void fill_columns(jedec_chip &chip, const gal_columns &cols)
{
    for (unsigned p = 0; p < 16; p++) {
        const gal_column_source &src = cols[p];
        uint32_t high = 1u << (2 * p), low = 1u << (2 * p + 1);
        if (src.kind == gal_src_input) {
            for (unsigned v = 0; v < 1024; v++)
                chip.col_ix[v] |= (v >> src.n & 1) ? high : low;
        } else if (src.kind == gal_src_pin) {
            std::array<uint32_t, 256> &table = (chip.reg_mask >> src.n & 1) ? chip.col_reg : chip.col_pin;
            for (unsigned v = 0; v < 256; v++)
                table[v] |= (v >> src.n & 1) ? high : low;
        }
    }
}

// Cell of pin Bk uses rows 8 * (7 - k) to 8 * (7 - k) + 7.
void build_cell(jedec_chip &chip, const std::vector<uint8_t> &fuses, unsigned k, cell_kind kind,
                bool oe_term, const std::vector<bool> &row_enabled)
{
    jedec_cell &m = chip.cell[k];
    unsigned first = gal_first_row(k);
    m.kind = kind;
    if (kind == cell_input)
        return;
    unsigned row = first;
    if (kind == cell_comb) {
        if (oe_term)
            add_row(m.oe, fuses, row++, row_enabled[first]);
        else
            m.oe.always = true;
    }
    for (; row < first + 8; row++)
        add_row(m.out, fuses, row, row_enabled[row]);
}

bool build_chip(jedec_chip &chip, const device_entry &dev, const std::vector<uint8_t> &fuses,
                std::string &err)
{
    std::vector<bool> enabled(64, true);
    const gal_columns *cols = &gal_columns_combinational;
    if (dev.kind != dev_gal16v8) {
        chip.reg_mask = dev.reg_mask;
        for (unsigned k = 0; k < 8; k++)
            build_cell(chip, fuses, k, (dev.reg_mask >> k & 1) ? cell_reg : cell_comb, true, enabled);
        if (dev.kind != dev_pal16l8)
            cols = &gal_columns_registered;
    } else {
        for (unsigned r = 0; r < 64; r++)
            enabled[r] = fuses[gal_ptd + r] != 0;
        unsigned syn = fuses[gal_syn], ac0 = fuses[gal_ac0];
        for (unsigned k = 0; k < 8; k++) {
            unsigned ac1 = fuses[gal_ac1 + 7 - k];
            chip.cell[k].invert = fuses[gal_xor + 7 - k] ? 0 : 1;
            if (syn && !ac0) { // simple: plain outputs, or inputs
                build_cell(chip, fuses, k, ac1 ? cell_input : cell_comb, false, enabled);
                cols = &gal_columns_simple;
            } else if (syn && ac0) { // complex: every output has its enable term
                build_cell(chip, fuses, k, cell_comb, true, enabled);
            } else if (ac0) { // registered: AC1 picks register or combinational output
                if (!ac1)
                    chip.reg_mask |= 1u << k;
                build_cell(chip, fuses, k, ac1 ? cell_comb : cell_reg, true, enabled);
                cols = &gal_columns_registered;
            } else {
                err = "the mode fuses SYN=0 AC0=0 select no GAL16V8 mode";
                return false;
            }
        }
    }
    for (unsigned k = 0; k < 8; k++) {
        if (chip.cell[k].kind == cell_comb)
            chip.comb_mask |= 1u << k;
        else if (chip.cell[k].kind == cell_input)
            chip.input_mask |= 1u << k;
    }
    fill_columns(chip, *cols);
    return true;
}

void settle(jedec_chip &chip)
{
    unsigned driven_regs = (chip.ix & 0x200) ? 0 : chip.reg_mask;
    unsigned fixed = chip.reg_mask | chip.input_mask;
    unsigned weak_fixed = fixed & ~driven_regs;
    chip.pins = (chip.pins & ~fixed) | (chip.reg & driven_regs) | (chip.rx & weak_fixed);
    if (!chip.comb_mask)
        return;

    uint32_t base = chip.col_ix[chip.ix] | chip.col_reg[chip.reg];
    unsigned changed = 0;
    for (unsigned pass = 0; pass < jedec_settle_passes; pass++) {
        changed = 0;
        for (unsigned k = 8; k-- > 0;) {
            if (!(chip.comb_mask >> k & 1))
                continue;
            const jedec_cell &m = chip.cell[k];
            uint32_t columns = base | chip.col_pin[chip.pins];
            unsigned level = sum_holds(m.oe, columns)
                                 ? (static_cast<unsigned>(sum_holds(m.out, columns)) ^ m.invert)
                                 : (chip.rx >> k & 1);
            if (level != (chip.pins >> k & 1)) {
                chip.pins ^= 1u << k;
                changed |= 1u << k;
            }
        }
        if (!changed)
            return;
    }
    if (!chip.reported) {
        chip.reported = true;
        std::string names;
        for (unsigned k = 8; k-- > 0;) {
            if (changed >> k & 1)
                names += " B" + std::to_string(k);
        }
        std::fprintf(stderr,
                     "jedec: %s: feedback through%s does not settle at inputs 0x%03X, weak drive 0x%02X; "
                     "keeping the levels after %u passes (reported once)\n",
                     chip.path.c_str(), names.c_str(), chip.ix, chip.rx, jedec_settle_passes);
    }
}

void jedec_chip::drive(unsigned new_ix, unsigned new_rx)
{
    new_ix &= 0x3FF;
    new_rx &= 0xFF;
    if (reg_mask && !(ix & 1) && (new_ix & 1)) {
        uint32_t columns = col_ix[ix] | col_pin[pins] | col_reg[reg];
        unsigned next = reg;
        for (unsigned k = 0; k < 8; k++) {
            if (!(reg_mask >> k & 1))
                continue;
            unsigned level = static_cast<unsigned>(sum_holds(cell[k].out, columns)) ^ cell[k].invert;
            next = (next & ~(1u << k)) | (level << k);
        }
        reg = next;
    }
    ix = new_ix;
    rx = new_rx;
    settle(*this);
}

unsigned jedec_chip::power_up(unsigned q)
{
    reg = ~(q & reg_mask) & 0xFF;
    settle(*this);
    return reg_mask;
}

bool same_name(const std::string &a, const char *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; i++) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    }
    return i == a.size() && !b[i];
}

} // namespace

std::unique_ptr<sim_chip> sim_make_jedec_chip(const std::string &device, const std::string &path,
                                              std::string &err)
{
    std::string text;
    if (!jedec_read_file(path, text, err))
        return nullptr;
    return sim_make_jedec_chip_text(device, text, path, err);
}

std::unique_ptr<sim_chip> sim_make_jedec_chip_text(const std::string &device, const std::string &text,
                                                   const std::string &name, std::string &err)
{
    const device_entry *dev = nullptr;
    for (const device_entry &d : device_table) {
        if (same_name(device, d.name))
            dev = &d;
    }
    if (!dev) {
        err = "unknown device `" + device + "' (PAL16L8, PAL16R4, PAL16R6, PAL16R8 or GAL16V8)";
        return nullptr;
    }
    std::vector<uint8_t> fuses;
    bool checked = false;
    if (!jedec_parse(text, dev->fuses, fuses, err, &checked))
        return nullptr;
    if (!checked)
        std::fprintf(stderr, "jedec: %s: no fuse checksum (C field); the fuses are taken unchecked\n",
                     name.c_str());

    auto chip = std::make_unique<jedec_chip>();
    chip->path = name;
    if (!build_chip(*chip, *dev, fuses, err))
        return nullptr;
    settle(*chip);
    return chip;
}
