// Preloaded into a program under test: every fsync first sends the process
// SIGINT, as a user's Ctrl+C in the middle of saving a file would.
#include <csignal>
#include <dlfcn.h>
#include <unistd.h>

extern "C" int fsync(int fd)
{
    using fsync_fn = int (*)(int);
    static fsync_fn real = reinterpret_cast<fsync_fn>(dlsym(RTLD_NEXT, "fsync"));
    kill(getpid(), SIGINT);
    return real(fd);
}
