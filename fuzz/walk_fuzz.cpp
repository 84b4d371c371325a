// Fuzz target: the walk-file reader. The input is the file; the tables of
// a file that reads are counted. The same bytes are also taken as a walk
// record (registered pins, start state, then five bytes a step: ix low and
// high, rx, clock, reading), which, where its steps are a walk of a chip,
// must come back whole through its walk file: a file that the reader
// refuses or reads otherwise is a fault; and its book as a walk of latches
// is counted, never with more points reached than steps.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "walk.h"

namespace {

bool same_record(const walk_record &a, const walk_record &b)
{
    if (a.registered != b.registered || a.start != b.start || a.steps.size() != b.steps.size())
        return false;
    for (size_t i = 0; i < a.steps.size(); i++) {
        const walk_step &s = a.steps[i], &t = b.steps[i];
        if (s.ix != t.ix || s.rx != t.rx || s.clock != t.clock || s.reading != t.reading)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size)
{
    walk_record record;
    walk_tables tables;
    std::string err;
    if (walk_parse(std::vector<uint8_t>(in, in + size), record, tables, err))
        walk_count(tables);

    if (size < 2)
        return 0;
    walk_record made;
    made.registered = in[0];
    made.start = in[1];
    for (size_t i = 2; i + 5 <= size; i += 5) {
        walk_step s;
        s.ix = static_cast<uint16_t>(in[i] | in[i + 1] << 8);
        s.rx = in[i + 2];
        s.clock = in[i + 3];
        s.reading = in[i + 4];
        made.steps.push_back(s);
    }
    if (!walk_derive(made, tables, err))
        return 0;
    const std::vector<uint8_t> file = walk_file_bytes(made);
    if (!walk_parse(file, record, tables, err) || !same_record(record, made))
        std::abort();
    walk_count(tables);
    // What the fitter counts of a walk of latches.
    walk_latch_book book;
    if (walk_latch_book_init(book, made.registered, walk_floating_pins(made), walk_input_pins(made))) {
        walk_latch_book_steps(book, made);
        const walk_latch_open open = walk_latch_count(book);
        if (open.points > made.steps.size())
            std::abort();
    }
    return 0;
}
