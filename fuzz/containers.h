// One fuzz target per container decoder: the input is a compressed file.
// The decoder must refuse it cleanly or restore something; it must never
// crash, fail an internal check or allocate beyond what the file declares.
#pragma once

#include <cstdint>
#include <string>

#include "harness.h"

namespace vesk::fuzz {

// Writes the input as a file and decodes it; returns whether the decoder
// accepted it (the restored file is then at scratch("out")).
template <class Decode>
bool decode_file(const uint8_t* data, size_t size, Decode decode) {
  const std::string in = scratch("in"), out = scratch("out");
  write_whole(in, data, size);
  return guarded([&] { decode(in.c_str(), out.c_str()); });
}

}  // namespace vesk::fuzz
