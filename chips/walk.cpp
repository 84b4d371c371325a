#include "walk.h"

#include "wordops.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr std::array<uint8_t, 8> walk_magic = {'G', 'S', 'W', 'A', 'L', 'K', '\r', '\n'};
// Package pins of I0..I9 and B0..B7: the numbering of the dump file.
constexpr std::array<uint8_t, 18> walk_pins = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19};
constexpr size_t header_bytes = 36;
static_assert(walk_max_file_bytes == header_bytes + 256 + 65536 * 4 + walk_max_steps * 5 + 4, "file size bound");
constexpr size_t step_bytes = 5;
constexpr uint16_t none16 = 0xFFFF;

uint32_t crc32(const uint8_t *p, size_t n)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int b = 0; b < 8; b++)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++)
        c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void put16(std::vector<uint8_t> &out, unsigned v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t> &out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

unsigned get16(const uint8_t *p) { return p[0] | static_cast<unsigned>(p[1]) << 8; }
uint32_t get32(const uint8_t *p) { return get16(p) | static_cast<uint32_t>(get16(p + 2)) << 16; }

std::string hex2(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
    return buf;
}

} // namespace

unsigned walk_condition_bits(uint8_t registered)
{
    return walk_input_bits + 8 - popcount64(registered);
}

void walk_levels(uint8_t registered, unsigned c, uint16_t &ix, uint8_t &rx)
{
    ix = static_cast<uint16_t>((c & 0xFF) << 1);
    rx = static_cast<uint8_t>(deposit_bits(c >> walk_input_bits, static_cast<uint8_t>(~registered)));
}

int walk_condition_of(uint8_t registered, uint16_t ix, uint8_t rx)
{
    if (ix & 0x200)
        return -1;
    return static_cast<int>(((ix >> 1) & 0xFF) | extract_bits(rx, static_cast<uint8_t>(~registered)) << walk_input_bits);
}

int walk_add_state(walk_tables &tables, uint8_t registered, uint8_t levels)
{
    for (size_t s = 0; s < tables.states.size(); s++) {
        if (tables.states[s].levels == levels)
            return static_cast<int>(s);
    }
    walk_state st;
    st.levels = levels;
    st.reading.assign(walk_conditions(registered), walk_none);
    st.next.assign(walk_conditions(registered), walk_none);
    tables.states.push_back(std::move(st));
    return static_cast<int>(tables.states.size() - 1);
}

bool walk_derive_step(const walk_record &record, const walk_step &step, size_t index, walk_tables &tables,
                      int &cur, std::string &err, walk_step_effect *effect)
{
    walk_step_effect fx;
    fx.from = cur;
    const uint8_t reg = record.registered;
    const std::string at = "step " + std::to_string(index + 1) + ": ";
    if (step.ix > 0x3FF || step.clock > 1) {
        err = at + "not a step of the adapter";
        return false;
    }
    if (step.ix >> 9 & 1) {
        if (step.clock) {
            err = at + "a clock edge while I9 is high, the state it led to unseen";
            return false;
        }
        if (cur >= 0) {
            err = at + "I9 high after the walk began";
            return false;
        }
        if (effect)
            *effect = fx;
        return true;
    }
    const uint8_t levels = step.reading & reg;
    const unsigned c = static_cast<unsigned>(walk_condition_of(reg, step.ix, step.rx));
    fx.condition = static_cast<int>(c);
    auto note_reading = [&](int s) {
        int16_t &r = tables.states[static_cast<size_t>(s)].reading[c];
        if (r == walk_none) {
            r = step.reading;
            fx.new_reading = true;
        } else if (r != step.reading) {
            tables.conflicts++;
            tables.unsteady = static_cast<uint8_t>(tables.unsteady | (r ^ step.reading));
        }
    };
    if (cur < 0) {
        // The first reading: the state it shows is where the walk starts.
        if (step.clock) {
            err = at + "a clock edge before the first reading";
            return false;
        }
        if (levels != record.start) {
            err = at + "the walk's first reading shows the state " + hex2(levels) + ", not its start state " +
                  hex2(record.start);
            return false;
        }
        cur = walk_add_state(tables, reg, levels);
        fx.from = cur;
        note_reading(cur);
    } else if (!step.clock) {
        if (levels != tables.states[static_cast<size_t>(cur)].levels) {
            err = at + "the registers changed without a clock";
            return false;
        }
        note_reading(cur);
    } else {
        const int t = walk_add_state(tables, reg, levels);
        int16_t &next = tables.states[static_cast<size_t>(cur)].next[c];
        if (next == walk_none) {
            next = static_cast<int16_t>(t);
            fx.new_next = true;
        } else if (next != t) {
            tables.conflicts++;
        }
        cur = t;
    }
    if (effect)
        *effect = fx;
    return true;
}

bool walk_derive(const walk_record &record, walk_tables &tables, std::string &err)
{
    tables = walk_tables{};
    if (!record.registered) {
        err = "no registered pins";
        return false;
    }
    if (record.start & ~record.registered) {
        err = "a start state outside the registered pins";
        return false;
    }
    int cur = -1;
    for (size_t i = 0; i < record.steps.size(); i++) {
        if (!walk_derive_step(record, record.steps[i], i, tables, cur, err))
            return false;
    }
    if (tables.states.empty())
        walk_add_state(tables, record.registered, record.start);
    return true;
}

int walk_floats(const walk_state &state, uint8_t registered, unsigned c, int k)
{
    const unsigned weak = 1u << (walk_input_bits + popcount64(~registered & 0xFFu & ((1u << k) - 1)));
    const int16_t lo = state.reading[c & ~weak], hi = state.reading[c | weak];
    if (lo == walk_none || hi == walk_none)
        return -1;
    return !(lo >> k & 1) && (hi >> k & 1);
}

walk_counts walk_count(const walk_tables &tables)
{
    walk_counts n;
    n.states = static_cast<unsigned>(tables.states.size());
    std::vector<uint8_t> seen; // per key: 1 read, 2 clocked
    for (const walk_state &st : tables.states) {
        seen.assign(65536, 0);
        bool complete = true;
        unsigned clocked_unread = 0;
        for (size_t c = 0; c < st.reading.size(); c++) {
            if (st.reading[c] == walk_none) {
                complete = false;
                if (st.next[c] != walk_none)
                    clocked_unread++;
                continue;
            }
            uint8_t &s = seen[walk_key(static_cast<unsigned>(c), static_cast<unsigned>(st.reading[c]))];
            s |= static_cast<uint8_t>(st.next[c] != walk_none ? 2 : 1);
        }
        unsigned untried = 0;
        for (uint8_t s : seen) {
            if (s & 2)
                n.transitions++;
            else if (s)
                untried++;
        }
        n.transitions += clocked_unread;
        if (!complete)
            n.unread += static_cast<unsigned>(std::count(st.reading.begin(), st.reading.end(), walk_none));
        n.untried += untried;
        if (untried || !complete)
            n.states_with_untried++;
    }
    return n;
}

std::vector<uint8_t> walk_file_bytes(const walk_record &record)
{
    walk_tables tables;
    std::string err;
    std::vector<uint8_t> out;
    if (!walk_derive(record, tables, err))
        return out;
    out.insert(out.end(), walk_magic.begin(), walk_magic.end());
    put16(out, walk_version);
    out.insert(out.end(), walk_pins.begin(), walk_pins.end());
    out.push_back(record.registered);
    out.push_back(record.start);
    put16(out, static_cast<unsigned>(tables.states.size()));
    put32(out, static_cast<uint32_t>(record.steps.size()));
    for (const walk_state &st : tables.states)
        out.push_back(st.levels);
    for (const walk_state &st : tables.states) {
        for (int16_t r : st.reading)
            put16(out, r == walk_none ? none16 : static_cast<unsigned>(r));
    }
    for (const walk_state &st : tables.states) {
        for (int16_t t : st.next)
            put16(out, t == walk_none ? none16 : static_cast<unsigned>(t));
    }
    for (const walk_step &s : record.steps) {
        put16(out, s.ix);
        out.push_back(s.rx);
        out.push_back(s.clock);
        out.push_back(s.reading);
    }
    put32(out, crc32(out.data(), out.size()));
    return out;
}

bool walk_file_begins(const uint8_t *p, size_t size)
{
    return size >= walk_magic.size() && std::equal(walk_magic.begin(), walk_magic.end(), p);
}

bool walk_parse(const std::vector<uint8_t> &bytes, walk_record &record, walk_tables &tables, std::string &err)
{
    record = walk_record{};
    tables = walk_tables{};
    if (!walk_file_begins(bytes.data(), bytes.size())) {
        err = "not a walk file (no walk file header)";
        return false;
    }
    if (bytes.size() < header_bytes + 4) {
        err = "a walk file cut short in its header";
        return false;
    }
    const uint8_t *p = bytes.data();
    if (get16(p + 8) != walk_version) {
        err = "a walk file of version " + std::to_string(get16(p + 8)) + "; this program reads version " +
              std::to_string(walk_version);
        return false;
    }
    if (!std::equal(walk_pins.begin(), walk_pins.end(), p + 10)) {
        err = "a walk file with another numbering of the signals";
        return false;
    }
    const uint8_t registered = p[28], start = p[29];
    const size_t states = get16(p + 30), steps = get32(p + 32);
    if (!registered || (start & ~registered)) {
        err = "a walk file whose registered pins or start state make no sense";
        return false;
    }
    const size_t conds = walk_conditions(registered);
    if (states < 1 || states > (size_t(1) << popcount64(registered)) || steps > walk_max_steps) {
        err = "a walk file with " + std::to_string(states) + " states and " + std::to_string(steps) +
              " steps, more than its registers allow";
        return false;
    }
    const size_t size = header_bytes + states + states * conds * 4 + steps * step_bytes + 4;
    if (bytes.size() != size) {
        err = bytes.size() < size ? "a walk file cut short" : "a walk file with bytes after its end";
        return false;
    }
    if (crc32(p, size - 4) != get32(p + size - 4)) {
        err = "a walk file whose checksum does not match: it was damaged";
        return false;
    }
    record.registered = registered;
    record.start = start;
    const uint8_t *q = p + header_bytes + states + states * conds * 4;
    record.steps.resize(steps);
    for (size_t i = 0; i < steps; i++, q += step_bytes) {
        walk_step &s = record.steps[i];
        s.ix = static_cast<uint16_t>(get16(q));
        s.rx = q[2];
        s.clock = q[3];
        s.reading = q[4];
    }
    if (!walk_derive(record, tables, err)) {
        err = "a walk file whose steps are no walk of a chip: " + err;
        return false;
    }
    // The tables must be the ones the steps give.
    bool same = tables.states.size() == states;
    const uint8_t *lv = p + header_bytes;
    const uint8_t *rd = lv + states;
    const uint8_t *nx = rd + states * conds * 2;
    for (size_t s = 0; same && s < states; s++) {
        const walk_state &st = tables.states[s];
        same = st.levels == lv[s];
        for (size_t c = 0; same && c < conds; c++) {
            const unsigned r = get16(rd + (s * conds + c) * 2), t = get16(nx + (s * conds + c) * 2);
            same = r == (st.reading[c] == walk_none ? none16 : static_cast<unsigned>(st.reading[c])) &&
                   t == (st.next[c] == walk_none ? none16 : static_cast<unsigned>(st.next[c]));
        }
    }
    if (!same) {
        err = "a walk file whose tables do not match its steps";
        return false;
    }
    return true;
}

uint8_t walk_apply(sim_chip &chip, walk_latches &latches, const walk_step &step)
{
    const uint16_t ix = static_cast<uint16_t>(step.ix & 0x3FEu);
    if (step.rx != latches.rx) {
        latches.rx = step.rx;
        chip.drive(latches.ix, latches.rx);
    }
    if ((ix ^ latches.ix) & 0x300u) {
        latches.ix = static_cast<uint16_t>((latches.ix & 0xFFu) | (ix & 0x300u));
        chip.drive(latches.ix, latches.rx);
    }
    if ((ix ^ latches.ix) & 0xFFu) {
        latches.ix = ix;
        chip.drive(latches.ix, latches.rx);
    }
    if (step.clock) {
        latches.ix = static_cast<uint16_t>(ix | 1u);
        chip.drive(latches.ix, latches.rx);
    }
    return static_cast<uint8_t>(chip.read());
}

bool walk_replay_result::same() const
{
    for (unsigned m : mismatches) {
        if (m)
            return false;
    }
    return true;
}

walk_replay_result walk_replay(sim_chip &chip, const walk_record &record)
{
    walk_replay_result r;
    r.first = record.steps.size();
    walk_latches latches;
    for (size_t i = 0; i < record.steps.size(); i++) {
        const unsigned diff = walk_apply(chip, latches, record.steps[i]) ^ record.steps[i].reading;
        if (!diff)
            continue;
        if (r.first == record.steps.size())
            r.first = i;
        for (unsigned k = 0; k < 8; k++)
            r.mismatches[k] += diff >> k & 1;
    }
    return r;
}

uint8_t walk_floating_step(uint8_t registered, const walk_step &prev, const walk_step &step)
{
    const unsigned weak = prev.rx ^ step.rx;
    if (step.clock || ((prev.ix | step.ix) & 0x200u) || ((prev.ix ^ step.ix) & 0x1FEu) || popcount64(weak) != 1 ||
        (weak & registered))
        return 0;
    return ((prev.reading ^ step.reading) & weak) && !((step.reading ^ step.rx) & weak) ? static_cast<uint8_t>(weak)
                                                                                          : 0;
}

uint8_t walk_floating_pins(const walk_record &record)
{
    uint8_t floating = 0;
    for (size_t i = 1; i < record.steps.size(); i++)
        floating = static_cast<uint8_t>(floating |
                                        walk_floating_step(record.registered, record.steps[i - 1], record.steps[i]));
    return floating;
}

bool walk_single_write(const walk_step &prev, const walk_step &step)
{
    if ((prev.ix | step.ix) & 0x200u)
        return false;
    const unsigned moved = prev.ix ^ step.ix;
    if (step.clock)
        return !(moved & 0x3FEu) && prev.rx == step.rx;
    const unsigned groups = ((moved & 0xFEu) != 0) + ((moved & 0x300u) != 0) + (prev.rx != step.rx);
    return groups <= 1;
}

uint8_t walk_input_pins(const walk_record &record)
{
    unsigned inputs = 0xFF & ~record.registered;
    for (const walk_step &s : record.steps)
        inputs &= ~(s.reading ^ s.rx);
    return static_cast<uint8_t>(inputs);
}

bool walk_latch_book_init(walk_latch_book &book, uint8_t registered, uint8_t floating, uint8_t inputs)
{
    book = walk_latch_book{};
    book.registered = registered;
    book.floating = static_cast<uint8_t>((floating | inputs) & ~registered);
    book.held = static_cast<uint8_t>(~registered & ~inputs);
    book.register_bits = popcount64(registered);
    book.level_bits = popcount64(book.held);
    book.condition_bits = walk_input_bits + popcount64(book.floating);
    const unsigned bits = book.register_bits + book.level_bits + book.condition_bits;
    if ((size_t(1) << bits) > walk_latch_max_points)
        return false;
    book.reached.assign(size_t(1) << bits, 0);
    book.driven.assign(size_t(1) << bits, 0);
    book.clocked.assign(size_t(1) << bits, walk_none);
    book.settled.assign(size_t(1) << bits, walk_none);
    return true;
}

namespace {

unsigned book_condition(const walk_latch_book &b, const walk_step &s)
{
    return ((s.ix >> 1) & 0xFFu) | extract_bits(s.rx, b.floating) << walk_input_bits;
}

unsigned book_registers(const walk_latch_book &b, uint8_t reading)
{
    return extract_bits(reading, b.registered);
}

unsigned book_levels(const walk_latch_book &b, uint8_t reading)
{
    return extract_bits(reading, b.held);
}

} // namespace

size_t walk_latch_point_of(const walk_latch_book &book, const walk_step &step)
{
    return walk_point(book, book_registers(book, step.reading), book_levels(book, step.reading),
                      book_condition(book, step));
}

size_t walk_latch_write_of(const walk_latch_book &book, const walk_step &prev, const walk_step &step)
{
    if (!walk_single_write(prev, step))
        return SIZE_MAX;
    return walk_point(book, book_registers(book, step.reading), book_levels(book, prev.reading),
                      book_condition(book, step));
}

void walk_latch_book_step(walk_latch_book &book, const walk_step *prev, const walk_step &step)
{
    if (book.reached.empty() || (step.ix & 0x200u))
        return;
    const size_t at = walk_latch_point_of(book, step);
    const int16_t levels = static_cast<int16_t>(book_levels(book, step.reading));
    book.reached[at] = 1;
    book.driven[at] = static_cast<uint8_t>(book.driven[at] | ((step.reading ^ step.rx) & book.held));
    // A reached point is where its levels stay.
    book.settled[at] = levels;
    const size_t write = prev ? walk_latch_write_of(book, *prev, step) : SIZE_MAX;
    if (write == SIZE_MAX)
        return;
    book.settled[write] = levels;
    if (step.clock)
        book.clocked[walk_latch_point_of(book, *prev)] = static_cast<int16_t>(book_registers(book, step.reading));
}

void walk_latch_book_steps(walk_latch_book &book, const walk_record &record)
{
    for (size_t i = 0; i < record.steps.size(); i++)
        walk_latch_book_step(book, i ? &record.steps[i - 1] : nullptr, record.steps[i]);
}

walk_latch_open walk_latch_count(const walk_latch_book &book)
{
    // Each write counted once, however many reached points can make it.
    walk_latch_open open;
    std::vector<uint8_t> counted(book.settled.size(), 0);
    std::vector<uint8_t> low_done(book.settled.size() >> 7, 0);
    auto count = [&](size_t w) {
        if (!counted[w] && book.settled[w] == walk_none)
            open.untried++;
        counted[w] = 1;
    };
    const size_t conds = size_t(1) << book.condition_bits;
    const size_t weak_levels = conds >> walk_input_bits;
    for (size_t p = 0; p < book.reached.size(); p++) {
        if (!book.reached[p])
            continue;
        open.points++;
        open.unclocked += book.clocked[p] == walk_none;
        open.unchecked += walk_latch_unchecked(book, p) != 0;
        if (!low_done[p >> 7]) {
            low_done[p >> 7] = 1;
            for (size_t w = p & ~size_t(0x7F); w <= (p | 0x7F); w++)
                count(w);
        }
        count(p ^ 0x80u);
        const size_t base = p - p % conds;
        for (size_t w = 0; w < weak_levels; w++)
            count(base + (w << walk_input_bits | (p & 0xFFu)));
    }
    return open;
}

std::string walk_latch_open_text(const walk_latch_open &open)
{
    auto count = [](size_t n, const char *one, const char *many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    return count(open.untried, "write of one latch", "writes of one latch") + ", " +
           count(open.unclocked, "clock edge", "clock edges") + " and " +
           count(open.unchecked, "drive check", "drive checks");
}
