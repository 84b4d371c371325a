#include "minimize.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace {

// Rotations of the expansion order tried per point while the function has
// at most this many ON points; beyond, one order.
constexpr size_t rotation_points = 4096;
// Nodes of the exact cover search before it gives up.
constexpr unsigned long search_budget = 50000;
// Sampled primes: how many should hold each ON point, and how many in all
// before the sampling gives up.
constexpr size_t sample_depth = 2;
constexpr size_t sample_primes = 20000;
// Covers up to this many terms get the reduce-and-widen rounds.
constexpr size_t improve_terms = 64;
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
    std::vector<uint32_t> off; // OFF points, ascending
    std::vector<int32_t> slot; // index in on of each point, -1 elsewhere
};

// cube_off_free by whichever is shorter: the cube's points or the OFF list.
bool off_free(const std::vector<uint8_t> &table, unsigned nvars, const points &p, const cube &c)
{
    unsigned free = 0;
    for (uint32_t f = full_mask(nvars) & ~c.care; f; f &= f - 1)
        free++;
    if ((uint64_t(1) << free) <= p.off.size())
        return cube_off_free(table, nvars, c);
    for (uint32_t x : p.off)
        if ((x & c.care) == c.value)
            return false;
    return true;
}

points on_points(const std::vector<uint8_t> &table, unsigned nvars)
{
    points p;
    p.slot.assign(size_t(1) << nvars, -1);
    for (uint32_t i = 0; i < (uint32_t(1) << nvars); i++) {
        if (table[i] == MIN_ON) {
            p.slot[i] = static_cast<int32_t>(p.on.size());
            p.on.push_back(i);
        } else if (table[i] == MIN_OFF) {
            p.off.push_back(i);
        }
    }
    return p;
}

cube expand(const std::vector<uint8_t> &table, unsigned nvars, const points &p, uint32_t point, unsigned first)
{
    cube c{full_mask(nvars), point};
    for (unsigned n = 0; n < nvars; n++) {
        const unsigned v = (first + n) % nvars;
        cube wider{c.care & ~(1u << v), c.value & ~(1u << v)};
        if (off_free(table, nvars, p, wider))
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

// Drops terms whose ON points other terms hold too, last first.
std::vector<cube> irredundant(unsigned nvars, const points &p, const std::vector<cube> &cover)
{
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

// Widens a cube one literal at a time while it stays free of OFF points,
// each time by the literal whose removal brings in the most ON points not
// marked in covered (the lowest such literal on a tie).
cube expand_greedy(const std::vector<uint8_t> &table, unsigned nvars, cube c, const points &p,
                   const std::vector<uint8_t> &covered)
{
    for (;;) {
        int best_v = -1;
        unsigned best_gain = 0;
        for (unsigned v = 0; v < nvars; v++) {
            if (!(c.care >> v & 1))
                continue;
            cube wider{c.care & ~(1u << v), c.value & ~(1u << v)};
            if (!off_free(table, nvars, p, wider))
                continue;
            unsigned gain = count_uncovered(wider, nvars, p, covered) + 1;
            if (gain > best_gain) {
                best_gain = gain;
                best_v = static_cast<int>(v);
            }
        }
        if (best_v < 0)
            return c;
        c.care &= ~(1u << best_v);
        c.value &= ~(1u << best_v);
    }
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
        for (unsigned r = 0; r <= rotations; r++) {
            cube c = r < rotations ? expand(table, nvars, p, p.on[i], r)
                                   : expand_greedy(table, nvars, cube{full_mask(nvars), p.on[i]}, p, covered);
            if (r == rotations && rotations == 1)
                break; // many points: one plain expansion each
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

    return irredundant(nvars, p, cover);
}

// Reduces every term to the smallest cube around the ON points that only
// it holds, widens it again greedily and drops redundant terms, while that
// makes the cover smaller.
std::vector<cube> improve_cover(const std::vector<uint8_t> &table, unsigned nvars, const points &p,
                                std::vector<cube> cover)
{
    const uint32_t full = full_mask(nvars);
    // Widening counts every ON point a term takes in, also those that others
    // hold: terms grow over their neighbours, which then drop out.
    const std::vector<uint8_t> none(p.on.size(), 0);
    for (int round = 0; round < 4; round++) {
        std::vector<unsigned> times(p.on.size(), 0);
        auto count = [&](const cube &c, int add) {
            each_point(c, nvars, [&](uint32_t x) {
                if (p.slot[x] >= 0)
                    times[static_cast<size_t>(p.slot[x])] += static_cast<unsigned>(add);
                return true;
            });
        };
        for (const cube &c : cover)
            count(c, 1);
        std::vector<cube> next;
        for (const cube &c : cover) {
            count(c, -1);
            uint32_t ones = full, zeros = full;
            bool any = false;
            each_point(c, nvars, [&](uint32_t x) {
                if (p.slot[x] >= 0 && times[static_cast<size_t>(p.slot[x])] == 0) {
                    ones &= x;
                    zeros &= ~x;
                    any = true;
                }
                return true;
            });
            if (!any)
                continue;
            cube e = expand_greedy(table, nvars, cube{ones | zeros, ones}, p, none);
            count(e, 1);
            next.push_back(e);
        }
        next = irredundant(nvars, p, next);
        if (next.size() >= cover.size())
            break;
        cover = next;
    }
    return cover;
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

// For tables too large for all primes: primes grown from the ON points in
// every rotation of the variables and greedily, until each ON point lies in
// a few of them, then the cover search over those primes, ON points with
// the same primes merged into one. Replaces the cover when it finds a
// smaller one; proves nothing.
void sampled_cover(const std::vector<uint8_t> &table, unsigned nvars, const points &p, min_result &res)
{
    std::vector<cube> primes;
    std::set<std::pair<uint32_t, uint32_t>> known;
    std::vector<std::vector<uint32_t>> point_primes(p.on.size());
    const std::vector<uint8_t> none(p.on.size(), 0);
    for (size_t i = 0; i < p.on.size(); i++) {
        if (point_primes[i].size() >= sample_depth)
            continue;
        for (unsigned r = 0; r <= nvars; r++) {
            cube c = r < nvars ? expand(table, nvars, p, p.on[i], r)
                               : expand_greedy(table, nvars, cube{full_mask(nvars), p.on[i]}, p, none);
            if (!known.insert({c.care, c.value}).second)
                continue;
            const uint32_t q = static_cast<uint32_t>(primes.size());
            primes.push_back(c);
            each_point(c, nvars, [&](uint32_t x) {
                if (p.slot[x] >= 0)
                    point_primes[static_cast<size_t>(p.slot[x])].push_back(q);
                return true;
            });
        }
        if (primes.size() > sample_primes)
            return;
    }
    cover_search s;
    std::map<std::vector<uint32_t>, uint32_t> rows;
    s.prime_points.resize(primes.size());
    for (std::vector<uint32_t> &list : point_primes) {
        auto it = rows.emplace(list, static_cast<uint32_t>(rows.size())).first;
        if (it->second + 1 == rows.size()) {
            for (uint32_t q : list)
                s.prime_points[q].push_back(it->second);
            s.point_primes.push_back(list);
        }
    }
    for (std::vector<uint32_t> &list : s.point_primes)
        std::stable_sort(list.begin(), list.end(), [&](uint32_t a, uint32_t b) {
            return s.prime_points[a].size() > s.prime_points[b].size();
        });
    s.cover_count.assign(s.point_primes.size(), 0);
    s.best_size = res.cover.size();
    std::vector<uint8_t> used(primes.size(), 0);
    s.run(used);
    if (!s.best.empty()) {
        res.cover.clear();
        for (uint32_t q : s.best)
            res.cover.push_back(primes[q]);
    }
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
    if (res.cover.size() > 1 && res.cover.size() <= improve_terms)
        res.cover = improve_cover(table, nvars, p, res.cover);
    if (res.cover.size() == 1) {
        res.lower_bound = 1;
        res.minimal = true;
        return res;
    }
    if (nvars <= MIN_EXACT_VARS) {
        exact_cover(table, nvars, p, limit, res);
        return res;
    }
    if (limit <= 1) {
        // One term holds every ON point exactly when their smallest
        // enclosing cube is free of OFF points.
        uint32_t ones = full_mask(nvars), zeros = full_mask(nvars);
        for (uint32_t x : p.on) {
            ones &= x;
            zeros &= ~x;
        }
        const cube span{ones | zeros, ones};
        if (off_free(table, nvars, p, span)) {
            res.cover.assign(1, expand_greedy(table, nvars, span, p, std::vector<uint8_t>(p.on.size(), 0)));
            res.lower_bound = 1;
        } else {
            res.lower_bound = 2;
        }
        res.minimal = res.lower_bound >= res.cover.size();
        return res;
    }
    res.lower_bound = std::max(1u, incompatible_points(table, nvars, p, limit));
    if (res.cover.size() > limit && res.lower_bound <= limit)
        sampled_cover(table, nvars, p, res);
    res.minimal = res.lower_bound >= res.cover.size();
    return res;
}
