// The x86 branch transform. A branch is E8 or E9, or 80..8F after 0F, at a
// position not inside an earlier branch's displacement; its four
// displacement bytes D leave the x86 stream and its target T = p + D + 1
// (p its position, 32-bit wrapping) is coded in the branch stream:
//   0            D = 0
//   1            D is the next literal of the disp stream (big-endian)
//   3 .. 119     T is the target of the branch (code - 2) branches back
//   128 .. 245   two bytes: likewise with distance ((b0 - 128) x 256 + b1) - 2
// The encoder finds earlier targets in a hash table keyed by T's 4 bytes,
// holding the index of the first branch to each target; the decoder keeps
// the target of every branch by index.
#include <cstring>

#include "mixed/mixed.h"
#include "util/arena.h"
#include "util/big_buffer.h"
#include "util/bytes.h"
#include "util/hash_table.h"

namespace vesk {

namespace {

constexpr int64_t short_distance = 117;
constexpr int64_t long_distance = 29997;
constexpr int32_t largest_target_table = 1 << 24;

inline bool is_branch(uint8_t c, uint8_t before) {
  return c == 0xE8 || c == 0xE9 || ((c & 0xF0) == 0x80 && before == 0x0F);
}

int32_t target_table_size(int64_t x86_bytes) {
  int32_t l = 1024;
  while (l < largest_target_table && l < 2 * (x86_bytes / 5 + 1)) l *= 2;
  return l;
}

}  // namespace

void branch_encode(mixed_streams& s) {
  const int64_t len = s.len[ms_x86];
  uint8_t* x = s.buf[ms_x86];
  uint8_t* const codes = s.buf[ms_branch];
  int64_t& codesc = s.len[ms_branch];
  big_vector<uint8_t> work(static_cast<size_t>(len));
  // Targets by branch index: the table compares 64-bit hashes only, so a
  // hit is checked against the target it names before it is used.
  big_vector<uint32_t> targets;
  hash_table ht;
  hash_create(ht, target_table_size(len));
  const hash_scope own{ht};
  int64_t i = 0, o = 0;
  for (int64_t p = 0; p < len;) {
    const uint8_t c = x[p];
    if (!is_branch(c, x[p - 1])) {
      work[static_cast<size_t>(o++)] = c;
      p++;
      continue;
    }
    const uint32_t d = get_u32(x + p + 1);  // bytes past the end read as zero
    const uint32_t t = static_cast<uint32_t>(p) + d + 1;
    uint8_t key[4];
    put_u32(key, t);
    if (d == 0) {
      codes[codesc++] = 0;
    } else {
      const int32_t v = hash_find(ht, key, 4);
      const int64_t dist = i - v;
      if (v >= 0 && targets[static_cast<size_t>(v)] == t && dist <= long_distance) {
        if (dist <= short_distance) {
          codes[codesc++] = static_cast<uint8_t>(dist + 2);
        } else {
          codes[codesc++] = static_cast<uint8_t>(((dist + 2) >> 8) | 0x80);
          codes[codesc++] = static_cast<uint8_t>((dist + 2) & 0xFF);
        }
      } else {
        codes[codesc++] = 1;
        uint8_t* e = s.buf[ms_disp] + 4 * s.len[ms_disp]++;
        e[0] = static_cast<uint8_t>(d >> 24);
        e[1] = static_cast<uint8_t>(d >> 16);
        e[2] = static_cast<uint8_t>(d >> 8);
        e[3] = static_cast<uint8_t>(d);
      }
    }
    // A full table takes no new targets: their branches stay literals,
    // which the decoder reads alike.
    if (!hash_full(ht)) hash_insert(ht, key, 4, static_cast<int32_t>(i));
    targets.push_back(t);
    work[static_cast<size_t>(o++)] = c;
    i++;
    p += 5;
  }
  hash_free(ht);
  if (o > 0) std::memcpy(x, work.data(), static_cast<size_t>(o));
  std::memset(x + o, 0, static_cast<size_t>(len - o));
  s.len[ms_x86] = o;
}

bool branch_decode(const mixed_streams& s, uint8_t* out, int64_t x86_bytes) {
  // The rebuilt stream is x86_bytes long, plus up to 4 bytes when the last
  // branch's displacement reaches past the end.
  const int64_t limit = x86_bytes + 4;
  const uint8_t* const codes = s.buf[ms_branch];
  const int64_t codesc = s.len[ms_branch], dispc = s.len[ms_disp];
  big_vector<uint32_t> history;
  int64_t j = 0, r = 0, q = 0;
  for (int64_t k = 0; k < s.len[ms_x86]; k++) {
    const uint8_t c = s.buf[ms_x86][k];
    if (j >= limit) return false;
    out[j] = c;
    if (!is_branch(c, out[j - 1])) {
      j++;
      continue;
    }
    if (j + 5 > limit || r >= codesc) return false;
    const int64_t i = static_cast<int64_t>(history.size());
    const uint8_t b = codes[r];
    uint32_t d;
    if (b == 0) {
      d = 0;
      r++;
    } else if (b == 1) {
      if (q >= dispc) return false;
      const uint8_t* e = s.buf[ms_disp] + 4 * q++;
      d = uint32_t{e[0]} << 24 | uint32_t{e[1]} << 16 | uint32_t{e[2]} << 8 | e[3];
      r++;
    } else {
      int64_t code = b;
      if (b >= 128) {
        if (r + 1 >= codesc) return false;
        code = (b - 128) * 256 + codes[r + 1];
        r += 2;
      } else {
        r++;
      }
      const int64_t back = i + 2 - code;  // the branch whose target this is
      if (code < 3 || back < 0) return false;
      d = history[static_cast<size_t>(back)] - static_cast<uint32_t>(j + 1);
    }
    put_u32(out + j + 1, d);
    history.push_back(d + static_cast<uint32_t>(j + 1));
    j += 5;
  }
  // Every code and literal must have been used, and the stream rebuilt whole.
  return r == codesc && q == dispc && j >= x86_bytes && j <= limit;
}

}  // namespace vesk
