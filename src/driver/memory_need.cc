#include "driver/memory_need.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "util/memory_limits.h"
#include "util/call.h"

namespace vesk {

namespace {

// Figures measured for one size of file: peak resident memory (from
// /usr/bin/time) and the smallest `ulimit -v` that let the run through,
// compressing; restoring needs about as much.
struct need_point {
  double bytes;
  double resident;
  double address_space;
};

constexpr double mb = 1e6;

// Texts: C headers (10 MB and parts of them), change logs (20 MB).
constexpr need_point text_points[] = {
    {1e3, 10 * mb, 11.5 * mb},   {1e6, 110 * mb, 760 * mb},     {1e7, 440 * mb, 1850 * mb},
    {2e7, 1020 * mb, 2200 * mb}, {1e9, 12000 * mb, 16000 * mb},  // reckoned: the tables full, the
                                                                 // buffers of the input
};
// The mixed method: random bytes (the most contexts per byte) up to a
// megabyte, executables beyond (x86 code beside binary data).
constexpr need_point mixed_points[] = {
    {1e3, 8 * mb, 10 * mb},
    {1e6, 750 * mb, 1030 * mb},
    {2e7, 1720 * mb, 3200 * mb},
    {1e9, 14000 * mb, 17000 * mb},  // reckoned: the tables full, the buffers of the input
};
// The stored method holds the file once, beside a few megabytes of program.
constexpr int64_t stored_resident = 4'000'000, stored_address_space = 12'000'000;
// What the strong models add to a small file: their maps and match tables.
constexpr int64_t strong_extra = 2'000'000;

// No run needs more than its tables at their full size beside the buffers
// of the largest input.
constexpr double most_bytes = 24e9;

// Between two sizes, and past the last, the figures follow a power
// of the size (a straight line on a log-log plot): tables fill more slowly
// as a stream repeats its contexts.
template <size_t N>
memory_need interpolate(const need_point (&p)[N], int64_t n) {
  const double x = std::max(static_cast<double>(n), p[0].bytes);
  size_t k = 0;
  while (k + 2 < N && x > p[k + 1].bytes) k++;
  const need_point &a = p[k], &b = p[k + 1];
  const double t = std::log(x / a.bytes) / std::log(b.bytes / a.bytes);
  auto at = [&](double ya, double yb) {
    const double y = std::exp(std::log(ya) + t * (std::log(yb) - std::log(ya)));
    return static_cast<int64_t>(std::min(y, most_bytes));
  };
  return {at(a.resident, b.resident), at(a.address_space, b.address_space)};
}

}  // namespace

memory_need expected_memory(method m, int64_t n) {
  if (m != base_method(m)) {
    // The strong models' match tables and maps beside the default's tables
    // (their media contexts touch fewer buckets than the ones they replace).
    const memory_need base = expected_memory(base_method(m), n);
    return {base.resident + base.resident / 8 + strong_extra, base.address_space + base.address_space / 8 + strong_extra};
  }
  switch (m) {
    case method::text:
      return interpolate(text_points, n);
    case method::mixed:
      return interpolate(mixed_points, n);
    default:
      break;
  }
  // A stored archive of a file is written a piece at a time.
  if (m == method::stored_checked) return {stored_resident, stored_address_space};
  return {stored_resident + n, stored_address_space + n};
}

std::string memory_warning(const memory_need& need, const memory_limits& l) {
  std::string why;
  if (l.cgroup_room >= 0 && need.resident > l.cgroup_room) {
    why = "the memory limit of its cgroup leaves " + memory_text(l.cgroup_room);
  } else if (l.available >= 0 && need.resident > l.available) {
    why = "only " + memory_text(l.available) + " is available";
  } else {
    return "";
  }
  return "warning: this file may need about " + memory_text(need.resident, true) +
         " of memory; " + why;
}

void check_memory(method m, int64_t n) {
  const memory_need need = expected_memory(m, n);
  set_expected_address_space(need.address_space);
  const std::string warning = memory_warning(need, read_memory_limits());
  if (!warning.empty()) notice(warning);
}

}  // namespace vesk
