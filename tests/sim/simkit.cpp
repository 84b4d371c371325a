#include "simkit.h"

#include <cstdlib>

static const char *const sim_vars[] = {"FTD2XX_SIM_MODULES", "FTD2XX_SIM_BOARD", "FTD2XX_SIM_CHIP",
                                       "FTD2XX_SIM_FAIL", "FTD2XX_SIM_TRACE"};

void set_env(const char *name, const std::string &value)
{
    setenv(name, value.c_str(), 1);
}

void unset_sim_env()
{
    for (const char *v : sim_vars)
        unsetenv(v);
}

void sim_test::SetUp()
{
    unset_sim_env();
    ftd2xx_sim_reinit();
}

void sim_test::TearDown()
{
    unset_sim_env();
    ftd2xx_sim_reinit();
}

FT_HANDLE open_serial(const char *serial)
{
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char *>(serial), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK) << serial;
    return h;
}

FT_HANDLE open_host_bus()
{
    FT_HANDLE h = open_serial("GS000001A");
    EXPECT_EQ(FT_SetBitMode(h, 0x00, 0x08), FT_OK);
    return h;
}

void write_bytes(FT_HANDLE h, const std::vector<uint8_t> &bytes)
{
    DWORD written = 0;
    EXPECT_EQ(FT_Write(h, const_cast<uint8_t *>(bytes.data()), static_cast<DWORD>(bytes.size()), &written),
              FT_OK);
    EXPECT_EQ(written, bytes.size());
}

std::vector<uint8_t> read_bytes(FT_HANDLE h, unsigned count)
{
    std::vector<uint8_t> buf(count);
    DWORD got = 0;
    EXPECT_EQ(FT_Read(h, buf.data(), count, &got), FT_OK);
    buf.resize(got);
    return buf;
}

DWORD queued(FT_HANDLE h)
{
    DWORD n = 12345;
    EXPECT_EQ(FT_GetQueueStatus(h, &n), FT_OK);
    return n;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> bus_write(unsigned addr, unsigned data)
{
    return {0x93, static_cast<uint8_t>(addr >> 8), static_cast<uint8_t>(addr), static_cast<uint8_t>(data)};
}

std::vector<uint8_t> bus_read(unsigned addr)
{
    return {0x91, static_cast<uint8_t>(addr >> 8), static_cast<uint8_t>(addr)};
}

static unsigned reverse8(unsigned v)
{
    unsigned r = 0;
    for (unsigned k = 0; k < 8; k++)
        r |= ((v >> k) & 1u) << (7 - k);
    return r;
}

// Appends the latch writes for ix and the pin-buffer read.
static uint8_t *put_step(uint8_t *p, char board, unsigned ix)
{
    unsigned low, high;
    if (board == 'a') {
        low = ix & 0xFF;
        high = ((ix >> 8) & 1) | ((ix >> 9) & 1) << 1;
    } else {
        low = reverse8(ix & 0xFF);
        high = ((ix >> 8) & 1) << 1 | ((ix >> 9) & 1);
    }
    const uint8_t step[11] = {0x93, 0x02, 0x00, static_cast<uint8_t>(high),
                              0x93, 0x01, 0x00, static_cast<uint8_t>(low),
                              0x91, static_cast<uint8_t>(board == 'a' ? 0x00 : 0x05), 0x00};
    for (uint8_t b : step)
        *p++ = b;
    return p;
}

unsigned read_pins(FT_HANDLE h, char board, unsigned ix, unsigned rx)
{
    std::vector<uint8_t> cmd(16);
    uint8_t *p = cmd.data();
    for (uint8_t b : bus_write(0x0000, rx))
        *p++ = b;
    p = put_step(p, board, ix);
    *p++ = 0x87;
    cmd.resize(static_cast<size_t>(p - cmd.data()));
    write_bytes(h, cmd);
    std::vector<uint8_t> got = read_bytes(h, 1);
    return got.size() == 1 ? got[0] : 0x100;
}

std::vector<uint8_t> sweep(FT_HANDLE h, char board)
{
    std::vector<uint8_t> image(262144);
    std::vector<uint8_t> block(11269);
    for (unsigned rx = 0; rx < 256; rx++) {
        uint8_t *p = block.data();
        for (uint8_t b : bus_write(0x0000, rx))
            *p++ = b;
        for (unsigned ix = 0; ix < 1024; ix++)
            p = put_step(p, board, ix);
        *p++ = 0x87;
        EXPECT_EQ(p - block.data(), 11269);
        DWORD n = 0;
        EXPECT_EQ(FT_Write(h, block.data(), 11269, &n), FT_OK);
        EXPECT_EQ(FT_Read(h, image.data() + rx * 1024, 1024, &n), FT_OK);
        EXPECT_EQ(n, 1024u);
    }
    return image;
}
