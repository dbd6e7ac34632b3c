// The mixed method end to end through the built binary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

bytes mixed_round_trip(const bytes& data) {
  return cli_round_trip("in.dat", "mixed", data);
}

bytes machine_file(const char* path, size_t most) {
  bytes b = read_bytes(path);
  if (b.size() > most) b.resize(most);
  return b;
}

// A 16-bit stereo sine sweep, like uncompressed audio.
bytes audio(size_t samples) {
  bytes b;
  for (size_t i = 0; i < samples; i++) {
    double t = static_cast<double>(i) / 44100.0;
    auto v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * (200 + 300 * t) * t));
    for (int ch = 0; ch < 2; ch++) {
      b.push_back(static_cast<uint8_t>(v));
      b.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  return b;
}

// An RGB gradient with noise, like an uncompressed image.
bytes image(int w, int h) {
  std::mt19937 g(4);
  bytes b;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < 3; c++)
        b.push_back(static_cast<uint8_t>((x * (c + 1) + y * 2 + g() % 4) & 0xFF));
  return b;
}

// Record blocks whose stride changes every few hundred bytes.
bytes changing_records() {
  bytes b;
  for (int stride : {8, 12, 20, 36, 64, 16}) {
    for (int i = 0; i < 600; i++)
      b.push_back(static_cast<uint8_t>(i % stride == 0 ? i / stride : i % stride * 9));
  }
  return b;
}

TEST(MixedMethod, RoundTrips) {
  const std::vector<bytes> inputs = {
      {},
      {0x7F},
      random_bytes(250, 1),
      random_bytes(99, 2),
      random_bytes(100, 3),
      random_bytes(101, 4),
      random_bytes(10000, 5),
      machine_file("/proc/self/exe", 300000),
      machine_file("/usr/lib/x86_64-linux-gnu/libc.so.6", 200000),
      image(200, 150),
      audio(30000),
      text_sample(60000, 6),
      bytes(200000, 0),
      changing_records(),
  };
  for (const bytes& b : inputs) mixed_round_trip(b);
}

TEST(MixedMethod, SourceTreeTar) {
  scratch_dir d;
  ASSERT_EQ(
      std::system(
          ("tar -cf '" + d.path("src.dat") + "' -C /usr/include/linux . 2>/dev/null").c_str()),
      0);
  bytes tar = read_bytes(d.path("src.dat"));
  if (tar.size() > 400000) tar.resize(400000);
  bytes packed = mixed_round_trip(tar);
  EXPECT_LT(packed.size(), tar.size() / 4);
}

TEST(MixedMethod, ContainerLayout) {
  bytes packed = mixed_round_trip(random_bytes(250, 7));
  ASSERT_GE(packed.size(), 80u);
  EXPECT_EQ(get_u32(packed.data()), 2u);        // method word
  EXPECT_EQ(get_u32(packed.data() + 4), 250u);  // n
  EXPECT_EQ(get_u32(packed.data() + 16), 3u);   // blocktypec: 250 bytes are three blocks
  uint32_t blocks = get_u32(packed.data() + 8) + get_u32(packed.data() + 12) +
                    get_u32(packed.data() + 24);  // binary, record, text bytes
  EXPECT_LE(blocks, 300u);
  // The nine coded streams follow the header; stream 1 (period) at 44.
  size_t at = 44;
  for (int w = 0; w < 9; w++) {
    ASSERT_LE(at + 4, packed.size());
    uint32_t l = get_u32(packed.data() + at);
    EXPECT_GE(l, 4u);
    EXPECT_EQ(l % 2, 0u);
    at += 4 + l;
  }
  EXPECT_EQ(at + 12, packed.size());  // the checksum trailer follows
  EXPECT_EQ(std::string(packed.begin() + static_cast<long>(at), packed.begin() + static_cast<long>(at) + 4),
            "VSK2");
}

TEST(MixedMethod, EmptyFile) {
  bytes packed = mixed_round_trip({});
  for (int f = 1; f <= 10; f++) {
    uint32_t v = get_u32(packed.data() + 4 * f);
    EXPECT_EQ(v, f == 8 ? 1u : 0u) << "field " << f;  // only mismatchc is 1
  }
  EXPECT_EQ(packed.size(), 44u + 9 * (4 + 4) + 12);
}

TEST(MixedMethod, DamagedContainersFailCleanly) {
  bytes data = machine_file("/proc/self/exe", 20000);
  bytes rec = changing_records();
  data.insert(data.end(), rec.begin(), rec.end());
  const bytes good = mixed_round_trip(data);
  for (size_t len :
       {size_t{4}, size_t{43}, size_t{44}, size_t{60}, good.size() / 2, good.size() - 1}) {
    const bytes b(good.begin(), good.begin() + static_cast<long>(len));
    expect_clean_failure(b, "truncated to " + std::to_string(len));
  }
  for (size_t field = 1; field <= 10; field++) {
    for (uint32_t v : {0u, 1u, 99u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      bytes b = good;
      if (get_u32(b.data() + 4 * field) == v) continue;  // no change
      put_u32(b.data() + 4 * field, v);
      expect_clean_failure(b, "field " + std::to_string(field) + " = " + std::to_string(v));
    }
  }
  expect_flips_fail_cleanly(good, 44, 30, 3);  // bytes flipped in the coded streams
}

// Every cut and two flips of every byte of a small archive whose file has a
// text, a binary and an x86 block (with calls, so the branch streams are
// not empty).
TEST(MixedMethod, EveryDamageOfASmallArchiveIsRefused) {
  bytes original = text_sample(100, 8);
  const bytes noise = random_bytes(100, 9);
  original.insert(original.end(), noise.begin(), noise.end());
  for (int i = 0; i < 10; i++) {
    const uint8_t code[] = {0x48, 0x89, 0xE5, 0xE8, static_cast<uint8_t>(i * 16), 0x10, 0, 0, 0x90, 0x90};
    original.insert(original.end(), std::begin(code), std::end(code));
  }
  const bytes packed = mixed_round_trip(original);
  EXPECT_EQ(get_u32(packed.data() + 16), 3u);  // three blocks
  EXPECT_GT(get_u32(packed.data() + 36), 0u);  // branch codes
  expect_all_damage_refused(packed, original);
}

// A tiny archive whose header claims a file of 900 MB, with consistent
// stream lengths, is refused before anything is allocated for them.
TEST(MixedMethod, StreamLengthsBeyondTheirCodedLengthsAreRefused) {
  bytes b = mixed_round_trip({});
  const uint32_t n = 900'000'000, blocks = n / 100, binary = n;
  put_u32(b.data() + 4, n);
  put_u32(b.data() + 8, binary);
  put_u32(b.data() + 16, blocks);
  run_result r = expect_clean_failure(b, "n = 900 MB");
  EXPECT_NE(r.out.find("stream lengths beyond their coded lengths"), std::string::npos) << r.out;
}

// A lowered n made the last block's tail vanish unnoticed; the checksum,
// and the last block's zero padding, catch it.
TEST(MixedMethod, LoweredLengthIsRefused) {
  const bytes good = mixed_round_trip(random_bytes(250, 10));
  for (uint32_t less : {1u, 2u, 49u}) {
    bytes b = good;
    put_u32(b.data() + 4, 250 - less);
    expect_clean_failure(b, "n lowered by " + std::to_string(less));
    b.resize(b.size() - 12);  // without the checksum the padding still tells
    expect_clean_failure(b, "n lowered by " + std::to_string(less) + ", no trailer");
  }
}

}  // namespace
}  // namespace vesk::test
