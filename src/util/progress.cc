#include "util/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "util/fail.h"

namespace vesk {

namespace {

using steady = std::chrono::steady_clock;

progress_board* board() {
  return current_call != nullptr ? current_call->progress : nullptr;
}

progress_board::pair& pair_of_lane(progress_board& b) {
  return b.pairs[progress_lane / 2];
}

// How far a pair's coding part has come: bytes of its streams done.
int64_t pair_done(const progress_board& b, const progress_board::pair& p, int first_lane) {
  int64_t at = p.before;
  for (int l = 0; l < 2; l++)
    if (p.lane_name[l] != nullptr)
      at += std::clamp<int64_t>(b.position[first_lane + l].load(std::memory_order_relaxed), 0,
                                p.lane_size[l]);
  return at;
}

double seconds_between(steady::time_point a, steady::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

progress_view progress_snapshot(progress_board& d, std::string& both) {
  const steady::time_point now = steady::now();
  progress_view v;
  v.name = d.name != nullptr ? d.name : "";
  v.size = d.size;
  v.coding = d.coding;
  if (d.framed) {
    // Finished frames, and the share done of each frame being coded.
    double done = static_cast<double>(d.frames_done);
    for (int p = 0; p < progress_pairs; p++) {
      const progress_board::pair& q = d.pairs[p];
      if (q.file_bytes > 0 && q.total > 0)
        done += static_cast<double>(q.file_bytes) * static_cast<double>(pair_done(d, q, 2 * p)) /
                static_cast<double>(q.total);
    }
    v.name = "frames";
    v.seconds = seconds_between(d.coding_start, now);
    if (d.frames_total > 0) {
      v.coding = true;
      v.size = d.frames_total;
      v.file_bytes = d.frames_total;
      v.fraction = done / static_cast<double>(d.frames_total);
    } else {
      // A pipe: the bytes done so far and the rate, no share nor time left.
      v.coding = false;
      v.size = static_cast<int64_t>(done);
      v.rate_only = true;
    }
  } else if (d.coding) {
    const progress_board::pair& q = d.pairs[0];
    int active = 0;
    for (int l = 0; l < 2; l++) {
      if (q.lane_name[l] == nullptr) continue;
      if (active++ == 0) {
        v.name = q.lane_name[l];
      } else {
        // Two streams side by side: "x86 4.2 MB + binary".
        both = std::string(v.name) + " " + size_text(v.size) + " + " + q.lane_name[l];
        v.name = both.c_str();
      }
      v.size = q.lane_size[l];
    }
    v.fraction = q.total > 0 ? static_cast<double>(pair_done(d, q, 0)) / static_cast<double>(q.total) : 0.0;
    v.seconds = seconds_between(d.coding_start, now);
    v.file_bytes = q.file_bytes;
  } else {
    v.seconds = seconds_between(d.step_start, now);
  }
  return v;
}

void progress_poll() {
  progress_board* b = board();
  if (b == nullptr) return;
  if (b->callback) {
    int64_t done = 0, total = -1;
    {
      std::string both;
      const std::lock_guard lock(b->m);
      const progress_view v = progress_snapshot(*b, both);
      if (v.rate_only) {
        done = v.size;
      } else if (v.coding) {
        total = v.file_bytes;
        done = static_cast<int64_t>(std::clamp(v.fraction, 0.0, 1.0) * static_cast<double>(total));
      }
    }
    const std::lock_guard lock(b->callback_m);
    if (!b->cancelled.load() && !b->callback(done, total)) b->cancelled.store(true);
  }
  if (b->cancelled.load()) fail_as(failure_kind::cancelled, "cancelled");
}

void progress_phase(const char* name, int64_t size) {
  progress_board* b = board();
  if (b == nullptr) return;
  {
    const std::lock_guard lock(b->m);
    if (b->framed) return;
    b->name = name;
    b->size = size;
    b->coding = false;
    b->step_start = steady::now();
  }
  progress_poll();
}

void progress_coding(int64_t file_bytes, int64_t total) {
  progress_board* b = board();
  if (b == nullptr) return;
  const std::lock_guard lock(b->m);
  progress_board::pair& p = pair_of_lane(*b);
  p = progress_board::pair{};
  p.file_bytes = file_bytes;
  p.total = total;
  if (!b->framed) b->coding_start = steady::now();
}

void progress_stream(const char* name, int64_t size) {
  progress_board* b = board();
  if (b == nullptr) return;
  const std::lock_guard lock(b->m);
  b->position[progress_lane].store(0, std::memory_order_relaxed);
  progress_board::pair& p = pair_of_lane(*b);
  p.lane_name[progress_lane % 2] = name;
  p.lane_size[progress_lane % 2] = size;
  if (b->framed) return;
  b->name = name;
  b->size = size;
  b->coding = true;
}

void progress_stream_done() {
  progress_board* b = board();
  if (b == nullptr) return;
  const std::lock_guard lock(b->m);
  progress_board::pair& p = pair_of_lane(*b);
  p.before += p.lane_size[progress_lane % 2];
  p.lane_name[progress_lane % 2] = nullptr;
  p.lane_size[progress_lane % 2] = 0;
  b->position[progress_lane].store(0, std::memory_order_relaxed);
}

void progress_frame_end() {
  progress_board* b = board();
  if (b == nullptr) return;
  const std::lock_guard lock(b->m);
  pair_of_lane(*b) = progress_board::pair{};
}

void progress_frames(int64_t total) {
  progress_board* b = board();
  if (b == nullptr) return;
  const std::lock_guard lock(b->m);
  b->framed = true;
  b->name = "frames";
  b->frames_total = total;
  b->frames_done = 0;
  b->coding_start = steady::now();
}

void progress_frame_done(int64_t bytes) {
  progress_board* b = board();
  if (b == nullptr) return;
  {
    const std::lock_guard lock(b->m);
    b->frames_done += bytes;
  }
  progress_poll();
}

std::string size_text(int64_t bytes) {
  char buf[32];
  const double b = static_cast<double>(bytes);
  if (bytes < 1000) {
    std::snprintf(buf, sizeof buf, "%lld B", static_cast<long long>(bytes));
  } else if (bytes < 999'950) {  // below what rounds to 1000.0 KB
    std::snprintf(buf, sizeof buf, "%.1f KB", b / 1e3);
  } else if (bytes < 999'950'000) {
    std::snprintf(buf, sizeof buf, "%.1f MB", b / 1e6);
  } else {
    std::snprintf(buf, sizeof buf, "%.2f GB", b / 1e9);
  }
  return buf;
}

std::string duration_text(double seconds) {
  const long long s = std::llround(std::max(seconds, 0.0));
  char buf[32];
  if (s < 60) {
    std::snprintf(buf, sizeof buf, "%llds", s);
  } else if (s < 3600) {
    std::snprintf(buf, sizeof buf, "%lldm%02llds", s / 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lldh%02lldm", s / 3600, s / 60 % 60);
  }
  return buf;
}

std::string progress_line(const progress_view& v) {
  std::string s = std::string(v.name) + " " + size_text(v.size) + "  ";
  if (v.rate_only) {
    if (v.seconds <= 0 || v.size <= 0) return s + duration_text(v.seconds);
    const double rate = static_cast<double>(v.size) / v.seconds / 1e6;
    char buf[32];
    std::snprintf(buf, sizeof buf, rate < 0.1 ? "%.0f KB/s" : "%.1f MB/s", rate < 0.1 ? rate * 1e3 : rate);
    return s + buf + "  " + duration_text(v.seconds);
  }
  if (!v.coding) return s + duration_text(v.seconds);
  const double f = std::clamp(v.fraction, 0.0, 1.0);
  s += std::to_string(static_cast<int>(f * 100)) + "%";
  if (f > 0 && v.seconds > 0) {
    const double rate = static_cast<double>(v.file_bytes) * f / v.seconds / 1e6;
    char buf[32];
    if (rate < 0.1) {
      std::snprintf(buf, sizeof buf, "%.0f KB/s", rate * 1e3);
    } else {
      std::snprintf(buf, sizeof buf, "%.1f MB/s", rate);
    }
    s += std::string("  ") + buf + "  " + duration_text(v.seconds * (1 - f) / f) + " left";
  }
  return s;
}

}  // namespace vesk
