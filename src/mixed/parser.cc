#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "mixed/mixed.h"
#include "models/media.h"
#include "text/chars.h"
#include "util/arena.h"

namespace vesk {

namespace {

// Byte pairs typical of x86-64 code (first byte, second byte): two of them
// in a block make it x86.
constexpr uint8_t x86_pair_list[13][2] = {
    {0x48, 0x89}, {0x49, 0x89}, {0x48, 0x8B}, {0x48, 0x8D}, {0xE8, 0x00},
    {0x4C, 0x89}, {0x44, 0x24}, {0x48, 0x83}, {0x84, 0x24}, {0xFF, 0x48},
    {0x0F, 0x84}, {0x0F, 0x1F}, {0x48, 0x85},
};

// Indexed by the 16-bit little-endian value at a position.
const auto x86_pairs = [] {
  std::array<uint8_t, 65536> t{};
  for (const auto& p : x86_pair_list) t[p[0] | (p[1] << 8)] = 1;
  return t;
}();

constexpr int record_matches = 50;  // more than this many equal bytes 16 or 24 back
constexpr int x86_pair_count = 2;
constexpr int text_letter_pairs = 21;

uint8_t classify(const uint8_t* b) {
  int pairs = 0, letters = 0, same16 = 0, same24 = 0;
  for (int i = 0; i < block_size; i++) {
    pairs += x86_pairs[b[i] | (b[i + 1] << 8)];
    letters += is_alpha(b[i]) && is_alpha(b[i + 1]);
    same16 += b[i] == b[i - 16];
    same24 += b[i] == b[i - 24];
  }
  if (pairs >= x86_pair_count) return block_x86;
  if (same16 > record_matches || same24 > record_matches) return block_record;
  if (letters >= text_letter_pairs) return block_text;
  return block_binary;
}

// The order the buffers are taken from the arena (and given back, last
// first).
constexpr mixed_stream allocation_order[mixed_stream_count] = {ms_blocktype, ms_binary, ms_record,
                                                               ms_x86,       ms_text,   ms_period,
                                                               ms_mismatch,  ms_branch, ms_disp};

// The blocks of every medium, its header and its samples, become binary,
// so that the binary stream holds its rows or samples unbroken.
void keep_media_binary(const uint8_t* input, int64_t n, std::vector<uint8_t>& types) {
  const auto blocks = static_cast<int64_t>(types.size());
  for (int64_t at = 0; at + 2 <= n;) {
    const media_header h = read_media_header(input + at, n - at);
    if (h.state != header_state::complete) {
      at++;
      continue;
    }
    const int64_t end = std::min(n, at + h.format.data + h.format.bytes);
    for (int64_t b = at / block_size; b < blocks && b * block_size < end; b++)
      types[static_cast<size_t>(b)] = block_binary;
    at = std::max(end, at + 1);
  }
}

}  // namespace

// A block stream's buffer: its bytes, the history in front and a zero tail
// long enough for the period search (63 bytes) and the branch scan (4).
int64_t block_stream_bytes(int64_t len) {
  return stream_history + len + 128;
}

// A branch takes at least five bytes of the x86 stream and at most two
// bytes of codes; a literal displacement one entry.
int64_t branch_capacity(int64_t x86_bytes) {
  return 2 * (x86_bytes / 5 + 1);
}
int64_t disp_capacity(int64_t x86_bytes) {
  return x86_bytes / 5 + 1;
}

void mixed_allocate(mixed_streams& s, int64_t blocks, int64_t binaryc, int64_t recordc,
                    int64_t x86_bytes, int64_t textc) {
  int64_t bytes[mixed_stream_count];  // beside the history
  bytes[ms_blocktype] = blocks + 64;
  bytes[ms_binary] = block_stream_bytes(binaryc) - stream_history;
  bytes[ms_record] = block_stream_bytes(recordc) - stream_history;
  bytes[ms_x86] = block_stream_bytes(x86_bytes) - stream_history;
  bytes[ms_text] = block_stream_bytes(textc) - stream_history;
  bytes[ms_period] = recordc / period_chunk + 64;
  bytes[ms_mismatch] = recordc / 8 + 64;
  bytes[ms_branch] = branch_capacity(x86_bytes) + 64;
  bytes[ms_disp] = 4 * disp_capacity(x86_bytes) + 64;
  for (const mixed_stream w : allocation_order) {
    const int64_t history = mixed_stream_table[w].history;
    s.buf[w] = arena_alloc_zeroed(history + bytes[w]) + history;
  }
}

void mixed_release(mixed_streams& s) {
  for (int i = mixed_stream_count - 1; i >= 0; i--) {
    const mixed_stream w = allocation_order[i];
    arena_free(s.buf[w] - mixed_stream_table[w].history);
  }
  s = mixed_streams{};
}

void mixed_parse(const uint8_t* input, int64_t n, mixed_streams& s, bool keep_media) {
  const int64_t blocks = (n + block_size - 1) / block_size;
  std::vector<uint8_t> types(static_cast<size_t>(blocks));
  for (int64_t b = 0; b < blocks; b++)
    types[static_cast<size_t>(b)] = classify(input + block_size * b);
  // A single block between two neighbours that agree takes their type; each
  // change is seen by the next comparison.
  for (int64_t i = 1; i + 1 < blocks; i++) {
    uint8_t& t = types[static_cast<size_t>(i)];
    uint8_t before = types[static_cast<size_t>(i - 1)], after = types[static_cast<size_t>(i + 1)];
    if (before != t && t != after && before == after) t = before;
  }
  if (keep_media) keep_media_binary(input, n, types);
  int64_t count[4] = {0, 0, 0, 0};
  for (uint8_t t : types) count[t]++;
  mixed_allocate(s, blocks, block_size * count[0], block_size * count[1], block_size * count[2],
                 block_size * count[3]);
  for (int64_t b = 0; b < blocks; b++) {
    const uint8_t t = types[static_cast<size_t>(b)];
    s.buf[ms_blocktype][b] = t;
    const mixed_stream w = block_stream[t];
    std::memcpy(s.buf[w] + s.len[w], input + block_size * b, block_size);
    s.len[w] += block_size;
  }
  s.len[ms_blocktype] = blocks;

  // The period of each 64-byte chunk of records: the smallest distance of
  // 4, 8, .. 68 at which most bytes repeat. Then one bit per record byte:
  // does it differ from the byte one period back?
  const uint8_t* rec = s.buf[ms_record];
  for (int64_t k = 0; period_chunk * k < s.len[ms_record]; k++) {
    int best = 4, most = -1;
    for (int d = 4; d <= 68; d += 4) {
      int c = 0;
      for (int64_t i = period_chunk * k; i < period_chunk * (k + 1); i++) c += rec[i] == rec[i - d];
      if (c > most) {
        most = c;
        best = d;
      }
    }
    s.buf[ms_period][s.len[ms_period]++] = static_cast<uint8_t>(best);
  }
  for (int64_t i = 0; i < s.len[ms_record]; i++) {
    const int p = s.buf[ms_period][i / period_chunk];
    if (rec[i] != rec[i - p]) s.buf[ms_mismatch][i >> 3] |= static_cast<uint8_t>(1 << (i & 7));
  }
  s.len[ms_mismatch] = s.len[ms_record] / 8 + 1;
  branch_encode(s);
}

}  // namespace vesk
