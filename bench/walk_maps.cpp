// Fuse maps for the walk benchmark. Usage: walk_maps SHIFT.jed
// writes a PAL16R8 of 256 states: an 8-bit shift register that takes I1
// in at pin 12 (B0) on every clock edge and moves each pin's level one pin
// up, so that every state is reached and every state can reach every
// other within eight clock edges.
#include <cstdio>
#include <string>
#include <vector>

#include "gal16v8.h"
#include "jedec_file.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SHIFT.jed\n", argv[0]);
        return 2;
    }
    constexpr unsigned fuses_r8 = 2048;
    // Every fuse connected: a row that holds a column and its complement
    // is never true.
    std::vector<uint8_t> fuses(fuses_r8, 0);
    for (unsigned k = 0; k < 8; k++) {
        // The pin shows !Q: the D term that holds where the pin's next
        // level is low. B0 takes I1, Bk takes the level of B(k-1).
        const unsigned signal = k == 0 ? 1 : 10 + k - 1;
        const int pair = gal_column_of(gal_columns_registered, signal);
        const unsigned row = gal_first_row(k);
        for (unsigned f = 0; f < gal_row_fuses; f++)
            fuses[row * gal_row_fuses + f] = 1;
        fuses[row * gal_row_fuses + 2 * static_cast<unsigned>(pair) + 1] = 0;
    }
    const std::string text = jedec_text(fuses, "PAL16R8 shift register of 256 states");
    std::FILE *f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "%s: could not write `%s'\n", argv[0], argv[1]);
        return 2;
    }
    return 0;
}
