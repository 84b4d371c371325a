// Opening by serial number, and handles that every call must refuse.
#include "simkit.h"

namespace {

// Every call that takes a handle must refuse h and fill in nothing.
void expect_refused(FT_HANDLE h, const char *what)
{
    uint8_t buf[4] = {0x91, 0, 0, 0x87};
    DWORD n = 99;
    const FT_STATUS got[] = {FT_ResetDevice(h),         FT_Purge(h, 3),          FT_GetQueueStatus(h, &n),
                             FT_SetLatencyTimer(h, 16), FT_SetBitMode(h, 0, 8), FT_Write(h, buf, 4, &n),
                             FT_Read(h, buf, 1, &n),    FT_Close(h)};
    for (size_t i = 0; i < 8; i++)
        EXPECT_EQ(got[i], FT_INVALID_HANDLE) << what << ", call " << i;
    EXPECT_EQ(n, 99u) << what;
}

} // namespace

TEST_F(sim_test, OpeningAndRefusedHandles)
{
    int not_a_device = 0;
    expect_refused(nullptr, "null");
    expect_refused(&not_a_device, "unknown");
    FT_HANDLE a = open_host_bus(), h = nullptr;
    EXPECT_EQ(open_serial("GS000001A", &h), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(open_serial("GS000001", &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(open_serial("GS000001C", &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(FT_Close(a), FT_OK);
    expect_refused(a, "closed");
    // Reopened, the interface gets a new handle and the old one stays dead.
    ASSERT_EQ(open_serial("GS000001A", &h), FT_OK);
    EXPECT_NE(h, a);
    expect_refused(a, "closed, interface reopened");
}
