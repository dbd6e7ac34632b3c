// The arena: one large region reserved at start-up and used as a stack of
// blocks, released strictly last-in-first-out. Every block is framed by two
// one-page guard zones filled with a guard word and checked on release, so a
// write past either end of a table is caught at the latest when it is freed.
#pragma once

#include <cstdint>

namespace vesk {

constexpr int64_t arena_size = 15'000'000'000;
constexpr int64_t arena_page = 4096;
constexpr uint64_t arena_guard_word = 0x3840384338403841;

// Worker threads that code streams beside the main thread each have a
// region of their own, large enough for one model's table (8 GiB and its
// index) at a time.
constexpr int arena_workers = 1;
constexpr int64_t arena_worker_size = 11'000'000'000;

// Frames coded side by side: each frame thread has a region of its own,
// as large as the main one, since it runs whole methods.
constexpr int arena_frame_workers = 64;

// Reserves the region (untouched pages cost no memory) and installs the
// handler for segmentation faults. Called once, before any allocation.
void arena_init();

// Makes the calling thread allocate from worker region `worker` (reserved on
// first use, kept for the process's life). Every other thread allocates from
// the main region.
void arena_use_worker(int worker);

// Makes the calling thread allocate from frame region `worker` (reserved on
// first use, kept for the process's life).
void arena_use_frame_worker(int worker);

// Pushes a block of at least n + 1 usable bytes, page-aligned. Its contents
// are whatever an earlier block left there.
uint8_t* arena_alloc(int64_t n);

// As arena_alloc, but the usable bytes read as zero. Pages that no block has
// touched yet are zero already; pages an earlier block dirtied are handed
// back to the kernel, which maps fresh zero pages on the next touch. Cost is
// in proportion to what is touched later, not to n.
uint8_t* arena_alloc_zeroed(int64_t n);

// As arena_alloc, and tells how many bytes from the block's start may hold
// what earlier blocks left there; beyond them the block reads as zero. For
// callers that clear only what they use, as they come to use it.
uint8_t* arena_alloc_dirty(int64_t n, int64_t* dirty);

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

// Bytes of the calling thread's region in use and the highest value that
// has reached.
int64_t arena_allocated();
int64_t arena_peak();
int64_t arena_blocks();

}  // namespace vesk
