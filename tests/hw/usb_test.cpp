// The USB device layer against the simulated module: scanning, opening,
// closing, block transfers, and the fatal report of every failing call.
#include "hwkit.h"
#include "intf.h"
#include "mcu.h"
#include "usb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(Usb, ScanMatchesChannelAOfEveryModuleWhoseDescriptionHoldsThePattern)
{
    sim_setup({"FTD2XX_SIM_MODULES=DLP2232M=S1,Other=S2,My DLP2232M=S3"});
    ft_device[0].is_open = 1;   // left over from an earlier scan: a stored entry starts afresh
    ASSERT_EQ(ft_scan_devices("DLP2232M A"), 2);
    EXPECT_STREQ(ft_device[0].info.Description, "DLP2232M A");
    EXPECT_STREQ(ft_device[0].info.SerialNumber, "S1A");
    EXPECT_STREQ(ft_device[1].info.Description, "My DLP2232M A");
    EXPECT_STREQ(ft_device[1].info.SerialNumber, "S3A");
    EXPECT_EQ(ft_device[0].is_open, 0);
    EXPECT_EQ(ft_scan_devices("dlp2232m a"), 0) << "the match is case-sensitive";
}

TEST(Usb, ScanStoresAtMostSixteen)
{
    std::string list;
    for (int i = 0; i < 20; i++)
        list += (i ? "," : "") + std::string("DLP2232M=M") + std::to_string(i);
    sim_setup({"FTD2XX_SIM_MODULES=" + list});
    EXPECT_EQ(ft_scan_devices("DLP2232M A"), 16);
    EXPECT_STREQ(ft_device[15].info.SerialNumber, "M15A");
}

TEST(Usb, OpenAndCloseRefuseTwice)
{
    sim_setup({});
    ASSERT_EQ(ft_scan_devices("DLP2232M A"), 1);
    child_result r = run_in_child([] {
        std::printf("%d\n", ft_open_device(0));
        std::printf("%d\n", ft_open_device(0));
        std::printf("%d\n", ft_close_device(0));
        std::printf("%d\n", ft_close_device(0));
        std::printf("%d\n", ft_open_device(0));
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_EQ(r.out, "1\nError: Device already opened.\n0\n1\nError: Device was already closed.\n0\n1\n");
}

struct fatal_case {
    const char *fault;            // FTD2XX_SIM_FAIL
    std::function<void()> action;
    const char *out;              // everything printed
};

void open0()
{
    ft_scan_devices("DLP2232M A");
    ft_open_device(0);
}

// The steps that the dump tests fail with I/O error are left to them.
TEST(Usb, FailingCallsEndTheProcessWithTheirMessageStatusTextAndStatus2)
{
    std::vector<uint8_t> buf(2 * ft_block_size + 1);
    const fatal_case cases[] = {
        {"FT_GetDeviceInfoList=18", [] { ft_scan_devices("DLP2232M A"); },
         "Error:  Error: Can't retrieve device info list.\nStatus: Other error\n"},
        {"FT_OpenEx=2", open0, "Error:  Can't open device.\nStatus: Device not found\n"},
        {"FT_SetBitMode=17", open0,
         "Error:  Can't set MPSSE Host Bus Emulation' bit mode.\nStatus: Not supported\n"},
        {"FT_Close=19", [] { open0(); ft_close_device(0); },
         "Error:  Error closing device.\nStatus: Unknown status condition\n"},
        // Transfers are split into pieces of 61440 bytes and one remainder.
        {"FT_Write@2=4", [&] { open0(); ft_send_data(0, buf.data(), 2 * ft_block_size); },
         "Error:  Error writing data (block)\nStatus: I/O error\n"},
        {"FT_Write@2=4", [&] { open0(); ft_send_data(0, buf.data(), ft_block_size + 1); },
         "Error:  Error writing data (remainder)\nStatus: I/O error\n"},
        {"FT_Read=4", [&] { open0(); ft_get_data(0, buf.data(), ft_block_size); },
         "Error:  Error reading data (block)\nStatus: I/O error\n"},
        {"FT_Read=4", [&] { open0(); ft_get_data(0, buf.data(), 5); },
         "Error:  Error reading data (remainder)\nStatus: I/O error\n"},
        // A transfer on an entry that was never opened is refused by the library.
        {"", [&] { ft_send_data(0, buf.data(), 1); },
         "Error:  Error writing data (remainder)\nStatus: Invalid handle\n"},
    };
    for (const fatal_case &c : cases) {
        sim_setup({std::string("FTD2XX_SIM_FAIL=") + c.fault});
        child_result r = run_in_child(c.action);
        EXPECT_EQ(r.status, 2) << c.fault;
        EXPECT_EQ(r.out, c.out) << c.fault;
    }
}

TEST(Usb, TransfersOfWholeBlocksMakeNoRemainderCall)
{
    std::vector<uint8_t> buf(2 * ft_block_size);
    // The third write would fail: two blocks make exactly two calls, and an
    // empty transfer makes none.
    sim_setup({"FTD2XX_SIM_FAIL=FT_Write@3=4,FT_Read=4"});
    child_result r = run_in_child([&] {
        open0();
        ft_send_data(0, buf.data(), 2 * ft_block_size);
        ft_get_data(0, buf.data(), 0);
        std::printf("done\n");
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_EQ(r.out, "done\n");
}

} // namespace
