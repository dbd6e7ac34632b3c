// The mixed inverse on arbitrary streams whose lengths pass the checks the
// container makes before it: input = a header (block count, binary, record
// and text block counts, x86c, branchc and dispc as bytes or 16-bit
// values; a block count of 128 or more keeps the block types as they
// come, else they are taken mod 4), then the streams' bytes, taken in turn (zeros once the input is
// used up).
#include <cstring>

#include "harness.h"
#include "mixed/mixed.h"
#include "util/arena.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  constexpr size_t header = 10;
  if (size < header) return 0;
  const int64_t blocks = data[0] % 40;
  const bool raw_types = data[0] & 0x80;  // else every block type is valid
  const int64_t nb = data[1], nr = data[2], nt = data[3];
  if (nb + nr + nt > blocks) return 0;
  const int64_t x86_bytes = block_size * (blocks - nb - nr - nt);
  const int64_t x86c = data[4] | data[5] << 8;
  const int64_t branchc = data[6] | data[7] << 8;
  const int64_t dispc = data[8] | data[9] << 8;
  if (x86c > x86_bytes || branchc > branch_capacity(x86_bytes) || dispc > disp_capacity(x86_bytes))
    return 0;
  mixed_streams s;
  mixed_allocate(s, blocks, block_size * nb, block_size * nr, x86_bytes, block_size * nt);
  s.len[ms_blocktype] = blocks;
  s.len[ms_binary] = block_size * nb;
  s.len[ms_record] = block_size * nr;
  s.len[ms_text] = block_size * nt;
  s.len[ms_x86] = x86c;
  s.len[ms_branch] = branchc;
  s.len[ms_disp] = dispc;
  s.len[ms_period] = (s.len[ms_record] + period_chunk - 1) / period_chunk;
  s.len[ms_mismatch] = s.len[ms_record] / 8 + 1;
  size_t at = header;
  auto fill = [&](uint8_t* p, int64_t n) {
    for (int64_t i = 0; i < n; i++) p[i] = at < size ? data[at++] : 0;
  };
  fill(s.buf[ms_blocktype], s.len[ms_blocktype]);
  if (!raw_types)
    for (int64_t b = 0; b < blocks; b++) s.buf[ms_blocktype][b] &= 3;
  fill(s.buf[ms_x86], s.len[ms_x86]);
  fill(s.buf[ms_branch], s.len[ms_branch]);
  fill(s.buf[ms_disp], 4 * s.len[ms_disp]);
  fill(s.buf[ms_binary], s.len[ms_binary]);
  fill(s.buf[ms_record], s.len[ms_record]);
  fill(s.buf[ms_text], s.len[ms_text]);
  uint8_t* out = arena_alloc(block_size * blocks + 1);
  fuzz::guarded([&] { mixed_inverse(out, s); });
  arena_free(out);
  mixed_release(s);
  return 0;
}
