// Faults, bad settings and the trace file.
#include "simkit.h"
#include "testkit.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using bytes = std::vector<uint8_t>;

std::string handle_text(FT_HANDLE h)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
    return buf;
}

size_t count_lines(const std::string &s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

} // namespace

TEST_F(sim_test, FaultsHitTheNamedCallOnly)
{
    set_env("FTD2XX_SIM_FAIL", "FT_SetLatencyTimer@2=4,FT_Write@3=4,FT_Write@5=10,FT_OpenEx=2");
    ftd2xx_sim_reinit();
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char *>("GS000001A"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    h = open_host_bus();   // the second open is not touched, and the first opened nothing

    // The failing call leaves the latency at 255 ms: no release after 20 ms.
    EXPECT_EQ(FT_SetLatencyTimer(h, 255), FT_OK);
    EXPECT_EQ(FT_SetLatencyTimer(h, 2), FT_IO_ERROR);
    write_bytes(h, bus_read(0x0000));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(queued(h), 0u);
    EXPECT_EQ(FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);

    // Write 3 fails and reaches no chip. With I4 high the default chip
    // reads 0x0C; had write 3 (I4 low again) gone through it would read
    // 0x04.
    DWORD n = 99;
    bytes i4_high = bus_write(0x0100, 0x10), i4_low = bus_write(0x0100, 0x00);
    bytes read = bus_read(0x0000) + bytes{0x87};
    EXPECT_EQ(FT_Write(h, i4_high.data(), 4, &n), FT_OK);   // write 1 was the one above
    n = 99;
    EXPECT_EQ(FT_Write(h, i4_low.data(), 4, &n), FT_IO_ERROR);
    EXPECT_EQ(n, 99u);
    EXPECT_EQ(FT_Write(h, read.data(), 4, &n), FT_OK);
    EXPECT_EQ(read_bytes(h, 1), bytes{0x0C});
    EXPECT_EQ(FT_Write(h, read.data(), 4, &n), FT_FAILED_TO_WRITE_DEVICE);
    EXPECT_EQ(FT_Write(h, read.data(), 4, &n), FT_OK);
    EXPECT_EQ(read_bytes(h, 2), bytes{0x0C});
    EXPECT_EQ(FT_Close(h), FT_OK);

    // Counting starts again at a fresh start.
    ftd2xx_sim_reinit();
    EXPECT_EQ(FT_OpenEx(const_cast<char *>("GS000001A"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
    h = open_host_bus();
    EXPECT_EQ(FT_Write(h, read.data(), 4, &n), FT_OK);
    EXPECT_EQ(FT_Write(h, read.data(), 4, &n), FT_OK);
    EXPECT_EQ(FT_Write(h, read.data(), 4, &n), FT_IO_ERROR);
    EXPECT_EQ(read_bytes(h, 3), (bytes{0x04, 0x04}));
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(sim_test, BadSettingsAreReportedOnceAndRefuseEveryCall)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/short.bin", bytes(262143));
    write_file(dir + "/long.bin", bytes(262145));
    const std::pair<const char *, std::string> bad[] = {
        {"FTD2XX_SIM_BOARD", "c"},
        {"FTD2XX_SIM_BOARD", "A"},
        {"FTD2XX_SIM_CHIP", "dump:" + dir + "/missing.bin"},
        {"FTD2XX_SIM_CHIP", "dump:" + dir + "/short.bin"},
        {"FTD2XX_SIM_CHIP", "dump:" + dir + "/long.bin"},
        {"FTD2XX_SIM_CHIP", "dump:" + dir},
        {"FTD2XX_SIM_CHIP", "example:u13"},
        {"FTD2XX_SIM_CHIP", "socket:empty"},
        {"FTD2XX_SIM_CHIP", "jedec:PAL16L8"},
        {"FTD2XX_SIM_CHIP", "jedec:PAL16L8:" + dir + "/missing.jed"},
        {"FTD2XX_SIM_FAIL", "FT_Write"},
        {"FTD2XX_SIM_FAIL", "FT_Writ=4"},
        {"FTD2XX_SIM_FAIL", "FT_Write@0=4"},
        {"FTD2XX_SIM_FAIL", "FT_Write@x=4"},
        {"FTD2XX_SIM_FAIL", "FT_Write=four"},
        {"FTD2XX_SIM_FAIL", "FT_Write=4,"},
        {"FTD2XX_SIM_TRACE", dir + "/no/such/folder/trace.txt"},
    };
    for (const auto &setting : bad) {
        SCOPED_TRACE(std::string(setting.first) + "=" + setting.second);
        unset_sim_env();
        set_env(setting.first, setting.second);
        testing::internal::CaptureStderr();
        ftd2xx_sim_reinit();
        DWORD n = 5;
        FT_HANDLE h = nullptr;
        uint8_t buf[1] = {0x87};
        EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OTHER_ERROR);
        EXPECT_EQ(FT_OpenEx(const_cast<char *>("GS000001A"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OTHER_ERROR);
        EXPECT_EQ(FT_Write(h, buf, 1, &n), FT_OTHER_ERROR);
        EXPECT_EQ(FT_Close(h), FT_OTHER_ERROR);
        EXPECT_EQ(n, 5u);
        EXPECT_EQ(h, nullptr);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(count_lines(err), 1u) << err;
        EXPECT_EQ(err.find("ftd2xx simulator: bad setting " + std::string(setting.first) + "=" +
                           setting.second + ": "),
                  0u)
            << err;
    }
}

TEST_F(sim_test, EmptySettingsMeanTheDefaults)
{
    for (const char *var : {"FTD2XX_SIM_BOARD", "FTD2XX_SIM_CHIP", "FTD2XX_SIM_FAIL", "FTD2XX_SIM_TRACE"})
        set_env(var, "");
    testing::internal::CaptureStderr();
    ftd2xx_sim_reinit();
    FT_HANDLE h = open_host_bus();
    EXPECT_EQ(read_pins(h, 'a', 0x000, 0xFF), 0x6Eu);   // example:u12 on board A
    EXPECT_EQ(FT_Close(h), FT_OK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(sim_test, TraceShowsCallsAndBusCycles)
{
    std::string path = make_temp_dir() + "/trace.txt";
    write_text(path, "earlier line\n");
    set_env("FTD2XX_SIM_TRACE", path);
    set_env("FTD2XX_SIM_FAIL", "FT_Purge=4");
    ftd2xx_sim_reinit();

    DWORD n = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
    FT_HANDLE h = open_serial("GS000001A");
    EXPECT_EQ(FT_Purge(h, 3), FT_IO_ERROR);
    EXPECT_EQ(FT_SetBitMode(h, 0x00, 0x08), FT_OK);
    write_bytes(h, bus_write(0x0100, 0x05) + bus_read(0x0000) + bytes{0x82, 0x02, 0x03, 0x83, 0x87, 0xAB});
    EXPECT_EQ(read_bytes(h, 4), (bytes{0x44, 0xFE, 0xFA, 0xAB}));
    EXPECT_EQ(FT_Close(h), FT_OK);
    EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE);

    std::string hs = handle_text(h);
    EXPECT_EQ(read_text(path),
              "earlier line\n"
              "call FT_CreateDeviceInfoList() -> FT_OK (0) count=2\n"
              "call FT_OpenEx(serial=\"GS000001A\", flags=1) -> FT_OK (0) handle=" + hs + "\n"
              "call FT_Purge(handle=" + hs + ", mask=3) -> FT_IO_ERROR (4)\n"
              "call FT_SetBitMode(handle=" + hs + ", mask=0x0, mode=0x8) -> FT_OK (0)\n"
              "call FT_Write(handle=" + hs + ", count=13) -> FT_OK (0) written=13\n"
              "bus write 0x0100 = 0x05\n"
              "bus read 0x0000 -> 0x44\n"
              "cmd gpio-high set value=0x02 direction=0x03\n"
              "cmd gpio-high read -> 0xfe\n"
              "cmd send-immediate\n"
              "cmd bad-opcode 0xab -> 0xfa 0xab\n"
              "call FT_Read(handle=" + hs + ", count=4) -> FT_OK (0) read=4\n"
              "call FT_Close(handle=" + hs + ") -> FT_OK (0)\n"
              "call FT_Close(handle=" + hs + ") -> FT_INVALID_HANDLE (1)\n");
}
