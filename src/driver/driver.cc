#include "driver/driver.h"

#include <cstdio>
#include <cstring>

#include "driver/containers.h"
#include "driver/limits.h"
#include "driver/memory_need.h"
#include "driver/method.h"
#include "driver/stored.h"
#include "text/stat.h"
#include "util/arena.h"
#include "util/bytes.h"
#include "util/fail.h"
#include "util/files.h"
#include "util/progress.h"

namespace vesk {

namespace {

constexpr const char* usage_text =
    "Vesk version 4\n"
    "Compress:\n"
    "    ./vesk -c input output\n"
    "Decompress:\n"
    "    ./vesk -d input output\n";

bool valid_flag(const char* flag) {
  return std::strlen(flag) == 2 && flag[0] == '-' && (flag[1] == 'c' || flag[1] == 'd');
}

void compress(const char* in, const char* out) {
  const method m = method_for_name(in);
  check_memory(m, file_size(in));
  switch (m) {
    case method::text:
      std::printf("Compressing text\n");
      text_compress(in, out);
      break;
    case method::mixed:
      std::printf("Compressing mixed\n");
      mixed_compress(in, out);
      break;
    case method::stored:
      std::printf("Compressing default\n");
      stored_compress(in, out);
      break;
  }
}

void decompress(const char* in, const char* out) {
  int64_t size = file_size(in);
  if (size < 0) fail("File %s not found", in);
  uint8_t header[100];
  uint64_t got = read_file_prefix(in, header, size < 100 ? static_cast<uint64_t>(size) : 100);
  if (got < 4) fail("%s is not a compressed file: too short\n", in);
  // The original's size: the stored file's rest, else the header's field.
  const uint32_t word = get_u32(header);
  const int64_t original = word == static_cast<uint32_t>(method::stored) ? size - 4
                           : got >= 8                                     ? get_u32(header + 4)
                                                                          : 0;
  if (word <= static_cast<uint32_t>(method::mixed)) check_memory(static_cast<method>(word), original);
  switch (get_u32(header)) {
    case static_cast<uint32_t>(method::stored):
      std::printf("Decompressing default\n");
      stored_decompress(in, out);
      break;
    case static_cast<uint32_t>(method::text):
      std::printf("Decompressing text\n");
      text_decompress(in, out);
      break;
    case static_cast<uint32_t>(method::mixed):
      std::printf("Decompressing mixed\n");
      mixed_decompress(in, out);
      break;
    default:
      fail("%s is not a compressed file: unknown method\n", in);
  }
}

}  // namespace

int run(int argc, const char* const* argv) {
  if (argc != 4 || !valid_flag(argv[1])) {
    std::fputs(usage_text, stdout);
    return exit_failure;
  }
  const char* in = argv[2];
  const char* out = argv[3];
  install_stop_signals();
  int64_t size = file_size(in);
  if (size < 0) fail("%s not found", in);
  const bool compressing = argv[1][1] == 'c';
  if (compressing && size >= input_limit) fail("File %s must be less than 1.001GB", in);
  if (!compressing && size >= archive_limit) fail("File %s must be less than 1.5GB", in);
  arena_init();
  stat_init();
  progress_begin();
  if (compressing) {
    compress(in, out);
  } else {
    decompress(in, out);
  }
  progress_end();
  std::fflush(stdout);
  return 0;
}

}  // namespace vesk
