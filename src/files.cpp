#include "files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX   // MinGW's C++ library defines it already
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#define access _access
#define W_OK 2
#else
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

static std::string folder_of(const fs::path &p)
{
    fs::path dir = p.parent_path();
    return dir.empty() ? std::string(".") : dir.string();
}

bool file_target_check(const char *name, file_target &target)
{
    target = file_target{};
    if (!name || !*name)
        return false;
    std::error_code ec;
    fs::path p(name);
    fs::file_status link = fs::symlink_status(p, ec);
    if (fs::is_symlink(link)) {
        // Write what the link names; a link that leads nowhere is refused.
        p = fs::canonical(p, ec);
        if (ec)
            return false;
    }
    fs::file_status st = fs::status(p, ec);
    if (st.type() == fs::file_type::none)
        return false;
    target.path = p.string();
    target.existed = fs::exists(st);
    if (target.existed) {
        if (!fs::is_regular_file(st) || access(target.path.c_str(), W_OK) != 0)
            return false;
        target.mode = static_cast<unsigned>(st.permissions()) & 07777;
    }
    std::string dir = folder_of(p);
    if (!fs::is_directory(dir, ec))
        return false;
    if (access(dir.c_str(), W_OK) != 0) {
        // No temporary file can go there: only an existing file can be
        // written, in place.
        target.in_place = target.existed;
        return target.in_place;
    }
#ifndef _WIN32
    long name_max = pathconf(dir.c_str(), _PC_NAME_MAX);
    if (!target.existed && name_max > 0 && p.filename().string().size() > static_cast<size_t>(name_max))
        return false;
#endif
    return true;
}

// Holds off interrupts while a file is saved, and turns a file-size limit
// into a write error; the held interrupt acts when the hold ends.
#ifdef _WIN32
static volatile LONG interrupted = 0;

static BOOL WINAPI note_interrupt(DWORD)
{
    InterlockedExchange(&interrupted, 1);
    return TRUE;
}

struct interrupt_hold {
    interrupt_hold() { SetConsoleCtrlHandler(note_interrupt, TRUE); }
    ~interrupt_hold()
    {
        SetConsoleCtrlHandler(note_interrupt, FALSE);
        if (InterlockedCompareExchange(&interrupted, 0, 0))
            ExitProcess(STATUS_CONTROL_C_EXIT);
    }
};
#else
struct interrupt_hold {
    sigset_t old_mask;
    struct sigaction old_xfsz;
    interrupt_hold()
    {
        sigset_t held;
        sigemptyset(&held);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&held, sig);
        sigprocmask(SIG_BLOCK, &held, &old_mask);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &old_xfsz);
    }
    ~interrupt_hold()
    {
        sigaction(SIGXFSZ, &old_xfsz, nullptr);
        sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    }
};
#endif

// Lets write fill f, then flushes, syncs and closes it; false on any failure.
static bool write_file(std::FILE *f, const file_writer &write)
{
    write(f);
    bool ok = !std::ferror(f);
    ok = std::fflush(f) == 0 && ok;
#ifdef _WIN32
    ok = ok && _commit(_fileno(f)) == 0;
#else
    ok = ok && fsync(fileno(f)) == 0;
#endif
    return std::fclose(f) == 0 && ok;
}

static bool replace_file(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// Creates and opens a file that must not exist yet, for binary writing.
// The Windows C runtime that MinGW programs use ignores fopen's "x".
static std::FILE *open_new(const std::string &name, bool text)
{
#ifdef _WIN32
    int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | (text ? _O_TEXT : _O_BINARY), _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE *f = _fdopen(fd, text ? "w" : "wb");
    if (!f)
        _close(fd);
    return f;
#else
    (void)text;
    return std::fopen(name.c_str(), "wbx");
#endif
}

// A new file of a short unique name in folder dir, opened exclusively.
static std::FILE *create_temporary(const std::string &dir, std::string &name, bool text)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::minstd_rand pick(device() ^ static_cast<unsigned>(
                              std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; attempt++) {
        std::string leaf = ".gatesweep-";
        for (int i = 0; i < 6; i++)
            leaf += letters[pick() % (sizeof letters - 1)];
        name = (fs::path(dir) / leaf).string();
        if (std::FILE *f = open_new(name, text))
            return f;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

bool file_target_write(const file_target &target, const file_writer &write, bool text)
{
    interrupt_hold hold;
    if (target.in_place) {
        std::FILE *f = std::fopen(target.path.c_str(), text ? "w" : "wb");
        return f && write_file(f, write);
    }
    std::string tmp;
    std::FILE *f = create_temporary(folder_of(fs::path(target.path)), tmp, text);
    if (!f)
        return false;
    bool ok = true;
#ifndef _WIN32
    if (target.existed)
        ok = fchmod(fileno(f), static_cast<mode_t>(target.mode)) == 0;
#endif
    ok = write_file(f, write) && ok;
    ok = ok && replace_file(tmp, target.path);
    if (!ok)
        std::remove(tmp.c_str());
    return ok;
}

bool file_target_write(const file_target &target, const void *bytes, size_t size)
{
    return file_target_write(target, [&](std::FILE *f) { std::fwrite(bytes, 1, size, f); }, false);
}

bool same_target(const file_target &a, const file_target &b)
{
    std::error_code ec;
    if (a.existed && b.existed)
        return fs::equivalent(a.path, b.path, ec);
    if (a.existed || b.existed)
        return false;
    // Two new names are one file when their folders are one and the names
    // are the same.
    const fs::path pa(a.path), pb(b.path);
    return pa.filename() == pb.filename() && fs::equivalent(folder_of(pa), folder_of(pb), ec);
}

bool target_is_file(const file_target &target, const char *path)
{
    std::error_code ec;
    return target.existed && fs::equivalent(target.path, path, ec);
}

read_status read_bounded(const std::string &path, size_t limit, std::string &bytes)
{
    bytes.clear();
    std::FILE *f = stdin;
    if (path != "-") {
        // A folder opens for reading on some systems; it holds nothing to read.
        std::error_code ec;
        if (fs::is_directory(fs::path(path), ec))
            return READ_FAILED;
        f = std::fopen(path.c_str(), "rb");
        if (!f)
            return READ_FAILED;
    }
    std::vector<char> piece(65536);
    bool failed = false;
    while (bytes.size() <= limit) {
        size_t want = std::min(piece.size(), limit + 1 - bytes.size());
        size_t got = std::fread(piece.data(), 1, want, f);
        bytes.append(piece.data(), got);
        if (got < want) {
            failed = std::ferror(f) != 0;
            break;
        }
    }
    if (f != stdin)
        std::fclose(f);
    if (failed)
        return READ_FAILED;
    return bytes.size() > limit ? READ_TOO_LONG : READ_OK;
}

bool stdout_complete(const char *program)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    std::fprintf(stderr, "%s: could not write to standard output\n", program);
    return false;
}

int help_or_version(int argc, char **argv, const char *program, const char *version, void (*usage)(std::FILE *))
{
    for (int a = 1; a < argc; a++) {
        if (std::strcmp(argv[a], "-h") == 0 || std::strcmp(argv[a], "--help") == 0) {
            usage(stdout);
            return stdout_complete(program) ? 0 : 2;
        }
        if (std::strcmp(argv[a], "--version") == 0) {
            std::printf("%s %s\n", program, version);
            return stdout_complete(program) ? 0 : 2;
        }
    }
    return -1;
}
