// The coded bits are the format: archives of data made by a fixed recipe must
// come out byte for byte as pinned here, whatever is done for speed or
// memory. The data comes from a hand-written generator (no standard-library
// distributions, whose output differs between libraries), sized so that the
// models' tables grow their maps and, for the noise, move to the direct
// layout.
#include <gtest/gtest.h>
#include <xxhash.h>

#include <cstdint>
#include <string>

#include "support/support.h"

namespace vesk::test {
namespace {

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

std::string make_word(gen& g, int syllables) {
  static const char* parts[] = {"ka", "lo", "mi", "ner", "st", "th", "an", "re", "in", "qu",
                                "ow", "el", "ti", "on",  "ba", "ch", "ee", "sk", "ur", "pa"};
  std::string w;
  for (int i = 0; i < syllables; i++) w += parts[g.below(20)];
  return w;
}

// Prose-like text over a vocabulary of `vocab` words, Zipf-like.
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

void put(bytes& b, std::initializer_list<uint8_t> v) {
  b.insert(b.end(), v);
}
void put32(bytes& b, uint32_t v) {
  for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Instruction-like bytes: prologues, moves, calls and jumps to a few dozen
// targets, so that blocks class as x86 and the branch transform finds work.
void x86_like(bytes& b, gen& g, size_t n) {
  const size_t end = b.size() + n;
  while (b.size() < end) {
    switch (g.below(10)) {
      case 0:
        put(b, {0x55, 0x48, 0x89, 0xE5});
        break;
      case 1:
        put(b, {0x48, 0x89, static_cast<uint8_t>(0xC0 + g.below(64))});
        break;
      case 2:
        put(b, {0x48, 0x8B, 0x45, static_cast<uint8_t>(0xF0 - 8 * g.below(4))});
        break;
      case 3:
        b.push_back(0xE8);
        put32(b, 4096 * (1 + g.skewed(40)) - static_cast<uint32_t>(b.size()));
        break;
      case 4:
        put(b, {0x0F, 0x84});
        put32(b, g.below(300));
        break;
      case 5:
        put(b, {0x48, 0x83, 0xEC, static_cast<uint8_t>(8 * g.below(8))});
        break;
      case 6:
        put(b, {0x0F, 0x1F, 0x44, 0x00, 0x00});
        break;
      case 7:
        put(b, {0x48, 0x8D, 0x3D});
        put32(b, g.below(1 << 20));
        break;
      case 8:
        put(b, {0xC3});
        break;
      default:
        put(b, {0x4C, 0x89, static_cast<uint8_t>(0xE0 + g.below(16))});
        break;
    }
  }
}

// A file of every kind the mixed parser tells apart, in 24 KB pieces.
bytes pin_mixed(size_t n, uint64_t seed) {
  gen g{seed};
  const bytes prose = pin_text(n / 4, 800, seed + 1);
  size_t prose_at = 0;
  bytes b;
  int32_t wave = 0, step = 300;
  for (int piece = 0; b.size() < n; piece++) {
    const size_t len = 24000;
    switch (piece % 6) {
      case 0:
        x86_like(b, g, len);
        break;
      case 1:  // records of 16 bytes: a counter, a slow value, flags
        for (uint32_t r = 0; r < len / 16; r++) {
          put32(b, r);
          put32(b, 1000 + r / 7);
          put32(b, g.below(4));
          put32(b, 0xFFFF0000 | (r & 15));
        }
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
      default:
        for (size_t i = 0; i < len / 4; i++) b.push_back(static_cast<uint8_t>(g.next()));
        break;
    }
  }
  b.resize(n);
  return b;
}

bytes pin_noise(size_t n, uint64_t seed) {
  gen g{seed};
  bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>(g.next() >> 56);
  return b;
}

// 64-bit FNV-1a of an archive.
uint64_t fnv64(const bytes& b) {
  uint64_t h = 0xcbf29ce484222325;
  for (uint8_t c : b) h = (h ^ c) * 0x100000001b3;
  return h;
}

struct pinned {
  const char* name;
  const char* method;
  bytes data;
  size_t size;
  uint64_t hash;
};

// The pinned figures cover the header and the coded streams; behind them
// the archive carries its checksum trailer: "XXH3" and the XXH3 64-bit hash
// of the original, little-endian.
void expect_pinned(const pinned& p) {
  SCOPED_TRACE(p.name);
  bytes archive = cli_round_trip(p.name, p.method, p.data);
  ASSERT_GE(archive.size(), 12u);
  const bytes trailer(archive.end() - 12, archive.end());
  archive.resize(archive.size() - 12);
  EXPECT_EQ(archive.size(), p.size);
  EXPECT_EQ(fnv64(archive), p.hash) << std::hex << "0x" << fnv64(archive);
  bytes expected = {'X', 'X', 'H', '3'};
  const uint64_t h = XXH3_64bits(p.data.data(), p.data.size());
  for (int i = 0; i < 8; i++) expected.push_back(static_cast<uint8_t>(h >> (8 * i)));
  EXPECT_EQ(trailer, expected);
}

TEST(Reference, TextArchivesAreUnchanged) {
  expect_pinned({"prose.txt", "text", pin_text(300000, 3000, 1), 70484, 0x7bd599a2229d325f});
  expect_pinned({"wordy.txt", "text", pin_text(300000, 60000, 2), 98138, 0xd6fac69de9bedc26});
  expect_pinned({"short.txt", "text", pin_text(1000, 50, 3), 384, 0x2644d4a50bc9e3});
}

TEST(Reference, MixedArchivesAreUnchanged) {
  const pinned kinds{"kinds.dat", "mixed", pin_mixed(600000, 4), 215676, 0xdc1d92c02ba04808};
  expect_pinned(kinds);
  // The recipe reaches every stream: binary, record, x86, text, branch, disp.
  scratch_dir d;
  write_bytes(d.path("kinds.dat"), kinds.data);
  ASSERT_EQ(run_vesk({"-c", d.path("kinds.dat"), d.path("kinds.vsk")}).status, 0);
  const bytes a = read_bytes(d.path("kinds.vsk"));
  for (int field : {8, 12, 20, 24, 36, 40})
    EXPECT_GT(a[field] | a[field + 1] << 8 | a[field + 2] << 16, 0) << "header field at " << field;
  expect_pinned({"short.dat", "mixed", pin_mixed(1000, 5), 568, 0x995eefce83834fed});
}

// Over a million random bytes: the block model's map fills and the stream
// moves to the direct 2 GiB table.
TEST(Reference, NoiseArchiveIsUnchanged) {
  expect_pinned({"noise.dat", "mixed", pin_noise(1200000, 6), 1204424, 0xe22d3c650a71f379});
}

}  // namespace
}  // namespace vesk::test
