#include "testkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <utility>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

std::vector<uint8_t> make_dump(const chip_fn &chip)
{
    std::vector<uint8_t> dump(dump_size);
    for (unsigned i = 0; i < dump_size; i++) {
        unsigned ix = i & 0x3FF, rx = i >> 10, oe = 0, out = 0;
        chip(ix, rx, oe, out);
        dump[i] = static_cast<uint8_t>((out & oe) | (rx & ~oe));
    }
    return dump;
}

static unsigned bit(unsigned v, int n)
{
    return (v >> n) & 1u;
}

void u12_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    oe = 0x98u | bit(ix, 2) << 6 | (bit(ix, 5) ^ 1u) << 2 | (bit(ix, 9) ^ 1u);
    out = (bit(ix, 0) & bit(ix, 1)) << 7 | (bit(ix, 3) ^ 1u) << 6 | (bit(ix, 4) ^ bit(rx, 5)) << 3 | 1u << 2 |
          bit(ix, 6);
}

void pal_chip(unsigned ix, unsigned, unsigned &oe, unsigned &out)
{
    out = (bit(ix, 0) & bit(ix, 1)) | (bit(ix, 2) | bit(ix, 3)) << 1 | (bit(ix, 4) ^ 1u) << 2 |
          (bit(ix, 5) ^ bit(ix, 6)) << 3 | bit(ix, 7) << 4 | (bit(ix, 8) & bit(ix, 0)) << 5 |
          ((bit(ix, 1) | bit(ix, 2)) ^ 1u) << 6 | (bit(ix, 3) | bit(ix, 8)) << 7;
    oe = bit(ix, 9) ? 0x0Fu : 0xFFu;
}

std::vector<uint8_t> scrambled_dump()
{
    return make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        unsigned h = (ix * 2654435761u) ^ (rx * 40503u);
        h ^= h >> 13;
        oe = h & 0xFF;
        out = (h >> 8) & 0xFF;
    });
}

std::vector<std::string> dir_entries(const std::string &dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string help_head(const std::string &exe, const char *board)
{
    return std::string("PAL dumping and analysis utility\n") + "For adapter board " + board +
           " on an FT2232 module (DLP2232M).\n" + "usage: " + exe +
           " <option> <arguments>\n"
           "\n"
           "Available options:\n"
           " dump    <file.bin>        : Dump PLD to data file.\n"
           " analyze <file.bin>        : Analyze PLD dump.\n";
}

std::string published_maps_dir()
{
    std::string dir = SHARED_TESTDATA_DIR;
    if (dir.empty() || !std::filesystem::is_directory(dir + "/jedec"))
        return "";
    return dir;
}

std::string published_maps_missing()
{
    return std::string("no published fuse maps in ") + SHARED_TESTDATA_DIR +
           "/jedec: put the folder holding jedec/*.jed at ../shared/testdata beside the project, "
           "or name it with -DGATESWEEP_TESTDATA_DIR=FOLDER";
}

#ifdef _WIN32
static int process_id()
{
    return _getpid();
}
#else
static int process_id()
{
    return static_cast<int>(getpid());
}
#endif

// Removes a folder with all it holds, also where a test took the write
// permission away from something in it.
static void remove_tree(const std::string &dir)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (!ec)
        return;
    fs::recursive_directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        fs::file_type type = it->symlink_status(ec).type();
        if (type == fs::file_type::directory || type == fs::file_type::regular)
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dir, ec);
}

// The scratch folders made by this process, each with the process that made
// it: they are removed when that process ends, after its tests, passed or
// failed. A forked child that exits leaves its parent's folders alone.
struct scratch_folders {
    std::vector<std::pair<int, std::string>> dirs;
    ~scratch_folders()
    {
        for (const auto &d : dirs)
            if (d.first == process_id())
                remove_tree(d.second);
    }
};

// Notes a new scratch folder for removal, and appends its path to the file
// GATESWEEP_SCRATCH_LOG names (if set), where the test suite checks at the
// end that none is left.
static void note_scratch_folder(const std::string &dir)
{
    static scratch_folders made;
    made.dirs.emplace_back(process_id(), dir);
    const char *log = std::getenv("GATESWEEP_SCRATCH_LOG");
    if (log && *log) {
        std::ofstream f(log, std::ios::app);
        f << dir << '\n';
    }
}

#ifdef _WIN32
std::string make_temp_dir()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    static unsigned serial = 0;
    for (int tries = 0; tries < 1000; tries++) {
        std::string dir = (base / ("gatesweep-test." + std::to_string(process_id()) + "." + std::to_string(serial++))).string();
        if (fs::create_directory(dir, ec)) {
            note_scratch_folder(dir);
            return dir;
        }
    }
    ADD_FAILURE() << "cannot make a folder in " << base;
    return base.string();
}
#else
std::string make_temp_dir()
{
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/gatesweep-test.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        ADD_FAILURE() << "mkdtemp failed for " << templ;
        return buf.data();
    }
    note_scratch_folder(buf.data());
    return buf.data();
}
#endif

void write_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f)
        ADD_FAILURE() << "cannot write " << path;
}

void write_text(const std::string &path, const std::string &text)
{
    write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string &path)
{
    std::vector<uint8_t> b = read_file(path);
    return std::string(b.begin(), b.end());
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

#ifdef _WIN32
// One argument as the C runtime's command-line parser reads it back.
static std::string windows_quote(const std::string &s)
{
    if (!s.empty() && s.find_first_of(" \t\"") == std::string::npos)
        return s;
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : s) {
        if (c == '\\') {
            backslashes++;
            continue;
        }
        q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, '\\');
    return q + "\"";
}

// The process's environment with each "NAME=VALUE" of extra set, as a block
// for CreateProcess.
static std::string environment_block(const std::vector<std::string> &extra)
{
    auto name_of = [](const std::string &e) {
        std::string n = e.substr(0, e.find('=', 1));
        for (char &c : n)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return n;
    };
    std::string block;
    char *env = GetEnvironmentStringsA();
    for (const char *e = env; e && *e; e += std::strlen(e) + 1) {
        bool replaced = false;
        for (const std::string &x : extra)
            replaced = replaced || name_of(e) == name_of(x);
        if (!replaced)
            block.append(e).push_back('\0');
    }
    FreeEnvironmentStringsA(env);
    for (const std::string &x : extra)
        block.append(x).push_back('\0');
    block.push_back('\0');
    return block;
}

run_result run_program(const std::string &dir, const std::vector<std::string> &env,
                       const std::string &exe, const std::vector<std::string> &args)
{
    std::string scratch = make_temp_dir();
    std::string out_path = scratch + "\\stdout", err_path = scratch + "\\stderr";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::string cmd = windows_quote(exe);
    for (const std::string &a : args)
        cmd += " " + windows_quote(a);
    std::string block = environment_block(env);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    run_result r;
    if (CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, &block[0], dir.c_str(), &si, &pi)) {
        DWORD code = 0;
        WaitForSingleObject(pi.hProcess, INFINITE);
        if (GetExitCodeProcess(pi.hProcess, &code))
            r.status = static_cast<int>(code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << exe << " (error " << GetLastError() << ")";
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    r.out = read_text(out_path);
    r.err = read_text(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    RemoveDirectoryA(scratch.c_str());
    return r;
}
#else
static std::string shell_quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

run_result run_program(const std::string &dir, const std::vector<std::string> &env,
                       const std::string &exe, const std::vector<std::string> &args)
{
    std::string scratch = make_temp_dir();
    std::string out_path = scratch + "/stdout", err_path = scratch + "/stderr";
    std::string cmd = "cd " + shell_quote(dir) + " && env";
    for (const std::string &e : env)
        cmd += " " + shell_quote(e);
    cmd += " " + shell_quote(exe);
    for (const std::string &a : args)
        cmd += " " + shell_quote(a);
    cmd += " </dev/null >" + shell_quote(out_path) + " 2>" + shell_quote(err_path);
    run_result r;
    int rc = std::system(cmd.c_str());
    if (rc != -1 && WIFEXITED(rc))
        r.status = WEXITSTATUS(rc);
    r.out = read_text(out_path);
    r.err = read_text(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    rmdir(scratch.c_str());
    return r;
}
#endif

void expect_golden(const std::string &name, const std::string &text)
{
    std::string path = std::string(TEST_SOURCE_DIR) + "/golden/" + name;
    const char *bless = std::getenv("GATESWEEP_BLESS");
    if (bless && std::string(bless) == "1") {
        write_text(path, text);
        return;
    }
    ASSERT_TRUE(file_exists(path)) << "no golden file " << path << " (run with GATESWEEP_BLESS=1)";
    EXPECT_EQ(read_text(path), text) << "output differs from " << path;
}
