// Host bus commands: the MPSSE command bytes of MCU Host Bus Emulation and
// small bus operations on a module opened by the USB device layer.
#ifndef MCU_H
#define MCU_H

#include <cstdint>

constexpr uint8_t mcu_read_ext = 0x91;    // Read Extended Address: addr hi, addr lo; one reply byte
constexpr uint8_t mcu_write_ext = 0x93;   // Write Extended Address: addr hi, addr lo, data
constexpr uint8_t mcu_send_now = 0x87;    // Send Immediate
constexpr uint8_t mcu_set_high = 0x82;    // Set Data bits High Byte: value, direction
constexpr uint8_t mcu_read_high = 0x83;   // Read Data bits High Byte; one reply byte
constexpr int mcu_pass_bytes = 184320;    // read commands for 61440 addresses

// Writes opcode and the 16-bit address (high byte first) at buf; returns 3.
inline int mcu_addr_cmd(uint8_t *buf, uint8_t opcode, unsigned addr)
{
    buf[0] = opcode;
    buf[1] = static_cast<uint8_t>(addr >> 8);
    buf[2] = static_cast<uint8_t>(addr);
    return 3;
}

// Writes Send Immediate at buf; returns 1, the bytes written.
int mcu_flush(uint8_t *buf);
// Reads one bus address and returns the byte.
int mcu_peek(int dev, int addr);
// Writes one bus address; returns 1.
int mcu_poke(int dev, int addr, uint8_t data);
// Writes count bytes to consecutive addresses (16-bit wrap) in one transfer.
void mcu_send(int dev, int start, const uint8_t *src, int count);
// Reads count consecutive addresses into dest (count bytes).
void mcu_get(int dev, int start, uint8_t *dest, int count);
// Bits 0 and 1 of the high GPIO byte.
int mcu_get_gpioh(int dev);
// Sets the high GPIO byte: value = second & 3, direction = first & 3; returns 1.
int mcu_set_gpioh(int dev, int first, int second);

#endif
