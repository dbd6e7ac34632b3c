#include "text/text.h"

#include <cstdlib>
#include <cstring>

#include "text/partition.h"
#include "text/passes.h"
#include "text/sort.h"
#include "util/arena.h"
#include "util/big_buffer.h"
#include "util/bytes.h"
#include "util/fail.h"
#include "util/hash_table.h"

namespace vesk {

namespace {

constexpr int64_t codes_prefix = 1024;
constexpr int64_t list_prefix = 256;
constexpr int32_t largest_token_table = 4194304;

int32_t token_table_size(int64_t tokens) {
  int32_t l = 1024;
  while (l < largest_token_table && l < 2 * tokens) l *= 2;
  return l;
}

}  // namespace

uint32_t code_slot(uint32_t c) {
  if (c < tier1_end) return c;
  if (c < tier2_end) {
    uint32_t d = c - tier1_end;
    return (0x80 | (d >> 8)) + ((d & 0xFF) << 8);
  }
  uint32_t d = c - tier2_end;
  return (0xC0 | (d >> 16)) + (((d >> 8) & 0xFF) << 8) + ((d & 0xFF) << 16);
}

bool slot_code(uint32_t v, uint32_t* c) {
  if ((v & 0x80) == 0) {
    *c = v;
    return v < 0x80;
  }
  if ((v & 0xC0) == 0x80) {
    *c = ((v >> 8) | ((v & 0x3F) << 8)) + tier1_end;
    return v <= 0xFFFF;
  }
  *c = ((v >> 16) | (v & 0xFF00)) + ((v & 0x3F) << 16) + tier2_end;
  return v <= 0xFFFFFF;
}

void apply_order(uint32_t* codes, int64_t codesc, const uint32_t* perm, uint32_t lo, uint32_t hi,
                 uint8_t* list, int64_t* list2) {
  if (lo >= hi) return;
  const uint32_t count = hi - lo;
  big_vector<uint8_t> bytes(static_cast<size_t>(list2[hi] - list2[lo]));
  big_vector<int64_t> offsets(count);
  int64_t listbc = list2[lo];
  for (uint32_t u = 0; u < count; u++) {
    offsets[u] = listbc;
    uint32_t w = lo + perm[u];
    int64_t len = list2[w + 1] - list2[w];
    std::memcpy(&bytes[static_cast<size_t>(listbc - list2[lo])], list + list2[w],
                static_cast<size_t>(len));
    listbc += len;
  }
  check(listbc == list2[hi], "listbc==list2[l2]");
  std::memcpy(list + list2[lo], bytes.data(), bytes.size());
  for (uint32_t u = 0; u < count; u++) list2[lo + u] = offsets[u];
  big_vector<uint32_t> inverse(count);
  for (uint32_t i = 0; i < count; i++) inverse[perm[i]] = i;
  for (int64_t k = 0; k < codesc; k++)
    if (codes[k] >= lo && codes[k] < hi) codes[k] = lo + inverse[codes[k] - lo];
}

const char* text_forward(text_state& t, const uint8_t* a, int64_t n) {
  // The three passes, each into a buffer of exactly its size.
  text_buf p1 = escape_spaces(a, n);
  const text_scope own1{p1};
  text_buf p2 = split_tokens(p1.a, p1.n);
  const text_scope own2{p2};
  text_release(p1);
  text_buf tok = encode_case(p2.a, p2.n);
  const text_scope own_tok{tok};
  text_release(p2);

  // Every token is followed by one space.
  int64_t tokens = 0;
  for (int64_t i = 1; i <= tok.n; i++) tokens += tok.a[i] == ' ';
  if (4 * tokens >= (int64_t{1} << 31)) {
    text_release(tok);
    return "too many words for 32-bit stream lengths";
  }

  const int64_t words_cap = std::min(tokens, word_limit) + 2;
  const int64_t list_cap = std::min(tok.n + 2, dictionary_byte_limit) + 8;
  uint8_t* codes_block = arena_alloc(codes_prefix + 4 * tokens + 64);
  uint8_t* list_block = arena_alloc(list_prefix + list_cap);
  auto* list2 = reinterpret_cast<int64_t*>(arena_alloc(8 * words_cap));
  auto* counts = reinterpret_cast<uint32_t*>(arena_alloc_zeroed(4 * words_cap));
  std::memset(codes_block, 0, codes_prefix);
  std::memset(codes_block + codes_prefix + 4 * tokens, 0, 64);
  std::memset(list_block, 0, list_prefix);
  auto* codes = reinterpret_cast<uint32_t*>(codes_block + codes_prefix);
  uint8_t* list = list_block + list_prefix;

  // Number the distinct tokens in order of first appearance. The table
  // knows tokens only by their 64-bit hashes: a hit is checked against the
  // stored word, so two words with one hash cannot silently merge. The
  // limits are the method's: after a new word, listc < 50000000 and
  // list2c < 4000000, and the tokens' table holds fewer than 3355443 words.
  hash_table ht;
  hash_create(ht, token_table_size(tokens));
  const hash_scope own{ht};
  int64_t listc = 0, list2c = 0, codesc = 0;
  int64_t prev = 0;
  const char* why = nullptr;
  for (int64_t i = 1; i <= tok.n; i++) {
    if (tok.a[i] != ' ') continue;
    const uint8_t* word = tok.a + prev + 1;
    const int64_t len = i - prev - 1;
    if (ht.count + 1 >= distinct_token_limit && hash_find(ht, word, static_cast<size_t>(len)) < 0) {
      why = "more than 3355442 distinct words";
      break;
    }
    int32_t r = hash_insert(ht, word, static_cast<size_t>(len), ht.count);
    uint32_t w;
    if (r >= 0) {
      w = static_cast<uint32_t>(r);
      if (listc + len + 1 >= dictionary_byte_limit) {
        why = "a dictionary of 50000000 bytes or more";
        break;
      }
      if (list2c + 1 >= word_limit) {
        why = "4000000 distinct words or more";
        break;
      }
      list2[list2c++] = listc;
      std::memcpy(list + listc, tok.a + prev, static_cast<size_t>(len + 1));
      listc += len + 1;
    } else {
      w = static_cast<uint32_t>(~r);
      const int64_t start = list2[w] + 1;
      const int64_t end = w + 1 < list2c ? list2[w + 1] : listc;
      if (end - start != len || std::memcmp(list + start, word, static_cast<size_t>(len)) != 0) {
        why = "two different words share a 64-bit hash";
        break;
      }
    }
    codes[codesc++] = w;
    counts[w]++;
    prev = i;
  }
  hash_free(ht);
  text_release(tok);
  if (why == nullptr && list2c >= tier2_end + tier_word_limit) why = "more than 1016511 distinct words";
  if (why != nullptr) {
    arena_release(codes_block, list_block, list2, counts);
    return why;
  }
  list2[list2c] = listc;
  list[listc++] = ' ';

  // Rank by descending count; ties keep the order of first appearance.
  auto* records = reinterpret_cast<uint32_t*>(arena_alloc(8 * list2c));
  auto* rank = reinterpret_cast<uint32_t*>(arena_alloc(4 * list2c));
  auto* new_list2 = reinterpret_cast<int64_t*>(arena_alloc(8 * (list2c + 1)));
  uint8_t* new_list = arena_alloc(listc);
  auto* perm =
      reinterpret_cast<uint32_t*>(arena_alloc(4 * std::min<int64_t>(list2c, tier_word_limit)));
  for (int64_t w = 0; w < list2c; w++) {
    records[2 * w] = counts[w];
    records[2 * w + 1] = static_cast<uint32_t>(w);
  }
  rank_sort(records, list2c, 2, 0);
  for (int64_t r = 0; r < list2c; r++) rank[records[2 * r + 1]] = static_cast<uint32_t>(r);
  for (int64_t k = 0; k < codesc; k++) codes[k] = rank[codes[k]];
  int64_t listbc = 0;
  for (int64_t r = 0; r < list2c; r++) {
    const uint32_t w = records[2 * r + 1];
    const int64_t len = list2[w + 1] - list2[w];
    new_list2[r] = listbc;
    std::memcpy(new_list + listbc, list + list2[w], static_cast<size_t>(len));
    listbc += len;
  }
  new_list2[list2c] = listbc;
  new_list[listbc] = ' ';
  check(listc == listbc + 1, "t->listc==listbc");
  std::memcpy(list, new_list, static_cast<size_t>(listc));
  std::memcpy(list2, new_list2, static_cast<size_t>(8 * (list2c + 1)));

  // Reorder each tier by context bisection.
  const uint32_t words = static_cast<uint32_t>(list2c);
  const uint32_t tiers[3][2] = {{0, tier1_end}, {tier1_end, tier2_end}, {tier2_end, words}};
  for (const auto& tier : tiers) {
    uint32_t lo = tier[0], hi = std::min(tier[1], words);
    if (lo >= hi) continue;
    order_tier(codes, codesc, perm, lo, hi, words);
    apply_order(codes, codesc, perm, lo, hi, list, list2);
  }

  // Serialise the indices into slots, in place.
  for (int64_t k = 0; k < codesc; k++) {
    check(codes[k] < code_limit, "c>=0 && c<4210816");
    put_u32(reinterpret_cast<uint8_t*>(codes + k), code_slot(codes[k]));
  }
  arena_release(records, rank, new_list2, new_list, perm);
  arena_release(list2, counts);

  t.codes = codes_block + codes_prefix;
  t.codesc = codesc;
  t.list = list;
  t.listc = listc;
  t.list2c = list2c;
  return nullptr;
}

void text_release_streams(text_state& t) {
  arena_release(t.codes - codes_prefix, t.list - list_prefix);
  t = text_state{};
}

int64_t text_inverse(const uint8_t* codes, int64_t codesc, const uint8_t* list, int64_t listc,
                     uint8_t** out, const char** why) {
  *out = nullptr;
  *why = nullptr;
  // Word k spans list[list2[k]] .. list[list2[k+1]] exclusive, its leading
  // space included; the last space closes the last word.
  big_vector<int64_t> list2;
  for (int64_t p = 0; p < listc; p++)
    if (list[p] == ' ') list2.push_back(p);
  const int64_t list2c = static_cast<int64_t>(list2.size()) - 1;

  big_vector<uint32_t> index(static_cast<size_t>(codesc));
  int64_t expanded = 0;
  for (int64_t k = 0; k < codesc; k++) {
    uint32_t c;
    if (!slot_code(get_u32(codes + 4 * k), &c) || c >= code_limit) {
      *why = "a malformed word code";
      return -1;
    }
    if (static_cast<int64_t>(c) >= list2c) {
      *why = "a word code beyond the dictionary";
      return -1;
    }
    index[static_cast<size_t>(k)] = c;
    expanded += list2[c + 1] - list2[c];
    if (expanded >= expanded_text_limit) {
      *why = "the text grows too large";
      return -1;
    }
  }

  text_buf t = text_alloc(expanded);
  int64_t at = 0;
  for (int64_t k = 0; k < codesc; k++) {
    const uint32_t c = index[static_cast<size_t>(k)];
    const int64_t len = list2[c + 1] - list2[c];
    std::memcpy(t.a + at, list + list2[c], static_cast<size_t>(len));
    at += len;
  }
  t.a[at] = ' ';
  int64_t n = at;
  decode_case(t.a, n);
  join_tokens(t.a, n);
  unescape_spaces(t.a, n);
  *out = t.a;
  return n;
}

}  // namespace vesk
