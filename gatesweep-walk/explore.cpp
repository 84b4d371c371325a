#include "explore.h"

#include <algorithm>
#include <deque>
#include <memory>

#include "wordops.h"

namespace {

// Most steps one batch plans, and the bounds of how many clock edges of
// unknown outcome a batch takes one after another, guessing where each
// leads (the bound doubles while the guesses come true).
constexpr size_t batch_steps = 16384;
constexpr unsigned min_guesses = 1, max_guesses = 4096;
constexpr unsigned idle_batches = 64;
// Conditions at which the walk of latches moves one pin's weak level
// alone, to see whether the pin floats.
constexpr unsigned float_probes = 16;
// How often the walk of latches reports progress, in batches (counting
// what is open goes through every point reached).
constexpr size_t latch_progress_batches = 64;

// A known way from one state to another: a clock edge at a condition, or
// (where a latch moves) a reading at it.
struct walk_edge {
    int to;
    unsigned c;
    bool clock;
};

struct explorer {
    uint8_t reg = 0;
    unsigned conds = 0;
    walk_record record;
    walk_tables tables;
    int cur = -1;
    std::string error;
    // Per state: conditions not read yet; once its row is read, per key
    // (numbered as conditions are: I1..I8 and the levels of the pins
    // without a register) a condition that gives it, or -1, and whether
    // it was clocked; the untried keys; the states its known transitions
    // reach, each with a condition that leads there.
    std::vector<unsigned> unread, untried;
    std::vector<std::vector<int32_t>> key_rep;
    std::vector<std::vector<uint8_t>> key_tried;
    std::vector<std::vector<walk_edge>> succ;
    unsigned transitions = 0;
};

unsigned key_index(const explorer &e, unsigned c, unsigned reading)
{
    return static_cast<unsigned>(
        walk_condition_of(e.reg, static_cast<uint16_t>((c & 0xFF) << 1), static_cast<uint8_t>(reading)));
}

bool row_read(const explorer &e, int s) { return e.unread[static_cast<size_t>(s)] == 0; }

void grow(explorer &e)
{
    while (e.unread.size() < e.tables.states.size()) {
        e.unread.push_back(e.conds);
        e.untried.push_back(0);
        e.key_rep.emplace_back();
        e.key_tried.emplace_back();
        e.succ.emplace_back();
    }
}

void build_keys(explorer &e, int s)
{
    const walk_state &st = e.tables.states[static_cast<size_t>(s)];
    std::vector<int32_t> &rep = e.key_rep[static_cast<size_t>(s)];
    std::vector<uint8_t> &tried = e.key_tried[static_cast<size_t>(s)];
    rep.assign(e.conds, -1);
    tried.assign(e.conds, 0);
    for (unsigned c = 0; c < e.conds; c++) {
        const unsigned k = key_index(e, c, static_cast<unsigned>(st.reading[c]));
        if (rep[k] < 0)
            rep[k] = static_cast<int32_t>(c);
        if (st.next[c] != walk_none)
            tried[k] = 1;
    }
    unsigned n = 0, t = 0;
    for (unsigned k = 0; k < e.conds; k++) {
        n += rep[k] >= 0 && !tried[k];
        t += tried[k];
    }
    e.untried[static_cast<size_t>(s)] = n;
    e.transitions += t;
}

// Takes one step that the chip carried out into the tables.
bool absorb(explorer &e, const walk_step &step)
{
    // What the array saw at a clock edge: the reading just before it, at
    // the same levels (every clock edge of a walk has one), else the row's.
    int before = -1;
    if (step.clock && !e.record.steps.empty()) {
        const walk_step &prev = e.record.steps.back();
        if (!prev.clock && prev.ix == (step.ix & ~1u) && prev.rx == step.rx)
            before = prev.reading;
    }
    walk_step_effect fx;
    if (!walk_derive_step(e.record, step, e.record.steps.size(), e.tables, e.cur, e.error, &fx))
        return false;
    e.record.steps.push_back(step);
    grow(e);
    if (fx.condition < 0)
        return true;
    const unsigned c = static_cast<unsigned>(fx.condition);
    if (fx.new_next || (!step.clock && e.cur != fx.from)) {
        const int to = e.cur;
        std::vector<walk_edge> &out = e.succ[static_cast<size_t>(fx.from)];
        if (std::none_of(out.begin(), out.end(), [to](const walk_edge &x) { return x.to == to; }))
            out.push_back({to, c, step.clock != 0});
    }
    if (step.clock && row_read(e, fx.from)) {
        const size_t f = static_cast<size_t>(fx.from);
        const unsigned k = key_index(e, c, static_cast<unsigned>(before >= 0 ? before : e.tables.states[f].reading[c]));
        if (e.key_rep[f][k] >= 0 && !e.key_tried[f][k]) {
            e.key_tried[f][k] = 1;
            e.untried[f]--;
            e.transitions++;
        }
    }
    // A row's keys are known once the row is whole.
    if (fx.new_reading && --e.unread[static_cast<size_t>(fx.from)] == 0)
        build_keys(e, fx.from);
    return true;
}

// Per state and condition in the batch being planned: 1 a read planned,
// 2 a clock planned.
using plan_marks = std::vector<std::vector<uint8_t>>;

bool has_work(const explorer &e, const plan_marks &marks, int s)
{
    const size_t us = static_cast<size_t>(s);
    const walk_state &st = e.tables.states[us];
    if (!row_read(e, s)) {
        for (unsigned c = 0; c < e.conds; c++) {
            if (st.reading[c] == walk_none && !(marks[us][c] & 1))
                return true;
        }
        for (unsigned c = 0; c < e.conds; c++) {
            if (st.next[c] == walk_none && !(marks[us][c] & 2))
                return true;
        }
        return false;
    }
    if (!e.untried[us])
        return false;
    for (unsigned k = 0; k < e.conds; k++) {
        const int32_t c = e.key_rep[us][k];
        if (c >= 0 && !e.key_tried[us][k] && !(marks[us][static_cast<size_t>(c)] & 2))
            return true;
    }
    return false;
}

// The shortest known path from s to a state with work left: the
// steps, in order, and the state it ends in (-1: none).
int path_to_work(const explorer &e, const plan_marks &marks, int s, std::vector<walk_edge> &path)
{
    const size_t n = e.tables.states.size();
    std::vector<int> from(n, -2);
    std::vector<walk_edge> via(n, walk_edge{0, 0, false});
    std::deque<int> queue{s};
    from[static_cast<size_t>(s)] = -1;
    while (!queue.empty()) {
        const int q = queue.front();
        queue.pop_front();
        if (q != s && has_work(e, marks, q)) {
            path.clear();
            for (int x = q; x != s; x = from[static_cast<size_t>(x)])
                path.push_back(via[static_cast<size_t>(x)]);
            std::reverse(path.begin(), path.end());
            return q;
        }
        for (const walk_edge &t : e.succ[static_cast<size_t>(q)]) {
            if (from[static_cast<size_t>(t.to)] == -2) {
                from[static_cast<size_t>(t.to)] = q;
                via[static_cast<size_t>(t.to)] = t;
                queue.push_back(t.to);
            }
        }
    }
    return -1;
}

// The registered pins' levels of a state as a number, their lowest pin
// its lowest bit.
unsigned state_value(const explorer &e, uint8_t levels)
{
    unsigned v = 0, n = 0;
    for (unsigned k = 0; k < 8; k++) {
        if (e.reg >> k & 1)
            v |= (levels >> k & 1u) << n++;
    }
    return v;
}

// Where clocking condition c in state s probably leads, not having tried
// it, and whether that is more than a guess: where the conditions that
// differ from c in one level led from s, when there are two or more and
// all agree; else, where c led other states all alike (to one state, each
// back to itself, each to its value plus one number, or each to its value
// with the same bits flipped); else, less sure, where one such condition
// led, or s.
int guess(const explorer &e, int s, unsigned c, bool &sure)
{
    sure = true;
    const walk_state &st = e.tables.states[static_cast<size_t>(s)];
    int near = -1;
    unsigned known = 0;
    bool agree = true;
    for (unsigned b = 0; (1u << b) < e.conds; b++) {
        const int16_t t = st.next[c ^ (1u << b)];
        if (t == walk_none)
            continue;
        agree = agree && (near < 0 || near == t);
        near = t;
        known++;
    }
    if (known >= 2 && agree)
        return near;
    const unsigned mask = state_value(e, e.reg); // every registered pin high: 2^r - 1
    unsigned samples = 0, target = 0, delta = 0, flip = 0;
    bool same = true, add = true, xr = true;
    for (size_t q = 0; q < e.tables.states.size() && samples < 8; q++) {
        const int16_t t = e.tables.states[q].next[c];
        if (t == walk_none || static_cast<int>(q) == s)
            continue;
        const unsigned qv = state_value(e, e.tables.states[q].levels);
        const unsigned tv = state_value(e, e.tables.states[static_cast<size_t>(t)].levels);
        if (samples == 0) {
            target = tv;
            delta = (tv - qv) & mask;
            flip = tv ^ qv;
        } else {
            same = same && tv == target;
            add = add && ((tv - qv) & mask) == delta;
            xr = xr && (tv ^ qv) == flip;
        }
        samples++;
    }
    const unsigned sv = state_value(e, st.levels);
    int want = -1;
    if (samples >= 2 && (add || xr || same)) {
        const unsigned v = add ? (sv + delta) & mask : xr ? sv ^ flip : target;
        for (size_t t = 0; t < e.tables.states.size() && want < 0; t++) {
            if (state_value(e, e.tables.states[t].levels) == v)
                want = static_cast<int>(t);
        }
    }
    if (want >= 0)
        return want;
    sure = false;
    return near >= 0 ? near : s;
}

walk_step step_at(const explorer &e, unsigned c, bool clock)
{
    walk_step st;
    walk_levels(e.reg, c, st.ix, st.rx);
    st.clock = static_cast<uint8_t>(clock);
    return st;
}

struct plan {
    std::vector<walk_step> steps;
    std::vector<int> expect; // the state each step should end in
    std::vector<uint8_t> guessed; // the step's outcome was a guess
    std::vector<uint8_t> sure;    // a guess more than likely
};

// Plans the next batch from the state the chip is in. Empty when no state
// that can still be reached has work left.
plan plan_batch(const explorer &e, unsigned guess_limit, bool count_sure)
{
    plan out;
    plan_marks marks(e.tables.states.size(), std::vector<uint8_t>(e.conds, 0));
    int p = e.cur;
    unsigned guesses = 0;
    bool certain = true;
    std::vector<walk_edge> path;
    auto add = [&](unsigned c, bool clock, int to, bool guessed, bool sure_ = false) {
        out.steps.push_back(step_at(e, c, clock));
        out.expect.push_back(to);
        out.guessed.push_back(static_cast<uint8_t>(guessed));
        out.sure.push_back(static_cast<uint8_t>(sure_));
    };
    while (out.steps.size() < batch_steps) {
        // A guessed state may be one the tables do not hold yet.
        const size_t us = static_cast<size_t>(p);
        const walk_state &st = e.tables.states[us];
        // Rows are read where the chip surely is; elsewhere a wrong guess
        // would spend the readings in another state.
        if (!row_read(e, p) && certain) {
            bool any = false;
            for (unsigned c = 0; c < e.conds && out.steps.size() < batch_steps; c++) {
                if (st.reading[c] == walk_none && !(marks[us][c] & 1)) {
                    marks[us][c] |= 1;
                    add(c, false, p, false);
                    any = true;
                }
            }
            if (any)
                continue;
        }
        // An untried key of p, one whose outcome is sure first (looking
        // at a few).
        int pick = -1, to = p;
        bool sure = false;
        unsigned looked = 0;
        auto consider = [&](unsigned c) {
            bool s_ = false;
            const int t = guess(e, p, c, s_);
            if (pick < 0 || (s_ && !sure)) {
                pick = static_cast<int>(c);
                to = t;
                sure = s_;
            }
            return sure || ++looked >= 16;
        };
        if (row_read(e, p)) {
            for (unsigned k = 0; k < e.conds; k++) {
                const int32_t c = e.key_rep[us][k];
                if (c >= 0 && !e.key_tried[us][k] && !(marks[us][static_cast<size_t>(c)] & 2) &&
                    consider(static_cast<unsigned>(c)))
                    break;
            }
        } else {
            // The keys are known once the row's readings are back; until
            // then every condition not yet clocked is a candidate.
            for (unsigned c = 0; c < e.conds; c++) {
                if (st.next[c] == walk_none && !(marks[us][c] & 2) && consider(c))
                    break;
            }
        }
        if (pick >= 0) {
            const unsigned c = static_cast<unsigned>(pick);
            marks[us][c] |= 2;
            add(c, false, p, false);
            add(c, true, to, true, sure);
            p = to;
            certain = certain && sure;
            if ((count_sure || !sure) && ++guesses >= guess_limit)
                break;
            continue;
        }
        const int target = path_to_work(e, marks, p, path);
        if (target < 0)
            break;
        for (const walk_edge &t : path)
            add(t.c, t.clock, t.to, false);
        p = target;
    }
    return out;
}

// A walk past walk_max_steps ends with an error.
bool too_long(explorer &e)
{
    if (e.record.steps.size() <= walk_max_steps)
        return false;
    e.error = "the walk took more than " + std::to_string(walk_max_steps) + " steps without ending";
    return true;
}

// The run of guesses for the next batch: twice as long after a batch
// whose guesses came true, else just past the good ones.
unsigned next_guess_limit(unsigned limit, bool derailed, unsigned good)
{
    return derailed ? std::max(min_guesses, 2 * good + 1) : std::min(max_guesses, 2 * limit);
}

// The walk of a chip with latches, once the registers' walk is over: from
// every point reached (registers, pin levels, condition), every write of
// one latch and a clock edge, navigating along the writes known, until no
// point that can still be reached has one untried.
struct latch_explorer {
    walk_latch_book book;
    size_t conds = 0;
    unsigned level_mask = 0;
    // Per point and per write: the batch (its number) that plans it.
    std::vector<uint32_t> clock_planned, write_planned, check_planned;
    uint32_t batch = 0;
    // Writes neither known nor planned: per block of writes that differ in
    // I1..I7 only (a point's writes to the low latch), and per set that
    // differ in weak levels only (its writes of weak levels).
    std::vector<uint16_t> open_low, open_weak;
    const walk_tables *tables = nullptr; // the registers' walk
    std::vector<int16_t> last_clock;      // per registers and levels
    // The search for a path: per point the search that saw it, the point
    // before it and whether a clock edge led there.
    std::vector<uint32_t> visited;
    std::vector<size_t> from, queue;
    std::vector<uint8_t> by_clock;
    std::vector<uint32_t> low_seen, weak_seen; // per block and per weak set: the search that went through it
    uint32_t visits = 0;
};

size_t point_base(const latch_explorer &x, size_t p) { return p - p % x.conds; }
unsigned point_cond(const latch_explorer &x, size_t p) { return static_cast<unsigned>(p % x.conds); }
unsigned point_levels(const latch_explorer &x, size_t p)
{
    return static_cast<unsigned>(p >> x.book.condition_bits) & x.level_mask;
}
unsigned point_regs(const latch_explorer &x, size_t p)
{
    return static_cast<unsigned>(p >> (x.book.condition_bits + x.book.level_bits));
}

size_t weak_set(const latch_explorer &x, size_t w)
{
    return (w >> x.book.condition_bits) << walk_input_bits | (w & 0xFFu);
}

bool write_open(const latch_explorer &x, size_t w)
{
    return x.book.settled[w] == walk_none && x.write_planned[w] != x.batch;
}

// A write that became known or planned (-1), or planned and not carried
// out after all (+1).
void count_write(latch_explorer &x, size_t w, int delta)
{
    x.open_low[w >> 7] = static_cast<uint16_t>(x.open_low[w >> 7] + delta);
    x.open_weak[weak_set(x, w)] = static_cast<uint16_t>(x.open_weak[weak_set(x, w)] + delta);
}

void count_open(latch_explorer &x)
{
    x.open_low.assign(x.book.settled.size() >> 7, 0);
    x.open_weak.assign((x.book.settled.size() >> x.book.condition_bits) << walk_input_bits, 0);
    for (size_t w = 0; w < x.book.settled.size(); w++) {
        if (x.book.settled[w] == walk_none)
            count_write(x, w, 1);
    }
}

bool check_open(const latch_explorer &x, size_t p)
{
    return walk_latch_unchecked(x.book, p) && x.check_planned[p] != x.batch;
}

bool point_has_work(const latch_explorer &x, size_t p)
{
    return (x.book.clocked[p] == walk_none && x.clock_planned[p] != x.batch) || check_open(x, p) || x.open_low[p >> 7] ||
           write_open(x, p ^ 0x80u) || x.open_weak[weak_set(x, p)];
}

// An open write from p, or SIZE_MAX.
size_t open_write(const latch_explorer &x, size_t p)
{
    if (x.open_low[p >> 7]) {
        for (size_t w = p & ~size_t(0x7F); w < (p | 0x7F) + 1; w++) {
            if (write_open(x, w))
                return w;
        }
    }
    if (write_open(x, p ^ 0x80u))
        return p ^ 0x80u;
    if (x.open_weak[weak_set(x, p)]) {
        const size_t base = point_base(x, p);
        for (size_t w = 0; w < (x.conds >> walk_input_bits); w++) {
            const size_t v = base + (w << walk_input_bits | (p & 0xFFu));
            if (write_open(x, v))
                return v;
        }
    }
    return SIZE_MAX;
}

walk_step latch_step(const latch_explorer &x, unsigned cond, bool clock)
{
    walk_step s;
    s.ix = static_cast<uint16_t>((cond & 0xFFu) << 1);
    s.rx = static_cast<uint8_t>(deposit_bits(cond >> walk_input_bits, x.book.floating));
    s.clock = static_cast<uint8_t>(clock);
    return s;
}

// The levels a write to cond probably settles to from levels: the pins
// that float take their weak levels; the others hold, unless the walk
// saw the point reached with one other set of levels only.
unsigned guess_levels(const latch_explorer &x, unsigned regs, unsigned levels, unsigned cond)
{
    const uint8_t other = x.book.held;
    const unsigned weak = extract_bits(static_cast<uint8_t>(deposit_bits(cond >> walk_input_bits, x.book.floating)),
                                       other);
    const unsigned floats = extract_bits(x.book.floating, other);
    const unsigned hold = (levels & ~floats) | (weak & floats);
    int only = -1;
    for (unsigned l = 0; l <= x.level_mask; l++) {
        if (!x.book.reached[walk_point(x.book, regs, l, cond)])
            continue;
        if (l == hold)
            return hold;
        only = only < 0 ? static_cast<int>(l) : -2;
    }
    return only >= 0 ? static_cast<unsigned>(only) : hold;
}

// Where a clock edge at p probably leads: where one led from a point
// whose condition differs in one level, else where the last one led from
// the same registers and levels, else from the same registers and
// condition at other levels, else where the registers' walk saw one lead
// from that state and condition, else nowhere.
unsigned guess_clock(const latch_explorer &x, size_t p)
{
    const unsigned regs = point_regs(x, p), cond = point_cond(x, p);
    for (unsigned b = 0; b < x.book.condition_bits; b++) {
        const int16_t r = x.book.clocked[p ^ (size_t(1) << b)];
        if (r != walk_none)
            return static_cast<unsigned>(r);
    }
    const int16_t last = x.last_clock[p >> x.book.condition_bits];
    if (last != walk_none)
        return static_cast<unsigned>(last);
    for (unsigned l = 0; l <= x.level_mask; l++) {
        const int16_t r = x.book.clocked[walk_point(x.book, regs, l, cond)];
        if (r != walk_none)
            return static_cast<unsigned>(r);
    }
    const uint8_t reg = x.book.registered;
    const uint8_t levels = static_cast<uint8_t>(deposit_bits(regs, reg));
    const walk_step st = latch_step(x, cond, false);
    const int c = walk_condition_of(reg, st.ix, st.rx);
    for (const walk_state &s : x.tables->states) {
        if (s.levels == levels && s.next[static_cast<size_t>(c)] != walk_none)
            return extract_bits(x.tables->states[static_cast<size_t>(s.next[static_cast<size_t>(c)])].levels, reg);
    }
    return regs;
}

// The shortest path along known writes and clock edges from p to a point
// with work: its steps, and the point (or SIZE_MAX).
size_t latch_path(latch_explorer &x, size_t p, std::vector<walk_step> &path, std::vector<size_t> &points)
{
    x.visits++;
    std::vector<size_t> &queue = x.queue;
    queue.clear();
    queue.push_back(p);
    x.visited[p] = x.visits;
    size_t found = SIZE_MAX;
    // A point is looked at for work as the search first reaches it.
    auto visit = [&](size_t from, size_t to, bool clock) {
        if (x.visited[to] == x.visits)
            return false;
        x.visited[to] = x.visits;
        x.from[to] = from;
        x.by_clock[to] = clock;
        if (point_has_work(x, to)) {
            found = to;
            return true;
        }
        queue.push_back(to);
        return false;
    };
    for (size_t i = 0; i < queue.size() && found == SIZE_MAX; i++) {
        const size_t q = queue[i];
        const unsigned regs = point_regs(x, q), levels = point_levels(x, q), cond = point_cond(x, q);
        const int16_t r = x.book.clocked[q];
        if (r != walk_none) {
            const int16_t l = x.book.settled[walk_point(x.book, static_cast<unsigned>(r), levels, cond)];
            if (l != walk_none &&
                visit(q, walk_point(x.book, static_cast<unsigned>(r), static_cast<unsigned>(l), cond), true))
                break;
        }
        // The points of a block share their writes to the low latch, and
        // those that differ in weak levels only their writes of weak
        // levels: each set is gone through once.
        auto write = [&](size_t w) {
            const int16_t l = x.book.settled[w];
            return l != walk_none &&
                   visit(q, walk_point(x.book, regs, static_cast<unsigned>(l), point_cond(x, w)), false);
        };
        if (write(q ^ 0x80u))
            break;
        if (x.low_seen[q >> 7] != x.visits) {
            x.low_seen[q >> 7] = x.visits;
            for (size_t w = q & ~size_t(0x7F); w <= (q | 0x7F) && found == SIZE_MAX; w++)
                write(w);
        }
        if (x.weak_seen[weak_set(x, q)] != x.visits) {
            x.weak_seen[weak_set(x, q)] = x.visits;
            const size_t base = point_base(x, q);
            for (size_t w = 0; w < (x.conds >> walk_input_bits) && found == SIZE_MAX; w++)
                write(base + (w << walk_input_bits | (q & 0xFFu)));
        }
    }
    if (found == SIZE_MAX)
        return SIZE_MAX;
    path.clear();
    points.clear();
    for (size_t j = found; j != p; j = x.from[j]) {
        path.push_back(latch_step(x, point_cond(x, j), x.by_clock[j] != 0));
        points.push_back(j);
    }
    std::reverse(path.begin(), path.end());
    std::reverse(points.begin(), points.end());
    return found;
}

struct latch_plan {
    std::vector<walk_step> steps;
    std::vector<size_t> expect;   // the point each step should end in
    std::vector<uint8_t> guessed; // its outcome was a guess
    std::vector<size_t> writes;   // the writes it tries
};

latch_plan plan_latch_batch(latch_explorer &x, size_t p, unsigned guess_limit)
{
    latch_plan out;
    x.batch++;
    unsigned guesses = 0;
    std::vector<walk_step> path;
    std::vector<size_t> points;
    auto add = [&](const walk_step &s, size_t to, bool guessed = false) {
        out.steps.push_back(s);
        out.expect.push_back(to);
        out.guessed.push_back(static_cast<uint8_t>(guessed));
        p = to;
        guesses += guessed;
    };
    while (out.steps.size() < batch_steps && guesses < guess_limit) {
        const unsigned regs = point_regs(x, p), levels = point_levels(x, p), cond = point_cond(x, p);
        if (check_open(x, p)) {
            // A pin that read its weak level only: its weak level alone
            // moved, and back. A pin the chip drives stays.
            x.check_planned[p] = x.batch;
            const uint8_t unchecked = walk_latch_unchecked(x.book, p);
            walk_step s = latch_step(x, cond, false);
            s.rx = static_cast<uint8_t>(s.rx | (unchecked & -unchecked));
            add(s, p, true);
            add(latch_step(x, cond, false), p, true);
            continue;
        }
        if (x.book.clocked[p] == walk_none && x.clock_planned[p] != x.batch) {
            x.clock_planned[p] = x.batch;
            const unsigned r = guess_clock(x, p);
            const int16_t known = x.book.settled[walk_point(x.book, r, levels, cond)];
            const unsigned l = known != walk_none ? static_cast<unsigned>(known) : guess_levels(x, r, levels, cond);
            add(latch_step(x, cond, true), walk_point(x.book, r, l, cond), true);
            continue;
        }
        const size_t w = open_write(x, p);
        if (w != SIZE_MAX) {
            const unsigned c = point_cond(x, w);
            x.write_planned[w] = x.batch;
            count_write(x, w, -1);
            out.writes.push_back(w);
            add(latch_step(x, c, false), walk_point(x.book, regs, guess_levels(x, regs, levels, c), c), true);
            continue;
        }
        const size_t target = latch_path(x, p, path, points);
        if (target == SIZE_MAX)
            break;
        for (size_t i = 0; i < path.size(); i++)
            add(path[i], points[i]);
    }
    return out;
}

// States that can be reached from s along known transitions.
std::vector<uint8_t> reachable(const explorer &e, int s)
{
    std::vector<uint8_t> seen(e.tables.states.size(), 0);
    std::vector<int> stack{s};
    seen[static_cast<size_t>(s)] = 1;
    while (!stack.empty()) {
        const int q = stack.back();
        stack.pop_back();
        for (const walk_edge &t : e.succ[static_cast<size_t>(q)]) {
            if (!seen[static_cast<size_t>(t.to)]) {
                seen[static_cast<size_t>(t.to)] = 1;
                stack.push_back(t.to);
            }
        }
    }
    return seen;
}

// Makes the tables anew from steps, with the registered pins e.reg: the
// walk starts in the state the first step with I9 low shows.
bool start(explorer &e, const std::vector<walk_step> &steps)
{
    const uint8_t reg = e.reg;
    e = explorer{};
    e.reg = reg;
    e.conds = walk_conditions(reg);
    e.record.registered = reg;
    for (const walk_step &s : steps) {
        if (!(s.ix >> 9 & 1)) {
            e.record.start = s.reading & reg;
            break;
        }
    }
    bool ok = true;
    for (size_t i = 0; i < steps.size() && ok; i++)
        ok = absorb(e, steps[i]);
    return ok;
}

// The latch walk on from where the registers' walk ended. False (the
// reason in e.error, or none where the chip has too many points for it)
// when it could not be done.
bool walk_latches_through(explorer &e, const walk_runner &run, const walk_progress_fn &progress, walk_outcome &out)
{
    latch_explorer x;
    x.tables = &e.tables;
    std::vector<uint8_t> readings;
    // Pins that the registers' walk read at their weak levels both ways
    // at some condition may float there, or be latches that moved: the
    // weak level alone is moved there, to see.
    {
        std::vector<walk_step> probe;
        const walk_state &st = e.tables.states[static_cast<size_t>(e.cur)];
        for (int k = 0; k < 8; k++) {
            if (e.reg >> k & 1)
                continue;
            unsigned tried = 0;
            for (unsigned c = 0; c < e.conds && tried < float_probes; c++) {
                if (walk_floats(st, e.reg, c, k) != 1)
                    continue;
                walk_step s = step_at(e, c, false);
                const uint8_t weak = static_cast<uint8_t>(1u << k);
                s.rx = static_cast<uint8_t>(s.rx & ~weak);
                probe.push_back(s);
                s.rx = static_cast<uint8_t>(s.rx | weak);
                probe.push_back(s);
                tried++;
            }
        }
        if (!probe.empty()) {
            run(probe, readings);
            out.batches++;
            for (size_t i = 0; i < probe.size(); i++) {
                probe[i].reading = i < readings.size() ? readings[i] : 0;
                if (!absorb(e, probe[i]))
                    return false;
            }
        }
    }
    uint8_t floating = walk_floating_pins(e.record), inputs = walk_input_pins(e.record);
    for (;;) {
        if (!walk_latch_book_init(x.book, e.reg, floating, inputs))
            return false;
        walk_latch_book_steps(x.book, e.record);
        const size_t points = x.book.reached.size();
        x.conds = size_t(1) << x.book.condition_bits;
        x.level_mask = (1u << x.book.level_bits) - 1;
        x.clock_planned.assign(points, 0);
        x.write_planned.assign(points, 0);
        x.check_planned.assign(points, 0);
        x.visited.assign(points, 0);
        x.from.assign(points, 0);
        x.by_clock.assign(points, 0);
        x.batch = x.visits = 0;
        count_open(x);
        x.low_seen.assign(x.open_low.size(), 0);
        x.weak_seen.assign(x.open_weak.size(), 0);
        x.last_clock.assign(points >> x.book.condition_bits, walk_none);
        size_t p = walk_latch_point_of(x.book, e.record.steps.back());
        unsigned guess_limit = 8;
        for (;;) {
            if (too_long(e))
                return false;
            const latch_plan batch = plan_latch_batch(x, p, guess_limit);
            if (batch.steps.empty())
                break;
            run(batch.steps, readings);
            out.batches++;
            unsigned good = 0;
            bool derailed = false, renew = false;
            for (size_t i = 0; i < batch.steps.size(); i++) {
                walk_step s = batch.steps[i];
                s.reading = i < readings.size() ? readings[i] : 0;
                if (!absorb(e, s))
                    return false;
                const std::vector<walk_step> &steps = e.record.steps;
                const walk_step &prev = steps[steps.size() - 2];
                // The writes the step makes known: where it ends, and
                // the write it was.
                size_t learnt[2] = {walk_latch_point_of(x.book, s), walk_latch_write_of(x.book, prev, s)};
                if (learnt[1] == learnt[0])
                    learnt[1] = SIZE_MAX;
                for (size_t &w : learnt) {
                    if (w != SIZE_MAX && !write_open(x, w))
                        w = SIZE_MAX;
                }
                // A pin seen floating that was taken for driven, or seen
                // driven that was taken for an input: the book is made
                // anew with it after this batch.
                const uint8_t inputs_now = static_cast<uint8_t>(~e.reg & ~x.book.held);
                renew = renew || (walk_floating_step(e.reg, prev, s) & ~x.book.floating) ||
                        ((s.reading ^ s.rx) & inputs_now);
                walk_latch_book_step(x.book, &prev, s);
                if (s.clock && !(prev.ix & 0x200u))
                    x.last_clock[walk_latch_point_of(x.book, prev) >> x.book.condition_bits] =
                        static_cast<int16_t>(extract_bits(s.reading, e.reg));
                for (size_t w : learnt) {
                    if (w != SIZE_MAX && x.book.settled[w] != walk_none)
                        count_write(x, w, -1);
                }
                p = walk_latch_point_of(x.book, s);
                if (!derailed && p != batch.expect[i])
                    derailed = true;
                else if (!derailed && batch.guessed[i])
                    good++;
            }
            for (size_t w : batch.writes) {
                if (x.book.settled[w] == walk_none)
                    count_write(x, w, 1);
            }
            guess_limit = next_guess_limit(guess_limit, derailed, good);
            if (renew)
                break;
            if (progress && out.batches % latch_progress_batches == 0) {
                const walk_latch_open open = walk_latch_count(x.book);
                walk_progress pr;
                pr.states = static_cast<unsigned>(e.tables.states.size());
                pr.transitions = e.transitions;
                pr.steps = e.record.steps.size();
                pr.pending = static_cast<unsigned>(open.unclocked + open.untried + open.unchecked);
                pr.steps_left = 2 * pr.pending;
                progress(pr);
            }
        }
        // Readings of the walk may show more pins floating somewhere,
        // whose weak levels then count, or a pin taken for an input
        // driven: the walk goes on with them.
        const uint8_t more = walk_floating_pins(e.record), fewer = walk_input_pins(e.record);
        if (more == floating && fewer == inputs)
            break;
        floating = more;
        inputs = fewer;
    }
    out.latch_walk = true;
    out.latch_open = walk_latch_count(x.book);
    return true;
}

} // namespace

std::vector<walk_step> walk_probe_steps()
{
    std::vector<walk_step> steps;
    for (unsigned i9 : {1u, 0u}) {
        for (unsigned rx : {0x00u, 0xFFu}) {
            for (unsigned in = 0; in < 256; in++) {
                walk_step s;
                s.ix = static_cast<uint16_t>(in << 1 | i9 << 9);
                s.rx = static_cast<uint8_t>(rx);
                steps.push_back(s);
            }
        }
    }
    return steps;
}

uint8_t walk_find_registers(const std::vector<walk_step> &steps)
{
    unsigned candidates = 0xFF, all_or = 0, all_and = 0xFF;
    bool low_seen = false;
    for (const walk_step &s : steps) {
        if (s.ix >> 9 & 1) {
            candidates &= ~static_cast<unsigned>(s.reading ^ s.rx);
        } else {
            all_or |= s.reading;
            all_and &= s.reading;
            low_seen = true;
        }
    }
    if (!low_seen)
        return 0;
    return static_cast<uint8_t>(candidates & ~(all_or ^ all_and));
}

walk_outcome walk_explore(const walk_runner &run, const walk_progress_fn &progress)
{
    walk_outcome out;
    std::vector<walk_step> probe = walk_probe_steps();
    std::vector<uint8_t> readings;
    run(probe, readings);
    out.batches = 1;
    for (size_t i = 0; i < probe.size(); i++)
        probe[i].reading = i < readings.size() ? readings[i] : 0;
    explorer e;
    e.reg = walk_find_registers(probe);
    if (!e.reg) {
        out.record.steps = probe;
        return out;
    }
    bool ok = start(e, probe);
    unsigned guess_limit = 8;
    // Sure guesses are not counted against the limit until one of them
    // proves wrong, and again after a batch where none did.
    bool count_sure = false;
    // A chip whose combinational pins hold levels of their own (latches)
    // need not go where a transition led it before: the walk ends when
    // batch after batch finds nothing new.
    unsigned idle = 0;
    size_t known = 0;
    while (ok && idle < idle_batches) {
        if (too_long(e))
            break;
        plan batch = plan_batch(e, guess_limit, count_sure);
        if (batch.steps.empty())
            break;
        run(batch.steps, readings);
        out.batches++;
        // How many guesses came true before the first that did not, to
        // size the next batch's run of guesses.
        unsigned good = 0;
        bool derailed = false;
        for (size_t i = 0; i < batch.steps.size() && ok; i++) {
            walk_step s = batch.steps[i];
            s.reading = i < readings.size() ? readings[i] : 0;
            const uint8_t moved = s.clock || (s.ix >> 9 & 1)
                                      ? 0
                                      : (s.reading ^ e.tables.states[static_cast<size_t>(e.cur)].levels) & e.reg;
            if (moved) {
                // A pin that changes without a clock edge is no register
                // (an output enabled by !I9 that held one level at every
                // condition of the probe): the walk goes on without it.
                std::vector<walk_step> steps = std::move(e.record.steps);
                for (size_t j = i; j < batch.steps.size(); j++) {
                    steps.push_back(batch.steps[j]);
                    steps.back().reading = j < readings.size() ? readings[j] : 0;
                }
                e.reg &= static_cast<uint8_t>(~moved);
                if (!e.reg) {
                    out.record.steps = std::move(steps);
                    return out;
                }
                ok = start(e, steps);
                derailed = true;
                break;
            }
            ok = absorb(e, s);
            if (!ok || derailed)
                continue;
            if (batch.expect[i] >= 0 && e.cur != batch.expect[i]) {
                derailed = true;
                count_sure = count_sure || batch.sure[i];
            }
            else if (batch.guessed[i])
                good++;
        }
        size_t now = e.transitions + e.tables.states.size();
        for (unsigned u : e.unread)
            now += e.conds - u;
        idle = now == known ? idle + 1 : 0;
        known = now;
        if (!derailed)
            count_sure = false;
        guess_limit = next_guess_limit(guess_limit, derailed, good);
        if (progress) {
            walk_progress pr;
            pr.states = static_cast<unsigned>(e.tables.states.size());
            pr.transitions = e.transitions;
            pr.steps = e.record.steps.size();
            const std::vector<uint8_t> live = reachable(e, e.cur);
            size_t reads = 0;
            for (size_t s = 0; s < live.size(); s++) {
                if (!live[s])
                    continue;
                pr.pending += e.untried[s];
                reads += e.unread[s];
            }
            const double per = e.transitions ? static_cast<double>(pr.steps) / e.transitions : 1.0;
            pr.steps_left = reads + static_cast<size_t>(per * pr.pending);
            progress(pr);
        }
    }
    // Latches: their levels walked as well, from every point reached.
    if (ok && e.error.empty() && e.tables.unsteady)
        walk_latches_through(e, run, progress, out);
    const std::vector<uint8_t> live = reachable(e, e.cur);
    plan_marks none(e.tables.states.size(), std::vector<uint8_t>(e.conds, 0));
    for (size_t s = 0; s < live.size(); s++) {
        if (!live[s] && has_work(e, none, static_cast<int>(s)))
            out.left_for_good++;
    }
    out.counts = walk_count(e.tables);
    out.error = e.error;
    out.record = std::move(e.record);
    out.tables = std::move(e.tables);
    return out;
}

walk_runner walk_model_runner(sim_chip &chip)
{
    auto latches = std::make_shared<walk_latches>();
    return [&chip, latches](const std::vector<walk_step> &steps, std::vector<uint8_t> &readings) {
        readings.clear();
        readings.reserve(steps.size());
        for (const walk_step &s : steps)
            readings.push_back(walk_apply(chip, *latches, s));
    };
}
