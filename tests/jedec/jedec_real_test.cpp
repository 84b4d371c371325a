// The published fuse maps in the shared test data: every one loads, the
// GAL16V8 conversions behave like their PAL originals, and a few equations
// read off with MAME's jedutil hold in the readings.
#include "jedec_sweep.h"
#include "testkit.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const std::string data_dir = std::string(SHARED_TESTDATA_DIR) + "/jedec/";

const char *const real_files[] = {
    "alphamission_15b_fixed_gal16v8.jed", "alphamission_9f_gal16v8.jed", "e800j_io_gal16v8.jed",
    "e800j_mem_gal16v8.jed", "sun3_60_1564-02_pal16r4.jed", "sun3_60_1567-01_pal16l8.jed",
    "sun3_60_1580-01_gdj_gal16v8.jed", "sun3_60_1580-01_pal16r6.jed", "sun3_60_1590-01_gdj_gal16v8.jed",
    "sun3_60_1590-01_pal16l8.jed", "sun3_60_1594-01_pal16r8.jed", "sun3_60_1599-01_gdj_gal16v8.jed",
    "sun3_60_1599-01_pal16r4.jed",
};

// The device is the last part of the file name, in capitals.
std::string device_of(const std::string &file)
{
    std::string dev = file.substr(file.rfind('_') + 1);
    dev = dev.substr(0, dev.find('.'));
    for (char &c : dev)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return dev;
}

std::vector<uint8_t> sweep_file(const std::string &file)
{
    std::string err;
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip(device_of(file), data_dir + file, err);
    EXPECT_TRUE(chip) << file << ": " << err;
    return chip ? jk_sweep(*chip) : std::vector<uint8_t>();
}

} // namespace

TEST(JedecReal, EveryPublishedMapLoads)
{
    for (const char *file : real_files) {
        std::string err;
        EXPECT_TRUE(sim_make_jedec_chip(device_of(file), data_dir + file, err)) << file << ": " << err;
    }
}

TEST(JedecReal, GalConversionsBehaveLikeTheirPalOriginals)
{
    const char *const pairs[][2] = {
        {"sun3_60_1590-01_pal16l8.jed", "sun3_60_1590-01_gdj_gal16v8.jed"},
        {"sun3_60_1580-01_pal16r6.jed", "sun3_60_1580-01_gdj_gal16v8.jed"},
        {"sun3_60_1599-01_pal16r4.jed", "sun3_60_1599-01_gdj_gal16v8.jed"},
    };
    for (const auto &pair : pairs) {
        std::vector<uint8_t> pal = sweep_file(pair[0]), gal = sweep_file(pair[1]);
        ASSERT_EQ(pal.size(), 262144u);
        EXPECT_TRUE(pal == gal) << pair[0] << " and " << pair[1] << " differ";
    }
}

TEST(JedecReal, EquationsReadWithJedutilHold)
{
    // e800j_io, simple mode: "/o13 = i1 & i2 & i3 & /i4 & /i5 & /i6 & i7 & i8",
    // always driven: B1 is low exactly when I0..I7 read 1,1,1,0,0,0,1,1.
    std::vector<uint8_t> io = sweep_file("e800j_io_gal16v8.jed");
    ASSERT_EQ(io.size(), 262144u);
    unsigned wrong = 0;
    for (unsigned i = 0; i < io.size(); i++)
        wrong += (io[i] >> 1 & 1) != ((i & 0xFF) != 0xC7);
    EXPECT_EQ(wrong, 0u);

    // sun3_60_1594-01, PAL16R8: "/rf12 := rf14". The register of B0 takes the
    // inverse of B2's register at the edge of each odd step; pins on while I9 low.
    std::vector<uint8_t> r8 = sweep_file("sun3_60_1594-01_pal16r8.jed");
    ASSERT_EQ(r8.size(), 262144u);
    wrong = 0;
    for (unsigned i = 1; i < r8.size(); i += 2) {
        if (!(i & 0x200))
            wrong += (r8[i] & 1) != ((r8[i - 1] >> 2 & 1) ^ 1);
    }
    EXPECT_EQ(wrong, 0u);
}
