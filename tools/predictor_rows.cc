// Makes the byte predictor's probability rows (src/coding/predictor_rows.h).
//
//   predictor_rows BYTES_FILES... -- VALUE_FILES... > src/coding/predictor_rows.h
//
// The rows say, for each order of a predictor preset and each hit count k of
// a candidate, how likely the candidate is to be right. This tool measures
// exactly that: it runs the predictor's slot bookkeeping over sample data
// and counts, per order and count, how often a matching candidate was the
// next byte. The counts do not depend on the rows themselves (the slots
// learn the same way whatever the rows say), so one pass suffices.
//
// Preset 0 (three orders over the last 2, 4 and 8 bytes) is measured on the
// BYTES_FILES: texts, source code, word lists and x86 binaries, the data of
// the byte, block and x86 models. Preset 3 (four orders keyed for 32-bit
// values) is measured on branch displacements taken from the x86 binaries
// among VALUE_FILES (literal displacements of E8/E9/0F 8x instructions whose
// target was not seen recently, stored most significant byte first, which is
// what the displacement model sees).
//
// Smoothing: each count k pools the samples of neighbouring counts until it
// has at least min_samples, weighted toward k; then the row is made
// non-decreasing from count 6 on (pool-adjacent-violators), its steps are
// averaged over nine neighbours, and it is capped at 0.9999. Counts 0..5 (0..3 for the last order
// of preset 3) keep the fixed values that start each row; count 0 is always 0.5 (no candidate).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "coding/byte_predictor.h"
#include "util/arena.h"
#include "util/bytes.h"
#include "util/files.h"

using namespace vesk;

namespace {

struct tally {
  double seen[256] = {};
  double right[256] = {};
};

std::vector<uint8_t> load(const char* path, size_t history) {
  int64_t n = file_size(path);
  if (n < 0) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(1);
  }
  std::vector<uint8_t> v(static_cast<size_t>(n) + history);
  read_file(path, v.data() + history, static_cast<uint64_t>(n));
  return v;
}

// Counts per order over one stream; hashes(i, h) gives the orders' hashes.
template <class Hashes>
void measure(const std::vector<uint8_t>& data, size_t history, int n, tally* t, Hashes hashes) {
  byte_predictor bp;
  bp_init(bp, data.data() + history, n, 0);
  const auto len = static_cast<int64_t>(data.size() - history);
  for (int64_t i = 0; i < len; i++) {
    uint32_t h[bp_max_orders];
    hashes(bp.buf, i, h);
    bp_predict_hashes(bp, h);
    uint8_t c = bp.buf[i];
    for (int j = 0; j < n; j++) {
      uint64_t s = bp.slots[bp_slots_per_order * j + (h[j] & 0xFFF)];
      uint32_t check = h[j] >> 16;
      auto lo = static_cast<uint32_t>(s), hi = static_cast<uint32_t>(s >> 32);
      uint32_t e = (lo >> 16) == check ? lo : (hi >> 16) == check ? hi : 0;
      if ((e & 0xFF) == 0) continue;
      t[j].seen[e & 0xFF] += 1;
      t[j].right[e & 0xFF] += ((e >> 8) & 0xFF) == c;
    }
    bp.flag_coded = 0;
    bp_update(bp, i);
  }
  bp_free(bp);
}

void bytes_hashes(const uint8_t* buf, int64_t i, uint32_t* h) {
  uint64_t w = get_u64(buf + i - 8);
  constexpr uint64_t mult[3] = {0x1cdadafaa3e6d501, 0x6f8b59b2ef117143, 0x98e39fe0cad652c1};
  constexpr uint32_t flip[3] = {0x25098451, 0x93847698, 0x67918739};
  uint64_t v2 = w >> 48, v4 = w >> 32;
  uint64_t keys[3] = {(v2 << 32) | v2, (v4 << 32) | v4, w};
  for (int j = 0; j < 3; j++) {
    uint64_t m = mult[j] * (keys[j] ^ (keys[j] >> 47));
    h[j] = static_cast<uint32_t>((m ^ (m >> 21)) ^ flip[j]);
  }
}

// The value predictor's keys: the previous value, the same byte of older
// values, and the zero pattern of the last 24 bytes.
void value_hashes(const uint8_t* buf, int64_t i, uint32_t* h) {
  auto b = [&](int k) { return uint32_t{buf[i - k]}; };
  uint32_t zr = 0;
  for (int k = 24; k >= 1; k--) zr = (zr << 1) | (b(k) == 0);
  uint32_t x[4] = {b(4) | b(3) << 8 | b(2) << 16 | b(1) << 24,
                   b(16) | b(32) << 8 | b(48) << 16 | b(64) << 24,
                   b(12) | b(24) << 8 | b(36) << 16 | b(48) << 24, zr & 0xFFFFFF};
  for (int j = 0; j < 4; j++) h[j] = bp_value_hash(x[j]);
}

std::vector<uint8_t> displacements(const std::vector<uint8_t>& code, size_t history) {
  std::vector<uint8_t> out(history, 0);
  std::map<uint32_t, int64_t> first;  // target -> branch index of its first use
  int64_t index = 0;
  for (size_t p = history; p + 5 <= code.size(); p++) {
    uint8_t c = code[p];
    bool branch = c == 0xE8 || c == 0xE9 || ((c & 0xF0) == 0x80 && code[p - 1] == 0x0F);
    if (!branch) continue;
    uint32_t d = get_u32(&code[p + 1]);
    uint32_t target = static_cast<uint32_t>(p) + d + 1;
    auto it = first.find(target);
    if (d != 0 && (it == first.end() || index - it->second > 29997)) {
      for (int k = 3; k >= 0; k--) out.push_back(static_cast<uint8_t>(d >> (8 * k)));
    }
    if (it == first.end()) first[target] = index;
    index++;
    p += 4;
  }
  return out;
}

std::vector<float> smooth(const tally& t, const std::vector<float>& fixed) {
  constexpr double min_samples = 400;
  std::vector<double> p(256, 0.5), w(256, 0);
  for (int k = 1; k < 256; k++) {
    double s = t.seen[k], r = t.right[k];
    for (int d = 1; s < min_samples && d < 256; d++) {
      double wt = 1.0 / (1 + d);
      if (k - d >= 1) s += wt * t.seen[k - d], r += wt * t.right[k - d];
      if (k + d < 256) s += wt * t.seen[k + d], r += wt * t.right[k + d];
    }
    p[k] = s > 0 ? r / s : 0.5;
    w[k] = s;
  }
  // Pool adjacent violators from count 6 on: a non-decreasing row.
  const int from = 6;
  std::vector<double> val, wt;
  std::vector<int> len;
  for (int k = from; k < 256; k++) {
    val.push_back(p[k]);
    wt.push_back(std::max(w[k], 1.0));
    len.push_back(1);
    while (val.size() > 1 && val[val.size() - 2] > val.back()) {
      size_t a = val.size() - 2;
      double tw = wt[a] + wt.back();
      val[a] = (val[a] * wt[a] + val.back() * wt.back()) / tw;
      wt[a] = tw;
      len[a] += len.back();
      val.pop_back(), wt.pop_back(), len.pop_back();
    }
  }
  std::vector<double> steps(256);
  int k = from;
  for (size_t b = 0; b < val.size(); b++)
    for (int i = 0; i < len[b]; i++) steps[k++] = val[b];
  // A moving average over the steps keeps the row non-decreasing.
  std::vector<float> row(256);
  constexpr int half = 4;
  for (int i = from; i < 256; i++) {
    double sum = 0;
    int cnt = 0;
    for (int d = -half; d <= half; d++) {
      int q = std::clamp(i + d, from, 255);
      sum += steps[q];
      cnt++;
    }
    row[i] = static_cast<float>(std::min(sum / cnt, 0.9999));
  }
  for (int i = 0; i < from; i++) row[i] = static_cast<float>(p[i]);
  std::fprintf(stderr, "measured:");
  for (int i = 1; i < 12; i++) std::fprintf(stderr, " %.4f", p[i]);
  std::fprintf(stderr, " ... %.4f\n", p[255]);
  for (size_t i = 0; i < fixed.size(); i++) row[i] = fixed[i];
  // The fixed start must not sit above what follows.
  for (int i = static_cast<int>(fixed.size()); i < 256; i++)
    if (row[i] < row[i - 1] && i >= from) row[i] = row[i - 1];
  return row;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> byte_files, value_files;
  bool values = false;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--") == 0) {
      values = true;
    } else {
      (values ? value_files : byte_files).push_back(argv[i]);
    }
  }
  if (byte_files.empty() || value_files.empty()) {
    std::fprintf(stderr, "usage: predictor_rows BYTES_FILES... -- X86_FILES...\n");
    return 1;
  }
  arena_init();
  tally bytes_t[3], values_t[4];
  constexpr size_t history = 64;
  for (const char* f : byte_files) measure(load(f, history), history, 3, bytes_t, bytes_hashes);
  for (const char* f : value_files)
    measure(displacements(load(f, history), history), history, 4, values_t, value_hashes);

  const std::vector<float> fixed[7] = {
      {0.5f, 0.27356f, 0.48195f, 0.6698f, 0.7139f, 0.79078f},
      {0.5f, 0.46633f, 0.72673f, 0.82368f, 0.86442f, 0.90939f},
      {0.5f, 0.72149f, 0.87672f, 0.92721f, 0.94f, 0.96056f},
      {},  // row 3 is row 1
      {0.5f},
      {0.5f},
      {0.5f, 0.13620f, 0.44800f, 0.65570f},
  };
  std::vector<float> rows[7];
  for (int r = 0; r < 3; r++) rows[r] = smooth(bytes_t[r], fixed[r]);
  rows[3] = rows[1];
  for (int r = 4; r < 7; r++) rows[r] = smooth(values_t[r - 3], fixed[r]);

  std::printf("// Generated by tools/predictor_rows (see the comment there for the method);\n");
  std::printf("// do not edit by hand. The rows are part of the compressed format.\n");
  std::printf("// Samples per order:");
  for (int j = 0; j < 3; j++) {
    double s = 0;
    for (double v : bytes_t[j].seen) s += v;
    std::printf(" %.0f", s);
  }
  std::printf(" |");
  for (int j = 0; j < 4; j++) {
    double s = 0;
    for (double v : values_t[j].seen) s += v;
    std::printf(" %.0f", s);
  }
  std::printf("\n#pragma once\n\nnamespace vesk {\n\n");
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
