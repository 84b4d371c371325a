#include "testkit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

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

std::string published_maps_dir()
{
    std::string dir = SHARED_TESTDATA_DIR;
    if (dir.empty() || !std::filesystem::is_directory(dir + "/jedec"))
        return "";
    return dir;
}

std::string published_maps_missing()
{
    return "the published fuse maps are not here: put the folder holding jedec/*.jed "
           "at ../shared/testdata beside the project, or name it with "
           "-DGATESWEEP_TESTDATA_DIR=FOLDER";
}

std::string make_temp_dir()
{
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/gatesweep-test.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        ADD_FAILURE() << "mkdtemp failed for " << templ;
    return buf.data();
}

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
