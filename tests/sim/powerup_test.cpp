// The registers' state at power-up (FTD2XX_SIM_POWERUP), seen in a dump.
#include "simkit.h"
#include "testkit.h"

#include "../jedec/jedec_kit.h"

namespace {

// Dumps the chip of the fuse map text as device, without and with the
// power-up setting q, and returns the two dumps.
std::pair<bytes, bytes> dumps(jk_device dev, const std::string &design, const std::string &q)
{
    std::string dir = make_temp_dir();
    write_text(dir + "/chip.jed", jk_text(jk_fuses(jk_parse(dev, design))));
    std::string chip = std::string("FTD2XX_SIM_CHIP=jedec:") + jk_device_name(dev) + ":" + dir + "/chip.jed";
    run_result plain = run_program(dir, {chip}, GATESWEEP_EXE, {"dump", "plain.bin"});
    run_result set = run_program(dir, {chip, "FTD2XX_SIM_POWERUP=" + q}, GATESWEEP_EXE, {"dump", "set.bin"});
    EXPECT_EQ(plain.status, 1) << plain.out << plain.err;
    EXPECT_EQ(set.status, 1) << set.out << set.err;
    return {read_file(dir + "/plain.bin"), read_file(dir + "/set.bin")};
}

} // namespace

TEST_F(sim_test, PowerUpStateShowsAtTheFirstReadingOnly)
{
    // Every register loads an input, so from the first clock on the state is
    // the same: only dump index 0, before any clock, shows the power-up state,
    // the inverse of Q on every pin.
    std::pair<bytes, bytes> r8 =
        dumps(jk_pal16r8, "B0 r: I1; B1 r: I2; B2 r: I3; B3 r: I4; B4 r: I5; B5 r: I6; B6 r: I7; B7 r: I8", "0xa5");
    ASSERT_EQ(r8.first.size(), dump_size);
    EXPECT_EQ(r8.first[0], 0xFF);
    r8.first[0] ^= 0xA5;
    EXPECT_TRUE(r8.first == r8.second);
    // A GAL16V8 with one register, at B1.
    std::pair<bytes, bytes> gal = dumps(jk_gal_registered, "B1 r h: I1; B0 h: I2", "2");
    ASSERT_EQ(gal.first.size(), dump_size);
    EXPECT_EQ(gal.first[0] & 0x02, 0x02);
    gal.first[0] ^= 0x02;
    EXPECT_TRUE(gal.first == gal.second);
}

TEST_F(sim_test, PowerUpStateOfAPinWithoutRegisterIsRefused)
{
    std::string dir = make_temp_dir();
    write_text(dir + "/chip.jed", jk_text(jk_fuses(jk_parse(jk_gal_registered, "B1 r h: I1; B0 h: I2"))));
    run_result r = run_program(dir, {"FTD2XX_SIM_CHIP=jedec:GAL16V8:" + dir + "/chip.jed", "FTD2XX_SIM_POWERUP=03"},
                               GATESWEEP_EXE, {"dump", "chip.bin"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "ftd2xx simulator: bad setting FTD2XX_SIM_POWERUP=03: bits 0x01 name pins without a register "
                     "(this chip's registers: 0x02)\n");
    EXPECT_FALSE(file_exists(dir + "/chip.bin"));
}
