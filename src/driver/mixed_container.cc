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

#include "driver/container.h"
#include "driver/containers.h"
#include "driver/limits.h"
#include "driver/method.h"
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

constexpr int64_t header_bytes = 44;
constexpr int streams = 9;

enum which {
  s_period,
  s_mismatch,
  s_record,
  s_blocktype,
  s_binary,
  s_x86,
  s_disp,
  s_branch,
  s_text
};

struct stream_ref {
  uint8_t* buf;
  int64_t len;
};

// The streams' names on the progress line, in coding order.
constexpr const char* stream_names[streams] = {
    "period", "mismatch", "record", "blocktype", "binary", "x86", "disp", "branch", "text"};

int64_t total_length(const stream_ref* r) {
  int64_t t = 0;
  for (int w = 0; w < streams; w++) t += r[w].len;
  return t;
}

// The nine streams in coding order.
void coding_order(const mixed_streams& s, stream_ref* out) {
  out[s_period] = {s.period, s.periodc};
  out[s_mismatch] = {s.mismatch, s.mismatchc};
  out[s_record] = {s.record, s.recordc};
  out[s_blocktype] = {s.blocktype, s.blocktypec};
  out[s_binary] = {s.binary, s.binaryc};
  out[s_x86] = {s.x86, s.x86c};
  out[s_disp] = {s.disp, 4 * s.dispc};
  out[s_branch] = {s.branch, s.branchc};
  out[s_text] = {s.text, s.textc};
}

void run_model(int which, const mixed_streams& s, const stream_ref& r, coder& k, int direction,
               const model_options& o = {}) {
  const auto len = static_cast<int32_t>(r.len);
  switch (which) {
    case s_record:
      record_model(r.buf, len, k, direction, s.mismatch, s.period, o);
      break;
    case s_binary:
    case s_text:
      block_model(r.buf, len, k, direction, o);
      break;
    case s_x86:
      x86_model(r.buf, len, k, direction, o);
      break;
    case s_disp:
      disp_model(r.buf, len, k, direction, o);
      break;
    default:
      byte_model(r.buf, len, k, direction, o);
      break;
  }
}

// The streams in the order the two threads take them: period and mismatch
// first (the record model needs them when decoding; they are small), then
// the rest from the most work to the least, so that the longest streams
// start first and the threads finish close together.
int task_order(const stream_ref* r, int* order) {
  int count = 0;
  order[count++] = s_period;
  order[count++] = s_mismatch;
  for (int w = 0; w < streams; w++)
    if (w != s_period && w != s_mismatch) order[count++] = w;
  // Work per byte: the x86 and block models have 12 contexts, the others 8.
  auto work = [&](int w) {
    const bool twelve = w == s_x86 || w == s_binary || w == s_text;
    return r[w].len * (twelve ? 3 : 2);
  };
  for (int i = 3; i < count; i++)
    for (int j = i; j > 2 && work(order[j]) > work(order[j - 1]); j--)
      std::swap(order[j], order[j - 1]);
  return count;
}

// A second thread pays when the streams beside the longest one are long.
bool worth_parallel(const stream_ref* r) {
  int64_t total = 0, longest = 0;
  for (int w = 0; w < streams; w++) {
    total += r[w].len;
    longest = std::max(longest, r[w].len);
  }
  return total - longest >= parallel_min_bytes;
}

}  // namespace

void mixed_pack(const pack_input& in, const pack_output& out, const pack_settings& set) {
  const int64_t n = in.size;
  if (n >= input_limit) fail("File %s must be less than 1.001GB", in.name);
  uint8_t* input = arena_alloc_zeroed(input_history + n + block_size + 1);
  progress_phase("reading", n);
  in.read(input + input_history);
  const uint64_t hash = content_hash(input + input_history, n);
  mixed_streams s;
  progress_phase("parsing", n);
  mixed_parse(input + input_history, n, s);

  stream_ref r[streams];
  coding_order(s, r);
  int64_t cap = header_bytes + trailer_bytes;
  for (const auto& x : r) cap += 4 + coded_capacity(x.len);
  uint8_t* packed = arena_alloc(cap);
  const int64_t header[11] = {static_cast<int64_t>(set.strong ? method::mixed_strong : method::mixed),
                              n,
                              s.binaryc,
                              s.recordc,
                              s.blocktypec,
                              s.x86c,
                              s.textc,
                              s.periodc,
                              s.mismatchc,
                              s.branchc,
                              s.dispc};
  for (int f = 0; f < 11; f++) put_u32(packed + 4 * f, static_cast<uint32_t>(header[f]));
  // Each stream is coded into its own region of the container, then the
  // regions are closed up behind their lengths in coding order.
  int64_t region[streams];
  int64_t coded[streams];
  uint64_t overrun[streams];
  int64_t at = header_bytes;
  for (int w = 0; w < streams; w++) {
    region[w] = at + 4;
    at += 4 + coded_capacity(r[w].len);
  }
  int order[streams];
  progress_coding(n, total_length(r));
  run_tasks(
      order, task_order(r, order),
      [&](int w) {
        progress_stream(stream_names[w], r[w].len);
        coder k;
        coder_init_encode(k, packed + region[w], static_cast<size_t>(coded_capacity(r[w].len)));
        model_options options;
        options.strong = set.strong;
        run_model(w, s, r[w], k, compress_dir, options);
        overrun[w] = k.overrun;
        coded[w] = static_cast<int64_t>(coder_length(k));
        progress_stream_done();
      },
      set.parallel_streams && worth_parallel(r));
  at = header_bytes;
  for (int w = 0; w < streams; w++) {
    if (overrun[w]) fail("A coded stream exceeds its buffer\n");
    put_u32(packed + at, static_cast<uint32_t>(coded[w]));
    std::memmove(packed + at + 4, packed + region[w], static_cast<size_t>(coded[w]));
    at += 4 + coded[w];
  }
  put_trailer(packed + at, hash);
  at += trailer_bytes;
  if (at >= archive_limit)
    fail("%s cannot be compressed: its archive would exceed 1.5GB\n", in.name);
  progress_phase("writing", at);
  out(packed, at);
  arena_free(packed);
  mixed_release(s);
  arena_free(input);
}

void mixed_unpack(const char* in, const uint8_t* packed, int64_t m, const pack_output& out,
                  const pack_settings& set) {
  // The header: every length checked against the others and the limits
  // before anything is allocated or decoded.
  if (m < header_bytes + 4 * streams) refuse_damaged(in, "shorter than its header");
  int64_t f[11];
  for (int i = 0; i < 11; i++) f[i] = get_u32(packed + 4 * i);
  const int64_t n = f[1], binaryc = f[2], recordc = f[3], blocktypec = f[4], x86c = f[5],
                textc = f[6], periodc = f[7], mismatchc = f[8], branchc = f[9], dispc = f[10];
  if (n >= input_limit) refuse_damaged(in, "bad length");
  if (blocktypec != (n + block_size - 1) / block_size) refuse_damaged(in, "bad block count");
  if (binaryc % block_size || recordc % block_size || textc % block_size ||
      binaryc + recordc + textc > block_size * blocktypec)
    refuse_damaged(in, "bad stream lengths");
  const int64_t x86_bytes = block_size * blocktypec - binaryc - recordc - textc;
  if (x86c > x86_bytes || branchc > branch_capacity(x86_bytes) || dispc > disp_capacity(x86_bytes))
    refuse_damaged(in, "bad x86 stream lengths");
  if (periodc != (recordc + period_chunk - 1) / period_chunk || mismatchc != recordc / 8 + 1)
    refuse_damaged(in, "bad record side streams");
  int64_t coded_at[streams], coded_len[streams];
  int64_t at = header_bytes;
  for (int w = 0; w < streams; w++) {
    if (at + 4 > m) refuse_damaged(in, "truncated");
    coded_len[w] = get_u32(packed + at);
    coded_at[w] = at + 4;
    if (coded_len[w] < 4 || coded_len[w] % 2 != 0 || coded_len[w] > m - coded_at[w])
      refuse_damaged(in, "bad coded length");
    at = coded_at[w] + coded_len[w];
  }
  const checksum sum = read_trailer(in, packed, at, m);
  model_options options = decoding_options(sum);
  options.strong = get_u32(packed) == static_cast<uint32_t>(method::mixed_strong);
  // The strong methods came after the trailer: their archives always carry it.
  if (options.strong && (!sum.present || sum.first_rows))
    refuse_damaged(in, "bad checksum trailer");
  // Every model but the record model codes at least one bit per byte.
  const int64_t declared[streams] = {periodc, mismatchc, recordc, blocktypec, binaryc,
                                     x86c,    4 * dispc, branchc, textc};
  for (int w = 0; w < streams; w++)
    if (w != s_record && declared[w] > most_coded_bits(coded_len[w]))
      refuse_damaged(in, "stream lengths beyond their coded lengths");

  mixed_streams s;
  mixed_allocate(s, blocktypec, binaryc, recordc, x86_bytes, textc);
  s.binaryc = binaryc, s.recordc = recordc, s.blocktypec = blocktypec, s.x86c = x86c;
  s.textc = textc, s.periodc = periodc, s.mismatchc = mismatchc, s.branchc = branchc;
  s.dispc = dispc;
  stream_ref r[streams];
  coding_order(s, r);
  // The streams decode side by side; record waits for period and mismatch,
  // and reads periods only after they are checked. Damage is reported once
  // every stream has stopped, in coding order.
  bool good[streams] = {};
  bool periods_good = true;
  task_done period_done, mismatch_done;
  int order[streams];
  progress_coding(n, total_length(r));
  run_tasks(
      order, task_order(r, order),
      [&](int w) {
        if (w == s_record) {
          period_done.wait();
          mismatch_done.wait();
          if (!periods_good) return;
        }
        progress_stream(stream_names[w], r[w].len);
        coder k;
        coder_init_decode(k, packed + coded_at[w], static_cast<size_t>(coded_len[w]));
        run_model(w, s, r[w], k, decompress_dir, options);
        progress_stream_done();
        good[w] = decoded_exactly(k, coded_len[w]);
        if (w == s_period) {
          // The record model reads back one period: it must be one it knows.
          for (int64_t i = 0; i < periodc; i++)
            if (s.period[i] < 4 || s.period[i] > 68 || s.period[i] % 4 != 0) periods_good = false;
          period_done.set();
        }
        if (w == s_mismatch) mismatch_done.set();
      },
      set.parallel_streams && worth_parallel(r));
  for (int w = 0; w < streams; w++) {
    if (w == s_record && !periods_good) refuse_damaged(in, "bad period");
    if (!good[w]) refuse_damaged(in, "a coded stream does not match its length");
  }

  uint8_t* output = arena_alloc(block_size * blocktypec + 1);
  progress_phase("merging", n);
  if (!mixed_inverse(output, s)) refuse_damaged(in, "the streams disagree");
  // The compressor's last block is padded with zeros.
  for (int64_t i = n; i < block_size * blocktypec; i++)
    if (output[i] != 0) refuse_damaged(in, "bad length");
  if (!checksum_matches(sum, output, n))
    refuse_damaged(in, "the restored file does not match its checksum");
  progress_phase("writing", n);
  out(output, n);
  arena_free(output);
  mixed_release(s);
}

}  // namespace vesk
