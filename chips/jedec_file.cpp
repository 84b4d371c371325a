#include "jedec_file.h"

#include "gal16v8.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string number_text(unsigned long n)
{
    return std::to_string(n);
}

// One L field: "L" address, then fuse states with any whitespace between.
bool read_fuse_list(const std::string &field, unsigned fuse_count, std::vector<uint8_t> &fuses,
                    std::vector<uint8_t> &given, std::string &err)
{
    size_t p = 1;
    unsigned long addr = 0;
    if (p >= field.size() || field[p] < '0' || field[p] > '9') {
        err = "an L field has no fuse number";
        return false;
    }
    while (p < field.size() && field[p] >= '0' && field[p] <= '9') {
        addr = addr * 10 + static_cast<unsigned long>(field[p] - '0');
        if (addr > 100000000UL) {
            err = "an L field names a fuse number out of range";
            return false;
        }
        p++;
    }
    for (; p < field.size(); p++) {
        char c = field[p];
        if (is_space(c))
            continue;
        if (c != '0' && c != '1') {
            err = std::string("the L field at fuse ") + number_text(addr) + " holds `" + c + "', not a fuse state";
            return false;
        }
        if (addr >= fuse_count) {
            err = "the fuse list reaches fuse " + number_text(addr) + ", but the device has " +
                  number_text(fuse_count) + " fuses";
            return false;
        }
        fuses[addr] = static_cast<uint8_t>(c - '0');
        given[addr] = 1;
        addr++;
    }
    return true;
}

} // namespace

unsigned jedec_checksum(const std::vector<uint8_t> &fuses)
{
    unsigned sum = 0;
    for (size_t i = 0; i < fuses.size(); i += 8) {
        unsigned byte = 0;
        for (size_t j = 0; j < 8 && i + j < fuses.size(); j++)
            byte |= static_cast<unsigned>(fuses[i + j] & 1) << j;
        sum += byte;
    }
    return sum & 0xFFFF;
}

bool jedec_parse(const std::string &text, unsigned fuse_count, std::vector<uint8_t> &fuses,
                 std::string &err, bool *checked)
{
    if (checked)
        *checked = false;
    size_t begin = text.find('\x02');
    begin = begin == std::string::npos ? 0 : begin + 1;
    size_t end = text.find('\x03', begin);
    if (end == std::string::npos)
        end = text.size();

    // The text up to the first '*' is the file's header; every field
    // after it ends in '*'.
    size_t pos = text.find('*', begin);
    if (pos == std::string::npos || pos >= end) {
        err = "not a JEDEC fuse map (no field ends in '*')";
        return false;
    }
    pos++;

    fuses.assign(fuse_count, 0);
    std::vector<uint8_t> given(fuse_count, 0);
    int default_state = 0;
    bool have_list = false, have_checksum = false;
    unsigned checksum = 0;

    while (pos < end) {
        size_t stop = text.find('*', pos);
        if (stop == std::string::npos || stop > end)
            break; // text after the last field (before ETX) carries nothing
        size_t first = pos;
        while (first < stop && is_space(text[first]))
            first++;
        std::string field = text.substr(first, stop - first);
        pos = stop + 1;
        if (field.empty())
            continue;
        switch (field[0]) {
        case 'Q':
            if (field.size() > 1 && field[1] == 'F') {
                unsigned long qf = 0;
                size_t p = 2;
                while (p < field.size() && is_space(field[p]))
                    p++;
                if (p >= field.size() || field[p] < '0' || field[p] > '9') {
                    err = "the QF field holds no fuse count";
                    return false;
                }
                while (p < field.size() && field[p] >= '0' && field[p] <= '9' && qf < 100000000UL)
                    qf = qf * 10 + static_cast<unsigned long>(field[p++] - '0');
                if (qf != fuse_count) {
                    err = "the file is for " + number_text(qf) + " fuses, but the device has " +
                          number_text(fuse_count);
                    return false;
                }
            }
            break;
        case 'F': {
            size_t p = 1;
            while (p < field.size() && is_space(field[p]))
                p++;
            if (p >= field.size() || (field[p] != '0' && field[p] != '1')) {
                err = "the F field holds no default fuse state";
                return false;
            }
            default_state = field[p] - '0';
            break;
        }
        case 'L':
            if (!read_fuse_list(field, fuse_count, fuses, given, err))
                return false;
            have_list = true;
            break;
        case 'C': {
            unsigned value = 0;
            size_t digits = 0;
            for (size_t p = 1; p < field.size() && !is_space(field[p]); p++, digits++) {
                int h = hex_value(field[p]);
                if (h < 0 || digits >= 4) {
                    err = "the C field `" + field + "' is not a 4-digit fuse checksum";
                    return false;
                }
                value = value * 16 + static_cast<unsigned>(h);
            }
            if (digits == 0) {
                err = "the C field holds no fuse checksum";
                return false;
            }
            checksum = value;
            have_checksum = true;
            break;
        }
        default:
            break; // notes, device names, security fuse, test vectors: nothing for the model
        }
    }

    if (!have_list) {
        err = "not a JEDEC fuse map (no L field)";
        return false;
    }
    for (unsigned i = 0; i < fuse_count; i++) {
        if (!given[i])
            fuses[i] = static_cast<uint8_t>(default_state);
    }
    if (have_checksum && jedec_checksum(fuses) != checksum) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "fuse checksum mismatch: the file says %04X, its fuses give %04X",
                      checksum, jedec_checksum(fuses));
        err = buf;
        return false;
    }
    if (checked)
        *checked = have_checksum;
    return true;
}

bool jedec_read_file(const std::string &path, std::string &text, std::string &err)
{
    text.clear();
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::path(path), ec)) {
        err = "the fuse map is a folder";
        return false;
    }
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        err = "cannot open the fuse map";
        return false;
    }
    // In pieces up to one byte past the limit, which tells a file too large
    // (or a device such as /dev/zero) without reading it all.
    char piece[16384];
    bool failed = false;
    while (text.size() <= jedec_max_file) {
        const size_t want = std::min(sizeof piece, jedec_max_file + 1 - text.size());
        const size_t got = std::fread(piece, 1, want, f);
        text.append(piece, got);
        if (got < want) {
            failed = std::ferror(f) != 0;
            break;
        }
    }
    std::fclose(f);
    if (failed) {
        err = "cannot read the fuse map";
        return false;
    }
    if (text.size() > jedec_max_file) {
        err = "the fuse map is larger than " + number_text(jedec_max_file >> 20) +
              " MiB, which no fuse map of these devices is";
        return false;
    }
    return true;
}

std::string jedec_text(const std::vector<uint8_t> &fuses, const std::string &header)
{
    std::string text = "\x02";
    for (char c : header) {
        // A control character would break the transmission (STX, ETX), a
        // star end the header early.
        const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        text += control ? '?' : c == '*' ? '_' : c;
    }
    text += "*\nQP20*\nQF" + std::to_string(fuses.size()) + "*\nG0*\nF0*\n";
    auto field = [&](unsigned from, unsigned count) {
        char addr[16];
        std::snprintf(addr, sizeof addr, "L%04u ", from);
        text += addr;
        for (unsigned f = from; f < from + count; f++)
            text += fuses[f] ? '1' : '0';
        text += "*\n";
    };
    for (unsigned r = 0; r < gal_rows; r++)
        field(r * gal_row_fuses, gal_row_fuses);
    if (fuses.size() > gal_array_fuses) {
        field(gal_xor, 8);
        field(gal_ues, 64);
        field(gal_ac1, 8);
        field(gal_ptd, 64);
        field(gal_syn, 2);
    }
    char sum[32];
    std::snprintf(sum, sizeof sum, "C%04X*\n\x03", jedec_checksum(fuses));
    text += sum;
    unsigned transmission = 0;
    for (char c : text)
        transmission += static_cast<unsigned char>(c);
    std::snprintf(sum, sizeof sum, "%04X\n", transmission & 0xFFFF);
    text += sum;
    return text;
}
