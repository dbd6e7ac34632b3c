// The three reversible passes that turn a text into space-separated tokens,
// and their inverses.
//
// A text is a[0] .. a[n-1] with a[0] = ' ' and a space at a[n]. Forward:
//   escape_spaces  a space after a space becomes "\_", a backslash "\\";
//   split_tokens   " \s " between neighbours that were not separated by a
//                  space, unless both are letters or the first is a backslash;
//   encode_case    "\u" before a capitalised token, "\v" before an all
//                  upper-case one, the token lower-cased.
// Afterwards the text is a space, then tokens each followed by one space.
//
// Every forward pass can only grow the text (escape_spaces to 2 bytes per
// byte, split_tokens to 5, encode_case by 3 per token), so each first counts
// its exact output and then writes it into a fresh buffer of that size from
// the system allocator. The inverse passes only shrink the text and run in
// place.
#pragma once

#include <cstdint>

namespace vesk {

// A text buffer: a[0] = ' ', a[n] = ' ', followed by text_pad zero bytes,
// from malloc. Owned by whoever holds it (text_release).
struct text_buf {
  uint8_t* a = nullptr;
  int64_t n = 0;
};

// Releases a buffer when a failure unwinds past it (text_release leaves an
// empty one, so a buffer released already is left alone).
struct text_scope {
  text_buf& t;
  ~text_scope();
};

constexpr int64_t text_pad = 8;

text_buf text_alloc(int64_t n);
void text_release(text_buf& t);

text_buf escape_spaces(const uint8_t* a, int64_t n);
text_buf split_tokens(const uint8_t* a, int64_t n);
text_buf encode_case(const uint8_t* a, int64_t n);

// Inverses, in place; each updates n and keeps a[n] = ' '. The buffer needs
// two readable bytes past a[n] (text_pad gives them).
void decode_case(uint8_t* a, int64_t& n);
void join_tokens(uint8_t* a, int64_t& n);
void unescape_spaces(uint8_t* a, int64_t& n);

}  // namespace vesk
