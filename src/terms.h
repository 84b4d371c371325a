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
// level v in half v, and returns the counts of distinct term indices per
// level.
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

// Extraction for pin Bk: count_terms and choose_level, setting
// out_pol/out_nterms or oe_pol/oe_nterms of choice. The table then holds
// the term indices of both levels.
void extract_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, pin_terms &choice);
// Extraction for every pin that takes terms of this kind, B7 first.
void extract_all(const dump_analysis &a, term_table &table, term_rule rule, term_choices &choices);

// Whether the equation of this kind that lists the given level is written
// with a '!': an output listing level 0, an enable listing the floating
// conditions (level 1), whose terms say where the pin does not drive.
inline bool equation_bang(term_rule rule, int level)
{
    return rule == RULE_OUTPUT ? level == 0 : level == 1;
}

// Enumeration of the term indices at a level, as the last count_terms or
// extract_terms marked them: next_term(table, level, 0), next_term(table,
// level, t + 1), ... yields them in ascending order, and -1 after the last.
long next_term(const term_table &table, int level, long from);

// The check of the printed equations against the dump, in the meaning that
// gatesweep-check gives them: the chip they describe, each name of an I/O
// pin meaning the level on that pin, swept as a dump; a pin is driven at an
// index unless it reads 0 with its own weak drive low and 1 with it high,
// and the chip must agree with the dump on that everywhere and, where the
// pin is driven, on its level.
//
// Each equation is first checked as a function of the dump index (each
// name of an I/O pin then meaning its weak drive): it is right at index i
// unless the term index of i is marked at both levels, where the equation
// gets the conditions of the level it does not list wrong. Where no printed
// equation reads a pin that ever drives, that is the whole check, the level
// on every pin an equation reads being its weak level. Otherwise (by_model)
// the equations also hold in the chip's meaning when they hold as functions
// of the dump index, the chip holds no loop, no reading changes across the
// weak drive of a pin they read where that pin drives, and no enable that
// reads such a pin leaves a question open (model_reproduces_dump in
// terms.cpp says why). When that is not shown, the equations are made
// again as truth tables over the pins' levels and the chip is swept.
//
// What the check keeps of a printed equation: enough to make it again.
struct printed_equation {
    bool printed = false;
    int constant = -1;   // 0 or 1 for 'b'0 or 'b'1; -1: terms
    uint32_t mask = 0;   // the signals of its terms
    int level = 0;       // the level whose term indices are its terms
};
struct equation_check {
    bool by_model = false; // some equation reads a pin that drives
    bool inexact = false;  // some equation is wrong somewhere as a function of the dump index
    // Where Bk disagrees as a function of the dump index, when not by_model:
    // the bit map of INDEX_WORDS words from k * INDEX_WORDS on. Empty until
    // the first disagreement.
    index_bits wrong;
    std::array<printed_equation, NUM_BX> output, enable;
    std::array<uint32_t, NUM_BX> reads{}; // the signals the equations of Bk read
};
equation_check new_equation_check(const dump_analysis &a);

// Checks the equation of pin Bk of this kind whose terms are those of the
// given level in the table over mask (with the '!' of equation_bang), the
// table holding both levels as extract_terms left them; half 1 - level is
// overwritten. A constant 'b'c is checked as the equation without terms,
// with a '!' when c is 1.
void check_terms(const dump_analysis &a, equation_check &check, term_table &table, int k, term_rule rule,
                 uint32_t mask, int level);
void check_constant(const dump_analysis &a, equation_check &check, int k, term_rule rule, int constant);

// Per pin Bk, the number of dump indices where it disagrees; sweeps the
// chip first when the check is by the model and the equations cannot be
// shown to hold without it (and then says on standard error, once, where
// its feedback does not settle).
std::array<uint32_t, NUM_BX> count_wrong(const dump_analysis &a, equation_check &check);

#endif
