// Command front end and the dump sweep: the command table, the two command
// handlers, the help text, and the sweep that reads a PAL into a dump file.
#ifndef MAIN_H
#define MAIN_H

struct opt_row {
    const char *name;                                         // command word
    int (*handler)(char **argv, int argc, int position, int count);
    const char *args;                                         // arguments shown by the help
    const char *description;                                  // one line shown by the help
};

// The commands, ended by an all-empty row. A handler returns 1 when the
// command did its work and 0 when it failed (after saying why).
extern const opt_row opt_list[];

int print_help(int argc, char **argv);
int dump_func(char **argv, int argc, int position, int count);
int analyze_func(char **argv, int argc, int position, int count);

// Reads the PAL through all 262144 conditions and saves the dump to path;
// 1 when saved, 0 when path cannot take it (checked before the sweep).
int pld_read(int dev, const char *path);

#endif
