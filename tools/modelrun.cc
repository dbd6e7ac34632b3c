// Developer tool: runs one model over a file in both directions and prints
// the coded size, bits per byte, speed each way, peak memory and what the
// model's table held (distinct buckets, index entries, bytes touched).
//   modelrun [-9] [--direct] MODEL FILE
//   modelrun [-9] [--direct] streams FILE   every model call of the file's
//                                method, one line each (compress direction,
//                                one thread)
// -9 runs the strong methods' models; --direct lays every table out whole,
// one line a bucket selection, as the bound of what a layout can save (the
// same bits, a table of 2 or 8 GiB of address space).
// MODEL: byte, x86, block (the file is the stream); word (the file is a
// text: its word-code stream); disp, record (the file is cut by the mixed
// parser: its displacement or record stream).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "util/call.h"
#include "util/cores.h"
#include "util/prefault.h"
#include "driver/model_calls.h"
#include "mixed/mixed.h"
#include "models/model.h"
#include "text/text.h"
#include "util/arena.h"
#include "cli/files.h"

using namespace vesk;

namespace {

constexpr int64_t history = 1024;

bool strong = false;  // -9: the strong methods' models
bool direct = false;  // --direct: every table in the direct layout

model_options run_options(table_stats* st) {
  model_options o{{0, direct, st}};
  o.strong = strong;
  return o;
}

// A model call's stream copied into a buffer of its own, with zero history
// in front and a zero tail (a model may read and write past its end), and
// copies of the side streams the record model reads.
struct stream {
  std::vector<uint8_t> buf, mismatch, period;
  model_call call{};
  uint8_t* data() { return buf.data() + history; }
};

stream wrap(const model_call& c, int64_t side_bytes = 0) {
  stream s;
  s.buf.assign(static_cast<size_t>(history + c.bytes + 64), 0);
  if (c.buf != nullptr && c.bytes > 0) std::memcpy(s.data(), c.buf, static_cast<size_t>(c.bytes));
  s.call = c;
  s.call.buf = s.data();
  if (c.mismatch != nullptr) {
    s.mismatch.assign(c.mismatch, c.mismatch + side_bytes);
    s.period.assign(c.period, c.period + side_bytes);
    s.call.mismatch = s.mismatch.data();
    s.call.period = s.period.data();
  }
  return s;
}

bool is_text(const char* path) {
  const std::string p = path;
  return p.size() >= 4 && p.compare(p.size() - 4, 4, ".txt") == 0;
}

// Runs fn over every model call of the file as its container cuts it
// (a .txt file by the text method, any other by the mixed method), each
// stream in a buffer of its own.
void each_call(const char* path, const std::vector<uint8_t>& file,
               const std::function<void(stream&)>& fn) {
  const auto n = static_cast<int64_t>(file.size());
  if (is_text(path)) {
    std::vector<uint8_t> a(file.size() + 2, ' ');
    std::memcpy(a.data() + 1, file.data(), file.size());
    text_state t;
    if (const char* why = text_forward(t, a.data(), n + 1)) {
      std::fprintf(stderr, "the text method cannot code this file: %s\n", why);
      std::exit(1);
    }
    model_call c[text_call_count];
    text_model_calls(t, c);
    for (const model_call& x : c) {
      stream s = wrap(x);
      fn(s);
    }
    text_release_streams(t);
    return;
  }
  std::vector<uint8_t> in(static_cast<size_t>(input_history + n + block_size + 1), 0);
  std::memcpy(in.data() + input_history, file.data(), file.size());
  mixed_streams m;
  mixed_parse(in.data() + input_history, n, m, strong);
  model_call c[mixed_stream_count];
  mixed_model_calls(m, c);
  // The side streams as the record model reads them, with their zero tail.
  const int64_t side = std::max(m.len[ms_mismatch], m.len[ms_period]) + 8;
  for (const model_call& x : c) {
    stream s = wrap(x, side);
    fn(s);
  }
  mixed_release(m);
}

// The stream a MODEL argument names: the file itself, or the stream of the
// file that model codes in its container.
stream prepare(stream_model kind, const char* path, const std::vector<uint8_t>& file) {
  if (kind == stream_model::word || kind == stream_model::disp || kind == stream_model::record) {
    stream found;
    each_call(path, file, [&](stream& s) {
      if (s.call.model == kind && found.buf.empty()) found = std::move(s);
    });
    if (found.buf.empty()) {
      std::fprintf(stderr,
                   "%s has no stream for that model (word: a .txt file; disp, record: any other)\n",
                   path);
      std::exit(1);
    }
    return found;  // a moved vector keeps its buffer: the call's pointers stay valid
  }
  stream s =
      wrap({"file", kind, const_cast<uint8_t*>(file.data()), static_cast<int64_t>(file.size())});
  return s;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Codes one stream and prints what its table held.
void report(stream& in) {
  const int64_t len = in.call.bytes;
  std::vector<uint8_t> packed(static_cast<size_t>(2 * len + 65536));
  coder k;
  coder_init_encode(k, packed.data(), packed.size());
  table_stats st;
  const auto t0 = std::chrono::steady_clock::now();
  run_model_call(in.call, k, compress_dir, run_options(&st));
  const double t = seconds_since(t0);
  std::printf(
      "%-10s %12lld bytes -> %11zu  %7.2f s  %10llu buckets  index %10llu  touched %8.1f MB"
      "  %5.1f B/bucket\n",
      in.call.name, static_cast<long long>(len), coder_length(k), t,
      static_cast<unsigned long long>(st.buckets),
      static_cast<unsigned long long>(st.index_entries),
      static_cast<double>(st.bytes_touched) / 1e6,
      st.buckets ? static_cast<double>(st.bytes_touched) / static_cast<double>(st.buckets) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string usage =
      "usage: modelrun [-9] [--direct] MODEL FILE  (MODEL: byte word x86 block disp record "
      "streams)\n";
  for (; argc > 3; argv++, argc--) {
    if (std::strcmp(argv[1], "-9") == 0) {
      strong = true;
    } else if (std::strcmp(argv[1], "--direct") == 0) {
      direct = true;
    } else {
      break;
    }
  }
  if (argc != 3) {
    std::fputs(usage.c_str(), stderr);
    return 1;
  }
  const std::string name = argv[1];
  int64_t n = file_size(argv[2]);
  if (n < 0 || n > INT32_MAX / 2) {
    std::fprintf(stderr, "cannot use %s\n", argv[2]);
    return 1;
  }
  // A call of the core's: a prefaulter, the cores for streams side by side.
  call_state core_call;
  core_call.threads = usable_cores();
  prefault_queue prefaulter;
  core_call.prefault = &prefaulter;
  const call_scope scope(core_call);
  std::vector<uint8_t> file(static_cast<size_t>(n));
  read_file(argv[2], file.data(), static_cast<uint64_t>(n));
  if (name == "streams") {
    each_call(argv[2], file, report);
    return 0;
  }
  const std::pair<const char*, stream_model> kinds[] = {
      {"byte", stream_model::byte}, {"word", stream_model::word},
      {"x86", stream_model::x86},   {"block", stream_model::block},
      {"disp", stream_model::disp}, {"record", stream_model::record}};
  const auto* kind = std::find_if(std::begin(kinds), std::end(kinds),
                                  [&](const auto& k) { return name == k.first; });
  if (kind == std::end(kinds)) {
    std::fputs(usage.c_str(), stderr);
    return 1;
  }
  stream in = prepare(kind->second, argv[2], file);
  const int64_t len = in.call.bytes;
  std::vector<uint8_t> packed(static_cast<size_t>(2 * len + 65536));
  std::vector<uint8_t> back_buf(static_cast<size_t>(history + len + 64), 0);
  model_call back = in.call;
  back.buf = back_buf.data() + history;

  coder k;
  coder_init_encode(k, packed.data(), packed.size());
  auto t0 = std::chrono::steady_clock::now();
  table_stats st;
  run_model_call(in.call, k, compress_dir, run_options(&st));
  double tc = seconds_since(t0);
  size_t packed_len = coder_length(k);

  coder_init_decode(k, packed.data(), packed_len);
  t0 = std::chrono::steady_clock::now();
  run_model_call(back, k, decompress_dir, run_options(nullptr));
  double td = seconds_since(t0);
  bool same = std::memcmp(in.data(), back.buf, static_cast<size_t>(len)) == 0;
  bool exact_end = coder_length(k) == packed_len && k.overrun == 0;

  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  const double mb = static_cast<double>(len) / 1e6;
  std::printf(
      "%s %s: %lld -> %zu bytes, %.4f bpb, compress %.3f s (%.2f MB/s), "
      "decompress %.3f s (%.2f MB/s), peak RSS %.1f MB, %llu buckets, index %llu entries, "
      "%.1f MB touched, %s%s\n",
      name.c_str(), argv[2], static_cast<long long>(len), packed_len,
      len ? 8.0 * static_cast<double>(packed_len) / static_cast<double>(len) : 0.0, tc, mb / tc, td,
      mb / td, static_cast<double>(ru.ru_maxrss) / 1024.0,
      static_cast<unsigned long long>(st.buckets),
      static_cast<unsigned long long>(st.index_entries),
      static_cast<double>(st.bytes_touched) / 1e6, same ? "round trip ok" : "ROUND TRIP FAILED",
      exact_end ? "" : " (decoder did not end at the coded end)");
  return same && exact_end ? 0 : 1;
}
