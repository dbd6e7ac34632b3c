// The checksum trailer of text and mixed archives: 12 bytes right behind
// the last coded stream, a marker and the XXH3 64-bit hash of the original
// file (little-endian). The marker also names the byte predictor's
// probability rows the streams were coded with: "VSK2" the current rows,
// "XXH3" the first ones. The compressor always writes "VSK2"; the
// decompressor checks the restored file against the hash before writing
// anything. Archives without a trailer (they end with the last coded stream)
// were coded with the first rows and still decode; a reader that goes by the
// header's lengths never reaches the trailer.
#pragma once

#include <cstdint>

#include "models/model.h"

namespace vesk {

constexpr int64_t trailer_bytes = 12;

// The hash of a file's bytes.
uint64_t content_hash(const uint8_t* data, int64_t n);

// The same hash over bytes that arrive a piece at a time.
struct content_hasher {
  content_hasher();
  ~content_hasher();
  content_hasher(const content_hasher&) = delete;
  content_hasher& operator=(const content_hasher&) = delete;
  void add(const uint8_t* data, int64_t n);
  uint64_t value() const;
  void* state;
};

// Writes the trailer for a file with this hash at `at`.
void put_trailer(uint8_t* at, uint64_t hash);

struct checksum {
  bool present = false;
  uint64_t hash = 0;
  bool first_rows = true;  // coded with the first probability rows
};

// The trailer of a compressed file of m bytes whose coded streams end at
// `end`: none (m == end), or a well-formed trailer; anything else refuses
// the file.
checksum read_trailer(const char* in, const uint8_t* packed, int64_t end, int64_t m);

// The model options that decode streams coded as the trailer says.
model_options decoding_options(const checksum& c);

// False when the file has a checksum and the restored bytes do not match it.
bool checksum_matches(const checksum& c, const uint8_t* restored, int64_t n);

}  // namespace vesk
