#include "main.h"

#include "analyze.h"
#include "intf.h"
#include "mcu.h"
#include "usb.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define access _access
#define W_OK 2
#else
#include <unistd.h>
#endif

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

    int found = ft_scan_devices("DLP2232M A");
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
    intf_reset(dev);
    pld_read(dev, argv[2]);
    intf_close(dev);
    return 0;
}

int analyze_func(char **argv, int argc, int, int)
{
    if (argc <= 2) {
        std::printf("Specify a filename.\n");
        return 0;
    }
    analyze_pal(argv[2]);
    return 0;
}

// Whether path can take the dump: an existing regular file that may be
// written, or a new name, in a folder that may be written (the dump goes to
// a temporary file there first). Creates and changes nothing.
static bool dump_writable(const std::string &path)
{
    namespace fs = std::filesystem;
    std::string::size_type slash = path.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::error_code ec;
    if (!fs::is_directory(dir, ec) || access(dir.c_str(), W_OK) != 0)
        return false;
    fs::file_status st = fs::status(path, ec);
    if (fs::exists(st))
        return fs::is_regular_file(st) && access(path.c_str(), W_OK) == 0;
    return true;
}

static bool replace_file(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// Writes the image to a new temporary file beside path and puts it in
// path's place only when every byte is written and the file is closed; an
// existing dump is never left truncated or half written.
static bool save_dump(const std::string &path, const std::vector<uint8_t> &image)
{
    std::string tmp;
    std::FILE *f = nullptr;
    for (int n = 0; n < 100 && !f; n++) {
        tmp = path + ".tmp" + std::to_string(n);
        f = std::fopen(tmp.c_str(), "wbx");
    }
    if (!f)
        return false;
    bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    ok = std::fflush(f) == 0 && ok;
#ifdef _WIN32
    ok = ok && _commit(_fileno(f)) == 0;
#else
    ok = ok && fsync(fileno(f)) == 0;
#endif
    ok = std::fclose(f) == 0 && ok;
    ok = ok && replace_file(tmp, path);
    if (!ok)
        std::remove(tmp.c_str());
    return ok;
}

int pld_read(int dev, const char *path)
{
    constexpr int steps = 1024;
    constexpr int block_bytes = 4 + steps * (8 + 3) + 1;

    if (!dump_writable(path)) {
        std::printf("Error: could not write to `%s'.\n", path);
        return 0;
    }
    std::printf("Reading PLD. Press Ctrl+C to abort.\n");

    std::vector<uint8_t> image(256 * steps);
    std::array<uint8_t, steps * 11 + 16> cmd;
    for (int rx = 0; rx < 256; rx++) {
        std::fprintf(stderr, "Progress: %.1f%%\r", static_cast<double>(rx * (100.0f / 255.0f)));
        int n = set_rx(cmd.data(), rx);
        for (int ix = 0; ix < steps; ix++) {
            n += set_ix(cmd.data() + n, static_cast<uint16_t>(ix));
            n += read_bx(cmd.data() + n);
        }
        n += mcu_flush(cmd.data() + n);
        static_assert(block_bytes <= steps * 11 + 16, "command buffer too small");
        ft_send_data(dev, cmd.data(), n);
        ft_get_data(dev, image.data() + rx * steps, steps);
    }
    std::printf("Finished reading PLD.\t\t\n");

    if (!save_dump(path, image)) {
        std::printf("Error: could not write to `%s'.\n", path);
        return 0;
    }
    std::printf("Data saved to `%s'.\n", path);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc <= 1) {
        print_help(argc, argv);
        return 0;
    }
    for (const opt_row *row = opt_list; row->name; row++) {
        if (same_word(argv[1], row->name)) {
            row->handler(argv, argc, 1, argc - 1);
            return 1;
        }
    }
    std::printf("Unknown option `%s'.\n", argv[1]);
    return 1;
}
