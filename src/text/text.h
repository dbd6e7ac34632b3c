// The reversible text transform: a text becomes a word-code stream (one
// 32-bit slot per token, holding the token's dictionary index as a one- to
// three-byte code) and a dictionary stream (each word behind a space, then
// one closing space). Frequent words get short codes: words are ranked by
// count, the ranks fall into three tiers of one-, two- and three-byte codes,
// and inside each tier words that follow the same words get neighbouring
// indices.
#pragma once

#include <cstdint>

namespace vesk {

// Tier boundaries of the word indices, and the code's three ranges.
constexpr uint32_t tier1_end = 128;
constexpr uint32_t tier2_end = 16512;
constexpr uint32_t code_limit = 4210816;  // 16512 + 2^22

// Limits of the method: a text beyond them cannot be coded.
constexpr int64_t dictionary_byte_limit = 50'000'000;
constexpr int64_t word_limit = 4'000'000;
constexpr int64_t distinct_token_limit = 3'355'443;  // of the tokens' hash table
constexpr int64_t expanded_text_limit = 1'500'000'000;

// What the streams of a text can hold, for decoders (n = the file's length
// + 1, as in text_forward). escape_spaces at most doubles the bytes;
// split_tokens puts at most one " \s " (two tokens, four bytes) before a
// byte, whose own space may end a third token; encode_case at most doubles
// the tokens, adding four bytes for each marker. So there are at most
// 2 x (3 x 2n + 2) tokens, and the dictionary holds at most the final
// text's bytes (5 x 2n + 4 after the split, 3 more per token) and a space.
constexpr int64_t most_tokens(int64_t n) {
  return 12 * n + 16;
}
constexpr int64_t most_dictionary_bytes(int64_t n) {
  return 10 * n + 3 * most_tokens(n) + 64;
}

struct text_state {
  uint8_t* codes = nullptr;  // slots, 4 bytes each; 1024 zero bytes in front
  int64_t codesc = 0;        // number of slots
  uint8_t* list = nullptr;   // dictionary stream; 256 zero bytes in front
  int64_t listc = 0;         // its length
  int64_t list2c = 0;        // number of words
};

// Transforms the text a[0] .. a[n] (a[0] = ' ', the file's bytes, a[n] =
// ' '). Allocates codes and list from the arena (released by the caller,
// codes from 1024 bytes and list from 256 bytes before them, in that
// order: text_release_streams). The codes block has zero bytes past its
// last slot (the word-code model reads one byte more). Returns null, or,
// for a text beyond what the method can represent (too many distinct
// words, too large a dictionary, two words with one 64-bit hash), the
// reason, having released everything it allocated.
const char* text_forward(text_state& t, const uint8_t* a, int64_t n);
void text_release_streams(text_state& t);

// Rebuilds the text from decoded streams: out receives a space, the file's
// bytes and a closing space; returns its length without the closing space
// (file length + 1). The output buffer comes from malloc (free it). For
// streams that no text could have produced it sets *why to the reason,
// *out to null, and returns -1.
int64_t text_inverse(const uint8_t* codes, int64_t codesc, const uint8_t* list, int64_t listc,
                     uint8_t** out, const char** why);

// Pieces, exposed for tests.
void apply_order(uint32_t* codes, int64_t codesc, const uint32_t* perm, uint32_t lo, uint32_t hi,
                 uint8_t* list, int64_t* list2);
uint32_t code_slot(uint32_t c);           // index -> slot value
bool slot_code(uint32_t v, uint32_t* c);  // slot value -> index; false if malformed

}  // namespace vesk
