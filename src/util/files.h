// Whole-file input and output: a run reads its input with one call and
// writes its output with one call.
#pragma once

#include <cstdint>

namespace vesk {

// Size in bytes of the regular file at path, or -1 if it cannot be opened
// for reading or is not a regular file.
int64_t file_size(const char* path);

// Reads exactly n bytes, the whole file, into dst. Stops the run when the
// file cannot be opened, is shorter, or has grown since its size was taken.
uint64_t read_file(const char* path, uint8_t* dst, uint64_t n);

// Reads at most n bytes from the start of the file into dst; returns the count.
uint64_t read_file_prefix(const char* path, uint8_t* dst, uint64_t n);

// Writes n bytes to path. The bytes go to a temporary file in the same
// directory that replaces path only once it is completely written and
// closed: a failed write leaves an existing file at path untouched.
uint64_t write_file(const char* path, const uint8_t* src, uint64_t n);

}  // namespace vesk
