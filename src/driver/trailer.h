// The checksum trailer of text and mixed archives: 12 bytes right behind
// the last coded stream, the marker "XXH3" and the XXH3 64-bit hash of the
// original file (little-endian). The compressor always writes it; the
// decompressor checks the restored file against it before writing anything.
// Archives without it (they end with the last coded stream) still decode;
// a reader that goes by the header's lengths never reaches it.
#pragma once

#include <cstdint>

namespace vesk {

constexpr int64_t trailer_bytes = 12;

// The hash of a file's bytes.
uint64_t content_hash(const uint8_t* data, int64_t n);

// Writes the trailer for a file with this hash at `at`.
void put_trailer(uint8_t* at, uint64_t hash);

struct checksum {
  bool present = false;
  uint64_t hash = 0;
};

// The trailer of a compressed file of m bytes whose coded streams end at
// `end`: none (m == end), or a well-formed trailer; anything else refuses
// the file.
checksum read_trailer(const char* in, const uint8_t* packed, int64_t end, int64_t m);

// False when the file has a checksum and the restored bytes do not match it.
bool checksum_matches(const checksum& c, const uint8_t* restored, int64_t n);

}  // namespace vesk
