// The files the programs read and write. Every file a program writes (a
// dump, a fuse map, a CUPL source) goes through one safe replacement: the
// destination is checked before any work and creating nothing, and written
// afterwards beside itself and renamed into place, so that an existing file
// is never left truncated or half written. Besides: whether two names are
// one file, bounded reads of inputs, and the check that standard output
// took all that was printed.
#ifndef FILES_H
#define FILES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Where and how a file is saved, decided by file_target_check.
struct file_target {
    std::string path;       // the file written: the destination, or the file its link names
    bool existed = false;   // path names an existing regular file
    bool in_place = false;  // its folder takes no new file: the file is overwritten in place
    unsigned mode = 0;      // permission bits of the existing file
};

// Whether name can take a file: a new name in a writable folder, or an
// existing writable regular file (through a symbolic link too). Refuses an
// empty name, a dangling link, a folder, a device, a FIFO and a link to
// anything but a regular file.
bool file_target_check(const char *name, file_target &target);

// Lets write fill a new file beside the target and puts it in the target's
// place (with the old file's permission bits) once every byte is
// written, flushed and synced; in place when the folder takes no new file.
// Interrupts wait until the file is saved, and a file-size limit is a write
// error. False when the file could not be saved; no temporary file is left
// then, and an existing file is as it was (but for the in-place case). A
// text file gets the system's line ends (CR LF on Windows).
using file_writer = std::function<void(std::FILE *)>;
bool file_target_write(const file_target &target, const file_writer &write, bool text);
// The same with size bytes as the file's content.
bool file_target_write(const file_target &target, const void *bytes, size_t size);

// Whether two targets name one file: the same existing file (by identity,
// not by name), or the same new name.
bool same_target(const file_target &a, const file_target &b);
// Whether the target is the existing file at path (by identity).
bool target_is_file(const file_target &target, const char *path);

// Reads at most limit bytes of a file ("-": standard input) into bytes, in
// pieces, so that memory follows what is there; one byte more than limit
// tells a longer file. A folder, a file that cannot be opened and a read
// error are READ_FAILED.
enum read_status { READ_OK, READ_FAILED, READ_TOO_LONG };
read_status read_bounded(const std::string &path, size_t limit, std::string &bytes);

// Flushes standard output and tells whether everything printed reached it;
// when not, says so with one line on standard error, naming the program.
bool stdout_complete(const char *program);

// -h or --help (usage, on standard output) or --version (the program and
// its version) anywhere among the arguments: printed, and the status to
// exit with; -1 where neither is given.
int help_or_version(int argc, char **argv, const char *program, const char *version, void (*usage)(std::FILE *));

#endif
