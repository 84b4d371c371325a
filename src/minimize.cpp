#include "minimize.h"

#include <algorithm>

namespace {

// Rotations of the expansion order tried per point while the function has
// at most this many ON points; beyond, one order.
constexpr size_t rotation_points = 4096;
// Nodes of the exact cover search before it gives up.
constexpr unsigned long search_budget = 50000;
// Points visited by the lower-bound scan of large tables before it stops.
constexpr unsigned long bound_budget = 20000000;

uint32_t full_mask(unsigned nvars)
{
    return nvars >= 32 ? ~0u : (1u << nvars) - 1;
}

// Calls f(point) for every point of the cube until f returns false; returns
// false when it stopped early.
template <typename F> bool each_point(const cube &c, unsigned nvars, F f)
{
    const uint32_t free = full_mask(nvars) & ~c.care;
    uint32_t s = 0;
    do {
        if (!f(c.value | s))
            return false;
        s = (s - free) & free;
    } while (s != 0);
    return true;
}

struct points {
    std::vector<uint32_t> on;  // ON points, ascending
    std::vector<int32_t> slot; // index in on of each point, -1 elsewhere
};

points on_points(const std::vector<uint8_t> &table, unsigned nvars)
{
    points p;
    p.slot.assign(size_t(1) << nvars, -1);
    for (uint32_t i = 0; i < (uint32_t(1) << nvars); i++) {
        if (table[i] == MIN_ON) {
            p.slot[i] = static_cast<int32_t>(p.on.size());
            p.on.push_back(i);
        }
    }
    return p;
}

cube expand(const std::vector<uint8_t> &table, unsigned nvars, uint32_t point, unsigned first)
{
    cube c{full_mask(nvars), point};
    for (unsigned n = 0; n < nvars; n++) {
        const unsigned v = (first + n) % nvars;
        cube wider{c.care & ~(1u << v), c.value & ~(1u << v)};
        if (cube_off_free(table, nvars, wider))
            c = wider;
    }
    return c;
}

unsigned count_uncovered(const cube &c, unsigned nvars, const points &p, const std::vector<uint8_t> &covered)
{
    unsigned n = 0;
    each_point(c, nvars, [&](uint32_t x) {
        int32_t s = p.slot[x];
        if (s >= 0 && !covered[static_cast<size_t>(s)])
            n++;
        return true;
    });
    return n;
}

// Every uncovered ON point, in ascending order, is expanded into a prime
// (the widest of the rotations tried), then terms whose points others cover
// too are dropped, last found first.
std::vector<cube> heuristic_cover(const std::vector<uint8_t> &table, unsigned nvars, const points &p)
{
    std::vector<uint8_t> covered(p.on.size(), 0);
    std::vector<cube> cover;
    const unsigned rotations = (p.on.size() <= rotation_points && nvars > 0) ? nvars : 1;
    for (size_t i = 0; i < p.on.size(); i++) {
        if (covered[i])
            continue;
        cube best{};
        unsigned best_gain = 0;
        for (unsigned r = 0; r < rotations; r++) {
            cube c = expand(table, nvars, p.on[i], r);
            unsigned gain = rotations > 1 ? count_uncovered(c, nvars, p, covered) : 1;
            if (gain > best_gain) {
                best = c;
                best_gain = gain;
            }
        }
        cover.push_back(best);
        each_point(best, nvars, [&](uint32_t x) {
            if (p.slot[x] >= 0)
                covered[static_cast<size_t>(p.slot[x])] = 1;
            return true;
        });
    }

    std::vector<unsigned> times(p.on.size(), 0);
    for (const cube &c : cover)
        each_point(c, nvars, [&](uint32_t x) {
            if (p.slot[x] >= 0)
                times[static_cast<size_t>(p.slot[x])]++;
            return true;
        });
    std::vector<cube> kept;
    std::vector<bool> keep(cover.size(), true);
    for (size_t t = cover.size(); t-- > 0;) {
        bool shared = each_point(cover[t], nvars, [&](uint32_t x) {
            return p.slot[x] < 0 || times[static_cast<size_t>(p.slot[x])] >= 2;
        });
        if (!shared)
            continue;
        keep[t] = false;
        each_point(cover[t], nvars, [&](uint32_t x) {
            if (p.slot[x] >= 0)
                times[static_cast<size_t>(p.slot[x])]--;
            return true;
        });
    }
    for (size_t t = 0; t < cover.size(); t++)
        if (keep[t])
            kept.push_back(cover[t]);
    return kept;
}

// All primes that hold an ON point, from a table over the 3^n cubes: a cube
// with a free variable is free of OFF points when both its halves are.
std::vector<cube> all_primes(const std::vector<uint8_t> &table, unsigned nvars)
{
    constexpr uint8_t ok = 1, has_on = 2;
    std::vector<uint32_t> pow3(nvars + 1, 1);
    for (unsigned v = 1; v <= nvars; v++)
        pow3[v] = pow3[v - 1] * 3;
    const uint32_t count = pow3[nvars];
    std::vector<uint8_t> flags(count, 0);
    std::vector<uint8_t> digit(nvars, 0);
    for (uint32_t c = 0; c < count; c++) {
        if (c > 0) { // odometer in base 3
            for (unsigned v = 0; v < nvars; v++) {
                if (++digit[v] < 3)
                    break;
                digit[v] = 0;
            }
        }
        unsigned dash = nvars;
        uint32_t point = 0;
        for (unsigned v = 0; v < nvars; v++) {
            if (digit[v] == 2 && dash == nvars)
                dash = v;
            point |= uint32_t(digit[v] == 1) << v;
        }
        if (dash == nvars) {
            uint8_t t = table[point];
            flags[c] = static_cast<uint8_t>((t != MIN_OFF ? ok : 0) | (t == MIN_ON ? has_on : 0));
        } else {
            uint8_t a = flags[c - 2 * pow3[dash]], b = flags[c - pow3[dash]];
            flags[c] = static_cast<uint8_t>((a & b & ok) | ((a | b) & has_on));
        }
    }

    std::vector<cube> primes;
    std::fill(digit.begin(), digit.end(), 0);
    for (uint32_t c = 0; c < count; c++) {
        if (c > 0) {
            for (unsigned v = 0; v < nvars; v++) {
                if (++digit[v] < 3)
                    break;
                digit[v] = 0;
            }
        }
        if (flags[c] != (ok | has_on))
            continue;
        bool prime = true;
        cube q;
        for (unsigned v = 0; v < nvars && prime; v++) {
            if (digit[v] == 2)
                continue;
            if (flags[c + (2 - digit[v]) * pow3[v]] & ok)
                prime = false;
            q.care |= 1u << v;
            q.value |= uint32_t(digit[v] == 1) << v;
        }
        if (prime)
            primes.push_back(q);
    }
    return primes;
}

// Branch and bound over the primes for a cover smaller than the best so far.
struct cover_search {
    std::vector<std::vector<uint32_t>> prime_points; // ON slots of each prime
    std::vector<std::vector<uint32_t>> point_primes; // primes holding each ON slot
    std::vector<unsigned> cover_count;               // chosen primes holding each slot
    std::vector<uint32_t> chosen;
    std::vector<uint32_t> best;
    size_t best_size = 0;
    unsigned long nodes = 0;
    bool exhausted = false;

    // Uncovered points no two of which share a prime: each needs its own term.
    unsigned independent_bound(std::vector<uint8_t> &used) const
    {
        std::fill(used.begin(), used.end(), 0);
        unsigned n = 0;
        for (size_t i = 0; i < point_primes.size(); i++) {
            if (cover_count[i])
                continue;
            bool free = true;
            for (uint32_t q : point_primes[i])
                free = free && !used[q];
            if (!free)
                continue;
            n++;
            for (uint32_t q : point_primes[i])
                used[q] = 1;
        }
        return n;
    }

    void run(std::vector<uint8_t> &used)
    {
        if (++nodes > search_budget) {
            exhausted = true;
            return;
        }
        // The uncovered point with the fewest primes decides the branching.
        size_t pick = point_primes.size();
        for (size_t i = 0; i < point_primes.size(); i++) {
            if (cover_count[i])
                continue;
            if (pick == point_primes.size() || point_primes[i].size() < point_primes[pick].size())
                pick = i;
        }
        if (pick == point_primes.size()) {
            best = chosen;
            best_size = chosen.size();
            return;
        }
        if (chosen.size() + independent_bound(used) >= best_size)
            return;
        for (uint32_t q : point_primes[pick]) {
            chosen.push_back(q);
            for (uint32_t s : prime_points[q])
                cover_count[s]++;
            run(used);
            for (uint32_t s : prime_points[q])
                cover_count[s]--;
            chosen.pop_back();
            if (exhausted)
                return;
        }
    }
};

// Exact minimisation over all primes, starting from a known cover. Sets the
// result's cover, bound and minimality.
void exact_cover(const std::vector<uint8_t> &table, unsigned nvars, const points &p, unsigned limit,
                 min_result &res)
{
    std::vector<cube> primes = all_primes(table, nvars);
    cover_search s;
    s.prime_points.resize(primes.size());
    s.point_primes.resize(p.on.size());
    for (size_t q = 0; q < primes.size(); q++) {
        each_point(primes[q], nvars, [&](uint32_t x) {
            if (p.slot[x] >= 0) {
                s.prime_points[q].push_back(static_cast<uint32_t>(p.slot[x]));
                s.point_primes[static_cast<size_t>(p.slot[x])].push_back(static_cast<uint32_t>(q));
            }
            return true;
        });
    }
    // Wider primes first within each branching.
    for (std::vector<uint32_t> &list : s.point_primes)
        std::stable_sort(list.begin(), list.end(), [&](uint32_t a, uint32_t b) {
            return s.prime_points[a].size() > s.prime_points[b].size();
        });
    s.cover_count.assign(p.on.size(), 0);
    s.best_size = res.cover.size();
    std::vector<uint8_t> used(primes.size(), 0);
    const unsigned root_bound = std::max(1u, s.independent_bound(used));
    if (root_bound >= res.cover.size() || root_bound > limit) {
        // Already minimal, or no cover within the limit exists.
        res.minimal = root_bound >= res.cover.size();
        res.lower_bound = root_bound;
        return;
    }
    s.run(used);
    if (!s.best.empty() || p.on.empty()) {
        res.cover.clear();
        for (uint32_t q : s.best)
            res.cover.push_back(primes[q]);
    }
    res.minimal = !s.exhausted;
    res.lower_bound = res.minimal ? static_cast<unsigned>(res.cover.size()) : root_bound;
}

// For tables too large for the exact search: ON points no two of which fit
// in one OFF-free cube, up to limit + 1 of them.
unsigned incompatible_points(const std::vector<uint8_t> &table, unsigned nvars, const points &p, unsigned limit)
{
    std::vector<uint32_t> chosen;
    unsigned long visited = 0;
    const uint32_t full = full_mask(nvars);
    for (uint32_t x : p.on) {
        if (chosen.size() > limit || visited > bound_budget)
            break;
        bool alone = true;
        for (uint32_t y : chosen) {
            cube span{full & ~(x ^ y), x & full & ~(x ^ y)};
            bool clean = each_point(span, nvars, [&](uint32_t z) {
                visited++;
                return table[z] != MIN_OFF;
            });
            if (clean) {
                alone = false;
                break;
            }
        }
        if (alone)
            chosen.push_back(x);
    }
    return static_cast<unsigned>(chosen.size());
}

} // namespace

bool cube_off_free(const std::vector<uint8_t> &table, unsigned nvars, const cube &c)
{
    return each_point(c, nvars, [&](uint32_t x) { return table[x] != MIN_OFF; });
}

bool cover_holds(const std::vector<cube> &cover, uint32_t point)
{
    for (const cube &c : cover)
        if ((point & c.care) == c.value)
            return true;
    return false;
}

min_result minimize(const std::vector<uint8_t> &table, unsigned nvars, unsigned limit)
{
    min_result res;
    points p = on_points(table, nvars);
    if (p.on.empty()) {
        res.minimal = true;
        return res;
    }
    res.cover = heuristic_cover(table, nvars, p);
    if (res.cover.size() == 1) {
        res.lower_bound = 1;
        res.minimal = true;
        return res;
    }
    if (nvars <= MIN_EXACT_VARS) {
        exact_cover(table, nvars, p, limit, res);
        return res;
    }
    res.lower_bound = std::max(1u, incompatible_points(table, nvars, p, limit));
    res.minimal = res.lower_bound >= res.cover.size();
    return res;
}
