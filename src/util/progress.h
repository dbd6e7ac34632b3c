// Progress of a call, on its board (call.h): what a display draws and a
// progress callback reads.
//
// The models' per-byte loops note their byte index with one relaxed store
// (no clock, no lock); every 64 KiB of a stream they also poll the board:
// a cancelled call stops there (a failure of kind cancelled), and the
// board's callback, if any, hears how far the call has come. The
// containers announce what they do: a phase (a step without a position,
// such as the text transform) or a stream (coded by a model that notes its
// position). A call without a board notes nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "util/call.h"

namespace vesk {

// Streams may be coded two at a time, one on each lane of a pair: the
// thread that codes a file (or a frame) on the pair's even lane, a worker
// beside it on the odd one. The calling thread codes on pair 0; the threads
// of a framed run on pairs of their own, one a thread.
constexpr int progress_pairs = 256;
constexpr int progress_lanes = 2 * progress_pairs;
inline thread_local int progress_lane = 0;

// How far a call has come, as a line shows it (progress_line) and a
// callback hears it (done and total bytes of the input it stands for).
struct progress_view {
  const char* name = "";
  int64_t size = 0;
  bool coding = false;  // a stream (percent, rate, time left), else a phase
  double fraction = 0;  // done share of the coding part
  double seconds = 0;   // since the coding part began (a phase: since it began)
  int64_t file_bytes = 0;
  bool rate_only = false;  // frames of unknown total: size done, rate and time so far
};

struct progress_board {
  using steady = std::chrono::steady_clock;
  std::mutex m;
  steady::time_point run_start = steady::now(), step_start = run_start, coding_start = run_start;
  const char* name = nullptr;  // null until the first announcement
  int64_t size = 0;
  bool coding = false;       // the current step is a stream
  bool framed = false;       // frames: what follows is all the board shows
  int64_t frames_total = 0;  // -1: unknown
  int64_t frames_done = 0;
  // The coding part of each pair of lanes (pair 0: a single archive's).
  struct pair {
    int64_t file_bytes = 0;  // bytes of the file (or frame) the coding part stands for
    int64_t total = 0;       // bytes of all the coding part's streams
    int64_t before = 0;      // bytes of the streams already done
    const char* lane_name[2] = {};  // the stream each lane codes now (null: none)
    int64_t lane_size[2] = {};
  } pairs[progress_pairs];
  std::atomic<int64_t> position[progress_lanes] = {};  // byte index reached on each lane
  // Asked every 64 KiB of a stream, from any thread of the call (never two
  // at once): the bytes of the input done and in all (-1: unknown); false
  // cancels the call.
  std::function<bool(int64_t done, int64_t total)> callback;
  std::mutex callback_m;
  std::atomic<bool> cancelled{false};
};

// The board's view now (its lock taken); `both` holds the text of two
// streams coded side by side.
progress_view progress_snapshot(progress_board& b, std::string& both);

void progress_poll();

// Where the calling thread's lane records its position. A loop over bytes
// reads it once: the note it makes per byte then touches no thread-local
// storage (in position-independent code, a call per access).
struct progress_spot {
  progress_board* board = nullptr;
  int lane = 0;
};
inline progress_spot progress_here() {
  return {current_call != nullptr ? current_call->progress : nullptr, progress_lane};
}

inline void progress_note(const progress_spot& at, int64_t i) {
  if (at.board == nullptr) return;
  at.board->position[at.lane].store(i, std::memory_order_relaxed);
  if ((i & 0xFFFF) == 0) [[unlikely]]
    progress_poll();
}
inline void progress_note(int64_t i) {
  progress_note(progress_here(), i);
}

// A step without a position: its name and the size of what it works on.
void progress_phase(const char* name, int64_t size);

// The coding part of a run: streams of `total` bytes together, standing for
// a file of `file_bytes` bytes (the rate is given in the file's bytes).
void progress_coding(int64_t file_bytes, int64_t total);

// A stream of the coding part begins on the calling thread's lane; its
// position starts at 0. progress_stream_done ends it.
void progress_stream(const char* name, int64_t size);
void progress_stream_done();

// A framed run: frames are coded side by side, so the board counts the
// input bytes of finished frames and the share done of the frames being
// coded (each on its thread's pair), over the whole input (total -1:
// unknown, a pipe, for which it gives the bytes done and the rate).
// progress_frame_end is called on the thread that coded a frame once it
// is done, progress_frame_done with its bytes once it is passed on.
void progress_frames(int64_t total);
void progress_frame_end();
void progress_frame_done(int64_t bytes);

// The line's text: "x86 4.2 MB  37%  1.3 MB/s  12s left".
std::string progress_line(const progress_view& v);
std::string size_text(int64_t bytes);
std::string duration_text(double seconds);

}  // namespace vesk
