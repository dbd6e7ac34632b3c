// The mixed-data transform: a file cut into 100-byte blocks, each classed as
// binary data, fixed-stride records, x86 machine code or text, and split
// into one stream per class; two side streams for the records (a period per
// 64-byte chunk, a mismatch bit per byte) and, over the x86 stream, a branch
// transform that moves the displacements of calls and jumps into two
// streams of their own. mixed_inverse merges the streams back.
#pragma once

#include <cstdint>

#include "models/model.h"

namespace vesk {

constexpr int64_t block_size = 100;
constexpr int64_t input_history = 100;   // zero bytes the parser reads before the input
constexpr int64_t stream_history = 256;  // zero bytes in front of each stream
constexpr int64_t disp_history = 1024;   // in front of the displacement stream
constexpr int64_t period_chunk = 64;

enum block_type : uint8_t { block_binary = 0, block_record = 1, block_x86 = 2, block_text = 3 };

// The nine streams, in the order the mixed container codes them: period
// and mismatch come before record, whose model reads them as context.
enum mixed_stream : int {
  ms_period,
  ms_mismatch,
  ms_record,
  ms_blocktype,
  ms_binary,
  ms_x86,
  ms_disp,
  ms_branch,
  ms_text,
};
constexpr int mixed_stream_count = 9;

// The stream of each block type.
constexpr mixed_stream block_stream[4] = {ms_binary, ms_record, ms_x86, ms_text};

// What the container, the memory estimate and the tools know of each
// stream: its name (progress line, tools), its model, its work per element
// relative to the others (the x86 and block models have 12 contexts, the
// others 8), the bytes of an element (disp: 32-bit entries), the zero
// history in front of its buffer, and the header field that holds its
// length.
struct mixed_stream_info {
  const char* name;
  stream_model model;
  int work;
  int unit;
  int64_t history;
  int header_field;
};

constexpr mixed_stream_info mixed_stream_table[mixed_stream_count] = {
    {"period", stream_model::byte, 2, 1, stream_history, 7},
    {"mismatch", stream_model::byte, 2, 1, stream_history, 8},
    {"record", stream_model::record, 2, 1, stream_history, 3},
    {"blocktype", stream_model::byte, 2, 1, stream_history, 4},
    {"binary", stream_model::block, 3, 1, stream_history, 2},
    {"x86", stream_model::x86, 3, 1, stream_history, 5},
    {"disp", stream_model::disp, 2, 4, disp_history, 10},
    {"branch", stream_model::byte, 2, 1, stream_history, 9},
    {"text", stream_model::block, 3, 1, stream_history, 6},
};

// Every buffer pointer is the first byte of its stream; the stream's
// history lies in front of it in the same arena block. len counts elements
// (x86: after the branch transform). The descriptor owns the nine buffers
// (mixed_release frees them).
struct mixed_streams {
  uint8_t* buf[mixed_stream_count] = {};
  int64_t len[mixed_stream_count] = {};
};

// A stream's length in bytes.
inline int64_t stream_bytes(const mixed_streams& s, int w) {
  return s.len[w] * mixed_stream_table[w].unit;
}

// Splits input[0 .. n-1] (with input_history zero bytes in front and zero
// bytes after it up to the end of its last block plus one) into streams.
// With keep_media (the strong method), every block of an image or a sound
// the input holds (media.h) is binary, however it looks.
void mixed_parse(const uint8_t* input, int64_t n, mixed_streams& s, bool keep_media = false);

// Buffer capacities: what a stream of each kind may hold, derived from the
// lengths, with the zero tail the models and the transform read past the
// end. Used by the parser and by the decompressor, so both sides lay the
// streams out alike.
int64_t block_stream_bytes(int64_t len);
int64_t branch_capacity(int64_t x86_bytes);  // codes for an x86 stream of that many bytes
int64_t disp_capacity(int64_t x86_bytes);    // entries likewise

// Allocates the nine buffers in the parser's order, zeroed, for the given
// lengths (x86_bytes: the x86 stream before the branch transform).
void mixed_allocate(mixed_streams& s, int64_t blocks, int64_t binaryc, int64_t recordc,
                    int64_t x86_bytes, int64_t textc);
void mixed_release(mixed_streams& s);

// The x86 branch transform (in place on s.x86) and its inverse, which
// writes the rebuilt x86 stream to out (stream_history zero bytes in front,
// room for x86_bytes + 4). branch_decode returns false on streams that no
// encoder produced.
void branch_encode(mixed_streams& s);
bool branch_decode(const mixed_streams& s, uint8_t* out, int64_t x86_bytes);

// Merges the streams into out (100 x blocktypec bytes); returns false when
// the streams disagree with each other.
bool mixed_inverse(uint8_t* out, const mixed_streams& s);

}  // namespace vesk
