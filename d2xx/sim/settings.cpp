#include "settings.h"

#include <cstdlib>

const std::array<const char *, fn_count> sim_function_name = {
    "FT_CreateDeviceInfoList", "FT_GetDeviceInfoList", "FT_OpenEx", "FT_ResetDevice",
    "FT_Purge", "FT_GetQueueStatus", "FT_SetLatencyTimer", "FT_SetBitMode",
    "FT_Write", "FT_Read", "FT_Close",
};

// Room in the device-list node, terminating NUL included.
constexpr size_t serial_room = 16;
constexpr size_t description_room = 64;

bool sim_getenv(const char *name, std::string &value)
{
    const char *v = std::getenv(name);
    if (!v)
        return false;
    value = v;
    return true;
}

static std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = s.find(sep, start);
        parts.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

// A decimal number of at least one digit and nothing else.
static bool parse_number(const std::string &s, unsigned long &n)
{
    if (s.empty() || s.size() > 9)
        return false;
    n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    return true;
}

bool sim_parse_modules(const std::string &value, std::vector<sim_module_setting> &modules,
                       std::string &reason)
{
    modules.clear();
    if (value.empty())
        return true;
    for (const std::string &item : split(value, ',')) {
        size_t eq = item.find('=');
        if (eq == std::string::npos) {
            reason = "item `" + item + "' is not DESCRIPTION=SERIAL";
            return false;
        }
        sim_module_setting m{item.substr(0, eq), item.substr(eq + 1)};
        if (m.description.empty() || m.serial.empty() || m.serial.find('=') != std::string::npos) {
            reason = "item `" + item + "' is not DESCRIPTION=SERIAL";
            return false;
        }
        if (m.description.size() + 2 >= description_room) {
            reason = "description `" + m.description + "' is too long";
            return false;
        }
        if (m.serial.size() + 1 >= serial_room) {
            reason = "serial number `" + m.serial + "' is too long";
            return false;
        }
        for (const sim_module_setting &other : modules) {
            if (other.serial == m.serial) {
                reason = "serial number `" + m.serial + "' is given twice";
                return false;
            }
        }
        modules.push_back(m);
    }
    return true;
}

bool sim_parse_faults(const std::string &value, std::vector<sim_fault> &faults, std::string &reason)
{
    faults.clear();
    if (value.empty())
        return true;
    for (const std::string &item : split(value, ',')) {
        size_t eq = item.find('=');
        if (eq == std::string::npos) {
            reason = "item `" + item + "' is not NAME=STATUS or NAME@N=STATUS";
            return false;
        }
        std::string name = item.substr(0, eq);
        sim_fault f{fn_count, 1, 0};
        size_t at = name.find('@');
        if (at != std::string::npos) {
            if (!parse_number(name.substr(at + 1), f.call) || f.call == 0) {
                reason = "item `" + item + "' has no call number 1 or more after '@'";
                return false;
            }
            name.resize(at);
        }
        for (size_t i = 0; i < fn_count; i++) {
            if (name == sim_function_name[i])
                f.function = static_cast<sim_function>(i);
        }
        if (f.function == fn_count) {
            reason = "item `" + item + "' names no D2XX function";
            return false;
        }
        if (!parse_number(item.substr(eq + 1), f.status)) {
            reason = "item `" + item + "' has no decimal status";
            return false;
        }
        faults.push_back(f);
    }
    return true;
}

bool sim_parse_shorts(const std::string &value, std::vector<sim_short> &shorts, std::string &reason)
{
    // The same items as faults, with a byte limit in place of the status.
    std::vector<sim_fault> items;
    shorts.clear();
    if (!sim_parse_faults(value, items, reason)) {
        reason = "an item is not NAME=LIMIT or NAME@N=LIMIT";
        return false;
    }
    for (const sim_fault &f : items) {
        if (f.function != fn_read && f.function != fn_write && f.function != fn_get_queue_status) {
            reason = std::string(sim_function_name[f.function]) +
                     " moves no bytes (FT_Read, FT_Write or FT_GetQueueStatus)";
            return false;
        }
        shorts.push_back({f.function, f.call, f.status});
    }
    return true;
}

bool sim_parse_powerup(const std::string &value, unsigned &q, std::string &reason)
{
    std::string digits = value;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.erase(0, 2);
    if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        reason = "not a hex byte 00 to FF (bit k: Q of the register at pin Bk)";
        return false;
    }
    q = static_cast<unsigned>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
}

bool sim_read_settings(sim_settings &s, sim_setting_error &err)
{
    s = sim_settings();
    std::string value;

    if (sim_getenv("FTD2XX_SIM_TRACE", value))
        s.trace_path = value;

    if (!sim_getenv("FTD2XX_SIM_MODULES", value)) {
        s.modules.push_back({"DLP2232M", "GS000001"});
    } else if (!sim_parse_modules(value, s.modules, err.reason)) {
        err.variable = "FTD2XX_SIM_MODULES";
        err.value = value;
        return false;
    }

    // An empty value stands for the default, except in the module list.
    if (sim_getenv("FTD2XX_SIM_BOARD", value) && !value.empty() && value != "a") {
        if (value != "b") {
            err = {"FTD2XX_SIM_BOARD", value, "unknown board variant (a or b)"};
            return false;
        }
        s.board = sim_board_variant::b;
    }

    if (!sim_getenv("FTD2XX_SIM_CHIP", s.chip) || s.chip.empty())
        s.chip = "example:u12";

    if (sim_getenv("FTD2XX_SIM_POWERUP", value) && !value.empty()) {
        if (!sim_parse_powerup(value, s.powerup, err.reason)) {
            err.variable = "FTD2XX_SIM_POWERUP";
            err.value = value;
            return false;
        }
        s.powerup_value = value;
    }

    if (sim_getenv("FTD2XX_SIM_FAIL", value) && !sim_parse_faults(value, s.faults, err.reason)) {
        err.variable = "FTD2XX_SIM_FAIL";
        err.value = value;
        return false;
    }

    if (sim_getenv("FTD2XX_SIM_SHORT", value) && !sim_parse_shorts(value, s.shorts, err.reason)) {
        err.variable = "FTD2XX_SIM_SHORT";
        err.value = value;
        return false;
    }

    if (sim_getenv("FTD2XX_SIM_TIME", value) && !value.empty() && value != "0") {
        if (value != "1") {
            err = {"FTD2XX_SIM_TIME", value, "not 0 or 1 (1: print the modelled USB time on standard error)"};
            return false;
        }
        s.print_time = true;
    }
    return true;
}
