#include "util/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "util/threads.h"

namespace vesk {

namespace {

using steady = std::chrono::steady_clock;

// A run shorter than its quiet start shows nothing; the line is redrawn
// four times in that span. VESK_PROGRESS_QUIET_MS sets the quiet start in
// milliseconds (the tests shorten it, so that a run of a fraction of a
// second shows its line); it is read by this file alone.
constexpr auto quiet_default = std::chrono::milliseconds(1000);

std::chrono::milliseconds quiet_start() {
  static const std::chrono::milliseconds quiet = [] {
    const char* v = std::getenv("VESK_PROGRESS_QUIET_MS");
    return v != nullptr && *v != '\0' ? std::chrono::milliseconds(std::max(0, std::atoi(v)))
                                      : quiet_default;
  }();
  return quiet;
}

std::chrono::milliseconds redraw_interval() {
  return std::max(quiet_start() / 4, std::chrono::milliseconds(10));
}

// What the display thread draws, guarded by m; `thread` and `running`
// belong to the main thread, which starts and stops the display. Streams
// are announced by the thread that codes them.
struct display {
  std::mutex m;
  std::condition_variable wake;
  std::thread thread;
  bool running = false;
  bool stop = false;
  steady::time_point run_start, step_start, coding_start;
  const char* name = nullptr;  // null until the first announcement
  int64_t size = 0;
  bool coding = false;       // the current step is a stream
  bool framed = false;       // frames: what follows is all the display shows
  int64_t frames_total = 0;  // -1: unknown
  int64_t frames_done = 0;
  // The coding part of each pair of lanes (pair 0: a single archive's).
  struct pair {
    int64_t file_bytes = 0;  // bytes of the file (or frame) the coding part stands for
    int64_t total = 0;       // bytes of all the coding part's streams
    int64_t before = 0;      // bytes of the streams already done
    // The stream each lane codes now (null: none).
    const char* lane_name[2] = {};
    int64_t lane_size[2] = {};
  } pairs[progress_pairs];
};

display::pair& pair_of_lane(display& d) {
  return d.pairs[progress_lane / 2];
}

// How far a pair's coding part has come: bytes of its streams done.
int64_t pair_done(const display::pair& p, int first_lane) {
  int64_t at = p.before;
  for (int l = 0; l < 2; l++)
    if (p.lane_name[l] != nullptr)
      at += std::clamp<int64_t>(progress_position[first_lane + l].load(std::memory_order_relaxed), 0,
                                p.lane_size[l]);
  return at;
}

// Never destroyed: the process may end (through a failure) while the
// thread still runs.
display& the_display() {
  static display* d = new display;
  return *d;
}

// Width of the line on the terminal now, 0 when none is shown.
std::atomic<int> shown{0};

double seconds_between(steady::time_point a, steady::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void write_all(const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(STDERR_FILENO, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// Overwrites the shown line with spaces and returns to its start;
// async-signal-safe.
void clear_line() {
  static constexpr char blanks[] =
      "                                                                ";
  int w = shown.exchange(0);
  if (w == 0) return;
  write_all("\r", 1);
  while (w > 0) {
    const int n = std::min<int>(w, sizeof blanks - 1);
    write_all(blanks, static_cast<size_t>(n));
    w -= n;
  }
  write_all("\r", 1);
}

int terminal_width() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) return ws.ws_col;
  return 80;
}

void draw(display& d) {
  const steady::time_point now = steady::now();
  if (d.name == nullptr || now - d.run_start < quiet_start()) return;
  // A run sent to the background keeps quiet rather than write over the shell.
  if (tcgetpgrp(STDERR_FILENO) != getpgrp()) return;
  progress_view v;
  v.name = d.name;
  v.size = d.size;
  v.coding = d.coding;
  std::string both;  // two streams side by side: "x86 4.2 MB + binary"
  if (d.framed) {
    // Finished frames, and the share done of each frame being coded.
    double done = static_cast<double>(d.frames_done);
    for (int p = 0; p < progress_pairs; p++) {
      const display::pair& q = d.pairs[p];
      if (q.file_bytes > 0 && q.total > 0)
        done += static_cast<double>(q.file_bytes) * static_cast<double>(pair_done(q, 2 * p)) /
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
    const display::pair& q = d.pairs[0];
    int active = 0;
    for (int l = 0; l < 2; l++) {
      if (q.lane_name[l] == nullptr) continue;
      if (active++ == 0) {
        v.name = q.lane_name[l];
      } else {
        both = std::string(v.name) + " " + size_text(v.size) + " + " + q.lane_name[l];
        v.name = both.c_str();
      }
      v.size = q.lane_size[l];
    }
    v.fraction = q.total > 0 ? static_cast<double>(pair_done(q, 0)) / static_cast<double>(q.total) : 0.0;
    v.seconds = seconds_between(d.coding_start, now);
    v.file_bytes = q.file_bytes;
  } else {
    v.seconds = seconds_between(d.step_start, now);
  }
  std::string line = progress_line(v);
  const size_t width = static_cast<size_t>(terminal_width() - 1);
  if (line.size() > width) line.resize(width);
  const int old = shown.load();
  std::string out = "\r" + line;
  if (static_cast<size_t>(old) > line.size())
    out.append(static_cast<size_t>(old) - line.size(), ' ');
  write_all(out.data(), out.size());
  shown.store(std::max(old, static_cast<int>(line.size())));
}

void display_loop(display& d) {
  std::unique_lock lock(d.m);
  while (!d.stop) {
    d.wake.wait_for(lock, redraw_interval());
    if (!d.stop) draw(d);
  }
}

}  // namespace

void progress_begin() {
  display& d = the_display();
  if (d.running || isatty(STDERR_FILENO) == 0) return;
  d.run_start = d.step_start = d.coding_start = steady::now();
  d.name = nullptr;
  d.stop = false;
  try {
    d.thread = helper_thread([&d] { display_loop(d); });
  } catch (const std::system_error&) {
    return;  // no thread to spare: the run goes on without a display
  }
  d.running = true;
}

void progress_phase(const char* name, int64_t size) {
  display& d = the_display();
  if (!d.running) return;
  std::lock_guard lock(d.m);
  if (d.framed) return;
  d.name = name;
  d.size = size;
  d.coding = false;
  d.step_start = steady::now();
}

void progress_coding(int64_t file_bytes, int64_t total) {
  display& d = the_display();
  if (!d.running) return;
  std::lock_guard lock(d.m);
  display::pair& p = pair_of_lane(d);
  p = display::pair{};
  p.file_bytes = file_bytes;
  p.total = total;
  if (!d.framed) d.coding_start = steady::now();
}

void progress_stream(const char* name, int64_t size) {
  display& d = the_display();
  if (!d.running) return;
  std::lock_guard lock(d.m);
  progress_position[progress_lane].store(0, std::memory_order_relaxed);
  display::pair& p = pair_of_lane(d);
  p.lane_name[progress_lane % 2] = name;
  p.lane_size[progress_lane % 2] = size;
  if (d.framed) return;
  d.name = name;
  d.size = size;
  d.coding = true;
}

void progress_stream_done() {
  display& d = the_display();
  if (!d.running) return;
  std::lock_guard lock(d.m);
  display::pair& p = pair_of_lane(d);
  p.before += p.lane_size[progress_lane % 2];
  p.lane_name[progress_lane % 2] = nullptr;
  p.lane_size[progress_lane % 2] = 0;
  progress_position[progress_lane].store(0, std::memory_order_relaxed);
}

void progress_frame_end() {
  display& d = the_display();
  if (!d.running) return;
  std::lock_guard lock(d.m);
  pair_of_lane(d) = display::pair{};
}

void progress_frames(int64_t total) {
  display& d = the_display();
  if (!d.running) return;
  std::lock_guard lock(d.m);
  d.framed = true;
  d.name = "frames";
  d.frames_total = total;
  d.frames_done = 0;
  d.coding_start = steady::now();
}

void progress_frame_done(int64_t bytes) {
  display& d = the_display();
  if (!d.running) return;
  std::lock_guard lock(d.m);
  d.frames_done += bytes;
}

void progress_end() {
  display& d = the_display();
  if (!d.running) return;
  {
    std::lock_guard lock(d.m);
    d.stop = true;
  }
  d.wake.notify_one();
  d.thread.join();
  d.running = false;
  clear_line();
}

void progress_clear() {
  display& d = the_display();
  if (!d.running) return;
  std::lock_guard lock(d.m);
  clear_line();
}

void progress_abandon() {
  display& d = the_display();
  if (!d.running) return;
  // Held until the process ends: the thread draws no more.
  d.m.lock();
  clear_line();
}

void progress_abandon_in_signal() {
  clear_line();
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
