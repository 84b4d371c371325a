// The GAL16V8's architecture as its fuse map sets it up: what feeds each
// column pair of the AND array in each mode, where the per-cell and mode
// fuses sit, and what each mode lets the I/O pins do. The chip model reads
// it to build a chip from a fuse map; the fitter reads it to build a fuse
// map for a chip. The PAL16L8 and the registered PALs share its column
// orders.
#ifndef SIM_GAL16V8_H
#define SIM_GAL16V8_H

#include <array>
#include <cstdint>

// What feeds one column pair of the AND array (true column 2p, complement
// 2p+1): a dedicated input In, or the level of I/O pin Bk (its register
// where it has one).
enum gal_source_kind : uint8_t { gal_src_input, gal_src_pin };

struct gal_column_source {
    gal_source_kind kind;
    uint8_t n; // In for gal_src_input, Bk for gal_src_pin
};

constexpr gal_column_source gal_in(unsigned n) { return {gal_src_input, static_cast<uint8_t>(n)}; }
constexpr gal_column_source gal_fb(unsigned k) { return {gal_src_pin, static_cast<uint8_t>(k)}; }

using gal_columns = std::array<gal_column_source, 16>;

// Column pairs of the array, left to right, as package pins: pin 2, pin 1,
// pin 3, pin 18, pin 4, pin 17, pin 5, pin 16, pin 6, pin 15, pin 7, pin 14,
// pin 8, pin 13, pin 9, pin 11. The registered parts (and the GAL16V8's
// registered mode) take pins 19 and 12 where pins 1 and 11 were; the
// GAL16V8's simple mode feeds each pair from the neighbouring pin, further
// from the middle, so pins 15 and 16 reach the array nowhere.
constexpr gal_columns gal_columns_combinational = {
    gal_in(1), gal_in(0), gal_in(2), gal_fb(6), gal_in(3), gal_fb(5), gal_in(4), gal_fb(4),
    gal_in(5), gal_fb(3), gal_in(6), gal_fb(2), gal_in(7), gal_fb(1), gal_in(8), gal_in(9)};
constexpr gal_columns gal_columns_registered = {
    gal_in(1), gal_fb(7), gal_in(2), gal_fb(6), gal_in(3), gal_fb(5), gal_in(4), gal_fb(4),
    gal_in(5), gal_fb(3), gal_in(6), gal_fb(2), gal_in(7), gal_fb(1), gal_in(8), gal_fb(0)};
constexpr gal_columns gal_columns_simple = {
    gal_in(1), gal_in(0), gal_in(2), gal_fb(7), gal_in(3), gal_fb(6), gal_in(4), gal_fb(5),
    gal_in(5), gal_fb(2), gal_in(6), gal_fb(1), gal_in(7), gal_fb(0), gal_in(8), gal_in(9)};

// The array: 64 rows of 32 fuses; the cell of pin Bk owns rows 8 * (7 - k)
// to 8 * (7 - k) + 7. A fuse at 0 connects its column to the row.
constexpr unsigned gal_row_fuses = 32;
constexpr unsigned gal_rows = 64;
constexpr unsigned gal_rows_per_cell = 8;
constexpr unsigned gal_array_fuses = gal_rows * gal_row_fuses;
constexpr unsigned gal_first_row(unsigned k) { return gal_rows_per_cell * (7 - k); }

// GAL16V8 fuses past the array. Each block of eight runs from the cell of
// pin 19 (B7) to the cell of pin 12 (B0): the cell of Bk is at offset 7 - k.
constexpr unsigned gal_fuse_count = 2194;
constexpr unsigned gal_xor = 2048; // 1: the pin is high when its sum holds
constexpr unsigned gal_ues = 2056; // 64 bits of user signature
constexpr unsigned gal_ac1 = 2120;
constexpr unsigned gal_ptd = 2128; // one per row; 0 disables the term
constexpr unsigned gal_syn = 2192;
constexpr unsigned gal_ac0 = 2193;

// The three modes, selected by SYN and AC0:
// - simple (SYN 1, AC0 0): no enables; a cell is an always-driven output
//   with eight terms (AC1 0) or an input (AC1 1); simple columns.
// - complex (SYN 1, AC0 1): every cell is a combinational output whose
//   first row is its enable term, seven terms for its level; combinational
//   columns.
// - registered (SYN 0, AC0 1): a cell is a register (AC1 0) or a
//   combinational output as in complex mode (AC1 1); registered columns,
//   pin 1 the clock and pin 11 the registers' enable.
enum gal_mode { gal_simple, gal_complex, gal_registered };

struct gal_mode_entry {
    gal_mode mode;
    const char *name;
    unsigned syn, ac0;
    const gal_columns *columns;
    bool enable_term;     // the first row of each cell is its enable term
    unsigned level_terms; // rows left for the level of a combinational output
};

constexpr std::array<gal_mode_entry, 3> gal_modes = {{
    {gal_simple, "simple", 1, 0, &gal_columns_simple, false, 8},
    {gal_complex, "complex", 1, 1, &gal_columns_combinational, true, 7},
    {gal_registered, "registered", 0, 1, &gal_columns_registered, true, 7},
}};

// Signals that reach the array through a column table: bit n for input In,
// bit 10 + k for pin Bk (the numbering of a dump index).
constexpr uint32_t gal_array_signals(const gal_columns &cols)
{
    uint32_t s = 0;
    for (const gal_column_source &c : cols)
        s |= 1u << (c.kind == gal_src_input ? c.n : 10u + c.n);
    return s;
}

// The column pair that carries signal n (numbered as above), or -1.
constexpr int gal_column_of(const gal_columns &cols, unsigned n)
{
    for (unsigned p = 0; p < cols.size(); p++) {
        unsigned s = cols[p].kind == gal_src_input ? cols[p].n : 10u + cols[p].n;
        if (s == n)
            return static_cast<int>(p);
    }
    return -1;
}

#endif
