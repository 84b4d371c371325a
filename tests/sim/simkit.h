// Helpers for the tests of the simulated module: environment settings with
// a fresh start of the library, opening interfaces, byte streams, and a
// whole sweep driven the way the dump command drives it.
#ifndef SIMKIT_H
#define SIMKIT_H

#include "ftd2xx.h"
#include "sim_control.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Every test starts and ends with no FTD2XX_SIM_* variable set and a
// library that has just read that environment.
class sim_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

void set_env(const char *name, const std::string &value);
void unset_sim_env();

// Opens the interface with this serial number and checks that it worked.
FT_HANDLE open_serial(const char *serial);
// Opens interface A of the default module in host bus mode.
FT_HANDLE open_host_bus();

void write_bytes(FT_HANDLE h, const std::vector<uint8_t> &bytes);
std::vector<uint8_t> read_bytes(FT_HANDLE h, unsigned count);
DWORD queued(FT_HANDLE h);

// Concatenation of command pieces.
std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t> &b);

// Bus reads and writes as the board's address map wants them.
std::vector<uint8_t> bus_write(unsigned addr, unsigned data);
std::vector<uint8_t> bus_read(unsigned addr);

// The byte at the pin buffer for these levels, through board variant
// board ('a' or 'b'), one exchange with Send Immediate.
unsigned read_pins(FT_HANDLE h, char board, unsigned ix, unsigned rx);

// 256 blocks of 11269 bytes, each answered by 1024 bytes, in the dump
// command's order: weak-drive latch, then per input value the high and the
// low input latch and a pin-buffer read, then Send Immediate.
std::vector<uint8_t> sweep(FT_HANDLE h, char board);

#endif
