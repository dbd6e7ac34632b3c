// Progress on standard error while a run codes its streams.
//
// The models' per-byte loops note their byte index with one relaxed store
// (no clock, no branch); a display thread, started only when standard error
// is a terminal, wakes a few times a second, reads the index and redraws one
// line once the run has lasted more than a second:
//
//   x86 4.2 MB  37%  1.3 MB/s  12s left
//
// and clears it when the run ends. Without a terminal no thread is started
// and nothing is printed. The containers announce what they do: a phase
// (a step without a position, such as the text transform) or a stream
// (coded by a model that notes its position).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace vesk {

// Streams may be coded two at a time, one on each lane of a pair: the
// thread that codes a file (or a frame) on the pair's even lane, a worker
// beside it on the odd one. The main thread codes on pair 0; the threads of
// a framed run on pairs of their own, one a thread.
constexpr int progress_pairs = 256;
constexpr int progress_lanes = 2 * progress_pairs;
inline thread_local int progress_lane = 0;

// Byte index reached in the stream each lane codes, written by the models.
inline std::atomic<int64_t> progress_position[progress_lanes];

inline void progress_note(int64_t i) {
  progress_position[progress_lane].store(i, std::memory_order_relaxed);
}

// Starts a run's display when standard error is a terminal; else nothing.
void progress_begin();

// A step without a position: its name and the size of what it works on.
void progress_phase(const char* name, int64_t size);

// The coding part of a run: streams of `total` bytes together, standing for
// a file of `file_bytes` bytes (the rate is given in the file's bytes).
void progress_coding(int64_t file_bytes, int64_t total);

// A stream of the coding part begins on the calling thread's lane; its
// position starts at 0. progress_stream_done ends it.
void progress_stream(const char* name, int64_t size);
void progress_stream_done();

// A framed run: frames are coded side by side, so the display counts the
// input bytes of finished frames and the share done of the frames being
// coded (each on its thread's pair), over the whole input (total -1:
// unknown, a pipe, for which it gives the bytes done and the rate).
// progress_frame_end is called on the thread that coded a frame once it
// is done, progress_frame_done with its bytes once it is passed on.
void progress_frames(int64_t total);
void progress_frame_end();
void progress_frame_done(int64_t bytes);

// Stops the display and clears its line.
void progress_end();

// Clears the line before a message on standard error; the display draws
// it again at its next turn.
void progress_clear();

// Clears the line before a failure message and keeps the display off; the
// process is about to end. progress_abandon_in_signal is async-signal-safe.
void progress_abandon();
void progress_abandon_in_signal();

// The line's text, apart for tests. fraction: done share of the coding
// part; seconds: time since it began (for a phase: since the phase began).
struct progress_view {
  const char* name = "";
  int64_t size = 0;
  bool coding = false;  // a stream (percent, rate, time left), else a phase
  double fraction = 0;
  double seconds = 0;
  int64_t file_bytes = 0;
  bool rate_only = false;  // frames of unknown total: size done, rate and time so far
};
std::string progress_line(const progress_view& v);
std::string size_text(int64_t bytes);
std::string duration_text(double seconds);

}  // namespace vesk
