// Developer tool: runs one model over a file in both directions and prints
// the coded size, bits per byte, speed each way and peak memory.
//   modelrun MODEL FILE      MODEL: byte
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "models/model.h"
#include "text/stat.h"
#include "util/arena.h"
#include "util/files.h"

using namespace vesk;

namespace {

using model_fn = void (*)(uint8_t*, int32_t, coder&, int);

struct entry {
  const char* name;
  model_fn fn;
  int history;  // zero bytes the model reads in front of its stream
};

constexpr entry models[] = {
    {"byte", byte_model, 256},
};

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: modelrun MODEL FILE   (MODEL: byte)\n");
    return 1;
  }
  const entry* m = nullptr;
  for (const auto& e : models)
    if (std::strcmp(e.name, argv[1]) == 0) m = &e;
  if (m == nullptr) {
    std::fprintf(stderr, "unknown model %s\n", argv[1]);
    return 1;
  }
  int64_t n = file_size(argv[2]);
  if (n < 0 || n > INT32_MAX / 2) {
    std::fprintf(stderr, "cannot use %s\n", argv[2]);
    return 1;
  }
  arena_init();
  const int64_t h = m->history;
  uint8_t* data = arena_alloc_zeroed(n + 2 * h);
  read_file(argv[2], data + h, static_cast<uint64_t>(n));
  const int64_t cap = n + n / 2 + 65536;
  uint8_t* packed = arena_alloc(cap);
  uint8_t* back = arena_alloc_zeroed(n + 2 * h);

  coder k;
  coder_init_encode(k, packed, static_cast<size_t>(cap));
  auto t0 = std::chrono::steady_clock::now();
  m->fn(data + h, static_cast<int32_t>(n), k, compress_dir);
  double tc = seconds_since(t0);
  size_t packed_len = coder_length(k);

  coder_init_decode(k, packed, packed_len);
  t0 = std::chrono::steady_clock::now();
  m->fn(back + h, static_cast<int32_t>(n), k, decompress_dir);
  double td = seconds_since(t0);
  bool same = std::memcmp(data + h, back + h, static_cast<size_t>(n)) == 0;
  bool exact_end = coder_length(k) == packed_len && k.overrun == 0;

  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  double mb = static_cast<double>(n) / 1e6;
  std::printf("%s %s: %lld -> %zu bytes, %.4f bpb, compress %.3f s (%.2f MB/s), "
              "decompress %.3f s (%.2f MB/s), peak RSS %.1f MB, %s%s\n",
              m->name, argv[2], static_cast<long long>(n), packed_len,
              n ? 8.0 * static_cast<double>(packed_len) / static_cast<double>(n) : 0.0, tc,
              mb / tc, td, mb / td, static_cast<double>(ru.ru_maxrss) / 1024.0,
              same ? "round trip ok" : "ROUND TRIP FAILED",
              exact_end ? "" : " (decoder did not end at the coded end)");
  if (FILE* f = std::fopen("/proc/self/smaps_rollup", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::strncmp(line, "AnonHugePages", 13) == 0) std::printf("%s", line);
    std::fclose(f);
  }
  return same && exact_end ? 0 : 1;
}
