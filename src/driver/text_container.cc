// The text container: method word 1 (4 with the strong models), then n (the
// file's length + 1), the word-code stream's length L1 (4 bytes per slot),
// the dictionary stream's length L2, and the two coded streams, each behind
// its coded length:
//
//   0 method (1)   4 n   8 L1   12 L2   16 K1   20 K1 bytes   20+K1 K2   24+K1 K2 bytes
//
// then the checksum trailer (12 bytes, see trailer.h). All fields are
// 32-bit little-endian.
#include <algorithm>
#include <string>
#include <cstdlib>
#include <memory>
#include <cstring>

#include "driver/containers.h"
#include "driver/limits.h"
#include "driver/method.h"
#include "driver/model_calls.h"
#include "driver/trailer.h"
#include "models/model.h"
#include "text/text.h"
#include "util/arena.h"
#include "util/bytes.h"
#include "util/call.h"
#include "util/fail.h"
#include "util/progress.h"
#include "util/tasks.h"

namespace vesk {

namespace {

constexpr int64_t header_bytes = 24;
constexpr int64_t codes_history = 1024;
constexpr int64_t list_history = 256;
constexpr int64_t stream_slack = 64;  // zero bytes behind a stream (the word model codes one more)

// Codes the input with the text method, or returns why the method cannot
// represent it (having released everything and written nothing).
const char* text_encode(const pack_input& in, const pack_output& out, const pack_settings& set) {
  const int64_t s = in.size;
  // The transform reads the text between two spaces.
  const read_input r = read_whole(in, 1, 1);
  uint8_t* text = r.block;
  text[0] = ' ';
  text[s + 1] = ' ';
  const int64_t n = s + 1;
  const uint64_t hash = r.hash;

  text_state t;
  progress_phase("text transform", s);
  if (const char* why = text_forward(t, text, n)) {
    arena_free(text);
    return why;
  }
  const int64_t l1 = 4 * t.codesc, l2 = t.listc;
  const int64_t cap1 = coded_capacity(l1), cap2 = coded_capacity(l2);
  uint8_t* packed = arena_alloc(header_bytes + cap1 + cap2 + trailer_bytes);
  put_u32(packed, static_cast<uint32_t>(set.strong ? method::text_strong : method::text));
  model_options options;
  options.strong = set.strong;
  put_u32(packed + 4, static_cast<uint32_t>(n));
  put_u32(packed + 8, static_cast<uint32_t>(l1));
  put_u32(packed + 12, static_cast<uint32_t>(l2));

  // The two streams are coded side by side, the dictionary into a region
  // of its own that is then moved up behind the word stream.
  uint8_t* region2 = packed + 24 + cap1;
  model_call c[text_call_count];
  text_model_calls(t, c);
  uint8_t* const region[text_call_count] = {packed + 20, region2};
  const int64_t cap[text_call_count] = {cap1, cap2};
  bool fits[text_call_count] = {};
  int64_t coded[text_call_count] = {};
  const int order[text_call_count] = {0, 1};
  progress_coding(s, l1 + l2);
  run_tasks(
      order, text_call_count,
      [&](int w) {
        coder k;
        coder_init_encode(k, region[w], static_cast<size_t>(cap[w]));
        progress_stream(c[w].name, c[w].bytes);
        run_model_call(c[w], k, compress_dir, options);
        fits[w] = k.overrun == 0;
        coded[w] = static_cast<int64_t>(coder_length(k));
        progress_stream_done();
      },
      set.parallel_streams && std::min(l1, l2) >= parallel_min_bytes);
  const int64_t k1 = coded[0], k2 = coded[1];
  put_u32(packed + 16, static_cast<uint32_t>(k1));
  put_u32(packed + 20 + k1, static_cast<uint32_t>(k2));
  std::memmove(packed + 24 + k1, region2, static_cast<size_t>(k2));

  const int64_t size = header_bytes + k1 + k2 + trailer_bytes;
  const char* why = !fits[0] || !fits[1]    ? "its coded streams exceed their buffers"
                    : size >= archive_limit ? "its archive would exceed 1.5GB"
                                            : nullptr;
  if (why == nullptr) {
    put_trailer(packed + header_bytes + k1 + k2, hash);
    progress_phase("writing", size);
    out(packed, size);
  }
  arena_free(packed);
  text_release_streams(t);
  arena_free(text);
  return why;
}

}  // namespace

void text_pack(const pack_input& in, const pack_output& out, const pack_settings& s) {
  if (const char* why = text_encode(in, out, s)) {
    notice(std::string("note: the text method cannot code ") + in.name + " (" + why +
           "); it is coded with the mixed method");
    mixed_pack(in, out, s);
  }
}

void text_unpack(const char* in, const uint8_t* packed, int64_t m, const pack_output& out,
                 const pack_settings& set) {
  // The header is checked field by field before anything is decoded; the
  // declared lengths must fit what their coded lengths can hold before
  // anything is allocated for them.
  if (m < header_bytes) refuse_damaged(in, "shorter than its header");
  const int64_t n = get_u32(packed + 4);
  const int64_t l1 = get_u32(packed + 8);
  const int64_t l2 = get_u32(packed + 12);
  const int64_t k1 = get_u32(packed + 16);
  if (!input_fits(n - 1)) refuse_damaged(in, "bad length");
  if (l1 > INT32_MAX || l1 % 4 != 0) refuse_damaged(in, "bad word stream length");
  if (l2 > dictionary_byte_limit || l2 < 1) refuse_damaged(in, "bad dictionary length");
  if (k1 < 4 || k1 % 2 != 0 || k1 > m - header_bytes) refuse_damaged(in, "bad coded length");
  const int64_t k2 = get_u32(packed + 20 + k1);
  const int64_t end = header_bytes + k1 + k2;
  if (k2 < 4 || k2 % 2 != 0 || end > m) refuse_damaged(in, "bad coded length");
  if (l1 > most_coded_bits(k1) || l2 > most_coded_bits(k2))
    refuse_damaged(in, "stream lengths beyond their coded lengths");
  if (l1 > 4 * most_tokens(n) || l2 > most_dictionary_bytes(n))
    refuse_damaged(in, "stream lengths beyond what the file can have");
  const checksum sum = read_trailer(in, packed, end, m);
  model_options options = decoding_options(sum);
  options.strong = get_u32(packed) == static_cast<uint32_t>(method::text_strong);
  // The strong methods came after the trailer: their archives always carry it.
  if (options.strong && (!sum.present || sum.first_rows))
    refuse_damaged(in, "bad checksum trailer");

  uint8_t* codes_block = arena_alloc_zeroed(codes_history + l1 + stream_slack);
  uint8_t* list_block = arena_alloc_zeroed(list_history + l2 + stream_slack);
  uint8_t* codes = codes_block + codes_history;
  uint8_t* list = list_block + list_history;

  // Each coded stream must be consumed exactly: the decoder reads every
  // word the encoder wrote and not one more. The two decode side by side.
  model_call c[text_call_count];
  text_model_calls(text_state{codes, l1 / 4, list, l2}, c);
  const uint8_t* const coded_at[text_call_count] = {packed + 20, packed + 24 + k1};
  const int64_t coded[text_call_count] = {k1, k2};
  bool good[text_call_count] = {};
  const int order[text_call_count] = {0, 1};
  progress_coding(n - 1, l1 + l2);
  run_tasks(
      order, text_call_count,
      [&](int w) {
        coder k;
        coder_init_decode(k, coded_at[w], static_cast<size_t>(coded[w]));
        progress_stream(c[w].name, c[w].bytes);
        run_model_call(c[w], k, decompress_dir, options);
        good[w] = decoded_exactly(k, coded[w]);
        progress_stream_done();
      },
      set.parallel_streams && std::min(l1, l2) >= parallel_min_bytes);
  if (!good[0]) refuse_damaged(in, "word stream");
  if (!good[1]) refuse_damaged(in, "dictionary stream");

  uint8_t* text = nullptr;
  const char* why = nullptr;
  progress_phase("text inverse", n - 1);
  const int64_t len = text_inverse(codes, l1 / 4, list, l2, &text, &why);
  // Freed however the call ends: a refusal, or an output that fails.
  const std::unique_ptr<uint8_t, void (*)(void*)> restored(text, std::free);
  if (why == nullptr && len != n) why = "the restored text has the wrong length";
  if (why == nullptr && !checksum_matches(sum, text + 1, n - 1))
    why = "the restored file does not match its checksum";
  if (why != nullptr) refuse_damaged(in, why);
  progress_phase("writing", n - 1);
  out(text + 1, n - 1);
  arena_release(codes_block, list_block);
}

}  // namespace vesk
