#include "driver/classify.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace vesk {

namespace {

constexpr int64_t chunk_bytes = 32768;
constexpr int64_t most_chunks = 32;
constexpr int strides = 5;  // the bytes themselves, then differences at 1 to 4
// 7.8 bits a byte; samples under 1 KiB tell too little to store them.
constexpr int64_t incompressible_q16 = 511'180;
constexpr int64_t least_sample = 1024;
constexpr int64_t prose_least = int64_t{64} << 10;
constexpr int64_t plain_text_least = int64_t{2} << 20;

// A chunk's order-0 entropy under each stride, the smallest, with the bias
// of m counts taken out: an empirical entropy falls short of the true one
// by about (K - 1) / (2 m ln 2) bits for K symbols, 255 for bytes.
int64_t chunk_entropy_q16(const uint8_t* p, int64_t m) {
  int64_t best = INT64_MAX;
  for (int s = 0; s < strides; s++) {
    uint32_t count[256] = {};
    for (int64_t i = s; i < m; i++) count[static_cast<uint8_t>(p[i] - (s ? p[i - s] : 0))]++;
    const int64_t n = m - s;
    if (n <= 0) continue;
    // n log2 n - sum c log2 c, over n.
    int64_t sum = 0;
    for (uint32_t c : count)
      if (c > 1) sum += static_cast<int64_t>(c) * log2_q16(c);
    const int64_t h = (n * log2_q16(static_cast<uint64_t>(n)) - sum) / n;
    best = std::min(best, h);
  }
  // 255 / (2 ln 2) x 65536 = 12,055,836.
  return best + 12'055'836 / m;
}

bool is_digit(uint8_t c) {
  return c >= '0' && c <= '9';
}
bool is_letter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}
bool is_space(uint8_t c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\v';
}

}  // namespace

int64_t log2_q16(uint64_t x) {
  const int e = static_cast<int>(std::bit_width(x)) - 1;
  // x / 2^e in [1, 2) as a fraction of 2^30; each squaring gives a bit.
  uint64_t m = e <= 30 ? x << (30 - e) : x >> (e - 30);
  int64_t frac = 0;
  for (int i = 15; i >= 0; i--) {
    m = (m * m) >> 30;
    if (m >= uint64_t{1} << 31) {
      m >>= 1;
      frac |= int64_t{1} << i;
    }
  }
  return (int64_t{e} << 16) | frac;
}

content_stats sample_content(int64_t size, const content_reader& read) {
  content_stats s;
  if (size <= 0) {
    s.entropy_q16 = int64_t{8} << 16;
    return s;
  }
  const int64_t whole = (size + chunk_bytes - 1) / chunk_bytes;
  const int64_t chunks = std::min(whole, most_chunks);
  std::vector<uint8_t> buf(static_cast<size_t>(chunk_bytes));
  int64_t weighted = 0;
  for (int64_t k = 0; k < chunks; k++) {
    // Spread evenly, the last chunk ending at the input's end.
    const int64_t at = whole <= most_chunks ? k * chunk_bytes
                       : chunks == 1        ? 0
                                            : k * (size - chunk_bytes) / (chunks - 1);
    const int64_t m = std::min(chunk_bytes, size - at);
    read(at, m, buf.data());
    weighted += chunk_entropy_q16(buf.data(), m) * m;
    for (int64_t i = 0; i < m; i++) {
      const uint8_t c = buf[static_cast<size_t>(i)];
      if (c == 0) {
        s.zeros++;
      } else if (c < 0x20 && !is_space(c)) {
        s.controls++;
      } else if (is_digit(c)) {
        s.digits++;
      } else if (!is_letter(c) && !is_space(c)) {
        s.punctuation++;
      }
    }
    s.bytes += m;
  }
  s.entropy_q16 = weighted / s.bytes;
  return s;
}

method method_of_stats(const content_stats& s, int64_t size) {
  if (s.bytes >= least_sample && s.entropy_q16 >= incompressible_q16) return method::stored;
  const int64_t n = std::max<int64_t>(s.bytes, 1);
  const bool text_like = s.zeros == 0 && s.controls * 100 <= n;
  const bool prose = s.digits * 100 <= 3 * n && s.punctuation * 100 <= 12 * n;
  const bool plain = s.digits * 100 < 10 * n && s.punctuation * 100 < 20 * n;
  if (text_like && ((prose && size >= prose_least) || (plain && size >= plain_text_least)))
    return method::text;
  return method::mixed;
}

method method_by_content(int64_t size, const content_reader& read) {
  return method_of_stats(sample_content(size, read), size);
}

method method_by_content(const uint8_t* p, int64_t n) {
  return method_by_content(
      n, [p](int64_t at, int64_t m, uint8_t* dst) { std::copy(p + at, p + at + m, dst); });
}

}  // namespace vesk
