// The context-mixing models. Each codes or rebuilds one whole stream
// through the coder the container set up; direction 1 compresses (and ends
// with the coder's flush), 0 decompresses into the buffer. Every model reads
// history in front of the buffer (at least 8 zero bytes; the containers put
// 256, or 1024 before streams of 32-bit entries) instead of testing bounds,
// allocates its tables from the arena at its start and releases them at its
// end: no state survives from one stream to the next.
#pragma once

#include <cstdint>

#include "coding/arithmetic.h"

namespace vesk {

constexpr int compress_dir = 1;
constexpr int decompress_dir = 0;

// General byte model: any byte stream (text dictionary; mixed period,
// mismatch, blocktype and branch streams).
void byte_model(uint8_t* buf, int32_t length, coder& k, int direction);

// Word-code model: the text method's word-code stream (4-byte slots). It
// codes one byte more than the slots' codes, at buf[length]: that byte must
// be readable when compressing and writable when decompressing, and 12 zero
// bytes must precede the buffer.
void wordcode_model(uint8_t* buf, int32_t length, coder& k, int direction);

}  // namespace vesk
