#include "util/arena.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/fail.h"
#include "util/memory_limits.h"

namespace vesk {

namespace {

constexpr int64_t guard_words = arena_page / 8;
constexpr int64_t huge_page = int64_t{2} << 20;

// A new segment for ordinary blocks maps a quarter more than the block that
// needs it, and at least this much, so that the blocks that follow (the
// transforms' buffers, a model's weights) seldom need another.
constexpr int64_t segment_min = int64_t{32} << 20;

// One mapping; blocks are stacked from its start.
struct segment {
  uint8_t* base = nullptr;
  int64_t size = 0;     // bytes mapped, a multiple of the page
  int64_t used = 0;     // [0, used) holds live blocks and their guards
  int64_t touched = 0;  // [0, touched) may hold what earlier blocks left
};

struct block_entry {
  int64_t seg;  // index in `live`
  int64_t at;   // offset of the usable bytes in the segment
  bool growable = false;
};

}  // namespace

// The segments holding live blocks (the last holds the most recent block)
// and the emptied ones kept for reuse; the blocks, in allocation order.
struct arena_region {
  std::vector<segment> live;
  std::vector<segment> spare;
  std::vector<block_entry> blocks;
  int64_t allocated = 0;  // bytes the live blocks take
  int64_t peak = 0;
};

namespace {

arena_region main_region;
thread_local arena_region* current = &main_region;

void fill_guard(uint8_t* zone) {
  auto* w = reinterpret_cast<uint64_t*>(zone);
  for (int64_t i = 0; i < guard_words; i++) w[i] = arena_guard_word;
}

// Bytes a block of n usable bytes takes: two guards and n rounded up to
// the next page strictly above n.
int64_t span_of(int64_t n) {
  return (n + 3 * arena_page) & ~(arena_page - 1);
}

int64_t round_to_page(int64_t n) {
  return (n + arena_page - 1) & ~(arena_page - 1);
}

// Address space only: pages are backed on first touch, and the huge-page
// advice lets a table touched at random fault in 2 MiB at a time. The
// mapping starts on a huge page when the limit leaves room to align it.
uint8_t* map_fresh(int64_t size) {
  const auto span = static_cast<size_t>(size + huge_page);
  constexpr int prot = PROT_READ | PROT_WRITE;
  constexpr int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  void* raw = mmap(nullptr, span, prot, flags, -1, 0);
  uint8_t* base;
  if (raw != MAP_FAILED) {
    const auto at = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (at + huge_page - 1) & ~uintptr_t(huge_page - 1);
    const uintptr_t end = aligned + static_cast<uintptr_t>(size);
    if (aligned > at) munmap(raw, aligned - at);
    if (at + span > end) munmap(reinterpret_cast<void*>(end), at + span - end);
    base = reinterpret_cast<uint8_t*>(aligned);
  } else {
    raw = mmap(nullptr, static_cast<size_t>(size), prot, flags, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    base = static_cast<uint8_t*>(raw);
  }
  madvise(base, static_cast<size_t>(size), MADV_HUGEPAGE);
  return base;
}

// Resizes an empty segment, or the one whose only block is growing; its
// contents move with it. In place when the address space behind it is
// free; else onto a fresh mapping that starts on a huge page as the
// segment does, since a move that shifts the pages within their huge page
// splits every huge page into small ones (and a table touched at random
// then runs several times slower); else anywhere. False when the system
// refuses.
bool remap(segment& s, int64_t size) {
  const auto old_size = static_cast<size_t>(s.size), new_size = static_cast<size_t>(size);
  void* p = mremap(s.base, old_size, new_size, 0);
  if (p == MAP_FAILED) {
    if (uint8_t* dest = map_fresh(size)) {
      p = mremap(s.base, old_size, new_size, MREMAP_MAYMOVE | MREMAP_FIXED, dest);
      if (p == MAP_FAILED) munmap(dest, new_size);
    }
  }
  if (p == MAP_FAILED) p = mremap(s.base, old_size, new_size, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) return false;
  s.base = static_cast<uint8_t*>(p);
  s.size = size;
  madvise(s.base, new_size, MADV_HUGEPAGE);
  return true;
}

void unmap(segment& s) {
  munmap(s.base, static_cast<size_t>(s.size));
  s = segment{};
}

// Returns the spare segments' address space, so that a mapping the limit
// refused may fit after all.
void drop_spares(arena_region& r) {
  for (segment& s : r.spare) unmap(s);
  r.spare.clear();
}

// Sizes a segment to hold `need` bytes: `generous` if the system allows,
// else exactly `need` (after giving up the spares). Stops the run when even
// that is refused. s may be a fresh (unmapped) segment.
void fit_segment(arena_region& r, segment& s, int64_t need, int64_t generous) {
  auto attempt = [&](int64_t size) {
    if (s.base == nullptr) {
      s.base = map_fresh(size);
      if (s.base == nullptr) return false;
      s.size = size;
      s.touched = 0;
      return true;
    }
    return remap(s, size);
  };
  generous = round_to_page(std::max(generous, need));
  if (attempt(generous)) return;
  if (attempt(need)) return;
  drop_spares(r);
  if (attempt(need)) return;
  refuse_memory(need - s.size);
}

// Puts on top of the live segments one that can take a block of t bytes:
// a spare one if any suits, else a new mapping. A growable block takes the
// largest spare (the most resident pages for a table to reuse); another
// block the smallest that fits, unless even that is far too large (better
// keep it for a table) and the region holds other blocks already (the
// first takes what the region reserved).
segment& push_segment(arena_region& r, int64_t t, bool growable) {
  int64_t pick = -1;
  const int64_t most = r.live.empty() ? INT64_MAX : 4 * std::max(t, segment_min);
  for (int64_t i = 0; i < static_cast<int64_t>(r.spare.size()); i++) {
    const segment& s = r.spare[static_cast<size_t>(i)];
    if (growable) {
      if (pick < 0 || s.size > r.spare[static_cast<size_t>(pick)].size) pick = i;
    } else if (s.size >= t && s.size <= most &&
               (pick < 0 || s.size < r.spare[static_cast<size_t>(pick)].size)) {
      pick = i;
    }
  }
  segment s;
  if (pick >= 0) {
    s = r.spare[static_cast<size_t>(pick)];
    r.spare.erase(r.spare.begin() + pick);
  }
  if (s.size < t) {
    // Kept out of the spares while it is resized: dropping them under a
    // tight limit must not unmap it.
    const int64_t generous = growable ? t : std::max(t + t / 4, segment_min);
    fit_segment(r, s, t, generous);
  }
  r.live.push_back(s);
  return r.live.back();
}

uint8_t* push_block(int64_t n, int64_t* dirty, bool growable) {
  arena_region& r = *current;
  check(n >= 0, "n>=0");
  const int64_t t = span_of(n);
  check(arena_size - r.allocated > t, "0");
  segment* s = r.live.empty() ? nullptr : &r.live.back();
  if (growable || s == nullptr || s->size - s->used < t) s = &push_segment(r, t, growable);
  const int64_t o = s->used;
  fill_guard(s->base + o);
  fill_guard(s->base + o + t - arena_page);
  const int64_t start = o + arena_page, usable = t - 2 * arena_page;
  if (dirty != nullptr) *dirty = std::clamp<int64_t>(s->touched - start, 0, usable);
  s->used = o + t;
  s->touched = std::max(s->touched, s->used);
  r.blocks.push_back({static_cast<int64_t>(r.live.size()) - 1, start, growable});
  r.allocated += t;
  r.peak = std::max(r.peak, r.allocated);
  return s->base + start;
}

}  // namespace

arena_thread_region::arena_thread_region(int64_t reserve)
    : region(new arena_region), previous(current) {
  if (reserve > 0) {
    segment s;
    fit_segment(*region, s, round_to_page(reserve), 0);
    region->spare.push_back(s);
  }
  current = region;
}

arena_thread_region::~arena_thread_region() {
  // A failure that unwound past the blocks' owners leaves them here: the
  // region goes with them.
  for (segment& s : region->live) unmap(s);
  drop_spares(*region);
  delete region;
  current = previous;
}

uint8_t* arena_alloc(int64_t n) {
  return push_block(n, nullptr, false);
}

uint8_t* arena_alloc_dirty(int64_t n, int64_t* dirty) {
  return push_block(n, dirty, false);
}

uint8_t* arena_alloc_growable(int64_t n, int64_t* dirty) {
  return push_block(n, dirty, true);
}

uint8_t* arena_alloc_zeroed(int64_t n) {
  int64_t dirty;
  uint8_t* a = push_block(n, &dirty, false);
  // Pages an earlier block touched are resident: clearing them by hand costs
  // less than handing them back and having the kernel fault them in and
  // clear them again.
  if (dirty > 0) std::memset(a, 0, static_cast<size_t>(dirty));
  return a;
}

arena_growth arena_grow(void* block, int64_t need, int64_t want) {
  arena_region& r = *current;
  check(!r.blocks.empty(), "alloctablec>0");
  const block_entry e = r.blocks.back();
  segment& s = r.live[static_cast<size_t>(e.seg)];
  check(static_cast<uint8_t*>(block) - s.base == e.at && e.at == arena_page && e.growable,
        "a growing block is the most recent, alone in its segment, and taken as growable");
  check(need >= 0, "n>=0");
  const int64_t t_need = std::max(span_of(need), s.used);
  check(arena_size - (r.allocated - s.used) > t_need, "0");
  if (t_need > s.size) fit_segment(r, s, t_need, std::max(span_of(want), t_need));
  // The block takes its whole segment: a later growth within it moves nothing.
  const int64_t t = s.size;
  const int64_t usable = t - 2 * arena_page;
  const int64_t dirty = std::clamp<int64_t>(s.touched - arena_page, 0, usable);
  fill_guard(s.base + t - arena_page);
  r.allocated += t - s.used;
  r.peak = std::max(r.peak, r.allocated);
  s.used = t;
  s.touched = t;
  return {s.base + arena_page, usable, dirty};
}

int arena_free(void* block) {
  arena_region& r = *current;
  auto* a = static_cast<uint8_t*>(block);
  check(!r.blocks.empty(), "alloctablec>0");
  const block_entry e = r.blocks.back();
  segment& s = r.live[static_cast<size_t>(e.seg)];
  check(a - s.base == e.at, "a-allocstore==alloctable[alloctablec-1]");
  const auto* a2 = reinterpret_cast<const uint64_t*>(a - arena_page);
  for (int64_t i = 0; i < guard_words; i++) check(a2[i] == arena_guard_word, "a2[i]==rand_value");
  const auto* a2b = reinterpret_cast<const uint64_t*>(s.base + s.used - arena_page);
  for (int64_t i = 0; i < guard_words; i++) check(a2b[i] == arena_guard_word, "a2b[i]==rand_value");
  r.blocks.pop_back();
  r.allocated -= s.used - (e.at - arena_page);
  s.used = e.at - arena_page;
  if (s.used == 0) {
    r.spare.push_back(s);
    r.live.pop_back();
  }
  return 1;
}

void arena_free_n(int count, ...) {
  constexpr int most = 32;
  check(count <= most, "count<=32");
  void* a[most];
  va_list args;
  va_start(args, count);
  for (int i = 0; i < count; i++) a[i] = va_arg(args, void*);
  va_end(args);
  for (int i = 0; i < count; i++) check(a[i] != nullptr, "a[i]");
  for (int i = count - 1; i >= 0; i--) arena_free(a[i]);
}

void arena_unwind(int64_t blocks) {
  arena_region& r = *current;
  while (static_cast<int64_t>(r.blocks.size()) > blocks) {
    const block_entry e = r.blocks.back();
    arena_free(r.live[static_cast<size_t>(e.seg)].base + e.at);
  }
}

int64_t arena_allocated() {
  return current->allocated;
}
int64_t arena_peak() {
  return current->peak;
}
int64_t arena_blocks() {
  return static_cast<int64_t>(current->blocks.size());
}
int64_t arena_mapped() {
  int64_t m = 0;
  for (const segment& s : current->live) m += s.size;
  for (const segment& s : current->spare) m += s.size;
  return m;
}

}  // namespace vesk
