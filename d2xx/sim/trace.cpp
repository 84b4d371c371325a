// Trace file of the simulated module.
//
// One line per event, appended in the order the events happen. Every line
// starts with a fixed word that tells its kind:
//
//   call NAME(ARGS) -> STATUS[ RESULTS]
//       A D2XX library call, written when it returns (FT_Write: before
//       the commands it carries, which follow it). NAME is the function,
//       ARGS its main arguments as name=value, STATUS the status name with
//       its number in parentheses, e.g. "FT_OK (0)", RESULTS what it handed
//       back on success. Handles are shown as "handle=0x" + hex token
//       (0x0 for a null handle). Examples:
//         call FT_OpenEx(serial="GS000001A", flags=1) -> FT_OK (0) handle=0x1001
//         call FT_Write(handle=0x1001, count=11269) -> FT_OK (0) written=11269
//         call FT_Read(handle=0x1001, count=1024) -> FT_OK (0) read=1024
//   bus write 0xAAAA = 0xDD
//   bus read 0xAAAA -> 0xDD
//       One cycle on the host bus of interface A, in command stream order:
//       address as four hex digits, data as two, lower case.
//   cmd send-immediate
//   cmd gpio-high set value=0xVV direction=0xDD
//   cmd gpio-high read -> 0xVV
//   cmd bad-opcode 0xOO -> 0xfa 0xOO
//       The other commands of the stream (no bus cycle).
//
// So the bus cycles are exactly the lines that start with "bus ".

#include "trace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

static std::FILE *trace_file = nullptr;

bool sim_trace_open(const std::string &path, std::string &err)
{
    sim_trace_close();
    trace_file = std::fopen(path.c_str(), "a");
    if (!trace_file) {
        err = std::string("cannot open it for appending: ") + std::strerror(errno);
        return false;
    }
    std::setvbuf(trace_file, nullptr, _IOFBF, 1 << 16);
    return true;
}

void sim_trace_close()
{
    if (trace_file)
        std::fclose(trace_file);
    trace_file = nullptr;
}

bool sim_tracing()
{
    return trace_file != nullptr;
}

void sim_trace(const char *format, ...)
{
    if (!trace_file)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(trace_file, format, args);
    va_end(args);
    std::fputc('\n', trace_file);
}

void sim_trace_flush()
{
    if (trace_file)
        std::fflush(trace_file);
}
