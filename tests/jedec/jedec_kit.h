// Fuse maps for the tests: a PAL16L8, PAL16R8 or GAL16V8 design written in
// a few words, the fuses and JEDEC text that program it, an evaluator of its
// combinational behaviour written from the data sheets' pin tables, and
// seeded random designs. Header only: the end-to-end tests use it too.
#ifndef JEDEC_KIT_H
#define JEDEC_KIT_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

enum jk_device { jk_pal16l8, jk_pal16r8, jk_gal_simple, jk_gal_complex, jk_gal_registered };
inline const char *jk_device_name(jk_device d) { return d > jk_pal16r8 ? "GAL16V8" : d ? "PAL16R8" : "PAL16L8"; }

// A product term over signals I0..I9 = 0..9, Bk = 10 + k: those in high must
// be 1, those in low 0. `off' clears the row's GAL16V8 product-term enable.
struct jk_term { uint32_t high = 0, low = 0; bool off = false; };
// kind: 0 unused, 1 combinational, 2 registered; the PALs are active low.
struct jk_output { int kind = 0; bool has_oe = false, active_high = false; jk_term oe; std::vector<jk_term> terms; };
struct jk_design { jk_device device; std::array<jk_output, 8> out; }; // out[k]: pin Bk

inline unsigned jk_signal(const std::string &w) { return (w[0] == 'B' ? 10u : 0u) + static_cast<unsigned>(w[1] - '0'); }

inline jk_term jk_term_of(const std::string &text) // "I0 /B2 off"
{
    jk_term t;
    t.off = text.find("off") != std::string::npos;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        if (w != "off")
            (w[0] == '/' ? t.low : t.high) |= 1u << jk_signal(w.substr(w[0] == '/'));
    return t;
}

// "B6 oe I2: I3, /I4; B0 r h: B0": outputs separated by ';', each its pin,
// r (registered), h (active high), oe and the enable term, then its terms.
inline jk_design jk_parse(jk_device dev, const std::string &text)
{
    jk_design d{dev, {}};
    std::istringstream parts(text);
    for (std::string part, w; std::getline(parts, part, ';');) {
        std::istringstream head(part.substr(0, part.find(':'))), terms(part.substr(part.find(':') + 1));
        head >> w;
        jk_output &o = d.out[jk_signal(w) - 10];
        for (o.kind = 1; head >> w && w != "oe";)
            o.kind = w == "r" ? 2 : o.kind, o.active_high |= w == "h";
        if (w == "oe" && std::getline(head, w))
            o.has_oe = true, o.oe = jk_term_of(w);
        while (std::getline(terms, w, ','))
            if (w.find_first_not_of(' ') != std::string::npos)
                o.terms.push_back(jk_term_of(w));
    }
    return d;
}

// Calls f(signal, column pair) for every signal with a column in the array,
// from the package pins of the column pairs in the logic diagrams.
template <class F> void jk_columns(jk_device d, F f)
{
    static const unsigned pins[3][16] = {{2, 1, 3, 19, 4, 18, 5, 17, 6, 14, 7, 13, 8, 12, 9, 11},  // GAL simple
                                         {2, 1, 3, 18, 4, 17, 5, 16, 6, 15, 7, 14, 8, 13, 9, 11},  // combinational
                                         {2, 19, 3, 18, 4, 17, 5, 16, 6, 15, 7, 14, 8, 13, 9, 12}}; // registered
    const unsigned *p = pins[d == jk_gal_simple ? 0 : d == jk_pal16l8 || d == jk_gal_complex ? 1 : 2];
    for (unsigned n = 0; n < 18; n++)
        for (unsigned c = 0; c < 16; c++)
            if (p[c] == (n < 9 ? n + 1 : n == 9 ? 11 : n + 2))
                f(n, c);
}

// The fuses (0 = connected). Rows left alone stay all connected: never true.
inline std::vector<uint8_t> jk_fuses(const jk_design &d)
{
    bool gal = d.device >= jk_gal_simple;
    std::vector<uint8_t> f(gal ? 2194 : 2048, 0);
    if (gal) { // every row's PTD on, then SYN and AC0
        std::fill(f.begin() + 2128, f.begin() + 2192, 1);
        f[2192] = d.device != jk_gal_registered, f[2193] = d.device != jk_gal_simple;
    }
    for (unsigned k = 0; k < 8; k++) {
        const jk_output &o = d.out[k];
        std::vector<jk_term> rows = o.terms;
        if (o.kind == 1 && d.device != jk_gal_simple)
            rows.insert(rows.begin(), o.has_oe ? o.oe : jk_term());
        for (unsigned i = 0, row = 8 * (7 - k); i < rows.size(); i++, row++) {
            jk_columns(d.device, [&](unsigned n, unsigned c) {
                f[row * 32 + 2 * c] = !(rows[i].high >> n & 1), f[row * 32 + 2 * c + 1] = !(rows[i].low >> n & 1);
            });
            if (rows[i].off)
                f[2128 + row] = 0;
        }
        if (gal) // XOR and AC1
            f[2048 + 7 - k] = o.active_high,
            f[2120 + 7 - k] = d.device == jk_gal_simple ? o.kind == 0 : d.device == jk_gal_complex || o.kind != 2;
    }
    return f;
}

inline std::string jk_text(const std::vector<uint8_t> &f)
{
    std::string t = "gatesweep test*QF" + std::to_string(f.size()) + "*L0 ";
    unsigned sum = 0;
    for (size_t i = 0; i < f.size(); i++) {
        t += static_cast<char>('0' + f[i]);
        sum += static_cast<unsigned>(f[i] & 1) << (i % 8);
    }
    char c[8];
    std::snprintf(c, sizeof c, "%04X", sum & 0xFFFF);
    return t + "*C" + c + "*";
}

inline bool jk_holds(const jk_term &t, uint32_t s) { return !t.off && (s & t.high) == t.high && !(s & t.low); }

// A combinational design without loops at inputs ix, weak levels rx: oe bit k
// when the chip drives Bk, out its levels, recomputed until they stand still.
inline void jk_eval(const jk_design &d, unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    for (unsigned pass = 0, seen = rx; pass < 10; pass++, seen = out) {
        out = oe = 0;
        for (unsigned k = 0; k < 8; k++) {
            const jk_output &o = d.out[k];
            bool any = false, drives = o.kind == 1 && (!o.has_oe || jk_holds(o.oe, ix | seen << 10));
            for (const jk_term &t : o.terms)
                any = any || jk_holds(t, ix | seen << 10);
            oe |= drives << k, out |= (drives ? any == o.active_high : rx >> k & 1) << k;
        }
        if (out == seen)
            break;
    }
}

// 1 to 3 terms of 1 to 3 literals per used output, over the inputs, unused
// pins and the outputs before it (no loops); enables over the inputs only.
inline jk_design jk_random(jk_device device, unsigned seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    auto term = [&](uint32_t from, unsigned most) {
        jk_term t;
        for (unsigned l = pick(most) + 1, n; l-- > 0;) {
            do n = pick(18); while (!(from >> n & 1));
            if (!((t.high | t.low) >> n & 1))
                (pick(2) ? t.high : t.low) |= 1u << n;
        }
        return t;
    };
    jk_design d{device, {}};
    uint32_t array = 0, readable = 0x3FF;
    jk_columns(device, [&](unsigned n, unsigned) { array |= 1u << n; });
    for (unsigned k = 0; k < 8; k++)
        readable |= ((d.out[k].kind = pick(4) != 0) ? 0u : 1u << (10 + k)) & array;
    for (unsigned k = 0; k < 8; k++) {
        jk_output &o = d.out[k];
        for (unsigned t = pick(3) + 1; o.kind && t-- > 0;)
            o.terms.push_back(term(readable, 3));
        if (o.kind && device != jk_gal_simple && pick(2))
            o.has_oe = true, o.oe = term(0x3FF, 2);
        o.active_high = o.kind && device >= jk_gal_simple && pick(2);
        readable |= (1u << (10 + k)) & array;
    }
    return d;
}

#endif
