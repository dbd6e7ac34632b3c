// The text transform: its passes, the forward transform and its inverse,
// the word order, its cost estimate's logarithms, and its limits.
#include "text/text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/support.h"
#include "text/partition.h"
#include "text/passes.h"
#include "text/sort.h"
#include "text/stat.h"
#include "util/arena.h"
#include "util/bytes.h"

namespace vesk {
namespace {

std::string run_pass(text_buf (*pass)(const uint8_t*, int64_t), const std::string& text) {
  std::string a = text + " ";
  text_buf r = pass(reinterpret_cast<const uint8_t*>(a.data()), static_cast<int64_t>(text.size()));
  EXPECT_EQ(r.a[r.n], ' ');
  std::string out(reinterpret_cast<char*>(r.a), static_cast<size_t>(r.n));
  text_release(r);
  return out;
}

// The token text of a file: " " + file through the three forward passes.
std::string tokens_of(const std::string& file) {
  return run_pass(encode_case, run_pass(split_tokens, run_pass(escape_spaces, " " + file)));
}

std::string restore(std::string tokens) {
  tokens += " ";
  tokens.append(text_pad, '\0');
  auto* a = reinterpret_cast<uint8_t*>(tokens.data());
  int64_t n = static_cast<int64_t>(tokens.size()) - 1 - text_pad;
  decode_case(a, n);
  join_tokens(a, n);
  unescape_spaces(a, n);
  EXPECT_EQ(a[n], ' ');
  return tokens.substr(0, static_cast<size_t>(n));
}

TEST(TextPasses, ExamplesAndTheInverseUndoingEveryPass) {
  EXPECT_EQ(restore(" \\s \\u hello"), " Hello");
  for (const char* s : {"Hello, World!", "\\s\\u\\v\\_x", "ABC def GHi", "\t\r\n", "a1B2"})
    EXPECT_EQ(restore(tokens_of(s)), std::string(" ") + s) << s;
  // Every string of up to 5 characters over an alphabet of the escapes' letters.
  const std::function<void(const std::string&)> every = [&](const std::string& s) {
    ASSERT_EQ(restore(tokens_of(s)), " " + s) << "[" << s << "]";
    if (s.size() < 5)
      for (char c : std::string(" \\suv_Ab.")) every(s + c);
  };
  every("");
  const std::pair<const char*, const char*> cases[] = {
      {"Hello, World!", " \\s \\u hello \\s , \\u world \\s !"}, {"NASA", " \\s \\v nasa"},
      {"A", " \\s \\u a"}, {"McDonald aBC Ab", " \\s McDonald aBC \\u ab"},
      {"a  b", " \\s a \\_ \\s b"}, {"2024", " \\s 2 \\s 0 \\s 2 \\s 4"},
      {"a\\b", " \\s a \\s \\\\b"}, {" x", " \\s \\_ \\s x"},
      // An empty token ends these two: the text's closing space follows one.
      {"", " \\s "}, {"hello world ", " \\s hello world "}, {"hello world  ", " \\s hello world \\_"}};
  for (const auto& [file, tokens] : cases) EXPECT_EQ(tokens_of(file), tokens) << file;
}

struct streams {
  std::vector<std::string> words;  // dictionary in index order
  std::vector<uint32_t> codes;
  int64_t listc = 0;
};

// The forward transform of " " + file + " " (as the container lays it
// out); returns its refusal, or null.
const char* forward_of(const std::string& file, text_state& t) {
  const std::string a = " " + file + " ";
  return text_forward(t, reinterpret_cast<const uint8_t*>(a.data()),
                      static_cast<int64_t>(file.size()) + 1);
}

streams forward(const std::string& file) {
  text_state t;
  if (const char* why = forward_of(file, t)) {
    ADD_FAILURE() << why;
    return {};
  }
  streams s;
  s.listc = t.listc;
  for (int64_t p = 1, start = 1; p < t.listc; p++) {
    if (t.list[p] != ' ') continue;
    s.words.emplace_back(t.list + start, t.list + p);
    start = p + 1;
  }
  EXPECT_EQ(t.list[0], ' ');
  EXPECT_EQ(static_cast<int64_t>(s.words.size()), t.list2c);
  for (int64_t k = 0; k < t.codesc; k++) {
    uint32_t c;
    EXPECT_TRUE(slot_code(get_u32(t.codes + 4 * k), &c));
    s.codes.push_back(c);
  }
  EXPECT_EQ(t.list[-1], 0);
  EXPECT_EQ(t.codes[-1], 0);
  EXPECT_EQ(get_u32(t.codes + 4 * t.codesc), 0u);  // the byte past the end reads zero
  text_release_streams(t);
  return s;
}

TEST(TextTransform, WordsCodesAndTheirSlots) {
  // file, words in index order, codes
  const std::tuple<const char*, std::vector<std::string>, std::vector<uint32_t>> cases[] = {
      {"the cat and the dog and the bird", {"the", "and", "\\s", "cat", "dog", "bird"},
       {2, 0, 3, 1, 0, 4, 1, 0, 5}},
      {"Hello", {"\\u", "\\s", "hello"}, {1, 0, 2}},
      {"", {"", "\\s"}, {1, 0}},  // the empty word the text's end makes: listc 5
  };
  for (const auto& [file, words, codes] : cases) {
    const streams s = forward(file);
    EXPECT_EQ(s.words, words) << file;
    EXPECT_EQ(s.codes, codes) << file;
  }
  EXPECT_EQ(forward("").listc, 5);
  EXPECT_EQ(code_slot(127), 0x7Fu);
  EXPECT_EQ(code_slot(128), 0x80u);
  EXPECT_EQ(code_slot(16511), 0xFFBFu);
  EXPECT_EQ(code_slot(16512), 0xC0u);
  for (uint32_t c : {0u, 1u, 127u, 128u, 200u, 16511u, 16512u, 70000u, code_limit - 1}) {
    uint32_t back;
    ASSERT_TRUE(slot_code(code_slot(c), &back));
    EXPECT_EQ(back, c);
  }
  uint32_t c;
  EXPECT_FALSE(slot_code(0x0100, &c));    // a one-byte code with a non-zero byte above it
  EXPECT_FALSE(slot_code(0x010080, &c));  // a two-byte code likewise
  EXPECT_FALSE(slot_code(0x010000C0, &c));
}

std::vector<uint32_t> order(const std::vector<uint32_t>& codes, uint32_t lo, uint32_t hi,
                            uint32_t words) {
  std::vector<uint32_t> perm(hi - lo, 99);
  order_tier(codes.data(), static_cast<int64_t>(codes.size()), perm.data(), lo, hi, words);
  return perm;
}

// The word order: ranks sorted stably and descending, the bisection of a
// tier, and the order applied to the dictionary and the codes.
TEST(TextTransform, WordOrder) {
  uint32_t r[8] = {3, 0, 5, 1, 3, 2, 5, 3};
  rank_sort(r, 4, 2, 0);
  EXPECT_EQ(std::vector<uint32_t>(r, r + 8), (std::vector<uint32_t>{5, 1, 5, 3, 3, 0, 3, 2}));
  uint32_t big[4] = {1, 0, 0x80000000u, 1};  // keys compare unsigned
  rank_sort(big, 2, 2, 0);
  EXPECT_EQ(big[0], 0x80000000u);
  // Bisection. Word indices: 0 = x, 1 = z, tier [2, ...).
  EXPECT_EQ(order({0, 2}, 2, 3, 3), (std::vector<uint32_t>{0}));
  // Two words each preceded once by x: no move helps, the range is reversed.
  EXPECT_EQ(order({0, 2, 0, 3}, 2, 4, 4), (std::vector<uint32_t>{1, 0}));
  // A preceded twice by x, B twice by z: A moves to side 1, which comes first.
  EXPECT_EQ(order({0, 2, 0, 2, 1, 3, 1, 3}, 2, 4, 4), (std::vector<uint32_t>{0, 1}));
  // Six words, three after x and three after z.
  EXPECT_EQ(order({0, 2, 0, 3, 0, 4, 1, 5, 1, 6, 1, 7}, 2, 8, 8),
            (std::vector<uint32_t>{2, 1, 0, 3, 4, 5}));
  uint8_t list[] = {' ', 'a', 'b', ' ', 'c', ' '};
  int64_t list2[] = {0, 3, 5};
  uint32_t codes[] = {0, 1, 1, 0};
  const uint32_t perm[] = {1, 0};
  apply_order(codes, 4, perm, 0, 2, list, list2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list), 6), " c ab ");
  EXPECT_EQ(list2[1], 2);
  EXPECT_EQ(list2[2], 5);
  EXPECT_EQ(std::vector<uint32_t>(codes, codes + 4), (std::vector<uint32_t>{1, 0, 0, 1}));
  const uint32_t identity[] = {0, 1};
  apply_order(codes, 4, identity, 0, 2, list, list2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list), 6), " c ab ");
  apply_order(codes, 4, identity, 1, 1, list, list2);  // empty tier
}

TEST(TextTransform, RoundTripsAnyBytes) {
  std::mt19937_64 g(17);
  std::vector<std::string> inputs = {
      "", " ", "  ", "x", "Hello", "2024", "a\\b", "\\", "\\\\u", "trailing  ", "   leading",
      std::string(3000, ' '), std::string(5000, 'q'), "..,;;!!", "0123456789"};
  const test::bytes every = test::every_byte();
  const std::string all(every.begin(), every.end());
  inputs.push_back(all);
  inputs.push_back(all + all + std::string(3, '\0') + all);
  for (int trial = 0; trial < 30; trial++) {
    std::string s;
    size_t len = g() % 3000;
    for (size_t i = 0; i < len; i++) s += static_cast<char>(g());
    inputs.push_back(s);
    // Random words with random case and punctuation.
    std::string w;
    for (size_t i = 0; i < len; i++) {
      uint64_t r = g() % 40;
      w += r < 26 ? static_cast<char>((g() % 2 ? 'a' : 'A') + r) : " .,\\\t\n_AZaz01"[r - 26];
    }
    inputs.push_back(w);
  }
  test::bytes text = test::text_sample(300000, 5);
  inputs.emplace_back(text.begin(), text.end());
  for (const auto& s : inputs) ASSERT_EQ(test::text_round_trip(s), s) << s.size();
}

// Nearly every word distinct: the tokens' table holds twice the tokens.
// Enough of them for all three tiers: every code below the dictionary
// size, one-byte codes for the most frequent words.
TEST(TextTransform, EveryWordDistinctAndTheTiersOfCodes) {
  std::string s;
  for (int i = 0; i < 120'000; i++) s += test::letter_word(i) + (i % 100 ? " " : " the ");
  const streams st = forward(s);
  EXPECT_GT(st.words.size(), 16512u);
  for (uint32_t c : st.codes) ASSERT_LT(c, st.words.size());
  EXPECT_LT(std::find(st.words.begin(), st.words.end(), "the") - st.words.begin(), 128);
  EXPECT_EQ(test::text_round_trip(s), s);
}

TEST(TextTransform, InverseRejectsBadStreams) {
  const std::string small = " \\s a b ";  // \s, a, b
  // A word of a million bytes, its leading space included, 1500 times: the
  // text would reach the largest one (1.5 GB) and is refused before it is
  // allocated.
  const std::string big = " " + std::string(999'999, 'a') + " ";
  const struct {
    const std::string& list;
    std::vector<uint32_t> slots;
    int64_t n;
    const char* why;
  } cases[] = {
      {small, {0, 1, 2, 1}, 6, nullptr},  // " a b a"
      {small, {0, 3}, -1, "a word code beyond the dictionary"},
      {small, {0x100}, -1, "a malformed word code"},
      {small, {0x80}, -1, "a word code beyond the dictionary"},
      {big, std::vector<uint32_t>(1500, 0), -1, "the text grows too large"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> codes(4 * c.slots.size() + 4);
    for (size_t i = 0; i < c.slots.size(); i++) put_u32(&codes[4 * i], c.slots[i]);
    uint8_t* out = nullptr;
    const char* why = nullptr;
    EXPECT_EQ(text_inverse(codes.data(), static_cast<int64_t>(c.slots.size()),
                           reinterpret_cast<const uint8_t*>(c.list.data()),
                           static_cast<int64_t>(c.list.size()), &out, &why), c.n);
    EXPECT_STREQ(why, c.why);
    EXPECT_TRUE(why == nullptr || out == nullptr);
    std::free(out);
  }
}

// The dictionary stream is listc bytes: each word with a space in front,
// then one closing space. A text whose last new word leaves listc at
// 49,999,999 is accepted (50,000,000 with the closing space); one byte more
// is refused, with everything released.
TEST(TextLimits, DictionaryOfFiftyMillionBytesAtMostAndStreamsWithinTheirBounds) {
  const int64_t blocks = arena_blocks();
  std::string words;  // few long words: a quick transform
  std::mt19937_64 g(1);
  for (int w = 0; w < 4999; w++) {
    for (int i = 0; i < 9999; i++) words += static_cast<char>('a' + g() % 26);
    words += ' ';
  }
  auto forward_with_last = [&](size_t last, int64_t* listc) {  // a last word of `last` letters
    text_state t;
    const char* why = forward_of(words + std::string(last, 'z'), t);
    *listc = t.listc;
    if (why == nullptr) text_release_streams(t);
    return why;
  };
  int64_t listc = 0;
  ASSERT_EQ(forward_with_last(1, &listc), nullptr);
  const auto len = static_cast<size_t>(49'999'999 - (listc - 3) - 1);  // 3: " z" and the closing space
  ASSERT_EQ(forward_with_last(len, &listc), nullptr);
  EXPECT_EQ(listc, 50'000'000);
  EXPECT_STREQ(forward_with_last(len + 1, &listc), "a dictionary of 50000000 bytes or more");
  EXPECT_EQ(arena_blocks(), blocks);
  // The streams of the texts that make the most tokens and the largest
  // dictionary per byte stay within what decoders allow.
  std::string worst;
  for (int i = 0; i < 2000; i++) worst += i % 3 == 0 ? "A." : i % 3 == 1 ? "\\ " : "  ";
  for (const std::string& f : {std::string(), std::string("A"), std::string("A.A.A.A"),
                               std::string(5000, ' '), std::string(5000, '\\'), worst}) {
    const auto n = static_cast<int64_t>(f.size()) + 1;
    text_state t;
    ASSERT_EQ(forward_of(f, t), nullptr);
    EXPECT_LE(t.codesc, most_tokens(n)) << f.size();
    EXPECT_LE(t.listc, most_dictionary_bytes(n)) << f.size();
    text_release_streams(t);
  }
}

// Natural logarithms correctly rounded (reference values from 113-bit
// arithmetic). At 9170 and the larger ones the C library's FMA version is
// an ulp off: the values must not depend on which version a CPU gets.
TEST(Stat, LogarithmIsCorrectlyRoundedAndWithinAnUlpOfTheLibrarys) {
  const std::pair<int32_t, double> cases[] = {
      {1, 0.0},                             {2, 0x1.62e42fefa39efp-1},
      {3, 0x1.193ea7aad030bp+0},            {10, 0x1.26bb1bbb55516p+1},
      {9170, 0x1.23f54a1c504c1p+3},         {99999, 0x1.7069cdb16e3d9p+3},
      {330034, 0x1.969f579dcbce6p+3},       {699095, 0x1.aea42ef418598p+3},
      {1070557, 0x1.bc472f7a848aap+3},      {1147879, 0x1.be82782f86e33p+3},
      {1000000007, 0x1.4b927f34a104dp+4},   {2147483647, 0x1.57cd0e700682p+4}};
  for (const auto& [a, ln] : cases) EXPECT_EQ(log_int(a), ln) << a;
  // Powers of two: k ln 2 rounded once.
  for (int k = 1; k < 31; k++)
    EXPECT_EQ(log_int(int32_t{1} << k), static_cast<double>(static_cast<long double>(k) *
                                                            0.693147180559945309417232121458L))
        << k;
  for (int32_t a = 1; a < 300000; a++) {
    const double ours = log_int(a), libm = std::log(a);
    ASSERT_LE(std::fabs(ours - libm), std::nextafter(libm, 1e9) - libm) << a;
  }
}

// The table is the one today's archives were made with (sums of the C
// library's logarithms on the machine that pinned them); beyond it the
// formula takes over.
TEST(Stat, FactorialLogarithmsAndANegativeArgumentStops) {
  EXPECT_EQ(log2_fact(0), 0.0);
  EXPECT_EQ(log2_fact(1), 0.0);
  EXPECT_NEAR(log2_fact(10), std::log2(3628800.0), 1e-9);
  EXPECT_EQ(log2_fact(9170), 0x1.a3d868642f9b5p+16);
  EXPECT_EQ(log2_fact(9171), 0x1.a3e5921599001p+16);
  EXPECT_EQ(log2_fact(99999), 0x1.7248f9074e757p+20);
  EXPECT_EQ(log2_fact(100000), 0x1.724a02c863932p+20);
  EXPECT_NEAR(log2_fact(1000000), std::lgamma(1000001.0) / std::log(2.0), 1e-3);
  EXPECT_STOPS(log2_fact(-1), "assertion \"a>=0\" failed: .*stat.cc:");
}

}  // namespace
}  // namespace vesk
