// Whole-file input and output: a run reads its input with one call and
// writes its output with one call. Errors fail the run (kind io) with the
// system's own words ("Cannot read x: Permission denied").
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace vesk {

// Size in bytes of the regular file at path, or -1 if there is nothing at
// path, or -2 for something there that is not a regular file and that can
// be read as a stream (a FIFO, a pipe such as /dev/fd/N, a character
// device). Never opens the file, so a FIFO cannot block it; a directory
// fails ("<path> is a directory"), and a path that cannot be looked up (a
// symlink loop, no permission) fails with the system's reason.
constexpr int64_t not_regular = -2;
int64_t file_size(const char* path);

// Reads exactly n bytes, the whole file, into dst. Fails when the file
// cannot be opened, is not a regular file, is shorter, or has grown since
// its size was taken.
uint64_t read_file(const char* path, uint8_t* dst, uint64_t n);

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

// The same, a piece at a time: output_open makes the temporary file (or
// opens the path in place; "-" is standard output), output_write appends,
// output_commit flushes and renames it into place. An output that is not
// committed (a failure on the way) removes its temporary file when it goes
// away, so a failed run leaves nothing behind.
struct output_file {
  output_file() = default;
  output_file(output_file&& o) noexcept;
  output_file& operator=(output_file&& o) noexcept;
  ~output_file();
  const char* path = nullptr;
  int fd = -1;
  bool owns_fd = false;
  int dir = -1;      // the directory of the temporary file, if any
  std::string temp;  // its name in dir; empty when written in place
  std::string base;  // the final name in dir
  int64_t written = 0;  // bytes written so far
  // The permission bits and times to give the file when it is committed
  // (and its owner and group when run as root); none: the bits a replaced
  // file had, or what a plain create gives.
  bool attributes = false;
  struct stat like {};
};
output_file output_open(const char* path);
void output_write(output_file& o, const uint8_t* src, uint64_t n);
void output_commit(output_file& o);
// The committed file takes st's permission bits and times (a new file, not
// one written in place).
void output_take_attributes(output_file& o, const struct stat& st);

// True when output_open(path) writes a temporary file that it renames into
// place, not the path itself (standard output, a device, a FIFO).
bool writes_new_file(const char* path);

// True when fd and path name the same file.
bool is_same_file(int fd, const char* path);

// Input read a piece at a time, from a file of any kind ("-" is standard
// input): input_open fails with the reason when the path cannot be
// opened; input_read returns fewer than n bytes only at the end.
int input_open(const char* path);
// An input's descriptor, closed when it goes away (standard input stays open).
struct input_file {
  explicit input_file(const char* path) : fd(input_open(path)) {}
  ~input_file();
  input_file(const input_file&) = delete;
  input_file& operator=(const input_file&) = delete;
  int fd;
};
uint64_t input_read(int fd, const char* path, uint8_t* dst, uint64_t n);

// Reads exactly n bytes at offset `at` of a regular file; fails when the
// file holds fewer.
void input_read_at(int fd, const char* path, uint8_t* dst, uint64_t n, int64_t at);

// True when dir (an existing directory) is /dev or below it, where device
// nodes live; /dev/shm, a file system meant for files, is not.
bool is_device_directory(const char* dir);

}  // namespace vesk
