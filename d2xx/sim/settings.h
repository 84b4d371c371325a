// Settings of the simulated module library, taken from the environment:
// FTD2XX_SIM_MODULES (attached modules), FTD2XX_SIM_BOARD (adapter board
// variant), FTD2XX_SIM_CHIP (the PAL in the socket, see chip.h),
// FTD2XX_SIM_POWERUP (the chip's registers at power-up), FTD2XX_SIM_FAIL
// (scheduled faults), FTD2XX_SIM_SHORT (short transfers), FTD2XX_SIM_TRACE
// (trace file) and FTD2XX_SIM_TIME (print the modelled USB time, timing.h).
// Only parsing lives here; api.cpp acts on the result.
#ifndef SIM_SETTINGS_H
#define SIM_SETTINGS_H

#include "board.h"

#include <array>
#include <string>
#include <vector>

// The D2XX functions, in the order of the interface header. Faults and
// call counts are kept per function.
enum sim_function {
    fn_create_device_info_list,
    fn_get_device_info_list,
    fn_open_ex,
    fn_reset_device,
    fn_purge,
    fn_get_queue_status,
    fn_set_latency_timer,
    fn_set_bit_mode,
    fn_write,
    fn_read,
    fn_close,
    fn_count
};

extern const std::array<const char *, fn_count> sim_function_name;

struct sim_module_setting {
    std::string description;   // without the " A" / " B" of the interfaces
    std::string serial;        // without the "A" / "B" of the interfaces
};

// The call-th call (1 = the first) of function returns status.
struct sim_fault {
    sim_function function;
    unsigned long call;
    unsigned long status;
};

// From the call-th call of function on (1 = the first), the call moves at
// most limit bytes: short reads and writes, and a queue that shows little.
struct sim_short {
    sim_function function;
    unsigned long call;
    unsigned long limit;
};

struct sim_settings {
    std::vector<sim_module_setting> modules;
    sim_board_variant board = sim_board_variant::a;
    std::string chip;          // a FTD2XX_SIM_CHIP value, see sim_make_chip
    unsigned powerup = 0;      // Q of the registers at power-up, bit k = pin Bk
    std::string powerup_value; // as given, for the report of a chip without those registers
    std::vector<sim_fault> faults;
    std::vector<sim_short> shorts;
    std::string trace_path;    // empty: no trace
    bool print_time = false;   // print the modelled USB time at the end of the run
};

// A setting that cannot be used: the variable, its value and why.
struct sim_setting_error {
    std::string variable;
    std::string value;
    std::string reason;
};

// The value of an environment variable; false when it is not set.
bool sim_getenv(const char *name, std::string &value);

// Reads all FTD2XX_SIM_* variables into s. On the first bad one returns
// false and describes it in err; s is then incomplete.
bool sim_read_settings(sim_settings &s, sim_setting_error &err);

// The parsers behind sim_read_settings, for one variable's value each.
// On failure they return false with the reason in reason.
bool sim_parse_modules(const std::string &value, std::vector<sim_module_setting> &modules,
                       std::string &reason);
bool sim_parse_faults(const std::string &value, std::vector<sim_fault> &faults, std::string &reason);
// FTD2XX_SIM_SHORT: NAME=LIMIT or NAME@N=LIMIT, for FT_Read, FT_Write and
// FT_GetQueueStatus.
// FTD2XX_SIM_POWERUP: a byte as one or two hex digits, 0x in front or not.
bool sim_parse_powerup(const std::string &value, unsigned &q, std::string &reason);
bool sim_parse_shorts(const std::string &value, std::vector<sim_short> &shorts, std::string &reason);

#endif
