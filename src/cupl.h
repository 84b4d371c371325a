// The CUPL source of a dump_analysis after the summary comment: header, pin
// declarations, output and enable equations, end marker.
#ifndef CUPL_H
#define CUPL_H

#include <cstdio>
#include <string>

#include "analyze.h"
#include "terms.h"

// The design name: the last component of the dump-file path, without its
// last '.' and all after it ("dumps/u12.bin" gives "u12").
std::string design_name(const char *filename);

// Writes the header and declarations, runs the output and enable extractions
// at their places, and writes the equations. An equation over an empty mask
// is written as a constant, with a warning on standard error. With a check,
// every equation is checked against the dump as it is written.
void write_cupl(FILE *out, const dump_analysis &a, const char *filename, term_table &table,
                equation_check *check = nullptr);

#endif
