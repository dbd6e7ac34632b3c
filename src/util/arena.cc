#include "util/arena.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "util/fail.h"
#include "util/progress.h"

namespace vesk {

namespace {

constexpr int64_t region_alignment = int64_t{1} << 30;
constexpr int64_t table_entries = 500'000;
constexpr int64_t guard_words = arena_page / 8;

// One reserved region used as a stack of blocks.
struct arena_region {
  uint8_t* allocstore = nullptr;
  int64_t alloclimit = 0;
  int64_t* alloctable = nullptr;  // offset of each live block's usable bytes
  int64_t alloctablec = 0;
  int64_t allocated = 0;   // always a multiple of the page size
  int64_t alloc_peak = 0;  // bytes beyond this offset have never been touched
};

// The main thread's region, and one for each worker thread that codes a
// stream beside it. A worker's region lives as long as the process, so the
// pages one stream touched serve the next stream the worker codes.
arena_region main_region;
arena_region worker_regions[arena_workers];
arena_region frame_regions[arena_frame_workers];
thread_local arena_region* current = &main_region;

void fill_guard(uint8_t* zone) {
  auto* w = reinterpret_cast<uint64_t*>(zone);
  for (int64_t i = 0; i < guard_words; i++) w[i] = arena_guard_word;
}

// A fault is a crash, never a clean refusal: the partial output goes, and
// the process ends by the same signal so that the caller sees a crash.
void on_segfault(int sig) {
  progress_abandon_in_signal();
  static const char msg[] = "Segmentation fault\n";
  ssize_t r = write(STDOUT_FILENO, msg, sizeof msg - 1);
  (void)r;
  remove_pending_output();
  signal(sig, SIG_DFL);
  raise(sig);  // delivered when the handler returns, or the faulting access repeats
}

void install_segfault_handler() {
  // An alternate stack lets the handler run after a stack overflow too.
  static uint8_t alt_stack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = alt_stack;
  ss.ss_size = sizeof alt_stack;
  sigaltstack(&ss, nullptr);
  struct sigaction sa {};
  sa.sa_handler = on_segfault;
  sa.sa_flags = SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGSEGV, &sa, nullptr);
  sigaction(SIGBUS, &sa, nullptr);
}

void reserve(arena_region& r, int64_t size) {
  r.alloclimit = size;
  // Reserve address space only; pages are backed on first touch. Over-reserve
  // by the alignment and trim, which is what an aligned allocation does.
  size_t span = static_cast<size_t>(r.alloclimit + region_alignment);
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  check(raw != MAP_FAILED, "!posix_memalign((void**)&allocstore,1<<30,alloclimit)");
  auto base = reinterpret_cast<uintptr_t>(raw);
  uintptr_t aligned = (base + region_alignment - 1) & ~uintptr_t(region_alignment - 1);
  if (aligned > base) munmap(raw, aligned - base);
  uintptr_t end = aligned + static_cast<uintptr_t>(r.alloclimit);
  if (base + span > end) munmap(reinterpret_cast<void*>(end), base + span - end);
  r.allocstore = reinterpret_cast<uint8_t*>(aligned);
  madvise(r.allocstore, static_cast<size_t>(r.alloclimit), MADV_HUGEPAGE);
  r.alloctable = static_cast<int64_t*>(std::malloc(table_entries * sizeof(int64_t)));
  check(r.alloctable != nullptr, "alloctable!=NULL");
  r.allocated = 0;
  r.alloctablec = 0;
}

}  // namespace

void arena_init() {
  check(main_region.allocstore == nullptr, "allocstore==NULL");
  reserve(main_region, arena_size);
  install_segfault_handler();
}

void arena_use_worker(int worker) {
  check(worker >= 0 && worker < arena_workers, "worker<arena_workers");
  arena_region& r = worker_regions[worker];
  if (r.allocstore == nullptr) reserve(r, arena_worker_size);
  current = &r;
}

void arena_use_frame_worker(int worker) {
  check(worker >= 0 && worker < arena_frame_workers, "worker<arena_frame_workers");
  arena_region& r = frame_regions[worker];
  if (r.allocstore == nullptr) reserve(r, arena_size);
  current = &r;
}

uint8_t* arena_alloc(int64_t n) {
  arena_region& r = *current;
  check(n >= 0, "n>=0");
  check(r.alloctablec < table_entries, "alloctablec<500000");
  int64_t t = (n + 3 * arena_page) & ~(arena_page - 1);
  check(r.alloclimit - r.allocated > t, "0");
  fill_guard(r.allocstore + r.allocated);
  int64_t old = r.allocated;
  r.alloctable[r.alloctablec++] = old + arena_page;
  r.allocated += t;
  fill_guard(r.allocstore + r.allocated - arena_page);
  if (r.allocated > r.alloc_peak) r.alloc_peak = r.allocated;
  return r.allocstore + old + arena_page;
}

uint8_t* arena_alloc_dirty(int64_t n, int64_t* dirty) {
  arena_region& r = *current;
  const int64_t dirty_end = r.alloc_peak;
  uint8_t* a = arena_alloc(n);
  const int64_t start = a - r.allocstore;
  const int64_t usable = r.allocated - arena_page - start;
  int64_t d = dirty_end - start;
  if (d > usable) d = usable;
  *dirty = d > 0 ? d : 0;
  return a;
}

uint8_t* arena_alloc_zeroed(int64_t n) {
  int64_t dirty;
  uint8_t* a = arena_alloc_dirty(n, &dirty);
  // Pages an earlier block touched are resident: clearing them by hand costs
  // less than handing them back and having the kernel fault them in and
  // clear them again.
  if (dirty > 0) std::memset(a, 0, static_cast<size_t>(dirty));
  return a;
}

int arena_free(void* block) {
  arena_region& r = *current;
  auto* a = static_cast<uint8_t*>(block);
  check(r.alloctablec > 0, "alloctablec>0");
  check(a - r.allocstore == r.alloctable[r.alloctablec - 1],
        "a-allocstore==alloctable[alloctablec-1]");
  const auto* a2 = reinterpret_cast<const uint64_t*>(a - arena_page);
  for (int64_t i = 0; i < guard_words; i++) check(a2[i] == arena_guard_word, "a2[i]==rand_value");
  const auto* a2b = reinterpret_cast<const uint64_t*>(r.allocstore + r.allocated - arena_page);
  for (int64_t i = 0; i < guard_words; i++) check(a2b[i] == arena_guard_word, "a2b[i]==rand_value");
  r.alloctablec--;
  r.allocated = r.alloctable[r.alloctablec] - arena_page;
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
  while (r.alloctablec > blocks) arena_free(r.allocstore + r.alloctable[r.alloctablec - 1]);
}

int64_t arena_allocated() {
  arena_region& r = *current;
  return r.allocated;
}
int64_t arena_peak() {
  arena_region& r = *current;
  return r.alloc_peak;
}
int64_t arena_blocks() {
  arena_region& r = *current;
  return r.alloctablec;
}

}  // namespace vesk
