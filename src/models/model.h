// The context-mixing models. Each codes or rebuilds one whole stream
// through the coder the container set up; direction 1 compresses (and ends
// with the coder's flush), 0 decompresses into the buffer. Every model reads
// history in front of the buffer (at least 8 zero bytes; the containers put
// 256, or 1024 before streams of 32-bit entries) instead of testing bounds,
// allocates its tables from the arena at its start and releases them at its
// end: no state survives from one stream to the next. `options` are for
// tests and tools; their defaults are the format's.
#pragma once

#include <cstdint>

#include "coding/arithmetic.h"
#include "coding/nibble_table.h"

namespace vesk {

struct model_options {
  table_layout table;  // the table's layout and figures: every layout codes the same bits
  // Probability rows for the byte predictor in place of the format's (the
  // tool that fits them); any other rows code other bits.
  const float (*rows)[256] = nullptr;
  // The strong methods' models: a match model and a final refinement stage
  // around the model's mixer (the -9 methods; false codes the default
  // methods' bits).
  bool strong = false;
};

// The models by kind, as the containers' stream tables name them.
enum class stream_model : uint8_t { byte, word, block, x86, disp, record };

// General byte model: any byte stream (text dictionary; mixed period,
// mismatch, blocktype and branch streams).
void byte_model(uint8_t* buf, int32_t length, coder& k, int direction,
                const model_options& options = {});

// Word-code model: the text method's word-code stream (4-byte slots). It
// codes one byte more than the slots' codes, at buf[length]: that byte must
// be readable when compressing and writable when decompressing, and 12 zero
// bytes must precede the buffer.
void wordcode_model(uint8_t* buf, int32_t length, coder& k, int direction,
                    const model_options& options = {});

// x86 model: the mixed method's x86 stream (reads 48 bytes of history).
void x86_model(uint8_t* buf, int32_t length, coder& k, int direction,
               const model_options& options = {});

// Block model: the mixed method's binary and text streams.
void block_model(uint8_t* buf, int32_t length, coder& k, int direction,
                 const model_options& options = {});

// Displacement model: the branch literals, 32-bit values most significant
// byte first (reads 64 bytes of history; 1024 zero bytes precede the stream).
void disp_model(uint8_t* buf, int32_t length, coder& k, int direction,
                const model_options& options = {});

// Record model: fixed-stride records. Only bytes whose mismatch bit is set
// are coded; the rest are copies of the byte one period back. mismatch has
// a bit per byte (least significant first), period a byte per 64 bytes,
// each a multiple of 4 from 4 to 68 (reads 3 x 68 bytes of history).
void record_model(uint8_t* buf, int32_t length, coder& k, int direction, const uint8_t* mismatch,
                  const uint8_t* period, const model_options& options = {});

}  // namespace vesk
