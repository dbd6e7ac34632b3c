// The stored methods: the input unchanged behind the method word, 0
// without a check (frames, whose headers check them, and the archives of
// earlier versions), 6 between its length and its checksum:
//
//   0 method (6)   4 n (64-bit)   12 the n bytes   12+n the checksum trailer
//
// The trailer is the other methods' (trailer.h): "VSK2" and the XXH3
// 64-bit hash of the n bytes. Fields are little-endian.
#include <memory>

#include "driver/containers.h"
#include "driver/limits.h"
#include "driver/method.h"
#include "driver/trailer.h"
#include "util/big_buffer.h"
#include "util/bytes.h"
#include "util/fail.h"
#include "util/memory_limits.h"
#include "util/progress.h"

namespace vesk {

namespace {
constexpr int64_t stored_overhead = 4;  // the method word
static_assert(input_limit - 1 + stored_checked_overhead < archive_limit);

struct free_deleter {
  void operator()(uint8_t* p) const { big_free(p); }
};
using big_block = std::unique_ptr<uint8_t, free_deleter>;

// A buffer for the input behind `header` bytes and before `trailer` ones,
// with the input read into it.
big_block read_between(const pack_input& in, int64_t header, int64_t trailer) {
  check_packable(in);
  const int64_t n = in.size + header + trailer;
  big_block buf(static_cast<uint8_t*>(big_alloc(static_cast<size_t>(n))));
  if (buf == nullptr) refuse_memory(n);
  progress_phase("reading", in.size);
  in.read(buf.get() + header);
  return buf;
}

}  // namespace

void stored_pack(const pack_input& in, const pack_output& out) {
  const big_block buf = read_between(in, stored_overhead, 0);
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

void stored_checked_pack(const pack_input& in, const pack_output& out) {
  const int64_t n = in.size;
  const big_block buf = read_between(in, stored_checked_header, trailer_bytes);
  uint8_t* p = buf.get();
  put_u32(p, static_cast<uint32_t>(method::stored_checked));
  put_u64(p + 4, static_cast<uint64_t>(n));
  put_trailer(p + stored_checked_header + n, content_hash(p + stored_checked_header, n));
  progress_phase("writing", n + stored_checked_overhead);
  out(p, n + stored_checked_overhead);
}

void stored_checked_unpack(const char* name, const uint8_t* packed, int64_t m,
                           const pack_output& out) {
  if (m < stored_checked_overhead) refuse_damaged(name, "shorter than its header");
  const uint64_t n = get_u64(packed + 4);
  const int64_t have = m - stored_checked_overhead;
  if (n > static_cast<uint64_t>(have)) refuse_damaged(name, "truncated");
  if (n < static_cast<uint64_t>(have)) refuse_damaged(name, "bytes after the checksum");
  const checksum sum = read_trailer(name, packed, stored_checked_header + have, m);
  const uint8_t* data = packed + stored_checked_header;
  if (sum.first_rows || !checksum_matches(sum, data, have))
    refuse_damaged(name, "the restored file does not match its checksum");
  progress_phase("writing", have);
  out(data, have);
}

}  // namespace vesk
