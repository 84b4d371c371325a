// The simulated module's trace: with FTD2XX_SIM_TRACE=FILE every library
// call and every command that interface A's host bus executes is appended
// to FILE as one line. The line format is described in trace.cpp.
#ifndef SIM_TRACE_H
#define SIM_TRACE_H

#include <string>

#if defined(__GNUC__)
#define SIM_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define SIM_PRINTF_LIKE
#endif

// Opens path for appending; false with the reason in err when it cannot.
bool sim_trace_open(const std::string &path, std::string &err);
void sim_trace_close();
// True while a trace file is open; callers test it before building lines.
bool sim_tracing();
// Appends one line (the newline is added) when tracing.
void sim_trace(const char *format, ...) SIM_PRINTF_LIKE;
// Pushes buffered lines to the file; done at the end of every library call.
void sim_trace_flush();

#endif
