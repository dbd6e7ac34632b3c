#include "text/partition.h"

#include <algorithm>

#include "text/stat.h"
#include "util/big_buffer.h"
#include "util/fail.h"

namespace vesk {

namespace {

// The context records: for every tier word y, its distinct preceding words
// x in ascending order with how often each precedes y.
struct contexts {
  big_vector<int64_t> start;  // record of word y: entries start[y] .. start[y+1]-1
  big_vector<uint32_t> x;
  big_vector<int32_t> m;
};

contexts get_contexts(const uint32_t* codes, int64_t codesc, uint32_t lo, uint32_t hi) {
  const uint32_t nrec = hi - lo;
  // Pairs grouped by y in input order (counting sort), then per y the
  // distinct x ascending with their counts.
  big_vector<int64_t> count(nrec + 1, 0);
  for (int64_t k = 0; k < codesc; k++)
    if (codes[k] >= lo && codes[k] < hi) count[codes[k] - lo + 1]++;
  for (uint32_t y = 0; y < nrec; y++) count[y + 1] += count[y];
  big_vector<uint32_t> xs(static_cast<size_t>(count[nrec]));
  big_vector<int64_t> fill(count.begin(), count.end() - 1);
  for (int64_t k = 0; k < codesc; k++) {
    uint32_t c = codes[k];
    if (c >= lo && c < hi) xs[static_cast<size_t>(fill[c - lo]++)] = k == 0 ? 0 : codes[k - 1];
  }
  contexts r;
  r.start.resize(nrec + 1);
  r.x.reserve(xs.size());
  r.m.reserve(xs.size());
  for (uint32_t y = 0; y < nrec; y++) {
    r.start[y] = static_cast<int64_t>(r.x.size());
    auto first = xs.begin() + count[y], last = xs.begin() + count[y + 1];
    std::sort(first, last);
    for (auto it = first; it != last;) {
      auto run = std::find_if(it, last, [&](uint32_t v) { return v != *it; });
      r.x.push_back(*it);
      r.m.push_back(static_cast<int32_t>(run - it));
      it = run;
    }
  }
  r.start[nrec] = static_cast<int64_t>(r.x.size());
  return r;
}

// The two sides of one split: preceding-word counts, their totals and the
// cost C_s = log2(N_s!) - sum log2(cnt_s[x]!), kept incrementally. The sums
// run in this exact order so that the moves kept do not vary.
struct split_state {
  big_vector<int32_t> cnt[2];
  int32_t total[2] = {0, 0};
  double cost[2] = {0, 0};
};

void side_change(split_state& st, const contexts& ctx, uint32_t w, int s, int sign) {
  double& c = st.cost[s];
  int32_t& n = st.total[s];
  big_vector<int32_t>& cnt = st.cnt[s];
  const double* const lf = log2_fact_table();
  c -= log2_fact(lf, n);
  for (int64_t e = ctx.start[w]; e < ctx.start[w + 1]; e++) {
    const uint32_t x = ctx.x[static_cast<size_t>(e)];
    const int32_t m = sign * ctx.m[static_cast<size_t>(e)];
    n += m;
    c += log2_fact(lf, cnt[x]);
    cnt[x] += m;
    c -= log2_fact(lf, cnt[x]);
  }
  c += log2_fact(lf, n);
}

struct work_item {
  uint32_t start, end;
  bool split;
};

}  // namespace

void order_tier(const uint32_t* codes, int64_t codesc, uint32_t* perm, uint32_t lo, uint32_t hi,
                uint32_t indices) {
  if (lo >= hi) return;
  const uint32_t nrec = hi - lo;
  check(nrec < tier_word_limit, "i<1000000");
  const contexts ctx = get_contexts(codes, codesc, lo, hi);
  big_vector<uint32_t> order(nrec), scratch(nrec);
  for (uint32_t i = 0; i < nrec; i++) order[i] = i;
  big_vector<uint8_t> side(nrec, 0);
  split_state st;
  st.cnt[0].assign(indices + 1, 0);
  st.cnt[1].assign(indices + 1, 0);

  // First in, first out; a range splits in two at most nrec - 1 times.
  big_vector<work_item> work;
  work.reserve(2 * size_t{nrec});
  work.push_back({0, nrec, true});
  for (size_t item = 0; item < work.size(); item++) {
    const work_item it = work[item];
    if (!it.split) continue;
    const uint32_t start = it.start, end = it.end;
    st.total[0] = st.total[1] = 0;
    for (uint32_t p = start; p < end; p++) {
      side[p] = 0;
      side_change(st, ctx, order[p], 0, +1);
    }
    for (int pass = 0; pass < 4; pass++) {
      for (uint32_t p = start; p < end; p++) {
        const double before = st.cost[0] + st.cost[1];
        const uint32_t w = order[p];
        side_change(st, ctx, w, side[p], -1);
        side[p] ^= 1;
        side_change(st, ctx, w, side[p], +1);
        if (!(st.cost[0] + st.cost[1] < before)) {
          side_change(st, ctx, w, side[p], -1);
          side[p] ^= 1;
          side_change(st, ctx, w, side[p], +1);
        }
      }
    }
    for (uint32_t p = start; p < end; p++) side_change(st, ctx, order[p], side[p], -1);
    st.cost[0] = st.cost[1] = 0;
    // Side 1 first in its old order, then side 0 reversed.
    uint32_t lb = start, lb2 = end - 1;
    for (uint32_t p = start; p < end; p++) {
      if (side[p]) {
        scratch[lb++] = order[p];
      } else {
        scratch[lb2--] = order[p];
      }
    }
    check(lb == lb2 + 1, "lb==lb2+1");
    std::copy(scratch.begin() + start, scratch.begin() + end, order.begin() + start);
    const uint32_t mid = lb;
    work.push_back({start, mid, mid - start > 1 && mid != end});
    work.push_back({mid, end, end - mid > 1 && mid != start});
  }
  std::copy(order.begin(), order.end(), perm);
}

}  // namespace vesk
