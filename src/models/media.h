// Uncompressed media inside a stream: images (PPM and PGM of 8-bit
// samples, BMP of 24 or 32 bits a pixel) and audio (WAV, 8- or 16-bit
// PCM). The strong block model finds their headers as it codes (only from
// bytes it has coded, so the decoder finds the same) and predicts their
// samples from their neighbours: an image's pixel from the one to its
// left, above and around it, an audio sample from the samples before it.
// The mixed parser of the strong method finds the same headers in its
// input and keeps the blocks of each medium in the binary stream, so that
// the stream holds its rows and samples unbroken.
#pragma once

#include <cstdint>

namespace vesk {

struct media_format {
  enum kind_t : uint8_t { none, image, audio } kind = none;
  int64_t data = 0;     // the first sample's offset from the header's start
  int64_t bytes = 0;    // of the samples, as the header declares them
  int64_t stride = 0;   // image: bytes from a row to the next
  int channels = 1;     // image: bytes a pixel; audio: channels
  int sample_bytes = 1;  // audio: bytes a sample (1 or 2)
};

// What the bytes at p, `avail` of them, say of a header there.
enum class header_state { invalid, incomplete, complete };
struct media_header {
  header_state state = header_state::invalid;
  media_format format;
};

// The longest header read: a PPM's comments, a BMP's palette, a WAV's
// chunks before its data may take no more.
constexpr int64_t media_header_most = 2048;

// Whether a header may start at p (its first byte is its tag's first).
media_header read_media_header(const uint8_t* p, int64_t avail);

// Whether the bytes ending at p (p[-1] the last) end a tag a header starts
// with ("P5", "P6", "BM", "RIFF"); returns the tag's length, 0 for none.
int media_tag_before(const uint8_t* p);

// Follows a stream as its bytes become known: the medium whose samples
// position i belongs to, if any.
struct media_tracker {
  // Where headers that may not be complete yet start, oldest first; -1 for
  // none. A new tag while all are taken drops the oldest.
  static constexpr int most_pending = 4;
  int64_t pending[most_pending] = {-1, -1, -1, -1};
  int64_t start = 0, end = 0;  // the current medium's samples: [start, end)
  media_format format;

  // Byte i - 1 has become known (i >= 1; history reads as zeros).
  void advance(const uint8_t* buf, int64_t i);
  bool in(int64_t i) const { return i >= start && i < end; }
};

}  // namespace vesk
