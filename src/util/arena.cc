#include "util/arena.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "util/fail.h"

namespace vesk {

namespace {

constexpr int64_t region_alignment = int64_t{1} << 30;
constexpr int64_t table_entries = 500'000;
constexpr int64_t guard_words = arena_page / 8;

uint8_t* allocstore = nullptr;
int64_t alloclimit = 0;
int64_t* alloctable = nullptr;  // offset of each live block's usable bytes
int64_t alloctablec = 0;
int64_t allocated = 0;   // always a multiple of the page size
int64_t alloc_peak = 0;  // bytes beyond this offset have never been touched

void fill_guard(uint8_t* zone) {
  auto* w = reinterpret_cast<uint64_t*>(zone);
  for (int64_t i = 0; i < guard_words; i++) w[i] = arena_guard_word;
}

// A fault is a crash, never a clean refusal: the partial output goes, and
// the process ends by the same signal so that the caller sees a crash.
void on_segfault(int sig) {
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

}  // namespace

void arena_init() {
  check(allocstore == nullptr, "allocstore==NULL");
  alloclimit = arena_size;
  // Reserve address space only; pages are backed on first touch. Over-reserve
  // by the alignment and trim, which is what an aligned allocation does.
  size_t span = static_cast<size_t>(alloclimit + region_alignment);
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  check(raw != MAP_FAILED, "!posix_memalign((void**)&allocstore,1<<30,alloclimit)");
  auto base = reinterpret_cast<uintptr_t>(raw);
  uintptr_t aligned = (base + region_alignment - 1) & ~uintptr_t(region_alignment - 1);
  if (aligned > base) munmap(raw, aligned - base);
  uintptr_t end = aligned + static_cast<uintptr_t>(alloclimit);
  if (base + span > end) munmap(reinterpret_cast<void*>(end), base + span - end);
  allocstore = reinterpret_cast<uint8_t*>(aligned);
  madvise(allocstore, static_cast<size_t>(alloclimit), MADV_HUGEPAGE);
  alloctable = static_cast<int64_t*>(std::malloc(table_entries * sizeof(int64_t)));
  check(alloctable != nullptr, "alloctable!=NULL");
  allocated = 0;
  alloctablec = 0;
  install_segfault_handler();
}

uint8_t* arena_alloc(int64_t n) {
  check(n >= 0, "n>=0");
  check(alloctablec < table_entries, "alloctablec<500000");
  int64_t t = (n + 3 * arena_page) & ~(arena_page - 1);
  check(alloclimit - allocated > t, "0");
  fill_guard(allocstore + allocated);
  int64_t old = allocated;
  alloctable[alloctablec++] = old + arena_page;
  allocated += t;
  fill_guard(allocstore + allocated - arena_page);
  if (allocated > alloc_peak) alloc_peak = allocated;
  return allocstore + old + arena_page;
}

uint8_t* arena_alloc_dirty(int64_t n, int64_t* dirty) {
  const int64_t dirty_end = alloc_peak;
  uint8_t* a = arena_alloc(n);
  const int64_t start = a - allocstore;
  const int64_t usable = allocated - arena_page - start;
  int64_t d = dirty_end - start;
  if (d > usable) d = usable;
  *dirty = d > 0 ? d : 0;
  return a;
}

uint8_t* arena_alloc_zeroed(int64_t n) {
  int64_t dirty;
  uint8_t* a = arena_alloc_dirty(n, &dirty);
  if (dirty <= 0) return a;
  // Small spans are cheaper to clear by hand than to fault in again.
  constexpr int64_t clear_by_hand = int64_t{1} << 20;
  if (dirty <= clear_by_hand) {
    std::memset(a, 0, static_cast<size_t>(dirty));
  } else {
    check(madvise(a, static_cast<size_t>(dirty), MADV_DONTNEED) == 0, "madvise");
  }
  return a;
}

int arena_free(void* block) {
  auto* a = static_cast<uint8_t*>(block);
  check(alloctablec > 0, "alloctablec>0");
  check(a - allocstore == alloctable[alloctablec - 1], "a-allocstore==alloctable[alloctablec-1]");
  const auto* a2 = reinterpret_cast<const uint64_t*>(a - arena_page);
  for (int64_t i = 0; i < guard_words; i++) check(a2[i] == arena_guard_word, "a2[i]==rand_value");
  const auto* a2b = reinterpret_cast<const uint64_t*>(allocstore + allocated - arena_page);
  for (int64_t i = 0; i < guard_words; i++) check(a2b[i] == arena_guard_word, "a2b[i]==rand_value");
  alloctablec--;
  allocated = alloctable[alloctablec] - arena_page;
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
  while (alloctablec > blocks) arena_free(allocstore + alloctable[alloctablec - 1]);
}

int64_t arena_allocated() {
  return allocated;
}
int64_t arena_peak() {
  return alloc_peak;
}
int64_t arena_blocks() {
  return alloctablec;
}

}  // namespace vesk
