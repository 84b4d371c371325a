#include "fit_fuses.h"

#include <memory>
#include <utility>

#include "chip.h"
#include "sweep.h"

namespace {

// Row `row' as the product term c: the true or the complement column of
// each signal of c connected, every other fuse blown.
void write_row(std::vector<uint8_t> &fuses, const gal_columns &cols, unsigned row, const cube &c)
{
    for (unsigned f = 0; f < gal_row_fuses; f++)
        fuses[row * gal_row_fuses + f] = 1;
    for (unsigned n = 0; n < NUM_SIGNALS; n++) {
        if (!(c.care >> n & 1))
            continue;
        const int p = gal_column_of(cols, n);
        const unsigned col = 2 * static_cast<unsigned>(p) + ((c.value >> n & 1) ? 0 : 1);
        fuses[row * gal_row_fuses + col] = 0;
    }
}

} // namespace

std::vector<uint8_t> fit_fuses(const fit_design &design)
{
    const gal_mode_entry &mode = *design.mode;
    const gal_columns &cols = *mode.columns;
    // Unused rows keep every fuse: a column and its complement, never true.
    std::vector<uint8_t> fuses(gal_fuse_count, 0);
    for (unsigned r = 0; r < gal_rows; r++)
        fuses[gal_ptd + r] = 1;
    fuses[gal_syn] = static_cast<uint8_t>(mode.syn);
    fuses[gal_ac0] = static_cast<uint8_t>(mode.ac0);
    for (int k = 0; k < NUM_BX; k++) {
        const fit_pin &pin = design.pin[static_cast<size_t>(k)];
        const unsigned cell = 7 - static_cast<unsigned>(k);
        unsigned row = gal_first_row(static_cast<unsigned>(k));
        // Simple mode: AC1 makes an input; the other modes want it set on
        // every combinational cell, and registered mode clear on a register.
        fuses[gal_ac1 + cell] = static_cast<uint8_t>(mode.mode == gal_simple ? !pin.output : !pin.registered);
        if (!pin.output)
            continue; // an enable that never holds, or a simple-mode input
        // A register has no enable row: all eight rows are its D terms.
        if (mode.enable_term && !pin.registered) {
            if (pin.oe.present && !pin.oe.terms.empty())
                write_row(fuses, cols, row, pin.oe.terms[0]);
            else
                write_row(fuses, cols, row, cube{}); // always driven
            row++;
        }
        if (pin.out.constant >= 0) {
            fuses[gal_xor + cell] = static_cast<uint8_t>(pin.out.level);
            if (pin.out.constant == 1)
                write_row(fuses, cols, row, cube{});
            continue;
        }
        fuses[gal_xor + cell] = static_cast<uint8_t>(pin.out.level);
        for (const cube &c : pin.out.terms)
            write_row(fuses, cols, row++, c);
    }
    return fuses;
}

bool fit_sweep(const std::string &jedec, const std::string &name, std::vector<uint8_t> &readings, std::string &err)
{
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip_text("GAL16V8", jedec, name, err);
    if (!chip)
        return false;
    readings = sweep_chip(std::move(chip));
    return true;
}
