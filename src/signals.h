// Signal map of a 20-pin PAL: signal numbers, names, package pins, and the
// layout of a dump index (one test condition) and of the dump file.
#ifndef SIGNALS_H
#define SIGNALS_H

#include <cstdint>
#include <string>

// Signals 0..9 are the dedicated inputs I0..I9, 10..17 the I/O pins B0..B7.
// Signal n is bit n of a dump index and of every signal mask.
constexpr int NUM_SIGNALS = 18;
constexpr int NUM_INPUTS = 10;
constexpr int NUM_BX = 8;
constexpr int BX_SIGNAL0 = 10;          // signal number of B0; Bk is 10 + k

// Dump index = rx * 1024 + ix: bits 0..9 the input levels, bits 10..17 the
// weak drive levels on B0..B7. The dump file holds one byte per index, bit k
// the level read back on Bk.
constexpr uint32_t DUMP_SIZE = 262144;
constexpr uint32_t IX_COUNT = 1024;     // input levels ix
constexpr uint32_t RX_COUNT = DUMP_SIZE / IX_COUNT;  // weak drive levels rx, 256
constexpr uint32_t IX_MASK = 0x003FF;
constexpr int RX_SHIFT = 10;
constexpr uint32_t SIGNAL_MASK_ALL = 0x3FFFF;

constexpr uint32_t dump_index(uint32_t rx, uint32_t ix) { return (rx << RX_SHIFT) | ix; }

// The bit of signal n in a dump index and in a signal mask, and that of Bk.
constexpr uint32_t signal_bit(int n) { return 1u << n; }
constexpr uint32_t bx_bit(int k) { return signal_bit(BX_SIGNAL0 + k); }
// I9 (pin 11), the enable of a registered PAL's registered outputs.
constexpr int I9_SIGNAL = 9;

extern const char *const signal_name[NUM_SIGNALS];
extern const int pin_number[NUM_SIGNALS];

// The name of signal n (0..17) as a new string owned by the caller.
std::string pin_name(int n);
// The name of I/O pin Bk (k = 0..7), the same as pin_name(k + 10).
std::string bx_name(int k);

#endif
