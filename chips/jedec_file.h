// JEDEC fuse-map files (JESD3) as device programmers and PAL/GAL assemblers
// write them: the fuse list of one device, checked against the file's own
// fuse count (QF) and fuse checksum (C).
#ifndef SIM_JEDEC_FILE_H
#define SIM_JEDEC_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads the fuses of a JEDEC text for a device with fuse_count fuses into
// fuses (one byte per fuse, 0 or 1; 0 is a connected fuse). STX/ETX, the
// QF and F fields and the C checksum are optional; L fields may run over
// several lines. Returns false with a one-line reason in err when the text
// is not a fuse map, names another fuse count, lists fuses past the device's
// last one, or fails its fuse checksum.
// With checked given, *checked tells whether the text had a C field (a
// file cut short loses it).
bool jedec_parse(const std::string &text, unsigned fuse_count, std::vector<uint8_t> &fuses,
                 std::string &err, bool *checked = nullptr);

// No fuse map of these devices comes near this size, test vectors and notes
// included.
constexpr size_t jedec_max_file = size_t(1) << 20;

// Reads a fuse-map file whole into text. False with a one-line reason in err
// for a file that cannot be opened or read, a folder, or one larger than
// jedec_max_file (of which no more than that is read).
bool jedec_read_file(const std::string &path, std::string &text, std::string &err);

// The fuse checksum: the 16-bit sum of the fuses packed eight to a byte,
// the lowest-numbered fuse of each group in bit 0, a short last group padded
// with 0.
unsigned jedec_checksum(const std::vector<uint8_t> &fuses);

// The JEDEC text of a GAL16V8's 2194 fuses, or of the 2048 of a PAL's
// array (0 a connected fuse), as programmers take it: STX, the header line (control characters become
// '?', a star '_', so that it stays one field), QP20, QF2194, G0, F0, the L
// fields, the fuse checksum C, ETX and the transmission checksum.
std::string jedec_text(const std::vector<uint8_t> &fuses, const std::string &header);

#endif
