#include "main.h"

#include "analyze.h"
#include "files.h"
#include "intf.h"
#include "mcu.h"
#include "report.h"
#include "signals.h"
#include "usb.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

const opt_row opt_list[] = {
    {"dump", dump_func, "<file.bin>", "Dump PLD to data file."},
    {"analyze", analyze_func, "<file.bin>", "Analyze PLD dump."},
    {nullptr, nullptr, nullptr, nullptr},
};

static bool same_word(const char *a, const char *b)
{
    for (;; a++, b++) {
        char ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z')
            ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z')
            cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb)
            return false;
        if (ca == '\0')
            return true;
    }
}

int print_help(int, char **argv)
{
    std::printf("PAL dumping and analysis utility\n");
    std::printf("For adapter board %s on an FT2232 module (DLP2232M).\n", intf_board);
    std::printf("usage: %s <option> <arguments>\n", argv[0]);
    std::printf("\n");
    std::printf("Available options:\n");

    int width = 1;
    for (const opt_row *row = opt_list; row->name; row++) {
        int len = static_cast<int>(std::strlen(row->name));
        if (len > width)
            width = len;
    }
    char format[32];
    std::snprintf(format, sizeof format, " %%-%ds %%s", width);
    for (const opt_row *row = opt_list; row->name; row++) {
        std::string left(std::snprintf(nullptr, 0, format, row->name, row->args), '\0');
        std::snprintf(&left[0], left.size() + 1, format, row->name, row->args);
        std::printf("%-26s : %s\n", left.c_str(), row->description);
    }

    int found = ft_scan_devices(intf_module_pattern);
    if (found == 0) {
        std::printf("\n No devices present.\n");
        return 0;
    }
    std::printf("\nAvailable devices:\n");
    for (int i = 0; i < found; i++)
        std::printf(" - Device #%d: `%s' (%s)\n", i, ft_device[i].info.Description, ft_device[i].info.SerialNumber);
    return 0;
}

int dump_func(char **argv, int argc, int, int)
{
    if (argc <= 2) {
        std::printf("Specify a filename.\n");
        return 0;
    }
    int dev = intf_open();
    // intf_open gives device 0 also when no module is attached (after
    // saying so); the library is then left alone.
    if (!ft_device[dev].is_open)
        return 0;
    intf_reset(dev);
    int saved = pld_read(dev, argv[2]);
    intf_close(dev);
    return saved;
}

int analyze_func(char **argv, int argc, int, int)
{
    if (argc <= 2) {
        std::printf("Specify a filename.\n");
        return 0;
    }
    // Text that never reached standard output is a failure too.
    const bool analysed = analyze_pal(argv[2]);
    return stdout_complete(GATESWEEP_PROGRAM) && analysed ? 1 : 0;
}

int pld_read(int dev, const char *path)
{
    constexpr int steps = static_cast<int>(IX_COUNT);
    constexpr int block_bytes = 4 + steps * (8 + 3) + 1;

    file_target target;
    if (!file_target_check(path, target)) {
        std::printf("Error: could not write to `%s'.\n", path);
        return 0;
    }
    std::printf("Reading PLD. Press Ctrl+C to abort.\n");
    // What has been said stays said when the sweep or the save is interrupted.
    std::fflush(stdout);

    std::vector<uint8_t> image(DUMP_SIZE);
    std::array<uint8_t, steps * 11 + 16> cmd;
    constexpr int last_rx = static_cast<int>(RX_COUNT) - 1;
    for (int rx = 0; rx <= last_rx; rx++) {
        std::fprintf(stderr, "Progress: %.1f%%\r", static_cast<double>(rx * (100.0f / last_rx)));
        int n = set_rx(cmd.data(), rx);
        for (int ix = 0; ix < steps; ix++) {
            n += set_ix(cmd.data() + n, static_cast<uint16_t>(ix));
            n += read_bx(cmd.data() + n);
        }
        n += mcu_flush(cmd.data() + n);
        static_assert(block_bytes <= steps * 11 + 16, "command buffer too small");
        ft_send_data(dev, cmd.data(), n);
        ft_get_data(dev, image.data() + dump_index(static_cast<uint32_t>(rx), 0), steps);
    }
    std::printf("Finished reading PLD.\t\t\n");
    std::fflush(stdout);

    if (!file_target_write(target, image.data(), image.size())) {
        std::printf("Error: could not write to `%s'.\n", path);
        return 0;
    }
    std::printf("Data saved to `%s'.\n", path);
    warn_implausible_dump(image, path);
    return 1;
}

// Exit status: 0 after the help or the version, 1 after a command that did
// its work, 2 after any failure (fatal library errors exit with 2 at once).
int main(int argc, char **argv)
{
    if (argc <= 1 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
        print_help(argc, argv);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", GATESWEEP_PROGRAM, GATESWEEP_VERSION);
        return 0;
    }
    for (const opt_row *row = opt_list; row->name; row++) {
        if (same_word(argv[1], row->name))
            return row->handler(argv, argc, 1, argc - 1) ? 1 : 2;
    }
    std::printf("Unknown option `%s'.\n", argv[1]);
    return 2;
}
