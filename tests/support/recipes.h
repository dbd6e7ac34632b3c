// Test data made by fixed recipes: a hand-written generator (no
// standard-library distributions, whose output differs between libraries),
// so the same bytes come out on every machine and every build. Archives of
// these data are pinned by the reference and frozen-format tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/support.h"

namespace vesk::test {

// A splitmix generator.
struct gen {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) * n >> 32); }
  // Skewed towards small values: about n * u^3 for u uniform in [0, 1).
  uint32_t skewed(uint32_t n) {
    const uint64_t u = next() >> 44;  // 20 bits
    return static_cast<uint32_t>((((u * u) >> 20) * u >> 20) * n >> 20);
  }
};

// Prose-like text over a vocabulary of `vocab` words, Zipf-like.
bytes pin_text(size_t n, uint32_t vocab, uint64_t seed);

// A file of every kind the mixed parser tells apart (x86 code with calls
// and jumps, 16-byte records, audio-like samples, an image-like gradient,
// prose, noise), in pieces of `piece` bytes.
bytes pin_mixed(size_t n, uint64_t seed, size_t piece = 24000);

// Long verbatim repeats: pin_text(part, vocab, seed), that text again, and
// its first half once more.
bytes pin_repeated(size_t part, uint32_t vocab, uint64_t seed);

// Uncompressed media, as the strong block model finds them: a PPM (3
// channels) or PGM (1) photograph-like image, smooth with noise; a BMP of
// 24 or 32 bits a pixel; a WAV of 8- or 16-bit samples, a mix of slow
// tones with noise.
bytes pin_image(int width, int height, int channels, uint64_t seed);
bytes pin_bmp(int width, int height, int bits, uint64_t seed);
bytes pin_wav(int frames, int channels, int bits, uint64_t seed);

// The sources of the frozen archives (tests/cli/frozen), named as vesk
// needs them to pick the method; random data is random_bytes.
struct recipe {
  std::string name;
  bytes data;
};
std::vector<recipe> frozen_recipes();
// The sources of the strong methods' frozen archives (tests/cli/frozen/strong,
// made with vesk -9): every model and stream, the matches, the media.
std::vector<recipe> frozen_strong_recipes();

}  // namespace vesk::test
