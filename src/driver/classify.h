// The method an input's content asks for, when its name does not say:
// stored for data that does not compress (compressed or encrypted
// streams, random bytes), text for prose and large plain texts, mixed for
// everything else. One rule for files, pipes and frames; it looks at a
// sample of the input, never at all of it:
//
// - the sample: the whole input when it is at most 32 chunks of 32 KiB,
//   else 32 chunks of 32 KiB spread evenly over it (the first at the
//   start, the last at the end);
// - does not compress: the order-0 entropy of each chunk's bytes and of
//   their differences at distances 1 to 4 (the smallest of the five, with
//   the bias of a short count taken out), averaged over the sample, is at
//   least 7.8 bits a byte. Compressed data measures 7.9 and more, the
//   densest data that compresses (audio, images, code) 7.3 at most;
// - text: no zero byte and at most one control character (other than
//   white space) in a hundred, and either prose (at most 3% digits and 12%
//   punctuation) of 64 KiB or more, or plain text of 2 MiB or more (under
//   10% digits and 20% punctuation); tables, logs, markup, smaller sources
//   and small files code better with the mixed method's text blocks.
//
// Integer arithmetic throughout, so the choice is the same on every machine.
#pragma once

#include <cstdint>
#include <functional>

#include "driver/method.h"

namespace vesk {

// Copies the input's bytes [at, at + n) to dst.
using content_reader = std::function<void(int64_t at, int64_t n, uint8_t* dst)>;

// stored, text or mixed for an input of `size` bytes.
method method_by_content(int64_t size, const content_reader& read);
method method_by_content(const uint8_t* p, int64_t n);

// What the choice is made of, apart for tests and tools: entropy in bits
// a byte times 65536, shares in parts of the sample's bytes.
struct content_stats {
  int64_t bytes = 0;        // in the sample
  int64_t entropy_q16 = 0;  // the sample's mean measure, 8 << 16 for no sample
  int64_t zeros = 0, controls = 0, digits = 0, punctuation = 0;
};
content_stats sample_content(int64_t size, const content_reader& read);
method method_of_stats(const content_stats& s, int64_t size);

// log2(x) times 65536, rounded down, for x >= 1.
int64_t log2_q16(uint64_t x);

}  // namespace vesk
