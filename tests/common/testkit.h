// Helpers shared by the tests: dumps built from small chip models, scratch
// folders, files, and running the built programs with the simulated module.
#ifndef TESTKIT_H
#define TESTKIT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr unsigned dump_size = 262144;

// A combinational chip for a test: given the input levels ix (bit n = In)
// and the weak levels rx on B0..B7, set oe (bit k: the chip drives Bk) and
// out (bit k: the level it drives). An undriven pin reads its weak level,
// and that is also the level the chip sees on it.
using chip_fn = std::function<void(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)>;

// The 262144-byte dump such a chip gives, indexed rx * 1024 + ix.
std::vector<uint8_t> make_dump(const chip_fn &chip);

// The two worked-example chips, as their descriptions give them.
// u12: B7 = I0 AND I1; B6 = NOT I3 while I2 is high; B5, B1 inputs; B4 low;
// B3 = I4 XOR B5; B2 high while I5 is low; B0 = I6 while I9 is low.
void u12_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out);
// pal: B0 = I0 AND I1, B1 = I2 OR I3, B2 = NOT I4, B3 = I5 XOR I6, always
// driven; B4 = I7, B5 = I8 AND I0, B6 = NOT I1 AND NOT I2, B7 = I3 OR I8,
// driven while I9 is low.
void pal_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out);

// A chip whose every pin is driven or floats by a hash of the condition, so
// that each dump index reads something different from its neighbours.
std::vector<uint8_t> scrambled_dump();

// A new empty folder under the system's temporary folder, removed with all
// it holds when the test program ends.
std::string make_temp_dir();
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
void write_text(const std::string &path, const std::string &text);
std::vector<uint8_t> read_file(const std::string &path);
std::string read_text(const std::string &path);
bool file_exists(const std::string &path);
// The names in a folder, without "." and "..".
std::vector<std::string> dir_entries(const std::string &dir);

// The help text of a program up to the list of modules; board "A" or "B".
std::string help_head(const std::string &exe, const char *board);

struct run_result {
    int status = -1;      // exit status, or -1 when the program did not exit normally
    std::string out;      // standard output
    std::string err;      // standard error
};

// Runs a program in folder dir with extra environment settings (each
// "NAME=VALUE") and arguments, standard input empty. Arguments are quoted
// for the shell (on Windows, for the C runtime's command-line parser).
run_result run_program(const std::string &dir, const std::vector<std::string> &env,
                       const std::string &exe, const std::vector<std::string> &args);

// The folder of the published fuse maps (holding jedec/*.jed), or "" when
// this checkout has none: a test that needs them then calls
// GTEST_SKIP() << published_maps_missing().
std::string published_maps_dir();
std::string published_maps_missing();

// Compares text with the golden file tests/golden/NAME. With the environment
// variable GATESWEEP_BLESS=1 the file is rewritten instead and the test passes.
void expect_golden(const std::string &name, const std::string &text);

#endif
