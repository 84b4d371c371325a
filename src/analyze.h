// Dump analysis: loads a dump file, classifies the eight I/O pins, finds
// what their levels and enables depend on, and prints the findings and the
// chip's logic as CUPL source (see summary.h, terms.h, cupl.h).
#ifndef ANALYZE_H
#define ANALYZE_H

#include <array>
#include <cstdint>

#include "signals.h"
#include "terms.h"

// Behaviour flags of an I/O pin.
constexpr uint32_t MC_FIXED_LO = 0x01;  // driven somewhere, every driven reading 0
constexpr uint32_t MC_FIXED_HI = 0x02;  // driven somewhere, every driven reading 1
constexpr uint32_t MC_INPUT = 0x04;     // never driven
constexpr uint32_t MC_HIZ = 0x08;       // floats in at least one condition
constexpr uint32_t MC_OUTPUT = 0x10;    // driven in at least one condition

// What the analysis knows about one I/O pin Bk (record k).
struct macrocell {
    uint32_t flags;
    uint32_t out_mask;   // signals the driven level depends on
    int32_t out_pol;     // level listed by the output equation
    int32_t out_nterms;  // its number of product terms
    uint32_t oe_mask;    // signals the float/driven state depends on
    int32_t oe_pol;      // float level listed by the enable equation (1 floating)
    int32_t oe_nterms;   // its number of product terms
};

// The dump image: bit k of data[i] is the level read back on Bk in condition i.
extern std::array<uint8_t, DUMP_SIZE> data;
// The float map: bit k of hiz_data[i] is set when Bk floats in condition i.
extern std::array<uint8_t, DUMP_SIZE> hiz_data;
extern std::array<macrocell, NUM_BX> mc;
// Union of every out_mask and oe_mask.
extern uint32_t iterms_ever_used;

// The analyze command: analyses the dump file and prints the report and the
// CUPL source on standard output, then checks the printed equations against
// the dump. False when the file could not be read.
bool analyze_pal(const char *filename);

// The stages of analyze_pal, in their order.

// Reads the dump file into data (missing bytes 0). Prints the not-found line
// and returns false when the file cannot be opened or is a directory; warns
// on standard error when the file holds fewer than 262144 bytes, or more (of
// which it reads only the first 262144 and one beyond).
bool load_dump(const char *filename);
// Warns on standard error when the 262144 readings of image cannot come from
// a chip in the right adapter board: every byte 0xFF (the pin buffer never
// answered), or every reading equal to its weak drive (no pin ever driven).
// True when it warned.
bool warn_implausible_dump(const uint8_t *image, const char *filename);
// Zeroes the pin records, the float map and iterms_ever_used.
void clear_analysis();
// Fills hiz_data and the flags of every pin.
void classify_pins();
// Fills out_mask and oe_mask of every pin, and iterms_ever_used. An output
// whose driven readings are no function of its out_mask alone, but are one
// of out_mask and oe_mask together (its level changes only where its enable
// changes too), gets the union as its out_mask.
void compute_masks();
// Whether the driven readings of pin Bk are a function of the signals in mask:
// no two conditions that agree on them read different levels while driven.
bool driven_level_follows(int k, uint32_t mask);

// Warns on standard error, a line per pin from B7 down and a closing line,
// when the checked equations get some readings of the dump wrong (as a chip
// that holds state gives). True when it warned.
bool warn_unreproduced(const equation_check &check, const char *filename);

// Whether signal j may be an input of the equations of pin Bk.
bool is_eligible(int j, int k);
// At least one I/O pin floats in some condition.
bool some_pin_floats();

#endif
