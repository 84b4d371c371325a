// Helpers for the tests of the simulated module: a fresh library for every
// test, and command bytes for interface A.
#ifndef SIMKIT_H
#define SIMKIT_H

#include "ftd2xx.h"
#include "sim_control.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using bytes = std::vector<uint8_t>;

// With the default chip and all latches low the pin buffer reads 0x04.
constexpr uint8_t pins_at_reset = 0x04;
// A read of the pin buffer on board A, then Send Immediate.
const bytes read_now = {0x91, 0x00, 0x00, 0x87};

// Every test starts with no FTD2XX_SIM_* variable set.
class sim_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *v : {"MODULES", "BOARD", "CHIP", "POWERUP", "FAIL", "TRACE", "TIME"})
            unsetenv((std::string("FTD2XX_SIM_") + v).c_str());
        ftd2xx_sim_reinit();
    }
};

// Sets one variable and starts the library afresh.
inline void restart_with(const std::string &name, const std::string &value)
{
    setenv(name.c_str(), value.c_str(), 1);
    ftd2xx_sim_reinit();
}

inline FT_STATUS open_serial(const char *serial, FT_HANDLE *h)
{
    return FT_OpenEx(const_cast<char *>(serial), FT_OPEN_BY_SERIAL_NUMBER, h);
}

// Interface A of the default module, in host bus mode.
inline FT_HANDLE open_host_bus()
{
    FT_HANDLE h = nullptr;
    EXPECT_EQ(open_serial("GS000001A", &h), FT_OK);
    EXPECT_EQ(FT_SetBitMode(h, 0x00, 0x08), FT_OK);
    return h;
}

inline void write_bytes(FT_HANDLE h, bytes b)
{
    DWORD n = 0;
    EXPECT_EQ(FT_Write(h, b.data(), static_cast<DWORD>(b.size()), &n), FT_OK);
    EXPECT_EQ(n, b.size());
}

inline bytes read_bytes(FT_HANDLE h, DWORD count)
{
    bytes buf(count);
    EXPECT_EQ(FT_Read(h, buf.data(), count, &count), FT_OK);
    buf.resize(count);
    return buf;
}

inline DWORD queued(FT_HANDLE h)
{
    DWORD n = 12345;
    EXPECT_EQ(FT_GetQueueStatus(h, &n), FT_OK);
    return n;
}

inline bytes operator+(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline bytes bus_write(unsigned addr, unsigned v) { return {0x93, uint8_t(addr >> 8), uint8_t(addr), uint8_t(v)}; }

#endif
