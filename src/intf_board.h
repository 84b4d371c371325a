// What a board variant supplies to the shared adapter code in intf.cpp.
#ifndef INTF_BOARD_H
#define INTF_BOARD_H

#include <cstdint>

// Input latch bytes for the input word (bit k = Ik), in the board's wiring.
uint8_t board_low_latch(uint16_t ix);
uint8_t board_high_latch(uint16_t ix);
// Bus address of the pin buffer that reads B0..B7.
extern const unsigned board_pin_buffer;

// Appends a Write Extended Address command; returns 4.
int intf_write_cmd(uint8_t *buf, unsigned addr, uint8_t data);

#endif
