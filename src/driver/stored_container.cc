// The stored method: the input unchanged behind the method word 0.
#include <memory>

#include "driver/containers.h"
#include "driver/limits.h"
#include "driver/method.h"
#include "util/big_buffer.h"
#include "util/bytes.h"
#include "util/fail.h"
#include "util/memory_limits.h"
#include "util/progress.h"

namespace vesk {

namespace {
constexpr int64_t stored_overhead = 4;  // the method word
static_assert(input_limit - 1 + stored_overhead < archive_limit);

struct free_deleter {
  void operator()(uint8_t* p) const { big_free(p); }
};

}  // namespace

void stored_pack(const pack_input& in, const pack_output& out) {
  check_packable(in);
  std::unique_ptr<uint8_t, free_deleter> buf(
      static_cast<uint8_t*>(big_alloc(static_cast<size_t>(in.size + stored_overhead))));
  if (buf == nullptr) refuse_memory(in.size + stored_overhead);
  progress_phase("reading", in.size);
  in.read(buf.get() + stored_overhead);
  put_u32(buf.get(), static_cast<uint32_t>(method::stored));
  progress_phase("writing", in.size + stored_overhead);
  out(buf.get(), in.size + stored_overhead);
}

void stored_unpack(const char* name, const uint8_t* packed, int64_t m, const pack_output& out) {
  // Whatever stored_pack wrote: the method word and an input the limit accepts.
  if (m < stored_overhead) refuse_damaged(name, "shorter than its header");
  if (!input_fits(m - stored_overhead)) refuse_damaged(name, "longer than any stored file");
  progress_phase("writing", m - stored_overhead);
  out(packed + stored_overhead, m - stored_overhead);
}

}  // namespace vesk
