// The comment block that opens the CUPL source: registered-pin warning,
// data source, device configuration, suggested GAL16V8 mode and one status
// line per I/O pin, all read from a dump_analysis.
#ifndef SUMMARY_H
#define SUMMARY_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "analyze.h"

// Bit k set for each pin Bk that looks registered: its enable depends on I9
// alone and it floats exactly when I9 is high. 0 when I9 drives an output.
uint8_t registered_pins(const dump_analysis &a);
// "simple", "complex" or "unknown", and the matching GAL16V8 device type.
const char *device_config(const dump_analysis &a);
const char *device_type(const dump_analysis &a);
// The status text of a flags value, or nullptr for a value that cannot arise.
const char *pin_status(uint32_t flags);

// text with a blank between the two characters of every "*/", so that it
// cannot end the comment block it is printed in.
std::string comment_safe(const char *text);

void print_summary(FILE *out, const dump_analysis &a, const char *filename);

#endif
