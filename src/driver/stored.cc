#include "driver/stored.h"

#include <memory>

#include "driver/container.h"
#include "driver/limits.h"
#include "util/big_buffer.h"
#include "util/bytes.h"
#include "util/fail.h"
#include "util/files.h"
#include "util/memory_limits.h"
#include "util/progress.h"

namespace vesk {

namespace {
constexpr int64_t stored_overhead = 4;  // the method word
static_assert(input_limit - 1 + stored_overhead < archive_limit);

struct free_deleter {
  void operator()(uint8_t* p) const { big_free(p); }
};
using system_buffer = std::unique_ptr<uint8_t, free_deleter>;

system_buffer system_alloc(int64_t n) {
  auto* a = static_cast<uint8_t*>(big_alloc(static_cast<size_t>(n)));
  if (a == nullptr) refuse_memory(n);
  return system_buffer(a);
}
}  // namespace

void stored_compress(const char* in, const char* out) {
  int64_t size = file_size(in);
  if (size < 0) fail("%s not found", in);
  if (size >= input_limit) fail("File %s must be less than 1.001GB", in);
  system_buffer buf = system_alloc(size + stored_overhead);
  progress_phase("reading", size);
  uint64_t n = read_file(in, buf.get() + stored_overhead, static_cast<uint64_t>(size));
  put_u32(buf.get(), 0);
  progress_phase("writing", size + stored_overhead);
  write_file(out, buf.get(), n + stored_overhead);
}

void stored_decompress(const char* in, const char* out) {
  int64_t size = file_size(in);
  if (size < 0) fail("File %s not found", in);
  // Whatever stored_compress wrote: the method word and a file the input
  // limit accepts.
  if (size >= input_limit + stored_overhead) refuse_damaged(in, "longer than any stored file");
  if (size < stored_overhead) refuse_damaged(in, "shorter than its header");
  system_buffer buf = system_alloc(size);
  progress_phase("reading", size);
  uint64_t m = read_file(in, buf.get(), static_cast<uint64_t>(size));
  progress_phase("writing", size - stored_overhead);
  write_file(out, buf.get() + stored_overhead, m - stored_overhead);
}

}  // namespace vesk
