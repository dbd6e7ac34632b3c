#include "text/stat.h"

#include <bit>
#include <memory>

#include "util/fail.h"

namespace vesk {

namespace {

constexpr double ln2 = 0.6931471805599453;
constexpr double stirling = 1.325748064715542;

// The natural logarithm of an integer, correctly rounded, in plain double
// arithmetic (no libm call, no fused multiply-add: the build forbids
// contraction). The C library's log picks an FMA or a non-FMA version at run
// time and the two differ by an ulp for some arguments, so the costs of the
// word ordering, and with them the coded text, would depend on the CPU.
//
// Double-double pieces: a value is hi + lo with |lo| <= ulp(hi) / 2.
struct dd {
  double hi, lo;
};

dd two_sum(double a, double b) {  // exact: hi + lo == a + b
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

dd fast_two_sum(double a, double b) {  // exact when |a| >= |b|
  const double s = a + b;
  return {s, b - (s - a)};
}

dd two_prod(double a, double b) {  // exact: Veltkamp's split, Dekker's product
  constexpr double splitter = 134217729.0;  // 2^27 + 1
  const double p = a * b;
  const double ta = splitter * a, tb = splitter * b;
  const double ah = ta - (ta - a), al = a - ah;
  const double bh = tb - (tb - b), bl = b - bh;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

dd dd_add(dd a, dd b) {
  dd s = two_sum(a.hi, b.hi);
  const dd t = two_sum(a.lo, b.lo);
  s = fast_two_sum(s.hi, s.lo + t.hi);
  return fast_two_sum(s.hi, s.lo + t.lo);
}

dd dd_mul(dd a, dd b) {
  const dd p = two_prod(a.hi, b.hi);
  return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

dd dd_div(dd a, dd b) {  // three quotient digits
  const double q1 = a.hi / b.hi;
  dd r = dd_add(a, dd_mul(b, {-q1, 0}));
  const double q2 = r.hi / b.hi;
  r = dd_add(r, dd_mul(b, {-q2, 0}));
  const double q3 = r.hi / b.hi;
  return dd_add(fast_two_sum(q1, q2), {q3, 0});
}

double magnitude(double x) {
  return x < 0 ? -x : x;
}

// ln(y) = 2 atanh(s), s = (y - 1) / (y + 1), from y - 1 and y + 1: the
// series s + s^3/3 + s^5/5 + ... summed until a term falls below 2^-112 of
// the sum. |s| <= 1/3 for the y used here, so at most about 35 terms.
dd ln_series(dd ym1, dd yp1) {
  const dd s = dd_div(ym1, yp1);
  const dd s2 = dd_mul(s, s);
  dd sum = {0, 0}, power = s;
  for (int k = 1; k < 400; k += 2) {
    const dd term = dd_div(power, {static_cast<double>(k), 0});
    sum = dd_add(sum, term);
    if (magnitude(term.hi) <= 0x1p-112 * magnitude(sum.hi)) break;
    power = dd_mul(power, s2);
  }
  return dd_add(sum, sum);
}

constexpr dd ln2_dd = {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56};

// Argument reduction: a = 2^e m, 1 <= m < 2; k = round(64 (m - 1)) picks
// c = 1 + k/64 and inv[k], 1/c rounded to 20 fractional bits, so that
// r = m inv[k] - 1 is exact (m has at most 31 significant bits, inv[k] at
// most 21) and |r| < 2^-7 + 2^-20. Then ln a = e ln 2 - ln inv[k] + ln(1 + r),
// with base[e][k] = e ln 2 - ln inv[k] to about 2^-104.
constexpr int steps = 64;
constexpr int exponents = 31;  // a < 2^31

struct log_tables {
  double inv[steps + 1];
  dd base[exponents][steps + 1];
};

const log_tables& tables() {
  static const log_tables t = [] {
    log_tables r{};
    for (int k = 0; k <= steps; k++) {
      const int64_t q = ((int64_t{1} << 20) * steps + (steps + k) / 2) / (steps + k);
      r.inv[k] = static_cast<double>(q) * 0x1p-20;
      const dd minus_ln_inv = ln_series({1 - r.inv[k], 0}, {1 + r.inv[k], 0});
      for (int e = 0; e < exponents; e++) {
        const dd e_ln2 = dd_add(two_prod(e, ln2_dd.hi), {e * ln2_dd.lo, 0});
        r.base[e][k] = dd_add(e_ln2, minus_ln_inv);
      }
    }
    return r;
  }();
  return t;
}

}  // namespace

double log_int(int32_t a) {
  check(a > 0, "a>0");
  if (a == 1) return 0;
  const log_tables& t = tables();
  const auto bits = std::bit_cast<uint64_t>(static_cast<double>(a));
  const int e = static_cast<int>(bits >> 52) - 1023;
  const double m = std::bit_cast<double>((bits & 0x000FFFFFFFFFFFFF) | 0x3FF0000000000000);
  const int k = static_cast<int>((m - 1) * steps + 0.5);
  const double r = m * t.inv[k] - 1;
  const dd base = t.base[e][k];

  // First try: ln(1 + r) = r - r^2/2 + r^3 P(r), P(r) = 1/3 - r/4 + ... + r^7/10
  // (the terms past r^10 are below 2^-77). The small parts are summed in one
  // double; the whole is within about 2^-70 of ln a, which is at least ln 2.
  const dd r2 = two_prod(r, r);
  double p = -0.1;
  for (int j = 9; j >= 3; j--) p = p * r + ((j & 1) ? 1.0 : -1.0) / j;
  const double tail = r2.hi * r * p;
  const dd s = two_sum(base.hi, r);
  const dd u = two_sum(s.hi, -0.5 * r2.hi);
  const double lo = (((s.lo + u.lo) + base.lo) + -0.5 * r2.lo) + tail;
  const double err = 0x1p-66 * u.hi;
  const double down = u.hi + (lo - err), up = u.hi + (lo + err);
  if (down == up) return down;

  // Too close to a rounding boundary: ln(1 + r) by the series in
  // double-double, to about 2^-100.
  const dd v = dd_add(base, ln_series({r, 0}, two_sum(2, r)));
  return v.hi;
}

const double* log2_fact_table() {
  static const std::unique_ptr<double[]> table = [] {
    auto t = std::make_unique<double[]>(log2_fact_table_size);
    t[0] = 0;
    for (int32_t a = 1; a < log2_fact_table_size; a++) t[a] = t[a - 1] + log_int(a) / ln2;
    return t;
  }();
  return table.get();
}

double log2_fact_large(int32_t a) {
  check(a >= 0, "a>=0");
  return (log_int(a) * (a + 0.5) - a) / ln2 + stirling;
}

}  // namespace vesk
