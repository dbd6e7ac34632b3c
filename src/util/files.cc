#include "util/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "util/fail.h"

namespace vesk {

int64_t file_size(const char* path) {
  FILE* fp = std::fopen(path, "rb");
  if (fp == nullptr) return -1;
  struct stat st;
  int64_t size = -1;
  if (fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
  std::fclose(fp);
  return size;
}

uint64_t read_file(const char* path, uint8_t* dst, uint64_t n) {
  FILE* fp = std::fopen(path, "rb");
  check(fp != nullptr, "fp!=NULL");
  uint64_t length = n == 0 ? 0 : std::fread(dst, 1, n, fp);
  check(length == n, "length==n");
  // The buffer was sized from an earlier file_size: a file that grew since
  // would be stored truncated without a word, so refuse it.
  check(std::fgetc(fp) == EOF, "file unchanged while read");
  std::fclose(fp);
  return n;
}

uint64_t read_file_prefix(const char* path, uint8_t* dst, uint64_t n) {
  FILE* fp = std::fopen(path, "rb");
  check(fp != nullptr, "fp!=NULL");
  uint64_t length = n == 0 ? 0 : std::fread(dst, 1, n, fp);
  std::fclose(fp);
  return length;
}

uint64_t write_file(const char* path, const uint8_t* src, uint64_t n) {
  std::string tmp = std::string(path) + ".vesk-XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) fail("Cannot write %s\n", path);
  set_pending_output(tmp.c_str());
  // mkstemp creates the file 0600; give it the mode a plain create would.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  FILE* fp = fdopen(fd, "wb");
  check(fp != nullptr, "fp!=NULL");
  uint64_t length = n == 0 ? 0 : std::fwrite(src, 1, n, fp);
  check(length == n, "length==n");
  check(std::fflush(fp) == 0 && fsync(fd) == 0, "output flushed");
  check(std::fclose(fp) == 0, "output closed");
  if (std::rename(tmp.c_str(), path) != 0) fail("Cannot write %s\n", path);
  set_pending_output(nullptr);
  return n;
}

}  // namespace vesk
