// The framed archive (method word 3): the input cut into slices, each coded
// as a complete archive of its own method (stored, text, mixed, ...) behind
// a frame header, then an end record. Frames are independent, so they are
// coded side by side and written in order as they finish; nothing needs the
// input's size in advance, so a pipe streams through in bounded memory.
//
//   0   method word 3
//   4   frames, each: a 32-byte header, then `coded` bytes (an archive)
//       end record (32 bytes)
//
// Frame header (little-endian):
//   0 "VFRM"  4 index (from 0)  8 method word of the archive inside
//   12 original length  16 coded length  20 XXH3-64 of the original slice
//   28 check: low 32 bits of the XXH3-64 of bytes 0..27
// End record:
//   0 "VEND"  4 frame count (64-bit)  12 total length (64-bit)
//   20 XXH3-64 of the whole input  28 check, as above
//
// The index numbers catch frames dropped, repeated or swapped; the checks
// catch a damaged header before its lengths are trusted; every frame's hash
// lets a reader pass it on as soon as it is restored.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "driver/method.h"

namespace vesk {

constexpr int64_t frame_record_bytes = 32;
constexpr int frame_threads_most = 256;
constexpr int64_t frame_size_least = 65536;         // below this the models learn too little
constexpr int64_t frame_size_most = 1'001'000'000;  // what a single archive may hold

struct frame_header {
  uint32_t index = 0;
  uint32_t method_word = 0;
  int64_t original = 0;
  int64_t coded = 0;
  uint64_t hash = 0;
};

struct frame_end {
  uint64_t count = 0;
  uint64_t total = 0;
  uint64_t hash = 0;
};

void put_frame_header(uint8_t* at, const frame_header& h);
void put_frame_end(uint8_t* at, const frame_end& e);

// Reads a 32-byte record: a frame header or the end record, or neither
// (a damaged record) with `why` set.
struct frame_record {
  bool is_end = false;
  frame_header header;
  frame_end end;
};
std::optional<frame_record> get_frame_record(const uint8_t* at, const char** why);

// The frame size for an input of `size` bytes (-1: unknown, a pipe), when
// none was asked for. It depends on nothing else, so the archive never
// depends on the machine or the thread count.
int64_t default_frame_size(int64_t size);

// Where a frame of a text input ends: at most `want` bytes of the `have`
// at p, cut after the last line end in the last 1/64 of `want`, else
// after the last byte that is no part of a word, else at `want`. When
// the input has ended (`last`) and fits, all of it.
int64_t text_frame_cut(const uint8_t* p, int64_t have, int64_t want, bool last);

// The mixed method cuts on whole 100-byte blocks; the last frame takes
// what is left.
int64_t mixed_frame_cut(int64_t have, int64_t want, bool last);

struct frame_settings {
  int threads = 1;               // frames coded at once, each on one thread
  int64_t frame_size = 0;        // 0: the default rule
  std::optional<method> forced;  // every frame's method (--method)
  const char* name = nullptr;    // the input's name, which may pick the method; null for a pipe
  bool strong = false;           // -9: text and mixed frames take the strong methods
};

// Receives the next bytes of an archive, or of a restored input.
using byte_sink = std::function<void(const uint8_t* data, int64_t n)>;

// Compresses a stream into a framed archive a piece at a time: push the
// input as it comes, finish at its end (the archive of an input of
// known_size bytes, -1 for unknown, whose frame size follows from it). The
// archive goes to `write` as frames are coded, a batch at a time (one frame
// a thread, and one more); it is the same whatever the pieces pushed and
// the thread count.
class frame_encoder {
 public:
  frame_encoder(const frame_settings& s, int64_t known_size, std::string name, byte_sink write);
  ~frame_encoder();
  frame_encoder(const frame_encoder&) = delete;
  frame_encoder& operator=(const frame_encoder&) = delete;
  void push(const uint8_t* p, int64_t n);
  int64_t finish();  // codes the rest and writes the end record; returns the input's length
  int64_t frame_size() const;

 private:
  struct state;
  void code_pending(bool at_end);
  std::unique_ptr<state> st;
};

// Restores a framed archive a piece at a time: push the archive's bytes
// behind its method word as they come, finish at their end, which checks
// the end record. Each frame goes to `write` (empty: a test) once it and
// every frame before it are verified. Damage fails the call that meets it.
class frame_decoder {
 public:
  frame_decoder(std::string name, byte_sink write, int threads);
  ~frame_decoder();
  frame_decoder(const frame_decoder&) = delete;
  frame_decoder& operator=(const frame_decoder&) = delete;
  void push(const uint8_t* p, int64_t n);
  int64_t finish();  // returns the bytes restored
  bool ended() const;  // the end record has come

 private:
  struct state;
  void restore_ready();
  std::unique_ptr<state> st;
};

}  // namespace vesk
