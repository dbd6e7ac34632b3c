#include "driver/driver.h"

#include <cstdio>
#include <cstring>

#include "driver/containers.h"
#include "driver/limits.h"
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
    "    ./vesk -9 -c input output   (stronger models, slower)\n"
    "Decompress:\n"
    "    ./vesk -d input output\n";

bool valid_flag(const char* flag) {
  return std::strlen(flag) == 2 && flag[0] == '-' && (flag[1] == 'c' || flag[1] == 'd');
}

void compress(const char* in, const char* out, bool strong) {
  switch (method_for_name(in)) {
    case method::text:
    case method::text_strong:
      std::printf("Compressing text\n");
      text_compress(in, out, strong);
      break;
    case method::mixed:
    case method::mixed_strong:
      std::printf("Compressing mixed\n");
      mixed_compress(in, out, strong);
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
  switch (get_u32(header)) {
    case static_cast<uint32_t>(method::stored):
      std::printf("Decompressing default\n");
      stored_decompress(in, out);
      break;
    case static_cast<uint32_t>(method::text):
    case static_cast<uint32_t>(method::text_strong):
      std::printf("Decompressing text\n");
      text_decompress(in, out);
      break;
    case static_cast<uint32_t>(method::mixed):
    case static_cast<uint32_t>(method::mixed_strong):
      std::printf("Decompressing mixed\n");
      mixed_decompress(in, out);
      break;
    default:
      fail("%s is not a compressed file: unknown method\n", in);
  }
}

}  // namespace

int run(int argc, const char* const* argv) {
  // -9 (the strong models) may stand before or after the flag.
  const char* args[4] = {};
  bool strong = false;
  int count = 0;
  for (int a = 0; a < argc; a++) {
    if (a >= 1 && a <= 2 && !strong && std::strcmp(argv[a], "-9") == 0) {
      strong = true;
    } else if (count < 4) {
      args[count++] = argv[a];
    } else {
      count++;
    }
  }
  argc = count;
  argv = args;
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
    compress(in, out, strong);
  } else {
    decompress(in, out);
  }
  progress_end();
  std::fflush(stdout);
  return 0;
}

}  // namespace vesk
