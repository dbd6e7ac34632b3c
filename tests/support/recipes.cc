#include "support/recipes.h"

#include <algorithm>

namespace vesk::test {
namespace {

std::string make_word(gen& g, int syllables) {
  static const char* parts[] = {"ka", "lo", "mi", "ner", "st", "th", "an", "re", "in", "qu",
                                "ow", "el", "ti", "on",  "ba", "ch", "ee", "sk", "ur", "pa"};
  std::string w;
  for (int i = 0; i < syllables; i++) w += parts[g.below(20)];
  return w;
}

void put(bytes& b, std::initializer_list<uint8_t> v) { b.insert(b.end(), v); }
void put32(bytes& b, uint32_t v) {
  for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Instruction-like bytes: prologues, moves, calls and jumps to a few dozen
// targets, so that blocks class as x86 and the branch transform finds work.
void x86_like(bytes& b, gen& g, size_t n) {
  const size_t end = b.size() + n;
  while (b.size() < end) {
    switch (g.below(10)) {
      case 0: put(b, {0x55, 0x48, 0x89, 0xE5}); break;
      case 1: put(b, {0x48, 0x89, static_cast<uint8_t>(0xC0 + g.below(64))}); break;
      case 2: put(b, {0x48, 0x8B, 0x45, static_cast<uint8_t>(0xF0 - 8 * g.below(4))}); break;
      case 3:
        b.push_back(0xE8);
        put32(b, 4096 * (1 + g.skewed(40)) - static_cast<uint32_t>(b.size()));
        break;
      case 4: put(b, {0x0F, 0x84}); put32(b, g.below(300)); break;
      case 5: put(b, {0x48, 0x83, 0xEC, static_cast<uint8_t>(8 * g.below(8))}); break;
      case 6: put(b, {0x0F, 0x1F, 0x44, 0x00, 0x00}); break;
      case 7: put(b, {0x48, 0x8D, 0x3D}); put32(b, g.below(1 << 20)); break;
      case 8: put(b, {0xC3}); break;
      default: put(b, {0x4C, 0x89, static_cast<uint8_t>(0xE0 + g.below(16))}); break;
    }
  }
}

}  // namespace

bytes pin_text(size_t n, uint32_t vocab, uint64_t seed) {
  gen g{seed};
  std::vector<std::string> words;
  for (uint32_t i = 0; i < vocab; i++)
    words.push_back(make_word(g, 1 + static_cast<int>(g.below(4))));
  bytes b;
  bool start = true;
  while (b.size() < n) {
    std::string w = g.below(40) == 0 ? std::to_string(g.below(100000)) : words[g.skewed(vocab)];
    if (start && w[0] >= 'a') w[0] = static_cast<char>(w[0] - 32);
    if (g.below(200) == 0)
      for (auto& c : w) c = static_cast<char>(c >= 'a' ? c - 32 : c);
    start = false;
    b.insert(b.end(), w.begin(), w.end());
    const uint32_t r = g.below(24);
    if (r == 0) {
      b.push_back('.');
      start = true;
    } else if (r == 1) {
      b.push_back(',');
    } else if (r == 2) {
      b.push_back(';');
    }
    b.push_back(g.below(14) == 0 ? '\n' : ' ');
  }
  b.resize(n);
  return b;
}

bytes pin_mixed(size_t n, uint64_t seed, size_t piece) {
  gen g{seed};
  const bytes prose = pin_text(n / 4, 800, seed + 1);
  size_t prose_at = 0;
  bytes b;
  int32_t wave = 0, step = 300;
  for (int kind = 0; b.size() < n; kind++) {
    const size_t len = piece;
    switch (kind % 6) {
      case 0: x86_like(b, g, len); break;
      case 1:  // records of 16 bytes: a counter, a slow value, flags
        for (uint32_t r = 0; r < len / 16; r++)
          for (uint32_t v : {r, 1000 + r / 7, g.below(4), 0xFFFF0000 | (r & 15)}) put32(b, v);
        break;
      case 2:  // 16-bit samples of a triangle wave with noise, like audio
        for (size_t i = 0; i < len / 2; i++) {
          wave += step;
          if (wave > 20000 || wave < -20000) step = -step;
          const auto v = static_cast<int16_t>(wave + static_cast<int32_t>(g.below(64)) - 32);
          put(b, {static_cast<uint8_t>(v), static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8)});
        }
        break;
      case 3:  // an RGB gradient with noise, like an image
        for (size_t i = 0; i < len / 3; i++) {
          const auto x = static_cast<uint32_t>(i % 400), y = static_cast<uint32_t>(i / 400);
          for (uint32_t c = 0; c < 3; c++)
            b.push_back(static_cast<uint8_t>(x * (c + 1) + 2 * y + g.below(6)));
        }
        break;
      case 4:
        for (size_t i = 0; i < len && prose_at < prose.size(); i++) b.push_back(prose[prose_at++]);
        break;
      default:  // noise
        for (size_t i = 0; i < len / 4; i++) b.push_back(static_cast<uint8_t>(g.next()));
    }
  }
  b.resize(n);
  return b;
}

bytes pin_repeated(size_t part, uint32_t vocab, uint64_t seed) {
  bytes t = pin_text(part, vocab, seed);
  const bytes copy = t;
  t.insert(t.end(), copy.begin(), copy.end());
  t.insert(t.end(), copy.begin(), copy.begin() + static_cast<long>(part / 2));
  return t;
}

namespace {

// A pixel value of a smooth scene: two gradients and a ripple, with noise.
uint8_t scene(gen& g, int x, int y, int c) {
  const int v = (x * (3 + c)) / 4 + (y * (5 - c)) / 3 + ((x * y / 37) & 15) + static_cast<int>(g.below(9));
  return static_cast<uint8_t>(v);
}

}  // namespace

bytes pin_image(int width, int height, int channels, uint64_t seed) {
  gen g{seed};
  const std::string head = std::string(channels == 1 ? "P5" : "P6") + "\n# made by a recipe\n" +
                           std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  bytes b(head.begin(), head.end());
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      for (int c = 0; c < channels; c++) b.push_back(scene(g, x, y, c));
  return b;
}

bytes pin_bmp(int width, int height, int bits, uint64_t seed) {
  gen g{seed};
  const int channels = bits / 8, stride = (width * bits + 31) / 32 * 4;
  bytes b = {'B', 'M'};
  put32(b, static_cast<uint32_t>(54 + stride * height));
  put32(b, 0);
  put32(b, 54);  // the pixels' offset
  put32(b, 40);  // BITMAPINFOHEADER
  put32(b, static_cast<uint32_t>(width));
  put32(b, static_cast<uint32_t>(height));
  put(b, {1, 0, static_cast<uint8_t>(bits), 0});
  for (int i = 0; i < 6; i++) put32(b, 0);  // no compression, sizes, palette
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++)
      for (int c = 0; c < channels; c++) b.push_back(c == 3 ? 255 : scene(g, x, y, c));
    for (int p = width * channels; p < stride; p++) b.push_back(0);
  }
  return b;
}

bytes pin_wav(int frames, int channels, int bits, uint64_t seed) {
  gen g{seed};
  const int bytes_per = bits / 8;
  bytes b = {'R', 'I', 'F', 'F'};
  put32(b, static_cast<uint32_t>(36 + frames * channels * bytes_per));
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<uint8_t>(c));
  put32(b, 16);
  put(b, {1, 0, static_cast<uint8_t>(channels), 0});
  put32(b, 22050);
  put32(b, static_cast<uint32_t>(22050 * channels * bytes_per));
  put(b, {static_cast<uint8_t>(channels * bytes_per), 0, static_cast<uint8_t>(bits), 0});
  for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
  put32(b, static_cast<uint32_t>(frames * channels * bytes_per));
  int32_t a = 0, da = 0, t = 0, dt = 0;
  for (int f = 0; f < frames; f++) {
    // Two slow oscillators of a few hundred samples' period, with noise.
    da += a > 0 ? -9 : 9;
    a += da;
    dt += t > 0 ? -2 : 2;
    t += dt;
    for (int c = 0; c < channels; c++) {
      const int v = (a * 3 + t * 5) / 4 / (c + 1) + static_cast<int>(g.below(4)) - 2;
      if (bits == 8) {
        b.push_back(static_cast<uint8_t>(128 + v / 64));
      } else {
        const auto s = static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, -32768, 32767)));
        put(b, {static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8)});
      }
    }
  }
  return b;
}

std::vector<recipe> frozen_recipes() {
  return {{"prose.txt", pin_text(6000, 300, 11)},    {"kinds.dat", pin_mixed(12000, 12, 2000)},
          {"plain.bin", pin_text(2000, 100, 13)},    {"noise.dat", random_bytes(1500, 14)},
          {"one.txt", {'v'}},                        {"empty.txt", {}},
          {"empty.dat", {}},                         {"empty.bin", {}}};
}

std::vector<recipe> frozen_strong_recipes() {
  return {{"prose.txt", pin_text(6000, 300, 21)},   {"repeats.txt", pin_repeated(3000, 200, 22)},
          {"kinds.dat", pin_mixed(12000, 23, 2000)}, {"image.dat", pin_image(40, 30, 3, 24)},
          {"sound.dat", pin_wav(3000, 2, 16, 25)},   {"bitmap.dat", pin_bmp(20, 10, 24, 26)},
          {"empty.txt", {}},                         {"empty.dat", {}}};
}

}  // namespace vesk::test
