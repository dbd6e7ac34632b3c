// Whole-file input and output: a run reads its input with one call and
// writes its output with one call. Errors end the run with the system's
// own words ("Cannot read x: Permission denied").
#pragma once

#include <cstdint>

namespace vesk {

// Size in bytes of the regular file at path, or -1 if there is nothing at
// path. Never opens the file, so a FIFO cannot block it; anything that is
// there but is not a regular file (a directory, a device, a FIFO) stops the
// run with "<path> is not a regular file", and a path that cannot be looked
// up (a symlink loop, no permission) with the system's reason.
int64_t file_size(const char* path);

// Reads exactly n bytes, the whole file, into dst. Stops the run when the
// file cannot be opened, is not a regular file, is shorter, or has grown
// since its size was taken.
uint64_t read_file(const char* path, uint8_t* dst, uint64_t n);

// Reads at most n bytes from the start of the file into dst; returns the count.
uint64_t read_file_prefix(const char* path, uint8_t* dst, uint64_t n);

// Writes n bytes to path.
// - A regular file, or nothing yet: the bytes go to a temporary file
//   "<name>.vesk-partial-XXXXXX" beside it (the name shortened so that it
//   fits wherever the output's fits), renamed over it only once completely
//   written and flushed: a failed run leaves an existing file untouched.
//   An existing file keeps its permission bits.
// - A symlink: the file it points to is replaced, never the link.
// - Something else that exists (a device such as /dev/null, a FIFO, a
//   terminal, /dev/stdout): written in place.
// No file is ever created in /dev.
uint64_t write_file(const char* path, const uint8_t* src, uint64_t n);

// True when dir (an existing directory) is /dev or below it, where device
// nodes live; /dev/shm, a file system meant for files, is not.
bool is_device_directory(const char* dir);

}  // namespace vesk
