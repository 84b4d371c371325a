// The analyze command: loads a dump file, analyses it, prints the summary
// comment and the CUPL source on standard output, and checks the printed
// equations against the dump.
#ifndef REPORT_H
#define REPORT_H

#include "terms.h"

// Analyses the dump file and prints the report and the CUPL source on
// standard output, then warns where the printed equations miss readings of
// the dump. False when the file could not be read.
bool analyze_pal(const char *filename);

// Warns on standard error, a line per pin from B7 down and a closing line,
// when the checked equations get some readings of the dump wrong (as a chip
// that holds state gives). True when it warned.
bool warn_unreproduced(const dump_analysis &a, equation_check &check, const char *filename);

#endif
