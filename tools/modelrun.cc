// Developer tool: runs one model over a file in both directions and prints
// the coded size, bits per byte, speed each way, peak memory and what the
// model's table held (distinct buckets, index entries, bytes touched).
//   modelrun [-9] MODEL FILE
//   modelrun [-9] streams FILE   every model call of the file's method, one
//                                line each (compress direction, one thread)
// -9 runs the strong methods' models.
// MODEL: byte, x86, block (the file is the stream); word (the file is a
// text: its word-code stream); disp, record (the file is cut by the mixed
// parser: its displacement or record stream).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mixed/mixed.h"
#include "models/model.h"
#include "text/stat.h"
#include "text/text.h"
#include "util/arena.h"
#include "util/files.h"

using namespace vesk;

namespace {

constexpr int64_t history = 1024;

bool strong = false;  // -9: the strong methods' models

model_options run_options(table_stats* st) {
  model_options o{{0, false, st}};
  o.strong = strong;
  return o;
}

// A stream in a buffer with zero history in front and a zero tail.
struct stream {
  std::vector<uint8_t> buf;
  int64_t len = 0;
  std::vector<uint8_t> mismatch, period;  // record model only
  uint8_t* data() { return buf.data() + history; }
};

stream wrap(const uint8_t* p, int64_t n) {
  stream s;
  s.buf.assign(static_cast<size_t>(history + n + 64), 0);
  if (p != nullptr && n > 0) std::memcpy(s.data(), p, static_cast<size_t>(n));
  s.len = n;
  return s;
}

stream prepare(const std::string& model, const std::vector<uint8_t>& file) {
  const auto n = static_cast<int64_t>(file.size());
  if (model == "word") {
    std::vector<uint8_t> a(file.size() + 2, ' ');
    std::memcpy(a.data() + 1, file.data(), file.size());
    text_state t;
    if (const char* why = text_forward(t, a.data(), n + 1)) {
      std::fprintf(stderr, "the text method cannot code this file: %s\n", why);
      std::exit(1);
    }
    stream s = wrap(t.codes, 4 * t.codesc);
    text_release_streams(t);
    return s;
  }
  if (model == "disp" || model == "record") {
    std::vector<uint8_t> in(static_cast<size_t>(input_history + n + block_size + 1), 0);
    std::memcpy(in.data() + input_history, file.data(), file.size());
    mixed_streams m;
    mixed_parse(in.data() + input_history, n, m);
    stream s = model == "disp" ? wrap(m.disp, 4 * m.dispc) : wrap(m.record, m.recordc);
    s.mismatch.assign(m.mismatch, m.mismatch + m.mismatchc + 8);
    s.period.assign(m.period, m.period + m.periodc + 8);
    mixed_release(m);
    return s;
  }
  return wrap(file.data(), n);
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Codes one stream and prints what its table held.
void report(const char* name, uint8_t* data, int64_t len,
            const std::function<void(uint8_t*, int32_t, coder&, int, const model_options&)>& fn) {
  stream in = wrap(data, len);
  std::vector<uint8_t> packed(static_cast<size_t>(2 * len + 65536));
  coder k;
  coder_init_encode(k, packed.data(), packed.size());
  table_stats st;
  const auto t0 = std::chrono::steady_clock::now();
  fn(in.data(), static_cast<int32_t>(len), k, compress_dir, run_options(&st));
  const double t = seconds_since(t0);
  std::printf(
      "%-10s %12lld bytes -> %11zu  %7.2f s  %10llu buckets  index %10llu  touched %8.1f MB"
      "  %5.1f B/bucket\n",
      name, static_cast<long long>(len), coder_length(k), t,
      static_cast<unsigned long long>(st.buckets),
      static_cast<unsigned long long>(st.index_entries),
      static_cast<double>(st.bytes_touched) / 1e6,
      st.buckets ? static_cast<double>(st.bytes_touched) / static_cast<double>(st.buckets) : 0.0);
}

// Every model call of the file's method, as the containers make them.
int streams(const char* path, const std::vector<uint8_t>& file) {
  const auto n = static_cast<int64_t>(file.size());
  const std::string p = path;
  if (p.size() >= 4 && p.compare(p.size() - 4, 4, ".txt") == 0) {
    std::vector<uint8_t> a(file.size() + 2, ' ');
    std::memcpy(a.data() + 1, file.data(), file.size());
    text_state t;
    text_forward(t, a.data(), n + 1);
    report("words", t.codes, 4 * t.codesc, wordcode_model);
    report("dictionary", t.list, t.listc, byte_model);
    text_release_streams(t);
    return 0;
  }
  std::vector<uint8_t> in(static_cast<size_t>(input_history + n + block_size + 1), 0);
  std::memcpy(in.data() + input_history, file.data(), file.size());
  mixed_streams m;
  mixed_parse(in.data() + input_history, n, m);
  std::vector<uint8_t> mismatch(m.mismatch, m.mismatch + m.mismatchc + 8);
  std::vector<uint8_t> period(m.period, m.period + m.periodc + 8);
  auto record = [&](uint8_t* b, int32_t len, coder& k, int dir, const model_options& l) {
    record_model(b, len, k, dir, mismatch.data(), period.data(), l);
  };
  report("period", m.period, m.periodc, byte_model);
  report("mismatch", m.mismatch, m.mismatchc, byte_model);
  report("record", m.record, m.recordc, record);
  report("blocktype", m.blocktype, m.blocktypec, byte_model);
  report("binary", m.binary, m.binaryc, block_model);
  report("x86", m.x86, m.x86c, x86_model);
  report("disp", m.disp, 4 * m.dispc, disp_model);
  report("branch", m.branch, m.branchc, byte_model);
  report("text", m.text, m.textc, block_model);
  mixed_release(m);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string usage =
      "usage: modelrun [-9] MODEL FILE  (MODEL: byte word x86 block disp record streams)\n";
  if (argc == 4 && std::strcmp(argv[1], "-9") == 0) {
    strong = true;
    argv++;
    argc--;
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
  arena_init();
  stat_init();
  std::vector<uint8_t> file(static_cast<size_t>(n));
  read_file(argv[2], file.data(), static_cast<uint64_t>(n));
  if (name == "streams") return streams(argv[2], file);
  stream in = prepare(name, file);

  std::function<void(uint8_t*, int32_t, coder&, int, const model_options&)> fn;
  if (name == "byte") fn = byte_model;
  if (name == "word") fn = wordcode_model;
  if (name == "x86") fn = x86_model;
  if (name == "block") fn = block_model;
  if (name == "disp") fn = disp_model;
  if (name == "record") {
    fn = [&](uint8_t* b, int32_t len, coder& k, int dir, const model_options& l) {
      record_model(b, len, k, dir, in.mismatch.data(), in.period.data(), l);
    };
  }
  if (!fn) {
    std::fputs(usage.c_str(), stderr);
    return 1;
  }
  const int64_t len = in.len;
  std::vector<uint8_t> packed(static_cast<size_t>(2 * len + 65536));
  stream back = wrap(nullptr, len);

  coder k;
  coder_init_encode(k, packed.data(), packed.size());
  auto t0 = std::chrono::steady_clock::now();
  table_stats st;
  fn(in.data(), static_cast<int32_t>(len), k, compress_dir, run_options(&st));
  double tc = seconds_since(t0);
  size_t packed_len = coder_length(k);

  coder_init_decode(k, packed.data(), packed_len);
  t0 = std::chrono::steady_clock::now();
  fn(back.data(), static_cast<int32_t>(len), k, decompress_dir, run_options(nullptr));
  double td = seconds_since(t0);
  bool same = std::memcmp(in.data(), back.data(), static_cast<size_t>(len)) == 0;
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
