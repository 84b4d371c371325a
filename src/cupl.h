// The CUPL source after the summary comment: header, pin declarations,
// output and enable equations, end marker.
#ifndef CUPL_H
#define CUPL_H

#include <cstdio>
#include <string>

#include "terms.h"

// The design name: the dump-file argument without its last '.' and all after it.
std::string design_name(const char *filename);

// Writes the header and declarations, runs the output and enable extractions
// at their places, and writes the equations.
void write_cupl(FILE *out, const char *filename, term_table &table);

#endif
