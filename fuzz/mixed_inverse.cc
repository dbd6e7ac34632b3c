// The mixed inverse on arbitrary streams whose lengths pass the checks the
// container makes before it: input = a header (block count, binary, record
// and text block counts, x86c, branchc and dispc as bytes or 16-bit
// values; a block count of 128 or more keeps the block types as they come,
// else they are taken mod 4), then the streams' bytes, taken in turn
// (zeros once the input is used up).
#include "harness.h"
#include "mixed/mixed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  if (size < 10) return 0;
  const int64_t blocks = data[0] % 40;
  const int64_t nb = data[1], nr = data[2], nt = data[3];
  if (nb + nr + nt > blocks) return 0;
  const int64_t x86_bytes = block_size * (blocks - nb - nr - nt);
  const int64_t x86c = data[4] | data[5] << 8, branchc = data[6] | data[7] << 8;
  const int64_t dispc = data[8] | data[9] << 8;
  if (x86c > x86_bytes || branchc > branch_capacity(x86_bytes) || dispc > disp_capacity(x86_bytes))
    return 0;
  mixed_streams s;
  mixed_allocate(s, blocks, block_size * nb, block_size * nr, x86_bytes, block_size * nt);
  s.len[ms_x86] = x86c;
  s.len[ms_branch] = branchc;
  s.len[ms_disp] = dispc;
  s.len[ms_blocktype] = blocks;
  s.len[ms_binary] = block_size * nb;
  s.len[ms_record] = block_size * nr;
  s.len[ms_text] = block_size * nt;
  s.len[ms_period] = (s.len[ms_record] + period_chunk - 1) / period_chunk;
  s.len[ms_mismatch] = s.len[ms_record] / 8 + 1;
  size_t at = 10;
  for (const mixed_stream w : {ms_blocktype, ms_x86, ms_branch, ms_disp, ms_binary, ms_record, ms_text})
    for (int64_t i = 0; i < (w == ms_disp ? 4 : 1) * s.len[w]; i++)
      s.buf[w][i] = at < size ? data[at++] : 0;
  if ((data[0] & 0x80) == 0)  // else every block type is valid
    for (int64_t b = 0; b < blocks; b++) s.buf[ms_blocktype][b] &= 3;
  uint8_t* out = arena_alloc(block_size * blocks + 1);
  fuzz::guarded([&] { mixed_inverse(out, s); });
  arena_free(out);
  mixed_release(s);
  return 0;
}
