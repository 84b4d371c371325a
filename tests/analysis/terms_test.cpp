// Product-term extraction: level choice, counts, order, and that the
// equations reproduce the dump.
#include <gtest/gtest.h>

#include <set>

#include "analysis_kit.h"
#include "terms.h"

namespace {

// Pin B0 with the given behaviour, B1..B7 inputs.
chip_fn b0_chip(const std::function<void(unsigned ix, unsigned rx, bool &driven, unsigned &level)> &f)
{
    return [f](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        bool driven = true;
        unsigned level = 0;
        f(ix, rx, driven, level);
        oe = driven ? 1u : 0u;
        out = level & 1u;
    };
}

std::vector<long> terms_of(term_table &t, int k, term_rule rule, uint32_t mask, int level)
{
    enumerate_terms(t, k, rule, mask, level);
    std::vector<long> v;
    for (long p = next_term(t, 0); p >= 0; p = next_term(t, p + 1))
        v.push_back(p);
    return v;
}

struct extraction {
    uint32_t n0, n1;
    int pol, nterms;
    std::vector<long> terms;
};

extraction extract(int k, term_rule rule)
{
    term_table t = new_term_table();
    const uint32_t mask = rule == RULE_OUTPUT ? mc[k].out_mask : mc[k].oe_mask;
    term_counts c = count_terms(t, k, rule, mask);
    extract_terms(t, k, rule);
    extraction e;
    e.n0 = c.n[0];
    e.n1 = c.n[1];
    e.pol = rule == RULE_OUTPUT ? mc[k].out_pol : mc[k].oe_pol;
    e.nterms = rule == RULE_OUTPUT ? mc[k].out_nterms : mc[k].oe_nterms;
    e.terms = terms_of(t, k, rule, mask, e.pol);
    return e;
}

TEST(Terms, OutputLevelChoice)
{
    analyse_chip(b0_chip([](unsigned ix, unsigned, bool &, unsigned &v) { v = bit(ix, 0) & bit(ix, 1); }));
    ASSERT_EQ(mc[0].out_mask, 0x003u);
    extraction e = extract(0, RULE_OUTPUT);
    EXPECT_EQ(e.n0, 3u);
    EXPECT_EQ(e.n1, 1u);
    EXPECT_EQ(e.pol, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0x003}));

    analyse_chip(b0_chip([](unsigned ix, unsigned, bool &, unsigned &v) { v = bit(ix, 0) | bit(ix, 1); }));
    e = extract(0, RULE_OUTPUT);
    EXPECT_EQ(e.n0, 1u);
    EXPECT_EQ(e.n1, 3u);
    EXPECT_EQ(e.pol, 0);
    EXPECT_EQ(e.nterms, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0x000}));

    // A tie goes to level 1.
    analyse_chip(b0_chip([](unsigned ix, unsigned, bool &, unsigned &v) { v = bit(ix, 3) ^ 1u; }));
    e = extract(0, RULE_OUTPUT);
    EXPECT_EQ(e.pol, 1);
    EXPECT_EQ(e.nterms, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0x000}));
}

TEST(Terms, OrderedByIoPinsThenInputs)
{
    analyse_chip(u12_chip);
    extraction e = extract(3, RULE_OUTPUT);   // B3 = I4 xor B5
    EXPECT_EQ(mc[3].out_mask, 0x8010u);
    EXPECT_EQ(e.pol, 1);
    EXPECT_EQ(e.nterms, 2);
    EXPECT_EQ(e.terms, (std::vector<long>{0x00010, 0x08000}));
}

TEST(Terms, EnableLevelChoice)
{
    // Driven while I2 is high: tie, the floating level is listed.
    analyse_chip(u12_chip);
    extraction e = extract(6, RULE_ENABLE);
    EXPECT_EQ(e.pol, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0x000}));
    e = extract(0, RULE_ENABLE);   // floats exactly while I9 is high
    EXPECT_EQ(e.pol, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0x200}));
    // B2 is fixed high while driven: enable terms, no output terms.
    EXPECT_FALSE(takes_terms(2, RULE_OUTPUT));
    EXPECT_TRUE(takes_terms(2, RULE_ENABLE));

    // Floats only with I0 and I1 both high.
    analyse_chip(b0_chip([](unsigned ix, unsigned, bool &d, unsigned &v) {
        d = !(bit(ix, 0) & bit(ix, 1));
        v = bit(ix, 5);
    }));
    e = extract(0, RULE_ENABLE);
    EXPECT_EQ(e.n0, 3u);
    EXPECT_EQ(e.n1, 1u);
    EXPECT_EQ(e.pol, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0x003}));

    // Driven only with I0 and I1 both high.
    analyse_chip(b0_chip([](unsigned ix, unsigned, bool &d, unsigned &v) {
        d = bit(ix, 0) & bit(ix, 1);
        v = bit(ix, 5);
    }));
    e = extract(0, RULE_ENABLE);
    EXPECT_EQ(e.pol, 0);
    EXPECT_EQ(e.nterms, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0x003}));
}

TEST(Terms, ExtractAllFillsOnlyThePinsThatTakeTerms)
{
    analyse_chip(u12_chip);
    term_table t = new_term_table();
    extract_all(t, RULE_OUTPUT);
    extract_all(t, RULE_ENABLE);
    // B2 (0x1A) and B4 (0x11) are fixed: no output fields; B5 and B1 are inputs.
    for (int k : {1, 2, 4, 5})
        EXPECT_EQ(mc[k].out_pol | mc[k].out_nterms, 0) << "B" << k;
    for (int k : {1, 3, 4, 5, 7})
        EXPECT_EQ(mc[k].oe_pol | mc[k].oe_nterms, 0) << "B" << k;
    EXPECT_EQ(mc[2].oe_pol, 1);
    EXPECT_EQ(mc[2].oe_nterms, 1);
    EXPECT_EQ(mc[7].out_nterms, 1);
}

TEST(Terms, EmptyMaskGivesOneTermWithoutLiterals)
{
    // Reads back the inverse of its own weak drive: both levels at term 0.
    analyse_chip(b0_chip([](unsigned, unsigned rx, bool &, unsigned &v) { v = bit(rx, 0) ^ 1u; }));
    ASSERT_EQ(mc[0].flags, 0x10u);
    extraction e = extract(0, RULE_OUTPUT);
    EXPECT_EQ(e.n0, 1u);
    EXPECT_EQ(e.n1, 1u);
    EXPECT_EQ(e.pol, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0}));
}

TEST(Terms, ATermSeenAtBothLevelsCountsInBoth)
{
    // B0 = I0, but with I1 high it also needs the weak level of B7, which is
    // always driven and so never an input: term 0x003 shows both levels.
    analyse_chip([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = 0x81;
        out = bit(ix, 1) ? (bit(ix, 0) & bit(rx, 7)) : bit(ix, 0);
    });
    EXPECT_EQ(mc[7].flags, 0x11u);
    EXPECT_EQ(mc[0].out_mask, 0x003u);
    extraction e = extract(0, RULE_OUTPUT);
    EXPECT_EQ(e.n0, 3u);   // 0x000, 0x002, 0x003
    EXPECT_EQ(e.n1, 2u);   // 0x001, 0x003
    EXPECT_EQ(e.pol, 1);
    EXPECT_EQ(e.terms, (std::vector<long>{0x001, 0x003}));
}

TEST(Terms, LevelChoiceRule)
{
    EXPECT_EQ(choose_level(term_counts{{1, 2}}), 0);
    EXPECT_EQ(choose_level(term_counts{{2, 2}}), 1);
    EXPECT_EQ(choose_level(term_counts{{3, 2}}), 1);
    EXPECT_EQ(choose_level(term_counts{{0, 2}}), 1);
}

// Pins as truth tables over a few inputs, enables on other inputs, and one
// pin that reads a floating I/O pin.
void table_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    static const uint32_t tables[8] = {0x6996u, 0x8001u, 0xFFFEu, 0x0116u, 0x7F80u, 0x1234u, 0xCAFEu, 0x0F0Fu};
    oe = out = 0;
    for (int k = 0; k < 8; k++) {
        unsigned sel = (bit(ix, k % 4) | bit(ix, 4 + k % 3) << 1 | bit(ix, 8) << 2 | bit(ix, (k + 1) % 4) << 3);
        unsigned level = (tables[k] >> sel) & 1u;
        if (k == 3)
            level ^= bit(rx, 6);
        bool driven = k < 4 || !(bit(ix, 9) & bit(ix, 7));
        oe |= unsigned(driven) << k;
        out |= level << k;
    }
}

TEST(Terms, EquationsReproduceTheDump)
{
    for (const chip_fn &chip : {chip_fn(u12_chip), chip_fn(pal_chip), chip_fn(table_chip)}) {
        analyse_chip(chip);
        term_table t = new_term_table();
        extract_all(t, RULE_OUTPUT);
        extract_all(t, RULE_ENABLE);
        int equations = 0;
        for (int k = 0; k < 8; k++) {
            for (term_rule rule : {RULE_OUTPUT, RULE_ENABLE}) {
                if (!takes_terms(k, rule))
                    continue;
                equations++;
                const bool out = rule == RULE_OUTPUT;
                const uint32_t mask = out ? mc[k].out_mask : mc[k].oe_mask;
                const int pol = out ? mc[k].out_pol : mc[k].oe_pol;
                std::vector<long> v = terms_of(t, k, rule, mask, pol);
                EXPECT_EQ(long(v.size()), long(out ? mc[k].out_nterms : mc[k].oe_nterms));
                std::set<long> terms(v.begin(), v.end());
                unsigned wrong = 0;
                for (uint32_t i = 0; i < dump_size; i++) {
                    const bool floats = bit(hiz_data[i], k);
                    if (out && floats)
                        continue;   // don't care
                    const unsigned seen = out ? bit(data[i], k) : unsigned(floats);
                    const unsigned said = terms.count(i & mask) ? unsigned(pol) : unsigned(pol ^ 1);
                    wrong += seen != said;
                }
                EXPECT_EQ(wrong, 0u) << "B" << k << (out ? "" : ".oe");
            }
        }
        EXPECT_GE(equations, 7);
    }
}

} // namespace
