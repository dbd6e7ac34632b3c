// Fits the byte predictor's probability rows (src/coding/predictor_rows.h)
// to a training corpus, for the smallest coded size.
//
//   predictor_rows [--keep-preset P] FILE... > src/coding/predictor_rows.h
//
// The files are cut as vesk cuts them (a name ending in .txt by the text
// method, any other by the mixed method) into the model calls that use the
// byte predictor: preset 0 (rows 0..2: the byte, block and x86 models) and
// preset 3 (rows 3..6: the displacement model). Each preset's rows are
// chosen to minimise the total coded size of its model calls, coded exactly
// as vesk codes them.
//
// Row 3 is row 1, so preset 0 is fitted first and preset 3 fits rows 4..6
// beside the row 1 that preset 0 chose. A row is its fixed start (the
// counts whose values the format names: 0.5 at count 0, then rows 0, 1, 2
// and 6 begin with set values), then values at knot counts, joined by straight lines in
// the stretch domain over the logarithm of the count. Past its fixed start a
// row never falls: its knots stay between the last fixed value and 0.9999
// (0.9965 for row 0, whose last knot is that value and is not fitted), and
// moving one knot pushes its neighbours along. The knots start at
// the hit rates measured on the training data (how often a candidate of a
// given count was the next byte) and move by coordinate descent: each knot
// in turn tries a step up and a step down (both coded side by side, one per
// core) and, while one gains, goes on that way; the step (0.8, 0.4, 0.2 and
// 0.1 in the stretch domain) halves when a whole pass over the knots finds
// nothing, or after three passes.
// Everything is deterministic: the same files give the same header.
//
// --keep-preset P keeps preset P's rows as the current header has them (rows
// 0..2, or 4..6 for preset 3; row 3 stays row 1), for a preset whose fitted
// rows did not code the held-out data smaller.
#include "util/call.h"
#include "util/cores.h"
#include "util/prefault.h"
#include "coding/predictor_rows.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "coding/byte_predictor.h"
#include "driver/model_calls.h"
#include "mixed/mixed.h"
#include "models/model.h"
#include "models/model_common.h"
#include "text/text.h"
#include "util/arena.h"
#include "util/bytes.h"
#include "cli/files.h"
#include "util/tasks.h"

using namespace vesk;

namespace {

constexpr int64_t history = 1024;
using rows_t = float[7][256];

// One model call: the stream with zero history in front and a zero tail.
struct call {
  std::string name;
  stream_model model;
  int preset;
  std::vector<uint8_t> buf;
  int64_t len;
  const uint8_t* data() const { return buf.data() + history; }
};

// Keeps the calls whose model uses the byte predictor (all but the word
// code and record models), with the preset each uses.
void add(std::vector<call>& calls, const std::string& base, const model_call& m) {
  if (m.bytes <= 0 || m.model == stream_model::word || m.model == stream_model::record) return;
  const int preset = m.model == stream_model::disp ? bp_preset_values : bp_preset_bytes;
  call c{base + " " + m.name, m.model, preset,
         std::vector<uint8_t>(static_cast<size_t>(history + m.bytes + 64), 0), m.bytes};
  std::memcpy(c.buf.data() + history, m.buf, static_cast<size_t>(m.bytes));
  calls.push_back(std::move(c));
}

// The model calls of one file that use the byte predictor.
void cut(const char* path, std::vector<call>& calls) {
  const int64_t n = file_size(path);
  if (n < 0 || n > INT32_MAX / 4) {
    std::fprintf(stderr, "cannot use %s\n", path);
    std::exit(1);
  }
  const std::string name = path;
  const std::string base = name.substr(name.find_last_of('/') + 1);
  if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".txt") == 0) {
    std::vector<uint8_t> a(static_cast<size_t>(n) + 2, ' ');
    read_file(path, a.data() + 1, static_cast<uint64_t>(n));
    text_state t;
    if (const char* why = text_forward(t, a.data(), n + 1)) {
      std::fprintf(stderr, "%s: the text method cannot code it: %s\n", path, why);
      std::exit(1);
    }
    model_call c[text_call_count];
    text_model_calls(t, c);
    for (const model_call& m : c) add(calls, base, m);
    text_release_streams(t);
    return;
  }
  std::vector<uint8_t> in(static_cast<size_t>(input_history + n + block_size + 1), 0);
  read_file(path, in.data() + input_history, static_cast<uint64_t>(n));
  mixed_streams m;
  mixed_parse(in.data() + input_history, n, m);
  model_call c[mixed_stream_count];
  mixed_model_calls(m, c);
  for (const model_call& x : c) add(calls, base, x);
  mixed_release(m);
}

int64_t coded_size(const call& c, const rows_t& rows) {
  std::vector<uint8_t> in = c.buf;  // the model may write its tail
  std::vector<uint8_t> packed(static_cast<size_t>(2 * c.len + 65536));
  coder k;
  coder_init_encode(k, packed.data(), packed.size());
  model_options o;
  o.rows = rows;
  run_model_call({c.name.c_str(), c.model, in.data() + history, c.len}, k, compress_dir, o);
  return static_cast<int64_t>(coder_length(k));
}

int64_t total_size(const std::vector<const call*>& calls, const rows_t& rows) {
  int64_t s = 0;
  for (const call* c : calls) s += coded_size(*c, rows);
  return s;
}

// --- Rows from knots -------------------------------------------------------

double logit(double p) {
  return std::log(p / (1 - p));
}
double logistic(double x) {
  return 1 / (1 + std::exp(-x));
}

// The values the format fixes at the start of each row.
const std::vector<float> fixed_start[7] = {
    {0.5f, 0.27356f, 0.48195f, 0.6698f, 0.7139f, 0.79078f},
    {0.5f, 0.46633f, 0.72673f, 0.82368f, 0.86442f, 0.90939f},
    {0.5f, 0.72149f, 0.87672f, 0.92721f, 0.94f, 0.96056f},
    {0.5f, 0.46633f, 0.72673f, 0.82368f, 0.86442f, 0.90939f},
    {0.5f},
    {0.5f},
    {0.5f, 0.13620f, 0.44800f, 0.65570f},
};
constexpr double row0_end = 0.9965;
constexpr double most = 0.9999;  // no knot is fitted above this

std::vector<int> knots_of(int r) {
  const int from = static_cast<int>(fixed_start[r].size());
  std::vector<int> k;
  for (int c : {1, 2, 3, 4, 6, 10, 16, 32, 64, 128, 255})
    if (c >= from) k.push_back(c);
  return k;
}

struct knot_rows {
  std::vector<double> x[7];  // stretch (natural logit) value at each knot
  bool keep[2] = {};         // preset 0, 3: its rows as the current header has them
};

void make_rows(const knot_rows& kr, rows_t& out) {
  for (int r = 0; r < 7; r++) {
    if (r == 3) continue;
    const std::vector<int> k = knots_of(r);
    const auto& f = fixed_start[r];
    for (size_t c = 0; c < f.size(); c++) out[r][c] = f[c];
    for (int c = static_cast<int>(f.size()); c < 256; c++) {
      size_t j = 0;
      while (j + 1 < k.size() && k[j + 1] <= c) j++;
      double v = kr.x[r][j];
      if (k[j] != c && j + 1 < k.size()) {
        const double t = (std::log(c) - std::log(k[j])) / (std::log(k[j + 1]) - std::log(k[j]));
        v = kr.x[r][j] + t * (kr.x[r][j + 1] - kr.x[r][j]);
      }
      // Rounded as the header prints it, so that the fit codes what it writes.
      out[r][c] = static_cast<float>(std::round(logistic(v) * 1e5) / 1e5);
    }
  }
  for (int r = 0; r < 7; r++)
    if (kr.keep[r < 3 ? 0 : 1]) std::memcpy(out[r], predictor_rows[r], sizeof out[r]);
  std::memcpy(out[3], out[1], sizeof out[3]);  // row 3 is row 1
}

// Hit rates per order and count: how often a candidate with that count
// in a matching slot half was the next byte.
struct tally {
  double seen[256] = {};
  double right[256] = {};
};

void measure(const call& c, tally* t) {
  byte_predictor bp;
  bp_init(bp, c.data(), c.preset == bp_preset_bytes ? 3 : 4, c.preset);
  uint32_t zr = zero_flags_start;
  for (int64_t i = 0; i < c.len; i++) {
    const uint8_t* b = c.data();
    if (c.preset == bp_preset_bytes) {
      bp_predict(bp, i);
    } else {
      zr = zero_flags_next(zr, b[i - 1]);  // as the displacement model keeps them
      bp_predict_values(bp, i, zr);
    }
    for (int j = 0; j < bp.n; j++) {
      const uint64_t s = bp.slots[bp_slots_per_order * j + (bp.hashes[j] & 0xFFF)];
      const uint32_t check = bp.hashes[j] >> 16;
      const auto lo = static_cast<uint32_t>(s), hi = static_cast<uint32_t>(s >> 32);
      const uint32_t e = (lo >> 16) == check ? lo : (hi >> 16) == check ? hi : 0;
      if ((e & 0xFF) == 0) continue;
      t[j].seen[e & 0xFF] += 1;
      t[j].right[e & 0xFF] += ((e >> 8) & 0xFF) == b[i];
    }
    bp.flag_coded = 0;
    bp_update(bp, i);
  }
  bp_free(bp);
}

// The measured rate at count k, pooling neighbouring counts (weighted
// toward k) until there are enough samples.
double rate(const tally& t, int k) {
  constexpr double min_samples = 400;
  double s = t.seen[k], r = t.right[k];
  for (int d = 1; s < min_samples && d < 256; d++) {
    const double w = 1.0 / (1 + d);
    if (k - d >= 1) s += w * t.seen[k - d], r += w * t.right[k - d];
    if (k + d < 256) s += w * t.seen[k + d], r += w * t.right[k + d];
  }
  return s > 0 ? std::clamp(r / s, 0.01, most) : 0.5;
}

// A row rises from its fixed start toward 1: its knots lie between the last
// fixed value (0.01 for rows that fix only count 0) and the row's ceiling,
// and never fall.
double knot_floor(int r) {
  return fixed_start[r].size() > 1 ? logit(fixed_start[r].back()) : logit(0.01);
}
double knot_ceiling(int r) {
  return logit(r == 0 ? row0_end : most);
}

// Sets knot j of row r, within the bounds, and pushes the knots on either
// side along so that the row stays non-decreasing.
void set_knot(knot_rows& kr, int r, size_t j, double v) {
  std::vector<double>& x = kr.x[r];
  x[j] = std::clamp(v, knot_floor(r), knot_ceiling(r));
  for (size_t i = j + 1; i < x.size(); i++) x[i] = std::max(x[i], x[j]);
  for (size_t i = 0; i < j; i++) x[i] = std::min(x[i], x[j]);
}

void start_knots(const std::vector<call>& calls, knot_rows& kr) {
  tally t[7];
  for (const call& c : calls) measure(c, c.preset == bp_preset_bytes ? t : t + 3);
  for (int r = 0; r < 7; r++) {
    if (r == 3) continue;  // row 3 is row 1
    for (int k : knots_of(r)) kr.x[r].push_back(logit(rate(t[r], k)));
    if (r == 0) kr.x[0].back() = logit(row0_end);
    // Left to right, each knot at least the one before.
    for (size_t j = 0; j < kr.x[r].size(); j++) set_knot(kr, r, j, kr.x[r][j]);
  }
}

// --- The search ------------------------------------------------------------

struct fit_result {
  int64_t start = 0, end = 0;
  int evaluations = 0;
};

// Codes the preset's calls with two candidate knot sets side by side.
void sizes_of(const std::vector<const call*>& calls, const knot_rows* cand, int64_t* size) {
  const int order[2] = {0, 1};
  run_tasks(order, 2, [&](int t) {
    rows_t rows;
    make_rows(cand[t], rows);
    size[t] = total_size(calls, rows);
  });
}

void print_knots(int first, int last, const knot_rows& kr) {
  for (int r = first; r <= last; r++) {
    std::fprintf(stderr, "    row %d:", r);
    const std::vector<int> k = knots_of(r);
    for (size_t j = 0; j < k.size(); j++)
      std::fprintf(stderr, " %d:%.5f", k[j], logistic(kr.x[r][j]));
    std::fprintf(stderr, "\n");
  }
}

fit_result fit_preset(int preset, const std::vector<const call*>& calls, knot_rows& kr) {
  // Row 3 is row 1: preset 3 fits rows 4..6 beside it.
  const int first = preset == bp_preset_bytes ? 0 : 4, last = preset == bp_preset_bytes ? 2 : 6;
  rows_t rows;
  make_rows(kr, rows);
  fit_result res;
  res.start = res.end = total_size(calls, rows);
  std::fprintf(stderr, "preset %d: %zu model calls, start %lld bytes\n", preset, calls.size(),
               static_cast<long long>(res.start));
  // The knot moved by d steps, within the fitted range.
  auto moved = [&](const knot_rows& from, int r, size_t j, double d) {
    knot_rows m = from;
    set_knot(m, r, j, m.x[r][j] + d);
    return m;
  };
  for (double step = 0.8; step > 0.09; step /= 2) {
    bool any = true;
    for (int pass = 0; pass < 3 && any; pass++) {
      any = false;
      for (int r = first; r <= last; r++) {
        for (size_t j = 0; j < kr.x[r].size(); j++) {
          if (r == 0 && j + 1 == kr.x[r].size()) continue;  // row 0's end is set
          // One step up and one down; then, while a direction gains, one
          // and two more steps that way.
          knot_rows cand[2] = {moved(kr, r, j, step), moved(kr, r, j, -step)};
          if (cand[0].x[r] == kr.x[r] && cand[1].x[r] == kr.x[r]) continue;  // held by its bounds
          int64_t size[2];
          sizes_of(calls, cand, size);
          res.evaluations += 2;
          int best = size[1] < size[0] ? 1 : 0;
          const double dir = best == 0 ? step : -step;
          while (size[best] < res.end) {
            res.end = size[best];
            kr = cand[best];
            any = true;
            cand[0] = moved(kr, r, j, dir);
            cand[1] = moved(kr, r, j, 2 * dir);
            sizes_of(calls, cand, size);
            res.evaluations += 2;
            best = size[1] < size[0] ? 1 : 0;
          }
        }
      }
      std::fprintf(stderr, "  step %.3f: %lld bytes after %d evaluations\n", step,
                   static_cast<long long>(res.end), res.evaluations);
      print_knots(first, last, kr);
    }
  }
  return res;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> files;
  knot_rows kr;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--keep-preset") == 0 && i + 1 < argc) {
      const int p = std::atoi(argv[++i]);
      if (p != bp_preset_bytes && p != bp_preset_values) {
        std::fprintf(stderr, "presets are %d and %d\n", bp_preset_bytes, bp_preset_values);
        return 1;
      }
      kr.keep[p != bp_preset_bytes] = true;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: predictor_rows [--keep-preset P] FILE... > predictor_rows.h\n");
    return 1;
  }
  // A call of the core's: a prefaulter, the cores for streams side by side.
  call_state core_call;
  core_call.threads = usable_cores();
  prefault_queue prefaulter;
  core_call.prefault = &prefaulter;
  const call_scope scope(core_call);
  std::vector<call> calls;
  for (const char* f : files) cut(f, calls);
  start_knots(calls, kr);

  rows_t rows;
  fit_result res[2];
  int64_t bytes[2] = {};
  for (int p : {bp_preset_bytes, bp_preset_values}) {
    std::vector<const call*> mine;
    for (const call& c : calls)
      if (c.preset == p) mine.push_back(&c), bytes[p != 0] += c.len;
    // Longest first: the sum is the same in any order, and the big calls
    // then meet a fresh arena.
    std::stable_sort(mine.begin(), mine.end(),
                     [](const call* a, const call* b) { return a->len > b->len; });
    if (!kr.keep[p != 0]) res[p != 0] = fit_preset(p, mine, kr);
  }
  make_rows(kr, rows);

  std::printf("// Fitted by tools/predictor_rows (the method is described there) on the\n");
  std::printf("// training corpus of tools/make_training_corpus.sh; do not edit by hand.\n");
  std::printf("// The rows are part of the compressed format.\n");
  for (int p = 0; p < 2; p++) {
    const int preset = p == 0 ? bp_preset_bytes : bp_preset_values;
    if (kr.keep[p]) {
      std::printf("// Preset %d: kept as it was (not fitted).\n", preset);
    } else {
      std::printf(
          "// Preset %d: %lld bytes of streams coded in %lld bytes, %lld with the\n"
          "// measured hit rates (%d evaluations).\n",
          preset, static_cast<long long>(bytes[p]), static_cast<long long>(res[p].end),
          static_cast<long long>(res[p].start), res[p].evaluations);
    }
  }
  std::printf("#pragma once\n\nnamespace vesk {\n\n");
  std::printf("// Probability that a candidate seen k times is right, per row and k.\n");
  std::printf("// Preset 0 uses rows 0..2 (orders of 2, 4, 8 bytes); preset 3 rows 3..6.\n");
  std::printf("inline constexpr float predictor_rows[7][256] = {\n");
  for (int r = 0; r < 7; r++) {
    std::printf("    {  // row %d\n", r);
    for (int k = 0; k < 256; k += 8) {
      std::printf("       ");
      for (int i = k; i < k + 8; i++) std::printf(" %.5ff,", rows[r][i]);
      std::printf("  // %d-%d\n", k, k + 7);
    }
    std::printf("    },\n");
  }
  std::printf("};\n\n}  // namespace vesk\n");
  return 0;
}
