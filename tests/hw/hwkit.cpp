#include "hwkit.h"

#include "sim_control.h"
#include "testkit.h"
#include "usb.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

void sim_setup(const std::vector<std::string> &env)
{
    for (const char *name : {"FTD2XX_SIM_MODULES", "FTD2XX_SIM_BOARD", "FTD2XX_SIM_CHIP", "FTD2XX_SIM_FAIL",
                             "FTD2XX_SIM_TRACE"})
        unsetenv(name);
    for (const std::string &e : env) {
        std::string::size_type eq = e.find('=');
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    ftd2xx_sim_reinit();
    ft_device = {};
}

child_result run_in_child(const std::function<void()> &code)
{
    std::string dir = make_temp_dir();
    std::string out = dir + "/out";
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        close(fd);
        code();
        std::fflush(stdout);
        _exit(100);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    child_result r;
    if (WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    r.out = read_text(out);
    std::remove(out.c_str());
    rmdir(dir.c_str());
    return r;
}

std::string trace_path()
{
    return make_temp_dir() + "/trace";
}

std::vector<std::string> bus_lines(const std::string &path)
{
    std::istringstream in(read_text(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("bus ", 0) == 0)
            lines.push_back(line);
    return lines;
}
