// Benchmark: forward and inverse text transform over one file; prints MB/s
// and peak memory. Usage: bench_text_transform FILE [RUNS]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/call.h"
#include "util/cores.h"
#include "util/prefault.h"
#include "text/text.h"
#include "util/arena.h"
#include "cli/files.h"

using namespace vesk;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_text_transform FILE [RUNS]\n");
    return 1;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  int64_t s = file_size(argv[1]);
  if (s < 0) return 1;
  // A call of the core's: a prefaulter, the cores for streams side by side.
  call_state core_call;
  core_call.threads = usable_cores();
  prefault_queue prefaulter;
  core_call.prefault = &prefaulter;
  const call_scope scope(core_call);
  uint8_t* a = arena_alloc(s + 2);
  read_file(argv[1], a + 1, static_cast<uint64_t>(s));
  a[0] = ' ';
  a[s + 1] = ' ';
  std::vector<double> fwd, inv;
  bool ok = true;
  int64_t codesc = 0, listc = 0, words = 0;
  for (int r = 0; r < runs; r++) {
    auto t0 = std::chrono::steady_clock::now();
    text_state t;
    if (const char* why = text_forward(t, a, s + 1)) {
      std::fprintf(stderr, "the text method cannot code this file: %s\n", why);
      return 1;
    }
    auto t1 = std::chrono::steady_clock::now();
    uint8_t* out = nullptr;
    const char* why = nullptr;
    int64_t n = text_inverse(t.codes, t.codesc, t.list, t.listc, &out, &why);
    auto t2 = std::chrono::steady_clock::now();
    ok = ok && n == s + 1 && std::memcmp(out, a, static_cast<size_t>(s + 1)) == 0;
    std::free(out);
    codesc = t.codesc, listc = t.listc, words = t.list2c;
    text_release_streams(t);
    fwd.push_back(std::chrono::duration<double>(t1 - t0).count());
    inv.push_back(std::chrono::duration<double>(t2 - t1).count());
  }
  std::sort(fwd.begin(), fwd.end());
  std::sort(inv.begin(), inv.end());
  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  double mb = static_cast<double>(s) / 1e6;
  std::printf("%s: %.1f MB, %lld tokens, %lld words, dictionary %lld bytes\n", argv[1], mb,
              static_cast<long long>(codesc), static_cast<long long>(words),
              static_cast<long long>(listc));
  std::printf("forward %.2f MB/s, inverse %.2f MB/s (medians of %d), peak RSS %.0f MB, %s\n",
              mb / fwd[fwd.size() / 2], mb / inv[inv.size() / 2], runs,
              static_cast<double>(ru.ru_maxrss) / 1024.0,
              ok ? "round trip ok" : "ROUND TRIP FAILED");
  return ok ? 0 : 1;
}
