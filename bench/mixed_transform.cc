// Benchmark: the mixed parser and inverse over files; prints how the blocks
// were classed and the parse and inverse speeds (medians).
// Usage: bench_mixed_transform FILE... [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/call.h"
#include "util/cores.h"
#include "util/prefault.h"
#include "mixed/mixed.h"
#include "util/arena.h"
#include "cli/files.h"

using namespace vesk;

int main(int argc, char** argv) {
  int runs = 3;
  std::vector<const char*> files;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else {
      files.push_back(argv[i]);
    }
  }
  // A call of the core's: a prefaulter, the cores for streams side by side.
  call_state core_call;
  core_call.threads = usable_cores();
  prefault_queue prefaulter;
  core_call.prefault = &prefaulter;
  const call_scope scope(core_call);
  std::printf("%-24s %10s %7s %7s %7s %7s %9s %9s %10s\n", "file", "bytes", "binary", "record",
              "x86", "text", "literals", "parse", "inverse");
  for (const char* f : files) {
    const int64_t n = file_size(f);
    if (n < 0) continue;
    uint8_t* in = arena_alloc_zeroed(input_history + n + block_size + 1);
    read_file(f, in + input_history, static_cast<uint64_t>(n));
    uint8_t* out = arena_alloc(n + block_size);
    std::vector<double> tp, ti;
    int64_t count[4] = {0, 0, 0, 0}, branches = 0;
    bool ok = true;
    for (int r = 0; r < runs; r++) {
      mixed_streams s;
      auto t0 = std::chrono::steady_clock::now();
      mixed_parse(in + input_history, n, s);
      auto t1 = std::chrono::steady_clock::now();
      ok = ok && mixed_inverse(out, s) &&
           std::memcmp(out, in + input_history, static_cast<size_t>(n)) == 0;
      auto t2 = std::chrono::steady_clock::now();
      for (int t = 0; t < 4; t++) count[t] = 0;
      for (int64_t b = 0; b < s.len[ms_blocktype]; b++) count[s.buf[ms_blocktype][b]]++;
      branches = s.len[ms_disp];
      mixed_release(s);
      tp.push_back(std::chrono::duration<double>(t1 - t0).count());
      ti.push_back(std::chrono::duration<double>(t2 - t1).count());
    }
    std::sort(tp.begin(), tp.end());
    std::sort(ti.begin(), ti.end());
    const double blocks =
        static_cast<double>(std::max<int64_t>(1, count[0] + count[1] + count[2] + count[3]));
    double share[4];
    for (int t = 0; t < 4; t++) share[t] = 100.0 * static_cast<double>(count[t]) / blocks;
    const double mb = static_cast<double>(n) / 1e6;
    const char* name = std::strrchr(f, '/') ? std::strrchr(f, '/') + 1 : f;
    std::printf("%-24s %10lld %6.1f%% %6.1f%% %6.1f%% %6.1f%% %9lld %6.0f MB/s %6.0f MB/s%s\n",
                name, static_cast<long long>(n), share[0], share[1], share[2], share[3],
                static_cast<long long>(branches), mb / tp[tp.size() / 2], mb / ti[ti.size() / 2],
                ok ? "" : "  ROUND TRIP FAILED");
    arena_release(in, out);
  }
  return 0;
}
