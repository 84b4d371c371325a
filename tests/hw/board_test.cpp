// Adapter board builders and operations, and the host bus commands, for the
// board this test program is linked with (A or B).
#include "hwkit.h"
#include "intf.h"
#include "mcu.h"
#include "testkit.h"
#include "usb.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <vector>

// Board B only; null on board A.
#pragma weak set_bx

namespace {

bool board_b()
{
    return intf_board[0] == 'B';
}

using bytes = std::vector<uint8_t>;

TEST(Board, PinLatchPairsOfBoardB)
{
    if (!set_bx)
        GTEST_SKIP() << "board A has no such latches";
    uint8_t buf[8];
    const struct { uint8_t first, second, a, b; } cases[] = {
        {0x01, 0x00, 0x40, 0x00}, {0x00, 0x80, 0x02, 0x00}, {0x40, 0x00, 0x00, 0x01},
        {0xFF, 0x00, 0x55, 0x55}, {0x00, 0xFF, 0xAA, 0xAA}, {0x24, 0x18, 0x14, 0x28},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(set_bx(buf, c.first, c.second), 8);
        EXPECT_EQ(bytes(buf, buf + 8), (bytes{0x93, 0x03, 0x00, c.a, 0x93, 0x04, 0x00, c.b}));
        EXPECT_EQ(intf_state.bxa, c.a);
        EXPECT_EQ(intf_state.bxb, c.b);
    }
}

TEST(Board, OpenResetAndCloseOnTheBus)
{
    std::string trace = trace_path();
    sim_setup({"FTD2XX_SIM_BOARD=" + std::string(board_b() ? "b" : "a"), "FTD2XX_SIM_TRACE=" + trace});
    intf_state = intf_state_t{1, 2, 3, 4, 5};
    child_result r = run_in_child([] {
        int dev = intf_open();
        std::printf("%d %d", dev, ft_device[0].is_open);
        std::printf(" %d", intf_reset(dev));
        std::printf(" %d%d%d%d%d", intf_state.rx, intf_state.ixl, intf_state.ixh, intf_state.bxa, intf_state.bxb);
        std::printf(" %d\n", intf_close(dev));
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_EQ(r.out, "Using device #0: `DLP2232M A' (GS000001A).\n0 1 1 00000 1\n");
    std::vector<std::string> reset = {"bus write 0x0000 = 0x00"};
    if (board_b())
        reset.insert(reset.end(), {"bus write 0x0300 = 0x00", "bus write 0x0400 = 0x00"});
    reset.insert(reset.end(), {"bus write 0x0200 = 0x00", "bus write 0x0100 = 0x00"});
    std::vector<std::string> both = reset;
    both.insert(both.end(), reset.begin(), reset.end());
    EXPECT_EQ(bus_lines(trace), both) << "one reset after opening, one before closing";
}

TEST(Board, TwoModulesUseTheFirstListed)
{
    sim_setup({"FTD2XX_SIM_MODULES=Other=X1,DLP2232M=FIRST,DLP2232M=SECOND"});
    child_result r = run_in_child([] {
        int dev = intf_open();
        std::printf("%d %s\n", dev, ft_device[dev].is_open ? "open" : "closed");
    });
    EXPECT_EQ(r.out, "Using device #0: `DLP2232M A' (FIRSTA).\n0 open\n");
}

TEST(HostBus, SingleAccessesAndGpio)
{
    std::string trace = trace_path();
    sim_setup({"FTD2XX_SIM_BOARD=a", "FTD2XX_SIM_TRACE=" + trace});
    child_result r = run_in_child([] {
        ft_scan_devices("DLP2232M A");
        ft_open_device(0);
        std::printf("%d", mcu_poke(0, 0x0100, 0xA5));
        std::printf(" %d", mcu_peek(0, 0x0500));
        const uint8_t data[2] = {0x11, 0x22};
        mcu_send(0, 0xFFFF, data, 2);
        std::printf(" %d", mcu_set_gpioh(0, 1, 2));
        std::printf(" %d\n", mcu_get_gpioh(0));
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_EQ(r.out, "1 255 1 2\n") << "nothing answers at 0x0500 on board A";
    EXPECT_EQ(bus_lines(trace), (std::vector<std::string>{"bus write 0x0100 = 0xa5", "bus read 0x0500 -> 0xff",
                                                           "bus write 0xffff = 0x11", "bus write 0x0000 = 0x22"}));
}

TEST(HostBus, BlockReadCollectsEveryAddressAndNoMore)
{
    std::string trace = trace_path();
    sim_setup({"FTD2XX_SIM_BOARD=a", "FTD2XX_SIM_CHIP=example:u12", "FTD2XX_SIM_TRACE=" + trace});
    child_result r = run_in_child([] {
        ft_scan_devices("DLP2232M A");
        ft_open_device(0);
        for (int count : {0, 3, 61441}) {
            // Exactly count bytes: the sanitizer catches any write past them.
            std::vector<uint8_t> dest(static_cast<size_t>(count));
            mcu_get(0, 0xFFFF, dest.data(), count);
            unsigned not_ff = 0;
            for (uint8_t b : dest)
                not_ff += b != 0xFF;
            std::printf("%d:%u%s ", count, not_ff, count > 1 && dest[1] != 0xFF ? "@1" : "");
        }
        mcu_get(0, 0, nullptr, -1);
    });
    EXPECT_EQ(r.status, 100);
    // Addresses wrap from 0xFFFF to 0x0000, the pin buffer, which reads 0x04
    // there (B2 driven high); nothing else on board A answers.
    EXPECT_EQ(r.out, "0:0 3:1@1 61441:1@1 Error: Invalid transfer size (-1 bytes).\n");
    // Each pass writes the read commands of at most 61440 addresses and a
    // Send Immediate: 61441 addresses take two.
    std::istringstream in(read_text(trace));
    std::string writes;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("call FT_Write(", 0) == 0)
            writes += line.substr(line.find("count=") + 6, line.find(')') - line.find("count=") - 6) + " ";
    EXPECT_EQ(writes, "1 9 1 184320 1 3 1 ");
}

// The module hands replies back in small pieces and shows fewer queued than
// there are: the stragglers are collected, and a reply that nobody asked for
// stays queued rather than overrun the destination.
TEST(HostBus, BlockReadCollectsRepliesHandedBackInPieces)
{
    sim_setup({"FTD2XX_SIM_BOARD=a", "FTD2XX_SIM_CHIP=example:u12",
               "FTD2XX_SIM_SHORT=FT_Read=7,FT_GetQueueStatus@4=5,FT_Write@3=2"});
    child_result r = run_in_child([] {
        ft_scan_devices("DLP2232M A");
        ft_open_device(0);
        const uint8_t stray[4] = {0x91, 0x00, 0x00, mcu_send_now};   // one read nobody collects
        std::vector<uint8_t> dest(1000);
        ft_send_data(0, stray, sizeof stray);
        mcu_get(0, 0xFFFF, dest.data(), static_cast<int>(dest.size()));
        unsigned not_ff = 0;
        for (uint8_t b : dest)
            not_ff += b != 0xFF;
        std::printf("%u %u %u\n", not_ff, dest[0], ft_queue_status(0));
    });
    EXPECT_EQ(r.status, 100);
    // The stray reply (the pin buffer, 0x04) comes first: dest[0] is it, the
    // last requested reply stays queued, and mcu_get says so.
    EXPECT_EQ(r.out, "Error: queue not empty after mcu_get() complete.\n2 4 1\n");

    // A queue that stops growing short of the replies ends the process.
    sim_setup({"FTD2XX_SIM_SHORT=FT_GetQueueStatus=5"});
    r = run_in_child([] {
        ft_scan_devices("DLP2232M A");
        ft_open_device(0);
        std::vector<uint8_t> dest(1000);
        mcu_get(0, 0, dest.data(), static_cast<int>(dest.size()));
    });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Error:  mcu_get: Error reading result data.\nStatus: No data moved for 3 seconds.\n");
}

} // namespace
