// The mixed container: method word 2 (5 with the strong models), a header of
// the stream lengths, then the nine coded streams, each behind its coded
// length, in coding order:
//
//   0 method (2)  4 n  8 binaryc  12 recordc  16 blocktypec  20 x86c
//   24 textc  28 periodc  32 mismatchc  36 branchc  40 dispc (entries)
//   44 ... period, mismatch, record, blocktype, binary, x86, disp, branch,
//          text: each a 32-bit length L and L coded bytes
//   ... the checksum trailer (12 bytes, see trailer.h)
//
// All fields are 32-bit little-endian. period and mismatch come before
// record, whose model reads them as context.
#include <algorithm>
#include <cstring>

#include "driver/containers.h"
#include "driver/limits.h"
#include "driver/method.h"
#include "driver/model_calls.h"
#include "driver/trailer.h"
#include "mixed/mixed.h"
#include "models/model.h"
#include "util/arena.h"
#include "util/bytes.h"
#include "util/fail.h"
#include "util/progress.h"
#include "util/tasks.h"

namespace vesk {

namespace {

constexpr int header_fields = 11;  // the method, n, then a length per stream
constexpr int64_t header_bytes = 4 * header_fields;
constexpr int streams = mixed_stream_count;

int64_t total_length(const model_call* c) {
  int64_t t = 0;
  for (int w = 0; w < streams; w++) t += c[w].bytes;
  return t;
}

// The streams in the order the two threads take them: period and mismatch
// first (the record model needs them when decoding; they are small), then
// the rest from the most work to the least, so that the longest streams
// start first and the threads finish close together.
int task_order(const model_call* c, int* order) {
  int count = 0;
  order[count++] = ms_period;
  order[count++] = ms_mismatch;
  for (int w = 0; w < streams; w++)
    if (w != ms_period && w != ms_mismatch) order[count++] = w;
  auto work = [&](int w) { return c[w].bytes * mixed_stream_table[w].work; };
  for (int i = 3; i < count; i++)
    for (int j = i; j > 2 && work(order[j]) > work(order[j - 1]); j--)
      std::swap(order[j], order[j - 1]);
  return count;
}

// A second thread pays when the streams beside the longest one are long.
bool worth_parallel(const model_call* c) {
  int64_t total = 0, longest = 0;
  for (int w = 0; w < streams; w++) {
    total += c[w].bytes;
    longest = std::max(longest, c[w].bytes);
  }
  return total - longest >= parallel_min_bytes;
}

// The header of an archive of m bytes and where its coded streams lie,
// every length checked against the others and the limits before anything
// is allocated or decoded.
struct mixed_header {
  int64_t n = 0;
  int64_t len[streams] = {};  // elements per stream, as mixed_streams counts them
  int64_t x86_bytes = 0;      // the x86 stream before the branch transform
  int64_t coded_at[streams] = {}, coded_len[streams] = {};
  int64_t end = 0;  // of the last coded stream
};

mixed_header read_header(const char* in, const uint8_t* packed, int64_t m) {
  if (m < header_bytes + 4 * streams) refuse_damaged(in, "shorter than its header");
  mixed_header h;
  h.n = get_u32(packed + 4);
  for (int w = 0; w < streams; w++)
    h.len[w] = get_u32(packed + 4 * mixed_stream_table[w].header_field);
  const int64_t* l = h.len;
  if (!input_fits(h.n)) refuse_damaged(in, "bad length");
  if (l[ms_blocktype] != (h.n + block_size - 1) / block_size) refuse_damaged(in, "bad block count");
  const int64_t blocks_bytes = l[ms_binary] + l[ms_record] + l[ms_text];
  if (l[ms_binary] % block_size || l[ms_record] % block_size || l[ms_text] % block_size ||
      blocks_bytes > block_size * l[ms_blocktype])
    refuse_damaged(in, "bad stream lengths");
  h.x86_bytes = block_size * l[ms_blocktype] - blocks_bytes;
  if (l[ms_x86] > h.x86_bytes || l[ms_branch] > branch_capacity(h.x86_bytes) ||
      l[ms_disp] > disp_capacity(h.x86_bytes))
    refuse_damaged(in, "bad x86 stream lengths");
  if (l[ms_period] != (l[ms_record] + period_chunk - 1) / period_chunk ||
      l[ms_mismatch] != l[ms_record] / 8 + 1)
    refuse_damaged(in, "bad record side streams");
  int64_t at = header_bytes;
  for (int w = 0; w < streams; w++) {
    if (at + 4 > m) refuse_damaged(in, "truncated");
    h.coded_len[w] = get_u32(packed + at);
    h.coded_at[w] = at + 4;
    if (h.coded_len[w] < 4 || h.coded_len[w] % 2 != 0 || h.coded_len[w] > m - h.coded_at[w])
      refuse_damaged(in, "bad coded length");
    at = h.coded_at[w] + h.coded_len[w];
  }
  h.end = at;
  return h;
}

// Every model but the record model codes at least one bit per byte.
void check_coded_bits(const char* in, const mixed_header& h) {
  for (int w = 0; w < streams; w++)
    if (w != ms_record && h.len[w] * mixed_stream_table[w].unit > most_coded_bits(h.coded_len[w]))
      refuse_damaged(in, "stream lengths beyond their coded lengths");
}

// The record model reads back one period: it must be one it knows.
bool periods_known(const uint8_t* period, int64_t count) {
  for (int64_t i = 0; i < count; i++)
    if (period[i] < 4 || period[i] > 68 || period[i] % 4 != 0) return false;
  return true;
}

}  // namespace

void mixed_pack(const pack_input& in, const pack_output& out, const pack_settings& set) {
  const int64_t n = in.size;
  // The parser reads history before the input and zeros up to the end of
  // its last block plus one.
  const read_input input = read_whole(in, input_history, block_size + 1);
  const uint64_t hash = input.hash;
  mixed_streams s;
  progress_phase("parsing", n);
  mixed_parse(input.data, n, s, set.strong);

  model_call c[streams];
  mixed_model_calls(s, c);
  int64_t cap = header_bytes + trailer_bytes;
  for (const model_call& x : c) cap += 4 + coded_capacity(x.bytes);
  uint8_t* packed = arena_alloc(cap);
  put_u32(packed, static_cast<uint32_t>(set.strong ? method::mixed_strong : method::mixed));
  put_u32(packed + 4, static_cast<uint32_t>(n));
  for (int w = 0; w < streams; w++)
    put_u32(packed + 4 * mixed_stream_table[w].header_field, static_cast<uint32_t>(s.len[w]));
  // Each stream is coded into its own region of the container, then the
  // regions are closed up behind their lengths in coding order.
  int64_t region[streams];
  int64_t coded[streams];
  uint64_t overrun[streams];
  int64_t at = header_bytes;
  for (int w = 0; w < streams; w++) {
    region[w] = at + 4;
    at += 4 + coded_capacity(c[w].bytes);
  }
  int order[streams];
  progress_coding(n, total_length(c));
  run_tasks(
      order, task_order(c, order),
      [&](int w) {
        progress_stream(c[w].name, c[w].bytes);
        coder k;
        coder_init_encode(k, packed + region[w], static_cast<size_t>(coded_capacity(c[w].bytes)));
        model_options options;
        options.strong = set.strong;
        run_model_call(c[w], k, compress_dir, options);
        overrun[w] = k.overrun;
        coded[w] = static_cast<int64_t>(coder_length(k));
        progress_stream_done();
      },
      set.parallel_streams && worth_parallel(c));
  at = header_bytes;
  for (int w = 0; w < streams; w++) {
    if (overrun[w]) fail_as(failure_kind::internal, "a coded stream exceeds its buffer");
    put_u32(packed + at, static_cast<uint32_t>(coded[w]));
    std::memmove(packed + at + 4, packed + region[w], static_cast<size_t>(coded[w]));
    at += 4 + coded[w];
  }
  put_trailer(packed + at, hash);
  at += trailer_bytes;
  if (at >= archive_limit)
    fail("%s cannot be compressed: its archive would exceed 1.5GB", in.name);
  progress_phase("writing", at);
  out(packed, at);
  arena_free(packed);
  mixed_release(s);
  arena_free(input.block);
}

void mixed_unpack(const char* in, const uint8_t* packed, int64_t m, const pack_output& out,
                  const pack_settings& set) {
  const mixed_header h = read_header(in, packed, m);
  const checksum sum = read_trailer(in, packed, h.end, m);
  model_options options = decoding_options(sum);
  options.strong = get_u32(packed) == static_cast<uint32_t>(method::mixed_strong);
  // The strong methods came after the trailer: their archives always carry it.
  if (options.strong && (!sum.present || sum.first_rows))
    refuse_damaged(in, "bad checksum trailer");
  check_coded_bits(in, h);

  const int64_t blocks = h.len[ms_blocktype];
  mixed_streams s;
  mixed_allocate(s, blocks, h.len[ms_binary], h.len[ms_record], h.x86_bytes, h.len[ms_text]);
  std::copy(h.len, h.len + streams, s.len);
  model_call c[streams];
  mixed_model_calls(s, c);
  // The streams decode side by side; record waits for period and mismatch,
  // and reads periods only after they are checked. Damage is reported once
  // every stream has stopped, in coding order.
  bool good[streams] = {};
  bool periods_good = true;
  task_done period_done, mismatch_done;
  int order[streams];
  progress_coding(h.n, total_length(c));
  run_tasks(
      order, task_order(c, order),
      [&](int w) {
        if (w == ms_record) {
          period_done.wait();
          mismatch_done.wait();
          if (!periods_good) return;
        }
        // The record stream waits for these two: it is told when they end,
        // however they end.
        struct done_when_gone {
          task_done* d;
          ~done_when_gone() {
            if (d != nullptr) d->set();
          }
        } side{w == ms_period ? &period_done : w == ms_mismatch ? &mismatch_done : nullptr};
        if (w == ms_period) periods_good = false;  // until it has decoded
        progress_stream(c[w].name, c[w].bytes);
        coder k;
        coder_init_decode(k, packed + h.coded_at[w], static_cast<size_t>(h.coded_len[w]));
        run_model_call(c[w], k, decompress_dir, options);
        progress_stream_done();
        good[w] = decoded_exactly(k, h.coded_len[w]);
        if (w == ms_period) periods_good = periods_known(s.buf[ms_period], s.len[ms_period]);
      },
      set.parallel_streams && worth_parallel(c));
  for (int w = 0; w < streams; w++) {
    if (w == ms_record && !periods_good) refuse_damaged(in, "bad period");
    if (!good[w]) refuse_damaged(in, "a coded stream does not match its length");
  }

  uint8_t* output = arena_alloc(block_size * blocks + 1);
  progress_phase("merging", h.n);
  if (!mixed_inverse(output, s)) refuse_damaged(in, "the streams disagree");
  // The compressor's last block is padded with zeros.
  for (int64_t i = h.n; i < block_size * blocks; i++)
    if (output[i] != 0) refuse_damaged(in, "bad length");
  if (!checksum_matches(sum, output, h.n))
    refuse_damaged(in, "the restored file does not match its checksum");
  progress_phase("writing", h.n);
  out(output, h.n);
  arena_free(output);
  mixed_release(s);
}

}  // namespace vesk
