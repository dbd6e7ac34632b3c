#include "text/passes.h"

#include <cstring>

#include "text/chars.h"
#include "util/big_buffer.h"
#include "util/fail.h"
#include "util/memory_limits.h"

namespace vesk {

namespace {

// Output sinks: the same pass code counts its output or writes it.
struct counter {
  int64_t n = 0;
  void put(uint8_t) { n++; }
  void put(const uint8_t*, int64_t len) { n += len; }
};

struct writer {
  uint8_t* out;
  int64_t n = 0;
  void put(uint8_t c) { out[n++] = c; }
  void put(const uint8_t* p, int64_t len) {
    std::memcpy(out + n, p, static_cast<size_t>(len));
    n += len;
  }
};

constexpr uint8_t split_marker[4] = {' ', '\\', 's', ' '};

template <class Out>
void escape_run(const uint8_t* a, int64_t n, Out& o) {
  o.put(a[0]);
  for (int64_t i = 1; i < n; i++) {
    uint8_t c = a[i];
    if (c == ' ' && a[i - 1] == ' ') {
      o.put('\\');
      o.put('_');
    } else if (c == '\\') {
      o.put('\\');
      o.put('\\');
    } else {
      o.put(c);
    }
  }
}

template <class Out>
void split_run(const uint8_t* a, int64_t n, Out& o) {
  check(a[0] == ' ', "a[0]==' '");
  o.put(split_marker, 4);
  for (int64_t i = 1; i < n; i++) {
    uint8_t c = a[i], p = a[i - 1];
    if (c != ' ' && p != ' ' && p != '\\' && !(is_alpha(c) && is_alpha(p))) o.put(split_marker, 4);
    o.put(c);
  }
}

template <class Out>
void case_run(const uint8_t* a, int64_t n, Out& o) {
  if (n <= 0) return;
  constexpr uint8_t cap_marker[4] = {' ', '\\', 'u', ' '};
  constexpr uint8_t upper_marker[4] = {' ', '\\', 'v', ' '};
  int64_t prev = 0;
  for (int64_t i = 1; i <= n; i++) {
    if (a[i] != ' ') continue;
    const uint8_t* tok = a + prev + 1;
    const int64_t len = i - prev - 1;
    prev = i;
    if (len == 0) {
      o.put(' ');
      continue;
    }
    int64_t uppers_after_first = 0;
    for (int64_t k = 1; k < len; k++) uppers_after_first += is_upper(tok[k]);
    const bool first_upper = is_upper(tok[0]);
    const uint8_t* marker = nullptr;
    if (first_upper && (len == 1 || uppers_after_first == 0)) {
      marker = cap_marker;
    } else if (first_upper && uppers_after_first == len - 1) {
      marker = upper_marker;
    }
    if (marker == nullptr) {
      o.put(' ');  // no upper case at all, or mixed case: unchanged
      o.put(tok, len);
      continue;
    }
    o.put(marker, 4);
    for (int64_t k = 0; k < len; k++) o.put(to_lower(tok[k]));
  }
}

template <void (*Run)(const uint8_t*, int64_t, counter&),
          void (*Write)(const uint8_t*, int64_t, writer&)>
text_buf apply(const uint8_t* a, int64_t n) {
  counter c;
  Run(a, n, c);
  text_buf t = text_alloc(c.n);
  writer w{t.a};
  Write(a, n, w);
  check(w.n == c.n, "w.n==c.n");
  return t;
}

}  // namespace

text_buf text_alloc(int64_t n) {
  text_buf t;
  t.a = static_cast<uint8_t*>(big_alloc(static_cast<size_t>(n + 1 + text_pad)));
  if (t.a == nullptr) refuse_memory(n + 1 + text_pad);
  t.n = n;
  t.a[n] = ' ';
  std::memset(t.a + n + 1, 0, text_pad);
  return t;
}

void text_release(text_buf& t) {
  big_free(t.a);
  t = text_buf{};
}

text_scope::~text_scope() {
  text_release(t);
}

text_buf escape_spaces(const uint8_t* a, int64_t n) {
  return apply<escape_run<counter>, escape_run<writer>>(a, n < 1 ? 1 : n);
}

text_buf split_tokens(const uint8_t* a, int64_t n) {
  return apply<split_run<counter>, split_run<writer>>(a, n < 1 ? 1 : n);
}

text_buf encode_case(const uint8_t* a, int64_t n) {
  return apply<case_run<counter>, case_run<writer>>(a, n);
}

// The inverse passes write at or behind the position they read, so they
// run in place: w <= i holds at every step. Each leaves its result in
// a[0 .. n), closed by a space at a[n].

namespace {
void close_text(uint8_t* a, int64_t& n, int64_t length) {
  n = length;
  a[n] = ' ';
}
}  // namespace

void decode_case(uint8_t* a, int64_t& n) {
  if (n <= 0) return close_text(a, n, 0);
  int pending = 0;  // 1: capitalise the next token, 2: upper-case it
  int64_t prev = 0, w = 1;
  for (int64_t i = 1; i <= n; i++) {
    if (a[i] != ' ') continue;
    const int64_t start = prev + 1, len = i - prev - 1;
    prev = i;
    if (len >= 2 && a[start] == '\\' && (a[start + 1] == 'u' || a[start + 1] == 'v')) {
      pending = a[start + 1] == 'u' ? 1 : 2;
      continue;
    }
    // Write a space and the token; the output's separator lands at w - 1,
    // so the first token keeps the leading space at a[0].
    if (len > 0 && a[start] == '\\') {
      std::memmove(a + w, a + start, static_cast<size_t>(len));
    } else {
      for (int64_t k = 0; k < len; k++) {
        uint8_t c = a[start + k];
        if (pending == 2 || (pending == 1 && k == 0)) c = to_upper(c);
        a[w + k] = c;
      }
      pending = 0;
    }
    w += len;
    a[w++] = ' ';
  }
  n = w - 1;
}

void join_tokens(uint8_t* a, int64_t& n) {
  if (n < 5) return close_text(a, n, 1);
  int64_t w = 1;
  for (int64_t i = 4; i < n;) {
    if (a[i] == ' ' && a[i + 1] == '\\' && a[i + 2] == 's') {
      i += 4;
    } else {
      a[w++] = a[i++];
    }
  }
  close_text(a, n, w);
}

void unescape_spaces(uint8_t* a, int64_t& n) {
  if (n < 1) return close_text(a, n, 0);
  int64_t w = 0;
  for (int64_t i = 0; i < n;) {
    if (a[i] == '\\') {
      uint8_t next = a[i + 1];
      if (next == '_') a[w++] = ' ';
      if (next == '\\') a[w++] = '\\';
      i += 2;
    } else {
      a[w++] = a[i++];
    }
  }
  close_text(a, n, w);
}

}  // namespace vesk
