// The two example chips, swept whole the way the dump command sweeps, with
// the other settings empty, and the time such a sweep takes.
#include "simkit.h"
#include "testkit.h"

#include <cstdio>

namespace {

// The whole dump through board A: per weak-level value one write of 11269
// bytes (that latch, 1024 input settings each with a read, Send Immediate)
// and one read of 1024.
bytes sweep(FT_HANDLE h)
{
    bytes block = bus_write(0x0000, 0), image(dump_size);
    for (unsigned ix = 0; ix < 1024; ix++)
        block = block + bus_write(0x0200, ix >> 8) + bus_write(0x0100, ix & 0xFF) + bytes{0x91, 0x00, 0x00};
    block.push_back(0x87);
    for (unsigned rx = 0; rx < 256; rx++) {
        block[3] = static_cast<uint8_t>(rx);
        DWORD n = 0;
        EXPECT_EQ(FT_Write(h, block.data(), 11269, &n), FT_OK);
        EXPECT_EQ(FT_Read(h, image.data() + rx * 1024, 1024, &n), FT_OK);
        EXPECT_EQ(n, 1024u);
    }
    return image;
}

} // namespace

TEST_F(sim_test, ExampleChipsBehaveAsDescribed)
{
    for (const char *v : {"FTD2XX_SIM_BOARD", "FTD2XX_SIM_CHIP", "FTD2XX_SIM_FAIL", "FTD2XX_SIM_TRACE"})
        setenv(v, "", 1);   // empty means the default: example:u12 on board A
    testing::internal::CaptureStderr();
    ftd2xx_sim_reinit();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(sweep(open_host_bus()) == make_dump(u12_chip));
    restart_with("FTD2XX_SIM_CHIP", "example:pal");
    EXPECT_TRUE(sweep(open_host_bus()) == make_dump(pal_chip));
}
