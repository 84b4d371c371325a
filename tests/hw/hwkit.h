// Helpers for the hardware-layer tests: set up the simulated module, and run
// a piece of code in a child process to see its output and exit status.
#ifndef HWKIT_H
#define HWKIT_H

#include <functional>
#include <string>
#include <vector>

// Clears every FTD2XX_SIM_* variable, sets the given "NAME=VALUE" ones, and
// restarts the simulated module library as at process start.
void sim_setup(const std::vector<std::string> &env);

struct child_result {
    int status = -1;   // exit status; 100 when the code returned normally
    std::string out;   // what it printed on standard output
};

// Runs code in a forked child with standard output captured.
child_result run_in_child(const std::function<void()> &code);

// A fresh trace file name, and the bus-cycle lines that a trace holds.
std::string trace_path();
std::vector<std::string> bus_lines(const std::string &path);

#endif
