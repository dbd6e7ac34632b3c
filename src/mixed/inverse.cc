#include <cstring>

#include "mixed/mixed.h"
#include "util/arena.h"

namespace vesk {

bool mixed_inverse(uint8_t* out, const mixed_streams& s) {
  int64_t count[4] = {0, 0, 0, 0};
  for (int64_t b = 0; b < s.len[ms_blocktype]; b++) {
    if (s.buf[ms_blocktype][b] > block_text) return false;
    count[s.buf[ms_blocktype][b]]++;
  }
  if (s.len[ms_binary] != block_size * count[block_binary] ||
      s.len[ms_record] != block_size * count[block_record] ||
      s.len[ms_text] != block_size * count[block_text])
    return false;
  const int64_t x86_bytes = block_size * count[block_x86];
  uint8_t* rebuilt_block = arena_alloc(stream_history + x86_bytes + 4 + 64);
  std::memset(rebuilt_block, 0, stream_history);
  uint8_t* rebuilt = rebuilt_block + stream_history;
  const bool ok = branch_decode(s, rebuilt, x86_bytes);
  if (ok) {
    const uint8_t* src[4] = {s.buf[ms_binary], s.buf[ms_record], rebuilt, s.buf[ms_text]};
    int64_t at[4] = {0, 0, 0, 0};
    for (int64_t b = 0; b < s.len[ms_blocktype]; b++) {
      const uint8_t t = s.buf[ms_blocktype][b];
      std::memcpy(out + block_size * b, src[t] + at[t], block_size);
      at[t] += block_size;
    }
  }
  arena_free(rebuilt_block);
  return ok;
}

}  // namespace vesk
