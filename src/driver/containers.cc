#include "driver/containers.h"

#include <cstring>

#include "driver/trailer.h"
#include "util/arena.h"
#include "util/fail.h"
#include "util/progress.h"

namespace vesk {

void check_packable(const pack_input& in) {
  if (!input_fits(in.size)) fail("File %s must be less than 1.001GB", in.name);
}

read_input read_whole(const pack_input& in, int64_t history, int64_t tail) {
  check_packable(in);
  read_input r;
  r.block = arena_alloc(history + in.size + tail);
  r.data = r.block + history;
  std::memset(r.block, 0, static_cast<size_t>(history));
  std::memset(r.data + in.size, 0, static_cast<size_t>(tail));
  progress_phase("reading", in.size);
  in.read(r.data);
  r.hash = content_hash(r.data, in.size);
  return r;
}

bool decoded_exactly(const coder& k, int64_t coded) {
  const auto flush = static_cast<uint32_t>((uint64_t{k.x1} + k.x2) >> 1);
  return k.overrun == 0 && static_cast<int64_t>(coder_length(k)) == coded && k.x == flush;
}

void refuse_damaged(const char* in, const char* why) {
  fail_as(failure_kind::damaged, "%s is damaged (%s)", in, why);
}

}  // namespace vesk
