// The PAL in the simulated adapter's socket. Every chip model (a replayed
// dump, the worked examples, fuse maps) sits behind this one interface, so
// the bus and USB emulation never needs to know which chip is plugged in.
#ifndef SIM_CHIP_H
#define SIM_CHIP_H

#include <memory>
#include <string>

struct sim_chip {
    virtual ~sim_chip() = default;
    // The adapter changed a latch. ix: levels on I0..I9 (bit n = In);
    // rx: weak drive levels on B0..B7 (bit k = Bk). Called once for every
    // latch write, in bus order, also when the write changes nothing.
    virtual void drive(unsigned ix, unsigned rx) = 0;
    // Levels on B0..B7 as the pin buffer reads them now (bit k = Bk): the
    // chip's output where it drives a pin, the weak level where it does not.
    virtual unsigned read() = 0;
    // Sets the registers as at power-up: bit k of q is the Q of the register
    // at pin Bk (its output buffer inverts Q). Bits of pins without a
    // register are ignored. Returns the pins that have a register; a
    // combinational chip has none.
    virtual unsigned power_up(unsigned /* q */) { return 0; }
};

// Builds the chip that a FTD2XX_SIM_CHIP value names ("dump:PATH",
// "example:u12", "example:pal", "jedec:DEVICE:PATH"). On a bad value it
// returns null and says why in err.
std::unique_ptr<sim_chip> sim_make_chip(const std::string &setting, std::string &err);

// Fuse-map models: device is PAL16L8, PAL16R4, PAL16R6, PAL16R8 or GAL16V8.
std::unique_ptr<sim_chip> sim_make_jedec_chip(const std::string &device, const std::string &path,
                                              std::string &err);
// The same from the text of a fuse map held in memory; name stands for the
// file in the model's messages.
std::unique_ptr<sim_chip> sim_make_jedec_chip_text(const std::string &device, const std::string &text,
                                                   const std::string &name, std::string &err);

#endif
