// libvesk's C API: one-shot and streaming archives, byte for byte those of
// the program and of the frozen tests; errors as codes with their detail,
// with nothing left behind; settings, limits, cancelling; contexts on two
// threads at once.
#include "lib/vesk.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cfenv>
#include <thread>

#include "support/recipes.h"
#include "support/support.h"
#include "util/arena.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

struct context {
  vesk_ctx* c = vesk_ctx_new();
  ~context() { vesk_ctx_free(c); }
  operator vesk_ctx*() const { return c; }
};

bytes compress(vesk_ctx* c, const bytes& in, int method = VESK_METHOD_AUTO, int level = VESK_LEVEL_DEFAULT,
               int* rc = nullptr) {
  bytes out(vesk_compress_bound(in.size()));
  size_t n = 0;
  const int r = vesk_compress(c, in.data(), in.size(), out.data(), out.size(), &n, method, level);
  if (rc != nullptr) *rc = r;
  EXPECT_TRUE(rc != nullptr || r == VESK_OK) << vesk_error_name(r) << ": " << vesk_ctx_error(c);
  out.resize(n);
  return out;
}

bytes decompress(vesk_ctx* c, const bytes& in, int* rc = nullptr) {
  uint64_t size = 0;
  const int s = vesk_decompressed_size(in.data(), in.size(), &size);
  bytes out(s == VESK_OK && size < (uint64_t{1} << 30) ? size : 0);
  size_t n = 0;
  const int r = vesk_decompress(c, in.data(), in.size(), out.data(), out.size(), &n);
  if (rc != nullptr) *rc = r;
  EXPECT_TRUE(rc != nullptr || r == VESK_OK) << vesk_error_name(r) << ": " << vesk_ctx_error(c);
  out.resize(n);
  return out;
}

// A stream in pieces of `piece` bytes each way.
bytes stream(vesk_stream* s, const bytes& in, size_t piece, int* rc = nullptr) {
  bytes out, buf(piece);
  size_t at = 0;
  for (int r = VESK_OK; r != VESK_END;) {
    const size_t k = std::min(piece, in.size() - at);
    size_t used = 0, made = 0;
    r = vesk_stream_run(s, in.data() + at, k, &used, buf.data(), buf.size(), &made, at + k == in.size());
    if (r != VESK_OK && r != VESK_END) {
      if (rc != nullptr) *rc = r;
      return out;
    }
    at += used;
    out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(made));
  }
  if (rc != nullptr) *rc = VESK_OK;
  return out;
}

bytes stream_compress(vesk_ctx* c, const bytes& in, size_t piece, int method = VESK_METHOD_AUTO,
                      int level = VESK_LEVEL_DEFAULT) {
  vesk_stream* s = vesk_compress_stream_new(c, method, level);
  const bytes out = stream(s, in, piece);
  vesk_stream_free(s);
  return out;
}

bytes stream_decompress(vesk_ctx* c, const bytes& in, size_t piece, int* rc = nullptr) {
  vesk_stream* s = vesk_decompress_stream_new(c);
  const bytes out = stream(s, in, piece, rc);
  vesk_stream_free(s);
  return out;
}

// The program's archive of a file under its name, with these options.
bytes program(const std::string& name, const bytes& data, std::vector<std::string> args) {
  scratch_dir d;
  write_bytes(d.path(name), data);
  args.insert(args.end(), {"-q", "-c", d.path(name), d.path("out")});
  EXPECT_EQ(run_vesk(args).status, 0);
  return read_bytes(d.path("out"));
}

bytes program_pipe(const bytes& data, const std::string& options) {
  scratch_dir d;
  write_bytes(d.path("in"), data);
  EXPECT_EQ(run_shell("cat '" + d.path("in") + "' | " + vesk_command({}) + " -T1 " + options + " > '" +
                      d.path("out") + "'").status, 0);
  return read_bytes(d.path("out"));
}

TEST(Library, OneShotArchivesAreTheProgramsAndRoundTrip) {
  context c;
  const struct {
    const char* name;  // under which the program picks the same method
    bytes data;
    int method;
    std::string option;
  } cases[] = {
      {"prose", text_sample(120000, 1), VESK_METHOD_AUTO, ""},
      {"kinds", pin_mixed(100000, 2, 5000), VESK_METHOD_AUTO, ""},
      {"noise", random_bytes(50000, 3), VESK_METHOD_AUTO, ""},
      {"image", pin_image(90, 60, 3, 4), VESK_METHOD_AUTO, ""},
      {"empty", {}, VESK_METHOD_AUTO, ""},
      {"t", text_sample(5000, 5), VESK_METHOD_TEXT, "--method=text"},
      {"m", text_sample(5000, 6), VESK_METHOD_MIXED, "--method=mixed"},
      {"s", text_sample(5000, 7), VESK_METHOD_STORED, "--method=stored"},
  };
  for (const auto& k : cases) {
    for (const int level : {VESK_LEVEL_DEFAULT, VESK_LEVEL_BEST}) {
      SCOPED_TRACE(std::string(k.name) + " level " + std::to_string(level));
      const bytes a = compress(c, k.data, k.method, level);
      std::vector<std::string> args;
      if (!k.option.empty()) args.push_back(k.option);
      if (level == VESK_LEVEL_BEST) args.push_back("-9");
      EXPECT_TRUE(a == program(k.name, k.data, args));
      EXPECT_TRUE(decompress(c, a) == k.data);
      EXPECT_TRUE(stream_decompress(c, a, 777) == k.data);
    }
  }
  EXPECT_STREQ(vesk_version(), "4");
  EXPECT_EQ(vesk_version_number(), 4u);
}

// Streams are the program's -T1 archive through a pipe, whatever the
// pieces; restoring in pieces gives the input back.
TEST(Library, StreamsAreTheProgramsFramesWhateverThePieces) {
  context c;
  ASSERT_EQ(vesk_ctx_set_frame_size(c, 65536), VESK_OK);
  bytes data = text_sample(150000, 8);
  const bytes kinds = pin_mixed(100000, 9, 5000);
  data.insert(data.end(), kinds.begin(), kinds.end());
  const bytes whole = stream_compress(c, data, data.size() + 1);
  EXPECT_TRUE(whole == program_pipe(data, "--frame-size=64K"));
  for (const size_t piece : {size_t{1} << 16, size_t{7777}, size_t{100}})
    EXPECT_TRUE(stream_compress(c, data, piece) == whole) << piece;
  EXPECT_TRUE(stream_compress(c, data, 5000, VESK_METHOD_MIXED, VESK_LEVEL_BEST) ==
              program_pipe(data, "--frame-size=64K --method=mixed -9"));
  for (const size_t piece : {size_t{1} << 20, size_t{4096}, size_t{33}})
    EXPECT_TRUE(stream_decompress(c, whole, piece) == data) << piece;
  EXPECT_TRUE(decompress(c, whole) == data);
  ASSERT_EQ(vesk_ctx_set_threads(c, 2), VESK_OK);
  EXPECT_TRUE(stream_compress(c, data, 30000) == whole);
}

TEST(Library, FrozenArchivesThroughTheLibrary) {
  context c;
  const std::string frozen = VESK_SOURCE_DIR "/tests/cli/frozen/";
  auto word = [](const std::string& name) {
    const std::string ext = name.substr(name.size() - 4);
    return ext == ".txt" ? VESK_METHOD_TEXT : ext == ".dat" ? VESK_METHOD_MIXED : -1;
  };
  for (const recipe& r : frozen_recipes()) {
    SCOPED_TRACE(r.name);
    const bytes a = read_bytes(frozen + r.name + ".arc");
    EXPECT_TRUE(decompress(c, a) == r.data);
    if (word(r.name) > 0) {
      EXPECT_TRUE(compress(c, r.data, word(r.name)) == a);
    }
  }
  for (const recipe& r : frozen_strong_recipes()) {
    SCOPED_TRACE(r.name);
    const bytes a = read_bytes(frozen + "strong/" + r.name + ".arc");
    EXPECT_TRUE(decompress(c, a) == r.data);
    EXPECT_TRUE(compress(c, r.data, word(r.name), VESK_LEVEL_BEST) == a);
  }
}

// A thousand damaged archives in one process: an error for each, with its
// detail, and the caller's arena as it was.
TEST(Library, DamagedArchivesFailAndLeaveNothing) {
  context c;
  const bytes text = text_sample(3000, 10), kinds = pin_mixed(3000, 11, 500);
  const bytes archives[] = {compress(c, text, VESK_METHOD_TEXT), compress(c, kinds, VESK_METHOD_MIXED),
                            compress(c, text, VESK_METHOD_TEXT, VESK_LEVEL_BEST),
                            compress(c, kinds, VESK_METHOD_MIXED, VESK_LEVEL_BEST),
                            compress(c, text, VESK_METHOD_STORED)};
  const int64_t blocks = arena_blocks(), bytes_held = arena_allocated();
  gen g{12};
  int failed = 0, corrupt = 0;
  for (int trial = 0; trial < 1000; trial++) {
    bytes b = archives[trial % 5];
    const size_t at = 4 + g.below(static_cast<uint32_t>(b.size() - 4));
    b[at] ^= static_cast<uint8_t>(1 + g.below(255));
    if (trial % 7 == 0) b.resize(at);  // and cut
    bytes out(20000);
    size_t n = 0;
    const int r = vesk_decompress(c, b.data(), b.size(), out.data(), out.size(), &n);
    failed += r != VESK_OK;
    corrupt += r == VESK_ERROR_CORRUPT;
    if (r == VESK_ERROR_CORRUPT) {
      EXPECT_NE(std::string(vesk_ctx_error(c)).find("is damaged"), std::string::npos) << vesk_ctx_error(c);
    }
  }
  EXPECT_EQ(failed, 1000);
  EXPECT_EQ(corrupt, 1000);
  // Headers that claim more than a call could hold are refused as damage,
  // one shot and streamed, without the memory they claim being taken.
  const bytes huge[] = {
      as_bytes(std::string("\x05\0\0\0\xff\xff\xff\xff", 8) + std::string(40, '\xff')),
      as_bytes(std::string("\x02\0\0\0\xff\xff\xff\xff", 8) + std::string(40, '\0')),
      as_bytes(std::string("\x06\0\0\0\0\0\0\0\0\0\0\x10", 12) + std::string(40, 'a')),
      as_bytes(std::string("\x01\0\0\0\xff\xff\xff\x7f", 8) + std::string(40, '\x01')),
  };
  for (const bytes& h : huge) {
    bytes out(100);
    size_t n = 0;
    EXPECT_EQ(vesk_decompress(c, h.data(), h.size(), out.data(), out.size(), &n), VESK_ERROR_CORRUPT)
        << vesk_ctx_error(c);
    int rc = 0;
    EXPECT_TRUE(stream_decompress(c, h, 7, &rc).empty());
    EXPECT_EQ(rc, VESK_ERROR_CORRUPT) << vesk_ctx_error(c);
  }
  EXPECT_EQ(arena_blocks(), blocks);
  EXPECT_EQ(arena_allocated(), bytes_held);
  EXPECT_EQ(decompress(c, archives[0]), text);  // and the context works on
}

int cancel_at_once(void*, uint64_t, uint64_t) {
  return 1;
}
struct heard {
  uint64_t calls = 0, last_done = 0, total = 0;
};
int count_calls(void* user, uint64_t done, uint64_t total) {
  auto* h = static_cast<heard*>(user);
  h->calls++;
  h->last_done = done;
  h->total = total;
  return 0;
}

TEST(Library, ErrorsLimitsAndCancelling) {
  context c;
  const bytes text = text_sample(200000, 13);
  const bytes a = compress(c, text, VESK_METHOD_TEXT);
  const std::tuple<const char*, int, int> bad_calls[] = {
      {"a null context", vesk_compress(nullptr, text.data(), 1, nullptr, 0, nullptr, 0, 0), VESK_ERROR_ARGUMENT},
      {"an unknown method", [&] {
         bytes out(100);
         size_t n;
         return vesk_compress(c, text.data(), 10, out.data(), out.size(), &n, 7, 0);
       }(), VESK_ERROR_ARGUMENT},
      {"an unknown level", [&] {
         bytes out(100);
         size_t n;
         return vesk_compress(c, text.data(), 10, out.data(), out.size(), &n, 0, 5);
       }(), VESK_ERROR_ARGUMENT},
      {"a small buffer", [&] {
         bytes out(100);
         size_t n;
         return vesk_compress(c, text.data(), text.size(), out.data(), out.size(), &n, 0, 0);
       }(), VESK_ERROR_BUFFER},
      {"a small buffer to restore", [&] {
         bytes out(1000);
         size_t n;
         return vesk_decompress(c, a.data(), a.size(), out.data(), out.size(), &n);
       }(), VESK_ERROR_BUFFER},
      {"a foreign input", [&] {
         const bytes f = as_bytes("\x11hello there");
         bytes out(100);
         size_t n;
         return vesk_decompress(c, f.data(), f.size(), out.data(), out.size(), &n);
       }(), VESK_ERROR_CORRUPT},
      {"a frame size too small", vesk_ctx_set_frame_size(c, 1000), VESK_ERROR_ARGUMENT},
      {"too many threads", vesk_ctx_set_threads(c, 100000), VESK_ERROR_ARGUMENT},
  };
  for (const auto& [what, got, want] : bad_calls) EXPECT_EQ(got, want) << what << ": " << vesk_error_name(got);
  EXPECT_STREQ(vesk_error_name(VESK_ERROR_CORRUPT), "VESK_ERROR_CORRUPT");
  EXPECT_STREQ(vesk_error_name(99), "VESK_ERROR_UNKNOWN");
  // The memory limit: below what one thread needs, refused with the figures.
  ASSERT_EQ(vesk_ctx_set_memory_limit(c, 10'000'000), VESK_OK);
  int rc = 0;
  compress(c, text, VESK_METHOD_TEXT, VESK_LEVEL_DEFAULT, &rc);
  EXPECT_EQ(rc, VESK_ERROR_MEMORY);
  EXPECT_NE(std::string(vesk_ctx_error(c)).find("this input needs about"), std::string::npos);
  EXPECT_GT(vesk_memory_estimate(text.size(), VESK_METHOD_TEXT, VESK_LEVEL_DEFAULT), 10'000'000u);
  ASSERT_EQ(vesk_ctx_set_memory_limit(c, 0), VESK_OK);
  // Cancelled by the callback; heard from it otherwise.
  vesk_ctx_set_progress(c, cancel_at_once, nullptr);
  compress(c, text, VESK_METHOD_TEXT, VESK_LEVEL_DEFAULT, &rc);
  EXPECT_EQ(rc, VESK_ERROR_CANCELLED);
  heard h;
  vesk_ctx_set_progress(c, count_calls, &h);
  EXPECT_TRUE(decompress(c, compress(c, random_bytes(300000, 14), VESK_METHOD_MIXED)).size() == 300000);
  EXPECT_GT(h.calls, 2u);
  EXPECT_LE(h.last_done, h.total);
  vesk_ctx_set_progress(c, nullptr, nullptr);
  EXPECT_TRUE(decompress(c, a) == text);
  EXPECT_STREQ(vesk_ctx_error(c), "");
}

// The caller's floating-point mode does not reach the models, and comes
// back as it was.
TEST(Library, TheCallersFloatingPointModeIsSetAsideAndRestored) {
  context c;
  const bytes data = pin_mixed(60000, 15, 5000);
  const bytes plain = compress(c, data, VESK_METHOD_MIXED);
  const unsigned mode = _mm_getcsr();
  _mm_setcsr(mode | 0x8040);  // flush to zero, denormals are zero
  std::fesetround(FE_UPWARD);
  const bytes odd = compress(c, data, VESK_METHOD_MIXED);
  EXPECT_EQ(_mm_getcsr() & 0x8040u, 0x8040u);
  std::fesetround(FE_TONEAREST);
  _mm_setcsr(mode);
  EXPECT_TRUE(odd == plain);
}

// Two contexts on two threads at once code what they code one after the
// other.
TEST(Library, TwoContextsAtOnce) {
  const bytes one = text_sample(300000, 16), two = pin_mixed(300000, 17, 6000);
  context a, b;
  const bytes alone_one = compress(a, one, VESK_METHOD_AUTO, VESK_LEVEL_BEST);
  const bytes alone_two = compress(b, two, VESK_METHOD_MIXED);
  bytes together_one, together_two, back_one, back_two;
  std::thread t([&] {
    together_one = compress(a, one, VESK_METHOD_AUTO, VESK_LEVEL_BEST);
    back_one = decompress(a, alone_two);
  });
  together_two = compress(b, two, VESK_METHOD_MIXED);
  back_two = decompress(b, alone_one);
  t.join();
  EXPECT_TRUE(together_one == alone_one);
  EXPECT_TRUE(together_two == alone_two);
  EXPECT_TRUE(back_one == two);
  EXPECT_TRUE(back_two == one);
}

}  // namespace
}  // namespace vesk::test
