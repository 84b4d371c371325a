// Two-level minimisation of a Boolean function with don't-cares: a sum of
// as few product terms as the fitter needs. A heuristic cover (expansion of
// every uncovered point into a prime, then removal of redundant terms, then
// rounds of shrinking and widening every term) is checked and improved by an
// exact search (all primes, then a bounded branch-and-bound cover) up to
// MIN_EXACT_VARS variables. Above, a lower bound from points that no term
// can share tells when no cover within a limit exists, and where one might,
// a cover search over primes grown from the points in many orders looks for
// it. Deterministic: the same table always gives the same cover.
#ifndef MINIMIZE_H
#define MINIMIZE_H

#include <cstdint>
#include <vector>

// A product term over variables 0..n-1: the variables in care must have the
// levels in value (value holds no bit outside care).
struct cube {
    uint32_t care = 0;
    uint32_t value = 0;
};

// Values of a function table, one byte per point (bit v of the point's
// index is variable v).
constexpr uint8_t MIN_OFF = 0;
constexpr uint8_t MIN_ON = 1;
constexpr uint8_t MIN_DC = 2;

// Largest number of variables of a table.
constexpr unsigned MIN_MAX_VARS = 18;
// Largest number of variables for which the exact search runs.
constexpr unsigned MIN_EXACT_VARS = 12;

struct min_result {
    std::vector<cube> cover; // terms in the order found
    unsigned lower_bound = 0; // no cover has fewer terms
    bool minimal = false;     // the cover has the fewest terms possible
};

// Minimises the function of table (2^nvars entries of MIN_OFF, MIN_ON,
// MIN_DC). The cover holds every ON point and no OFF point. When some cover
// of at most limit terms exists and nvars <= MIN_EXACT_VARS, the cover
// returned has at most limit terms (unless the bounded search gives up,
// which minimal then shows); larger tables rely on the heuristic and the
// sampled primes.
min_result minimize(const std::vector<uint8_t> &table, unsigned nvars, unsigned limit);

// Whether the cube holds no OFF point of the table.
bool cube_off_free(const std::vector<uint8_t> &table, unsigned nvars, const cube &c);

// The value of a sum of cubes at a point.
bool cover_holds(const std::vector<cube> &cover, uint32_t point);

#endif
