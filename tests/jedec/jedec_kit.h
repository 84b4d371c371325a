// Fuse maps for the tests: a small description of a PAL16L8, PAL16Rx or
// GAL16V8 design, the JEDEC text that programs it (a tiny writer, so that
// the reader is exercised too), an evaluator of its combinational behaviour
// written from the data sheets' pin tables, and seeded random designs.
// Header only: used by the model tests and by the end-to-end tests.
#ifndef JEDEC_KIT_H
#define JEDEC_KIT_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

enum jk_device { jk_pal16l8, jk_pal16r4, jk_pal16r6, jk_pal16r8, jk_gal_simple, jk_gal_complex, jk_gal_registered };

// A product term over signal numbers (I0..I9 = 0..9, Bk = 10 + k): the
// signals in high must be 1, those in low must be 0. A literal on Bk is the
// level the array sees: the pin, or the register of a registered output.
struct jk_term {
    uint32_t high = 0, low = 0;
};

enum jk_kind { jk_unused, jk_comb, jk_reg };

struct jk_output {
    jk_kind kind = jk_unused;
    std::vector<jk_term> terms; // the output holds its active level when one holds
    bool has_oe = false;        // combinational: driven only while oe holds
    jk_term oe;
    bool active_high = false; // GAL16V8 XOR bit; the PALs are active low
};

struct jk_design {
    jk_device device = jk_pal16l8;
    std::array<jk_output, 8> out; // index k: pin Bk (package pin 12 + k)
    std::vector<unsigned> disabled_rows; // GAL16V8 product-term disable
};

inline const char *jk_device_name(jk_device d)
{
    switch (d) {
    case jk_pal16l8: return "PAL16L8";
    case jk_pal16r4: return "PAL16R4";
    case jk_pal16r6: return "PAL16R6";
    case jk_pal16r8: return "PAL16R8";
    default: return "GAL16V8";
    }
}

inline bool jk_is_gal(jk_device d) { return d == jk_gal_simple || d == jk_gal_complex || d == jk_gal_registered; }
inline unsigned jk_fuse_count(jk_device d) { return jk_is_gal(d) ? 2194 : 2048; }

// Package pins of the 16 column pairs, left to right, from the data sheets'
// logic diagrams.
inline std::array<unsigned, 16> jk_column_pins(jk_device d)
{
    if (d == jk_gal_simple)
        return {2, 1, 3, 19, 4, 18, 5, 17, 6, 14, 7, 13, 8, 12, 9, 11};
    if (d == jk_pal16l8 || d == jk_gal_complex)
        return {2, 1, 3, 18, 4, 17, 5, 16, 6, 15, 7, 14, 8, 13, 9, 11};
    return {2, 19, 3, 18, 4, 17, 5, 16, 6, 15, 7, 14, 8, 13, 9, 12};
}

inline unsigned jk_package_pin(unsigned signal)
{
    return signal < 9 ? signal + 1 : signal == 9 ? 11 : signal + 2;
}

// Signals that have a column in the device's array.
inline uint32_t jk_array_signals(jk_device d)
{
    std::array<unsigned, 16> pins = jk_column_pins(d);
    uint32_t mask = 0;
    for (unsigned n = 0; n < 18; n++) {
        for (unsigned p : pins) {
            if (p == jk_package_pin(n))
                mask |= 1u << n;
        }
    }
    return mask;
}

inline bool jk_has_oe_row(jk_device d, jk_kind kind)
{
    return kind == jk_comb && d != jk_gal_simple;
}

inline void jk_put_term(std::vector<uint8_t> &fuses, jk_device d, unsigned row, const jk_term &t)
{
    std::array<unsigned, 16> pins = jk_column_pins(d);
    for (unsigned c = 0; c < 32; c++)
        fuses[row * 32 + c] = 1;
    for (unsigned n = 0; n < 18; n++) {
        bool hi = t.high >> n & 1, lo = t.low >> n & 1;
        if (!hi && !lo)
            continue;
        unsigned p = 0;
        while (p < 16 && pins[p] != jk_package_pin(n))
            p++;
        if (p == 16)
            throw std::logic_error("signal " + std::to_string(n) + " has no column in this device");
        if (hi)
            fuses[row * 32 + 2 * p] = 0;
        if (lo)
            fuses[row * 32 + 2 * p + 1] = 0;
    }
}

// The fuses that program the design (0 = connected). Unused rows stay all
// connected, which never holds.
inline std::vector<uint8_t> jk_fuses(const jk_design &d)
{
    std::vector<uint8_t> f(jk_fuse_count(d.device), 0);
    for (unsigned k = 0; k < 8; k++) {
        const jk_output &o = d.out[k];
        unsigned first = 8 * (7 - k), row = first;
        if (o.kind != jk_unused) {
            if (jk_has_oe_row(d.device, o.kind)) {
                if (o.has_oe)
                    jk_put_term(f, d.device, row, o.oe);
                else
                    jk_put_term(f, d.device, row, jk_term{});
                row++;
            }
            if (o.terms.size() > first + 8 - row)
                throw std::logic_error("too many terms for B" + std::to_string(k));
            for (const jk_term &t : o.terms)
                jk_put_term(f, d.device, row++, t);
        }
        if (jk_is_gal(d.device)) {
            f[2048 + 7 - k] = o.active_high;
            unsigned ac1 = d.device == jk_gal_simple ? o.kind == jk_unused
                           : d.device == jk_gal_complex ? 1
                                                        : o.kind != jk_reg;
            f[2120 + 7 - k] = static_cast<uint8_t>(ac1);
        }
    }
    if (jk_is_gal(d.device)) {
        for (unsigned r = 0; r < 64; r++)
            f[2128 + r] = 1;
        for (unsigned r : d.disabled_rows)
            f[2128 + r] = 0;
        f[2192] = d.device != jk_gal_registered;
        f[2193] = d.device != jk_gal_simple;
    }
    return f;
}

struct jk_style {
    bool stx = true;        // STX ... ETX framing
    bool qf = true;         // QF field
    int default_state = -1; // F field (0 or 1) and rows of that state left out; -1: no F, all rows
    bool split = false;     // every L field runs over two lines
    bool checksum = true;   // C field
    int checksum_delta = 0; // added to the right checksum
    bool lower_hex = false;
    long qf_value = -1;     // QF other than the fuse count
};

inline std::string jk_text(const std::vector<uint8_t> &fuses, const jk_style &s = jk_style())
{
    std::string t;
    if (s.stx)
        t += "\x02\r\n";
    t += "gatesweep test fuse map\r\nDevice under test*\r\n";
    if (s.qf)
        t += "QF" + std::to_string(s.qf_value >= 0 ? static_cast<unsigned long>(s.qf_value) : fuses.size()) + "*\r\n";
    if (s.default_state >= 0)
        t += "F" + std::to_string(s.default_state) + "*\r\n";
    for (size_t a = 0; a < fuses.size(); a += 32) {
        size_t n = fuses.size() - a < 32 ? fuses.size() - a : 32;
        std::string bits;
        bool all_default = true;
        for (size_t i = 0; i < n; i++) {
            bits += static_cast<char>('0' + fuses[a + i]);
            all_default = all_default && fuses[a + i] == s.default_state;
        }
        if (all_default)
            continue;
        char head[16];
        std::snprintf(head, sizeof head, "L%05u", static_cast<unsigned>(a));
        if (s.split)
            t += std::string(head) + "\r\n" + bits.substr(0, 13) + "\r\n" + bits.substr(13) + "*\r\n";
        else
            t += std::string(head) + " " + bits + "*\r\n";
    }
    if (s.checksum) {
        unsigned sum = 0;
        for (size_t i = 0; i < fuses.size(); i += 8) {
            unsigned byte = 0;
            for (size_t j = 0; j < 8 && i + j < fuses.size(); j++)
                byte |= static_cast<unsigned>(fuses[i + j]) << j;
            sum += byte;
        }
        char c[16];
        std::snprintf(c, sizeof c, s.lower_hex ? "C%04x*\r\n" : "C%04X*\r\n",
                      (sum + static_cast<unsigned>(s.checksum_delta)) & 0xFFFF);
        t += c;
    }
    if (s.stx)
        t += "\x03" "0000";
    return t;
}

inline bool jk_holds(const jk_term &t, uint32_t signals)
{
    return (signals & t.high) == t.high && (signals & t.low) == 0;
}

// The combinational design's pins at inputs ix and weak levels rx: oe bit k
// when the chip drives Bk, out bit k its level there. Feedback must not form
// loops; the levels are recomputed from the pins until they stand still.
inline void jk_eval(const jk_design &d, unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    unsigned pins = rx, driven = 0;
    for (unsigned pass = 0; pass < 10; pass++) {
        uint32_t signals = ix | pins << 10;
        unsigned next = 0;
        driven = 0;
        for (unsigned k = 0; k < 8; k++) {
            const jk_output &o = d.out[k];
            bool drives = o.kind == jk_comb && (!o.has_oe || jk_holds(o.oe, signals));
            unsigned level = rx >> k & 1;
            if (drives) {
                bool any = false;
                for (const jk_term &t : o.terms)
                    any = any || jk_holds(t, signals);
                level = any == o.active_high;
                driven |= 1u << k;
            }
            next |= level << k;
        }
        if (next == pins)
            break;
        pins = next;
    }
    oe = driven;
    out = pins;
}

// A random combinational design with sparse terms: 1 to 3 terms of 1 to 3
// literals per output. An output reads only inputs, unused pins (weak
// levels) and outputs placed before it, so there are no loops; enable terms
// use dedicated inputs only.
inline jk_design jk_random(jk_device device, unsigned seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    jk_design d;
    d.device = device;
    std::array<unsigned, 8> order = {0, 1, 2, 3, 4, 5, 6, 7};
    for (unsigned i = 7; i > 0; i--)
        std::swap(order[i], order[pick(i + 1)]);
    for (unsigned k = 0; k < 8; k++)
        d.out[k].kind = pick(4) == 0 ? jk_unused : jk_comb;
    uint32_t array = jk_array_signals(device);
    uint32_t readable = 0x3FF; // signals an output placed next may read
    for (unsigned k = 0; k < 8; k++) {
        if (d.out[k].kind == jk_unused)
            readable |= 1u << (10 + k);
    }
    readable &= array;
    for (unsigned pos = 0; pos < 8; pos++) {
        unsigned k = order[pos];
        jk_output &o = d.out[k];
        if (o.kind == jk_unused)
            continue;
        std::vector<unsigned> choices;
        for (unsigned n = 0; n < 18; n++) {
            if ((readable >> n & 1) && n != 10 + k)
                choices.push_back(n);
        }
        unsigned nterms = 1 + pick(3);
        for (unsigned t = 0; t < nterms; t++) {
            jk_term term;
            unsigned nlit = 1 + pick(3);
            for (unsigned l = 0; l < nlit; l++) {
                unsigned n = choices[pick(static_cast<unsigned>(choices.size()))];
                if ((term.high | term.low) >> n & 1)
                    continue;
                (pick(2) ? term.high : term.low) |= 1u << n;
            }
            o.terms.push_back(term);
        }
        if (device != jk_gal_simple && pick(2)) {
            o.has_oe = true;
            unsigned nlit = 1 + pick(2);
            for (unsigned l = 0; l < nlit; l++) {
                unsigned n = pick(10);
                if ((o.oe.high | o.oe.low) >> n & 1)
                    continue;
                (pick(2) ? o.oe.high : o.oe.low) |= 1u << n;
            }
        }
        o.active_high = jk_is_gal(device) && pick(2);
        readable |= (1u << (10 + k)) & array;
    }
    return d;
}

#endif
