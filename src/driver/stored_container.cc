// The stored methods: the input unchanged behind the method word, 0
// without a check (frames, whose headers check them, and the archives of
// earlier versions), 6 between its length and its checksum:
//
//   0 method (6)   4 n (64-bit)   12 the n bytes   12+n the checksum trailer
//
// The trailer is the other methods' (trailer.h): "VSK2" and the XXH3
// 64-bit hash of the n bytes. Fields are little-endian.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

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

void stored_checked_stream(int64_t n, const std::function<void(uint8_t*, int64_t)>& read,
                           const std::function<void(const uint8_t*, int64_t)>& write) {
  constexpr int64_t piece = int64_t{1} << 20;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min(n, piece) + stored_checked_header));
  put_u32(buf.data(), static_cast<uint32_t>(method::stored_checked));
  put_u64(buf.data() + 4, static_cast<uint64_t>(n));
  write(buf.data(), stored_checked_header);
  content_hasher h;
  progress_coding(n, n);
  progress_stream("storing", n);
  for (int64_t at = 0; at < n;) {
    const int64_t m = std::min(piece, n - at);
    read(buf.data(), m);
    h.add(buf.data(), m);
    write(buf.data(), m);
    at += m;
    progress_note(at);
  }
  progress_stream_done();
  uint8_t trailer[trailer_bytes];
  put_trailer(trailer, h.value());
  write(trailer, trailer_bytes);
}

void stored_checked_restore(const char* name, int64_t m, const uint8_t* word,
                            const std::function<int64_t(uint8_t*, int64_t)>& read,
                            const std::function<void(const uint8_t*, int64_t)>& write) {
  uint8_t head[stored_checked_header];
  std::memcpy(head, word, 4);
  if (m < stored_checked_overhead || read(head + 4, 8) < 8)
    refuse_damaged(name, "shorter than its header");
  const uint64_t n = get_u64(head + 4);
  const int64_t have = m - stored_checked_overhead;
  if (n > static_cast<uint64_t>(have)) refuse_damaged(name, "truncated");
  if (n < static_cast<uint64_t>(have)) refuse_damaged(name, "bytes after the checksum");
  constexpr int64_t piece = int64_t{1} << 20;
  std::vector<uint8_t> buf(static_cast<size_t>(std::max<int64_t>(std::min(have, piece), trailer_bytes)));
  content_hasher h;
  progress_coding(have, have);
  progress_stream("restoring", have);
  for (int64_t at = 0; at < have;) {
    const int64_t k = std::min(piece, have - at);
    if (read(buf.data(), k) < k) refuse_damaged(name, "truncated");
    h.add(buf.data(), k);
    if (write) write(buf.data(), k);
    at += k;
    progress_note(at);
  }
  progress_stream_done();
  if (read(buf.data(), trailer_bytes) < trailer_bytes) refuse_damaged(name, "truncated");
  const checksum sum = read_trailer(name, buf.data(), 0, trailer_bytes);
  if (sum.first_rows || sum.hash != h.value())
    refuse_damaged(name, "the restored file does not match its checksum");
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
