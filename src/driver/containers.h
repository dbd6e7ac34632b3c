// The containers: each turns one whole input held in memory into one
// archive of its method, or an archive back into the input. The driver
// (one file per run) and the framed archive (one slice of the input per
// frame) both call them.
#pragma once

#include <cstdint>
#include <functional>

namespace vesk {

// A container's input: its size and a function that copies all of it into
// a buffer the container allocated (so a file is read straight into place).
struct pack_input {
  const char* name;  // names the input in messages
  int64_t size;
  std::function<void(uint8_t* dst)> read;
};

// Receives a finished archive, or a restored file, all of it at once. It is
// called once, after every check has passed.
using pack_output = std::function<void(const uint8_t* data, int64_t n)>;

struct pack_settings {
  // The streams of one input may be coded two at a time; frames coded side
  // by side turn it off, so that a run never uses more threads than asked.
  bool parallel_streams = true;
  // The strong models (method words 4 and 5) when packing; unpacking
  // follows the archive's method word.
  bool strong = false;
};

void stored_pack(const pack_input& in, const pack_output& out);
void text_pack(const pack_input& in, const pack_output& out, const pack_settings& s);
void mixed_pack(const pack_input& in, const pack_output& out, const pack_settings& s);

// Decoders take the whole archive (m bytes, its method word first) and
// refuse a damaged one with a message naming it.
void stored_unpack(const char* name, const uint8_t* packed, int64_t m, const pack_output& out);
void text_unpack(const char* name, const uint8_t* packed, int64_t m, const pack_output& out,
                 const pack_settings& s);
void mixed_unpack(const char* name, const uint8_t* packed, int64_t m, const pack_output& out,
                  const pack_settings& s);

}  // namespace vesk
