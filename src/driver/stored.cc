#include "driver/stored.h"

#include <cstdlib>
#include <memory>

#include "driver/limits.h"
#include "util/bytes.h"
#include "util/fail.h"
#include "util/files.h"
#include "util/progress.h"

namespace vesk {

namespace {
struct free_deleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using system_buffer = std::unique_ptr<uint8_t, free_deleter>;

system_buffer system_alloc(int64_t n) {
  auto* a = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(n)));
  check(a != nullptr, "a");
  return system_buffer(a);
}
}  // namespace

void stored_compress(const char* in, const char* out) {
  int64_t size = file_size(in);
  if (size < 0) fail("%s not found", in);
  if (size >= input_limit) fail("File %s must be less than 1.001GB", in);
  system_buffer buf = system_alloc(size + 4);
  progress_phase("reading", size);
  uint64_t n = read_file(in, buf.get() + 4, static_cast<uint64_t>(size));
  put_u32(buf.get(), 0);
  progress_phase("writing", size + 4);
  write_file(out, buf.get(), n + 4);
}

void stored_decompress(const char* in, const char* out) {
  int64_t size = file_size(in);
  if (size < 0) fail("File %s not found", in);
  check(size < input_limit - 1, "length<1001000000");
  check(size >= 4, "length>=4");
  system_buffer buf = system_alloc(size);
  progress_phase("reading", size);
  uint64_t m = read_file(in, buf.get(), static_cast<uint64_t>(size));
  progress_phase("writing", size - 4);
  write_file(out, buf.get() + 4, m - 4);
}

}  // namespace vesk
