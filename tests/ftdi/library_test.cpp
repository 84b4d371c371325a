// The D2XX library over libftdi1, called directly, with the stand-in of
// libftdi1 beneath it: the device list, opening by serial number, and the
// refusals the programs rely on. The stand-in reads its settings at the
// first call of the process, so every test sets them first (and ctest runs
// each test in a process of its own).
#include "ftd2xx.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

FT_STATUS open_serial(const char *serial, FT_HANDLE *h)
{
    return FT_OpenEx(const_cast<char *>(serial), FT_OPEN_BY_SERIAL_NUMBER, h);
}

std::vector<FT_DEVICE_LIST_INFO_NODE> device_list()
{
    DWORD count = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count + 1);
    EXPECT_EQ(FT_GetDeviceInfoList(nodes.data(), &count), FT_OK);
    nodes.resize(count);
    return nodes;
}

TEST(FtdiLibrary, TwoEntriesPerModuleOpenedBySerialNumberOnce)
{
    setenv("FTD2XX_SIM_MODULES", "DLP2232M=GS1,Other board=GS2", 1);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes = device_list();
    ASSERT_EQ(nodes.size(), 4u);
    const struct { const char *description, *serial; DWORD loc; } expected[] = {
        {"DLP2232M A", "GS1A", 0x11}, {"DLP2232M B", "GS1B", 0x12},
        {"Other board A", "GS2A", 0x21}, {"Other board B", "GS2B", 0x22},
    };
    for (size_t i = 0; i < nodes.size(); i++) {
        EXPECT_STREQ(nodes[i].Description, expected[i].description);
        EXPECT_STREQ(nodes[i].SerialNumber, expected[i].serial);
        EXPECT_EQ(nodes[i].LocId, expected[i].loc);
        EXPECT_EQ(nodes[i].ID, 0x04036010u);
        EXPECT_EQ(nodes[i].Type, 4u);   // FT_DEVICE_2232C
        EXPECT_EQ(nodes[i].Flags, 0u);
    }

    FT_HANDLE a = nullptr, again = nullptr, b = nullptr;
    ASSERT_EQ(open_serial("GS1A", &a), FT_OK);
    EXPECT_EQ(open_serial("GS1A", &again), FT_DEVICE_NOT_OPENED);
    ASSERT_EQ(open_serial("GS1B", &b), FT_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(device_list()[0].Flags, 1u);   // FT_FLAGS_OPENED
    EXPECT_EQ(device_list()[2].Flags, 0u);
    for (const char *missing : {"GS3A", "GS1", "GS1C", ""}) {
        FT_HANDLE h = nullptr;
        EXPECT_EQ(open_serial(missing, &h), FT_DEVICE_NOT_FOUND) << missing;
    }
    EXPECT_EQ(FT_OpenEx(const_cast<char *>("DLP2232M A"), 2, &again), FT_INVALID_PARAMETER);   // by description

    EXPECT_EQ(FT_Close(a), FT_OK);
    DWORD n = 0;
    EXPECT_EQ(FT_GetQueueStatus(a, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(a), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Write(nullptr, &n, 1, &n), FT_INVALID_HANDLE);
    ASSERT_EQ(open_serial("GS1A", &again), FT_OK);
    EXPECT_NE(again, a) << "a handle is never handed out twice";
    EXPECT_EQ(FT_Close(again), FT_OK);
    EXPECT_EQ(FT_Close(b), FT_OK);
}

TEST(FtdiLibrary, UnreadableStringsStillListTheModule)
{
    setenv("FTD2XX_SIM_MODULES", "DLP2232M=GS1", 1);
    setenv("FTDI_SIM_FAIL", "ftdi_usb_get_strings=-4", 1);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes = device_list();
    ASSERT_EQ(nodes.size(), 2u);
    for (const FT_DEVICE_LIST_INFO_NODE &node : nodes) {
        EXPECT_STREQ(node.Description, "");
        EXPECT_STREQ(node.SerialNumber, "");
        EXPECT_EQ(node.Flags, 1u);
    }
    EXPECT_STREQ(device_list()[1].Description, "DLP2232M B") << "only the first read failed";
}

// libftdi moves one byte per transfer here: FT_Write and FT_Read still move
// all that they are asked for.
TEST(FtdiLibrary, WholeTransfersOverPiecesAndHeldReplies)
{
    setenv("FTD2XX_SIM_MODULES", "DLP2232M=GS1", 1);
    setenv("FTDI_SIM_PIECE", "1", 1);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(open_serial("GS1A", &h), FT_OK);
    ASSERT_EQ(FT_SetBitMode(h, 0x00, 0x08), FT_OK);
    // Three pin-buffer reads without Send Immediate: the replies come when
    // the latency timer runs out.
    std::vector<uint8_t> cmd = {0x91, 0, 0, 0x91, 0, 0, 0x91, 0, 0};
    DWORD n = 0;
    ASSERT_EQ(FT_Write(h, cmd.data(), static_cast<DWORD>(cmd.size()), &n), FT_OK);
    EXPECT_EQ(n, cmd.size());
    std::vector<uint8_t> got(2);
    ASSERT_EQ(FT_Read(h, got.data(), 2, &n), FT_OK);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x04, 0x04}));
    DWORD queued = 0;
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), FT_OK);
    EXPECT_EQ(queued, 1u);
    ASSERT_EQ(FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), FT_OK);
    EXPECT_EQ(queued, 0u);
    EXPECT_EQ(FT_Close(h), FT_OK);
}

// Replies that the caller never reads: once the library's receive buffer
// holds 4 MiB the chip takes no more commands, and the write fails at the
// deadline, having waited for it rather than spun.
TEST(FtdiLibrary, WriteStalledByUnreadRepliesWaitsOutTheDeadline)
{
    setenv("FTD2XX_SIM_MODULES", "DLP2232M=GS1", 1);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(open_serial("GS1A", &h), FT_OK);
    ASSERT_EQ(FT_SetBitMode(h, 0x00, 0x08), FT_OK);
    std::vector<uint8_t> cmd;
    for (size_t i = 0; i < (size_t(1) << 22) + 1024; i++)
        cmd.insert(cmd.end(), {0x91, 0, 0});
    DWORD n = 0;
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    EXPECT_EQ(FT_Write(h, cmd.data(), static_cast<DWORD>(cmd.size()), &n), FT_IO_ERROR);
    double cpu_s = double(std::clock() - cpu) / CLOCKS_PER_SEC;
    double wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(wall_s, 3.0);
    EXPECT_LT(cpu_s, 1.0);
    DWORD queued = 0;
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), FT_OK);
    EXPECT_GE(queued, 1u << 22);
    EXPECT_EQ(FT_Close(h), FT_OK);
}

} // namespace
