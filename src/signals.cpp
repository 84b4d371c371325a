#include "signals.h"

const char *const signal_name[NUM_SIGNALS] = {
    "I0", "I1", "I2", "I3", "I4", "I5", "I6", "I7", "I8", "I9",
    "B0", "B1", "B2", "B3", "B4", "B5", "B6", "B7",
};

// Package pins 10 and 20 (ground and supply) carry no signal.
const int pin_number[NUM_SIGNALS] = {
    1, 2, 3, 4, 5, 6, 7, 8, 9, 11,
    12, 13, 14, 15, 16, 17, 18, 19,
};

std::string pin_name(int n)
{
    return signal_name[n];
}

std::string bx_name(int k)
{
    return pin_name(k + BX_SIGNAL0);
}
