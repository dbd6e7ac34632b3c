#include "models/media.h"

#include <cstring>

namespace vesk {

namespace {

constexpr int64_t most_side = 1 << 16;  // pixels a row or rows an image

bool is_white(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

uint32_t le16(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}
uint32_t le32(const uint8_t* p) {
  return le16(p) | le16(p + 2) << 16;
}

media_header incomplete_or_invalid(int64_t avail) {
  return {avail < media_header_most ? header_state::incomplete : header_state::invalid, {}};
}

// "P5" (grey) or "P6" (RGB), white space and comments, width, height and
// the largest sample value in decimal, one white space character, samples.
media_header read_pnm(const uint8_t* p, int64_t avail) {
  const int channels = p[1] == '5' ? 1 : 3;
  int64_t at = 2, field[3] = {};
  for (int64_t& v : field) {
    // White space and comments before the number; at least one byte of it.
    const int64_t before = at;
    for (;;) {
      if (at >= avail) return incomplete_or_invalid(avail);
      if (p[at] == '#') {
        while (at < avail && p[at] != '\n') at++;
      } else if (is_white(p[at])) {
        at++;
      } else {
        break;
      }
    }
    if (at == before) return {};
    int digits = 0;
    for (; at < avail && p[at] >= '0' && p[at] <= '9'; at++, digits++) {
      if (digits == 6) return {};
      v = 10 * v + (p[at] - '0');
    }
    if (at >= avail) return incomplete_or_invalid(avail);
    if (digits == 0) return {};
  }
  if (!is_white(p[at])) return {};
  const auto [w, h, most] = field;
  if (w < 1 || h < 1 || w > most_side || h > most_side || most < 1 || most > 255) return {};
  media_header r{header_state::complete, {}};
  r.format.kind = media_format::image;
  r.format.data = at + 1;
  r.format.channels = channels;
  r.format.stride = w * channels;
  r.format.bytes = r.format.stride * h;
  return r;
}

// "BM", the file header and a BITMAPINFOHEADER or a later one: uncompressed
// 24- or 32-bit pixels, rows padded to four bytes.
media_header read_bmp(const uint8_t* p, int64_t avail) {
  constexpr int64_t need = 54;
  if (avail < need) return {header_state::incomplete, {}};
  const int64_t offset = le32(p + 10), info = le32(p + 14);
  const auto w = static_cast<int32_t>(le32(p + 18)), h = static_cast<int32_t>(le32(p + 22));
  const uint32_t planes = le16(p + 26), bits = le16(p + 28), compression = le32(p + 30);
  const bool known_info = info == 40 || info == 52 || info == 56 || info == 108 || info == 124;
  if (!known_info || planes != 1 || (bits != 24 && bits != 32)) return {};
  if (compression != 0 && !(compression == 3 && bits == 32)) return {};
  if (offset < 14 + info || offset > media_header_most) return {};
  const int64_t rows = h < 0 ? -int64_t{h} : h;
  if (w < 1 || w > most_side || rows < 1 || rows > most_side) return {};
  media_header r{header_state::complete, {}};
  r.format.kind = media_format::image;
  r.format.data = offset;
  r.format.channels = static_cast<int>(bits / 8);
  r.format.stride = (int64_t{w} * bits + 31) / 32 * 4;
  r.format.bytes = r.format.stride * rows;
  return r;
}

// "RIFF", a length, "WAVE", then chunks: a "fmt " of PCM (or of the
// extensible format) with 8- or 16-bit samples, and "data", whose bytes
// are the samples.
media_header read_wav(const uint8_t* p, int64_t avail) {
  if (avail < 12) return {header_state::incomplete, {}};
  if (std::memcmp(p + 8, "WAVE", 4) != 0) return {};
  int64_t at = 12;
  media_format f;
  bool have_format = false;
  for (;;) {
    if (at + 8 > avail) return incomplete_or_invalid(avail);
    const int64_t size = le32(p + at + 4);
    if (std::memcmp(p + at, "data", 4) == 0) {
      if (!have_format) return {};
      f.data = at + 8;
      f.bytes = size;
      return {header_state::complete, f};
    }
    if (std::memcmp(p + at, "fmt ", 4) == 0) {
      if (size < 16) return {};
      if (at + 8 + 16 > avail) return incomplete_or_invalid(avail);
      const uint8_t* q = p + at + 8;
      const uint32_t tag = le16(q), channels = le16(q + 2), align = le16(q + 12),
                     bits = le16(q + 14);
      if ((tag != 1 && tag != 0xFFFE) || channels < 1 || channels > 8) return {};
      if ((bits != 8 && bits != 16) || align != channels * bits / 8) return {};
      f.kind = media_format::audio;
      f.channels = static_cast<int>(channels);
      f.sample_bytes = static_cast<int>(bits / 8);
      have_format = true;
    }
    at += 8 + size + (size & 1);
    if (at > media_header_most) return {};
  }
}

}  // namespace

media_header read_media_header(const uint8_t* p, int64_t avail) {
  if (avail < 2) return {header_state::incomplete, {}};
  if (p[0] == 'P' && (p[1] == '5' || p[1] == '6')) return read_pnm(p, avail);
  if (p[0] == 'B' && p[1] == 'M') return read_bmp(p, avail);
  if (avail < 4) return {std::memcmp(p, "RIFF", static_cast<size_t>(avail)) == 0
                             ? header_state::incomplete
                             : header_state::invalid,
                         {}};
  if (std::memcmp(p, "RIFF", 4) == 0) return read_wav(p, avail);
  return {};
}

int media_tag_before(const uint8_t* p) {
  const uint8_t c = p[-1];
  if ((c == '5' || c == '6') && p[-2] == 'P') return 2;
  if (c == 'M' && p[-2] == 'B') return 2;
  if (c == 'F' && std::memcmp(p - 4, "RIFF", 4) == 0) return 4;
  return 0;
}

void media_tracker::advance(const uint8_t* buf, int64_t i) {
  // Nothing inside a medium (nor between its header and its samples) is
  // taken for the start of another.
  if (i < end) return;
  int live = 0;
  for (int64_t& p : pending) {
    if (p < 0) continue;
    const media_header h = read_media_header(buf + p, i - p);
    if (h.state == header_state::complete) {
      format = h.format;
      start = p + h.format.data;
      end = start + h.format.bytes;
      for (int64_t& q : pending) q = -1;
      return;
    }
    if (h.state == header_state::invalid) p = -1;
    live += p >= 0;
  }
  if (const int tag = media_tag_before(buf + i)) {
    if (live == most_pending) pending[0] = -1;
    // Oldest first: the free places close up, the new one goes last.
    int64_t* out = pending;
    for (int64_t p : pending)
      if (p >= 0) *out++ = p;
    *out++ = i - tag;
    while (out < pending + most_pending) *out++ = -1;
  }
}

}  // namespace vesk
