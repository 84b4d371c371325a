// Adapter board interface: finds and opens the module that carries the
// board, returns the board's latches to 0, and builds the bus commands that
// set the latches and read the PAL's I/O pins into a caller's buffer. Each
// board variant (src/board-a, src/board-b) implements it with its own bus
// addresses and wiring.
#ifndef INTF_H
#define INTF_H

#include <cstdint>

// The last byte each latch command carried, after the board's wiring.
struct intf_state_t {
    uint8_t rx;   // weak-drive latch, address 0x0000
    uint8_t ixl;  // input latch low, address 0x0100
    uint8_t ixh;  // input latch high, address 0x0200
    uint8_t bxa;  // latch at 0x0300 (board B)
    uint8_t bxb;  // latch at 0x0400 (board B)
};

extern intf_state_t intf_state;

// The board variant this program drives: "A" or "B".
extern const char intf_board[];

// What the description of the module's channel A contains: the modules
// the programs list and use.
constexpr const char intf_module_pattern[] = "DLP2232M A";

// Command builders: each writes its bytes at buf and returns how many.
int set_rx(uint8_t *buf, int rx);          // weak levels of B0..B7
int set_ix(uint8_t *buf, uint16_t ix);     // levels of I0..I9: high latch, then low latch
int set_ixl(uint8_t *buf, uint16_t ix);    // I0..I7 only
int set_ixh(uint8_t *buf, uint16_t ix);    // I8 and I9 only
int read_bx(uint8_t *buf);                 // read B0..B7: one reply byte
int read_bx_flush(uint8_t *buf);           // read_bx, then Send Immediate
int set_bx(uint8_t *buf, uint8_t first, uint8_t second); // board B only

// Index of the first attached module, or -1 (after a message) when none.
int acquire_device();
// Finds and opens the module; returns its device index (0).
int intf_open();
// Sets every latch to 0 in one write; returns 1.
int intf_reset(int dev);
// Resets the latches and closes the module; 1 when closed, 0 when not open.
int intf_close(int dev);

#endif
