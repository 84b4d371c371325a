// Product terms of the output and enable equations of a dump_analysis, and
// the check of printed equations against its dump. A term index is a dump
// index ANDed with a dependence mask; the term table (the CUPL writer's
// scratch) marks which term indices occur at each level, so terms come out
// distinct and in ascending order without sorting.
#ifndef TERMS_H
#define TERMS_H

#include <array>
#include <cstdint>
#include <vector>

#include "logic.h"

#include "analyze.h"
#include "signals.h"

// Output rule: conditions where the pin is driven, at its driven level.
// Enable rule: every condition, at its float level (1 floating).
enum term_rule { RULE_OUTPUT, RULE_ENABLE };

// Two halves of INDEX_WORDS words, bit p of half v marking term index p at
// level v (bit maps as in analyze.h).
struct term_table {
    index_bits marks;
};

// A table for one analysis; reused for every pin and rule.
term_table new_term_table();

// Whether pin Bk gets an equation of this kind.
bool takes_terms(const dump_analysis &a, int k, term_rule rule);

// Marks the term indices of pin Bk at both levels under the rule and mask,
// and returns the counts of distinct term indices per level.
struct term_counts {
    uint32_t n[2];
};
term_counts count_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask);

// The level an equation lists: 1, or 0 when level 0 has fewer (but some) terms.
int choose_level(const term_counts &c);

// What the extraction chose for the equations of pin Bk: the level each
// lists (out_pol: the driven level; oe_pol: the float level, 1 floating)
// and its number of product terms. 0 where the pin takes no equation of
// that kind.
struct pin_terms {
    int32_t out_pol;
    int32_t out_nterms;
    int32_t oe_pol;
    int32_t oe_nterms;
};
using term_choices = std::array<pin_terms, NUM_BX>;

// Extraction for pin Bk: sets out_pol/out_nterms or oe_pol/oe_nterms of choice.
void extract_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, pin_terms &choice);
// Extraction for every pin that takes terms of this kind, B7 first.
void extract_all(const dump_analysis &a, term_table &table, term_rule rule, term_choices &choices);

// Enumeration: marks the term indices of pin Bk at the given level in half 0;
// then next_term(table, 0), next_term(table, t + 1), ... yields them in
// ascending order, and -1 after the last one.
void enumerate_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask, int level);
long next_term(const term_table &table, long from);

// The check of the printed equations against the dump, in the meaning that
// gatesweep-check gives them: the chip they describe, each name of an I/O
// pin meaning the level on that pin, swept as a dump; a pin is driven at an
// index unless it reads 0 with its own weak drive low and 1 with it high,
// and the chip must agree with the dump on that everywhere and, where the
// pin is driven, on its level. Where no printed equation reads a pin that
// ever drives, the level on every pin it reads is its weak level, the
// equations are functions of the dump index and one pass per equation over
// the term table it was written from checks them ("driven" as the float map
// hiz_data has it). Otherwise the equations are kept as truth tables over
// the pins' levels and the chip is swept.
struct equation_check {
    // Where Bk disagrees (by the pass per equation): the bit map of
    // INDEX_WORDS words from k * INDEX_WORDS on.
    index_bits wrong;
    bool by_model = false; // some equation reads a pin that drives: the chip is swept
    // The equations, when by_model: bit k of level[p] and of enable[p] is
    // the value at point p (as logic.h numbers them) of the level and
    // enable equations of Bk; without an enable equation the pin drives
    // everywhere (enable bit 1), without an output it never drives.
    std::vector<uint8_t> level, enable;
    std::array<uint32_t, NUM_BX> reads{}; // the signals the equations of Bk read
};
equation_check new_equation_check(const dump_analysis &a);

// Checks the equation of pin Bk of this kind whose terms are those last
// enumerated (half 0 of the table) over mask, with a '!' when bang. A
// constant 'b'c is checked as the equation without terms, with a '!' when
// c is 1.
void check_terms(const dump_analysis &a, equation_check &check, const term_table &table, int k, term_rule rule,
                 uint32_t mask, bool bang);
void check_constant(const dump_analysis &a, equation_check &check, int k, term_rule rule, int constant);

// Per pin Bk, the number of dump indices where it disagrees; sweeps the
// chip first when the check is by the model (and then says on standard
// error, once, where its feedback does not settle).
std::array<uint32_t, NUM_BX> count_wrong(const dump_analysis &a, equation_check &check);

#endif
