#include "cli/display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
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

// The display thread and what it draws, guarded by m; `thread` and
// `running` belong to the main thread, which starts and stops it.
struct display {
  std::mutex m;
  std::condition_variable wake;
  std::thread thread;
  bool running = false;
  bool stop = false;
  progress_board* board = nullptr;
};

display& the_display() {
  static display d;
  return d;
}

// Width of the line on the terminal now, 0 when none is shown.
std::atomic<int> shown{0};

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

void draw(progress_board& b) {
  std::string both, line;
  {
    const std::lock_guard lock(b.m);
    if (b.name == nullptr || steady::now() - b.run_start < quiet_start()) return;
    line = progress_line(progress_snapshot(b, both));
  }
  // A run sent to the background keeps quiet rather than write over the shell.
  if (tcgetpgrp(STDERR_FILENO) != getpgrp()) return;
  const size_t width = static_cast<size_t>(terminal_width() - 1);
  if (line.size() > width) line.resize(width);
  const int old = shown.load();
  std::string out = "\r" + line;
  if (static_cast<size_t>(old) > line.size()) out.append(static_cast<size_t>(old) - line.size(), ' ');
  write_all(out.data(), out.size());
  shown.store(std::max(old, static_cast<int>(line.size())));
}

void display_loop(display& d) {
  std::unique_lock lock(d.m);
  while (!d.stop) {
    d.wake.wait_for(lock, redraw_interval());
    if (!d.stop && d.board != nullptr) draw(*d.board);
  }
}

}  // namespace

void display_begin() {
  display& d = the_display();
  if (d.running || isatty(STDERR_FILENO) == 0) return;
  d.stop = false;
  try {
    d.thread = helper_thread([&d] { display_loop(d); });
  } catch (const std::system_error&) {
    return;  // no thread to spare: the run goes on without a display
  }
  d.running = true;
}

void display_show(progress_board* b) {
  display& d = the_display();
  const std::lock_guard lock(d.m);
  d.board = b;
  if (b == nullptr) clear_line();
}

void display_end() {
  display& d = the_display();
  if (!d.running) return;
  {
    const std::lock_guard lock(d.m);
    d.stop = true;
    d.board = nullptr;
  }
  d.wake.notify_one();
  d.thread.join();
  d.running = false;
  clear_line();
}

void display_clear() {
  display& d = the_display();
  if (!d.running) return;
  const std::lock_guard lock(d.m);
  clear_line();
}

void display_clear_in_signal() {
  clear_line();
}

}  // namespace vesk
