#include "explore.h"

#include <algorithm>
#include <deque>
#include <memory>

namespace {

// Most steps one batch plans, and the bounds of how many clock edges of
// unknown outcome a batch takes one after another, guessing where each
// leads (the bound doubles while the guesses come true).
constexpr size_t batch_steps = 16384;
constexpr unsigned min_guesses = 1, max_guesses = 4096;
constexpr unsigned idle_batches = 64;

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
        if (e.record.steps.size() > walk_max_steps) {
            e.error = "the walk took more than " + std::to_string(walk_max_steps) + " steps without ending";
            break;
        }
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
        guess_limit = derailed ? std::max(min_guesses, 2 * good + 1) : std::min(max_guesses, 2 * guess_limit);
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
