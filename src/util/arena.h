// The arena: the working memory of the models and transforms, used as a
// stack of blocks released strictly last-in-first-out. Every block is framed
// by two one-page guard zones filled with a guard word and checked on
// release, so a write past either end of a table is caught at the latest
// when it is freed.
//
// Each thread allocates from a region: the main thread (and any thread
// without a region of its own) from the main region, a coding thread from
// the region it opens with arena_thread_region. A region maps address space
// as its blocks need it, in segments (a block never spans two), so a small
// file runs under a tight address-space limit and a large one maps what it
// uses. A segment emptied by releases stays mapped for the region's next
// blocks: its pages are resident already, and the next table to use them
// faults nothing in. When the system refuses a mapping the call fails
// (kind memory) with a message that says how much memory it needs and what
// limited it.
#pragma once

#include <cstdint>

namespace vesk {

// The most one region may hold at once (blocks and guards): far beyond
// what any input needs, so a request past it is a fault, not a refusal.
constexpr int64_t arena_size = 15'000'000'000;
constexpr int64_t arena_page = 4096;
constexpr uint64_t arena_guard_word = 0x3840384338403841;

// While it lives, the calling thread allocates from a region of its own;
// other threads are unaffected. `reserve` bytes are mapped at once (say,
// what the thread's frame is expected to need), so that a frame within it
// maps nothing more; a region grows beyond it as needed. When it ends, the
// region's address space is returned, with any block a failure left behind,
// and the thread allocates where it did before. Open one at the start of
// the thread's work and close it at its end.
struct arena_region;
struct arena_thread_region {
  explicit arena_thread_region(int64_t reserve = 0);
  ~arena_thread_region();
  arena_thread_region(const arena_thread_region&) = delete;
  arena_thread_region& operator=(const arena_thread_region&) = delete;
  arena_region* region;
  arena_region* previous;
};

// Pushes a block of at least n + 1 usable bytes, page-aligned. Its contents
// are whatever an earlier block left there.
uint8_t* arena_alloc(int64_t n);

// As arena_alloc, but the usable bytes read as zero. Pages that no block has
// touched yet are zero already; pages an earlier block dirtied are cleared.
// Cost is in proportion to those, not to n.
uint8_t* arena_alloc_zeroed(int64_t n);

// As arena_alloc, and tells how many bytes from the block's start may hold
// what earlier blocks left there; beyond them the block reads as zero. For
// callers that clear only what they use, as they come to use it.
uint8_t* arena_alloc_dirty(int64_t n, int64_t* dirty);

// As arena_alloc_dirty, for a block that may grow later (a table that
// grows as its stream touches more of it): it starts a segment of its own.
uint8_t* arena_alloc_growable(int64_t n, int64_t* dirty);

// Grows a block from arena_alloc_growable, which must be the calling
// thread's most recent one, to at least `need` usable bytes: to all that
// its segment maps, which is `want` or more when the system allows. The
// contents are kept, but the block may move: pointers into it are stale
// after the call. dirty is as for arena_alloc_dirty.
struct arena_growth {
  uint8_t* block;
  int64_t usable;
  int64_t dirty;
};
arena_growth arena_grow(void* block, int64_t need, int64_t want);

// Pops the most recent block, which must be a; checks both guard zones.
int arena_free(void* a);

// Releases count blocks given in allocation order, last first.
void arena_free_n(int count, ...);

template <class... T>
void arena_release(T*... blocks) {
  arena_free_n(static_cast<int>(sizeof...(T)), static_cast<void*>(blocks)...);
}

// Releases the calling thread's most recent blocks until `blocks` remain,
// last first; for in-process harnesses that resume after a stop unwound
// past the owners.
void arena_unwind(int64_t blocks);

// Of the calling thread's region: bytes its blocks take (guards included),
// the highest value that has reached, the number of blocks, and the
// address space it maps.
int64_t arena_allocated();
int64_t arena_peak();
int64_t arena_blocks();
int64_t arena_mapped();

}  // namespace vesk
