// Bad settings, and the trace file with a failing write.
#include "simkit.h"
#include "testkit.h"

#include <algorithm>
#include <cstdio>

TEST_F(sim_test, BadSettingsAreReportedOnceAndRefuseEveryCall)
{
    std::string d = make_temp_dir();
    write_file(d + "/short.bin", bytes(dump_size - 1));
    const std::pair<const char *, std::string> bad[] = {
        {"MODULES", "DLP2232M"}, {"MODULES", "A=1,,B=2"}, {"MODULES", "=X"}, {"MODULES", "A=1,B=1"},
        {"MODULES", "A=1234567890ABCDE"}, {"BOARD", "c"}, {"BOARD", "A"}, {"CHIP", "dump:" + d + "/no.bin"},
        {"CHIP", "dump:" + d + "/short.bin"}, {"CHIP", "dump:" + d}, {"CHIP", "example:u13"},
        {"CHIP", "socket:empty"}, {"CHIP", "jedec:PAL16L8"}, {"CHIP", "jedec:PAL16L8:" + d + "/no.jed"},
        {"FAIL", "FT_Write"}, {"FAIL", "FT_Writ=4"}, {"FAIL", "FT_Write@0=4"}, {"FAIL", "FT_Write=four"},
        {"FAIL", "FT_Write=4,"}, {"TRACE", d + "/no/such/folder/trace.txt"}, {"POWERUP", "100"},
        {"POWERUP", "0x"}, {"POWERUP", "-1"}, {"POWERUP", "G"}, {"POWERUP", "01"}, {"TIME", "2"}, {"TIME", "yes"},
    };
    for (const auto &setting : bad) {
        std::string var = std::string("FTD2XX_SIM_") + setting.first, text = var + "=" + setting.second;
        SetUp();
        testing::internal::CaptureStderr();
        restart_with(var, setting.second);
        DWORD n = 5;
        FT_HANDLE h = nullptr;
        EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OTHER_ERROR) << text;
        EXPECT_EQ(open_serial("GS000001A", &h), FT_OTHER_ERROR) << text;
        EXPECT_TRUE(n == 5 && h == nullptr) << text;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err.find("ftd2xx simulator: bad setting " + text + ": "), 0u) << err;
    }
}

TEST_F(sim_test, TraceShowsCallsAndBusCyclesAndFailedWritesReachNoChip)
{
    std::string path = make_temp_dir() + "/trace.txt";
    write_text(path, "earlier line\n");
    setenv("FTD2XX_SIM_FAIL", "FT_Write@2=10", 1);
    restart_with("FTD2XX_SIM_TRACE", path);
    FT_HANDLE h = open_host_bus();
    // I0 and I2 high; had the failing write (I2 low) gone through, the last read would give 0x04.
    write_bytes(h, bus_write(0x0100, 0x05) + read_now + bytes{0xAB});
    DWORD n = 0;
    EXPECT_EQ(FT_Write(h, bus_write(0x0100, 0x01).data(), 4, &n), FT_FAILED_TO_WRITE_DEVICE);
    write_bytes(h, read_now);
    EXPECT_EQ(read_bytes(h, 4), (bytes{0x44, 0xFA, 0xAB, 0x44}));
    EXPECT_EQ(FT_Close(h), FT_OK);
    char hs[40];
    std::snprintf(hs, sizeof hs, "handle=0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
    EXPECT_EQ(read_text(path),
              "earlier line\n"
              "call FT_OpenEx(serial=\"GS000001A\", flags=1) -> FT_OK (0) " + std::string(hs) + "\n"
              "call FT_SetBitMode(" + hs + ", mask=0x0, mode=0x8) -> FT_OK (0)\n"
              "call FT_Write(" + hs + ", count=9) -> FT_OK (0) written=9\n"
              "bus write 0x0100 = 0x05\n"
              "bus read 0x0000 -> 0x44\n"
              "cmd send-immediate\n"
              "cmd bad-opcode 0xab -> 0xfa 0xab\n"
              "call FT_Write(" + hs + ", count=4) -> FT_FAILED_TO_WRITE_DEVICE (10)\n"
              "call FT_Write(" + hs + ", count=4) -> FT_OK (0) written=4\n"
              "bus read 0x0000 -> 0x44\n"
              "cmd send-immediate\n"
              "call FT_Read(" + hs + ", count=4) -> FT_OK (0) read=4\n"
              "call FT_Close(" + hs + ") -> FT_OK (0)\n");
}
