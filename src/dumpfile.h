// Saving a dump file: checking, before the sweep and creating nothing, that
// a destination can take the dump, and writing it afterwards so that an
// existing file is never left truncated or half written.
#ifndef DUMPFILE_H
#define DUMPFILE_H

#include <cstdint>
#include <string>
#include <vector>

// Where and how a dump is saved, decided by dump_target_check.
struct dump_target {
    std::string path;       // the file written: the destination, or the file its link names
    bool existed = false;   // path names an existing regular file
    bool in_place = false;  // its folder takes no new file: the file is overwritten in place
    unsigned mode = 0;      // permission bits of the existing file
};

// Whether name can take a dump: a new name in a writable folder, or an
// existing writable regular file (through a symbolic link too). Refuses an
// empty name, a dangling link and a link to anything but a regular file.
bool dump_target_check(const char *name, dump_target &target);

// Writes image to a new file beside the target and puts it in the target's
// place (with the old file's permission bits) once every byte is written,
// flushed and synced; in place when the folder takes no new file. Interrupts
// wait until the file is saved, and a file-size limit is a write error.
// False when the dump could not be saved; no temporary file is left then.
bool dump_target_write(const dump_target &target, const std::vector<uint8_t> &image);

#endif
