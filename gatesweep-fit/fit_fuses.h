// The fuse map of a fitted design, and its readings in the chip library's
// GAL16V8 model.
#ifndef FIT_FUSES_H
#define FIT_FUSES_H

#include <cstdint>
#include <string>
#include <vector>

#include "fit.h"

// The 2194 fuses of the design (0 a connected fuse).
std::vector<uint8_t> fit_fuses(const fit_design &design);

// The 262144 readings of the fuse map in the GAL16V8 model, driven as the
// dump sweep drives a chip on board A. False with the model's reason in err
// when the text does not build a chip.
bool fit_sweep(const std::string &jedec, const std::string &name, std::vector<uint8_t> &readings,
               std::string &err);

#endif
