// What the fuzz targets of the library share: they call its C API as a
// host program would, all inputs in one process, through one context kept
// for the process. A refusal is an error code; an internal error (a failed
// check) or a crash is a finding, and aborts.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <optional>
#include <string>

#include "vesk.h"

namespace vesk::fuzz {

// The process's context: one thread, and a memory limit below a fuzzer's
// RSS limit, so that an archive that claims a huge size is refused.
inline vesk_ctx* context() {
  static vesk_ctx* const ctx = [] {
    vesk_ctx* c = vesk_ctx_new();
    if (c == nullptr || vesk_ctx_set_memory_limit(c, uint64_t{1} << 30) != VESK_OK) std::abort();
    return c;
  }();
  return ctx;
}

// A code that says the input was refused: any error but an internal one,
// and never success without a result.
inline bool refused(int rc) {
  if (rc == VESK_ERROR_INTERNAL || rc == VESK_ERROR_ARGUMENT) std::abort();
  return rc != VESK_OK;
}

// The largest restored size the one-shot call is given a buffer for.
constexpr uint64_t one_shot_limit = uint64_t{1} << 27;

// Restores an archive twice: with the one-shot call, and with a restoring
// stream fed in pieces of `piece` bytes. Both must agree: both refuse it,
// or both restore the same bytes (the stream may have given out verified
// frames before it found the damage). Returns what they restored.
inline std::optional<std::string> restore(const uint8_t* data, size_t size, size_t piece = 4093) {
  vesk_ctx* ctx = context();
  std::optional<std::string> one;
  uint64_t claimed = 0;
  const int size_rc = vesk_decompressed_size(data, size, &claimed);
  if (!refused(size_rc) && claimed <= one_shot_limit) {
    std::string out(static_cast<size_t>(claimed), '\0');
    size_t written = 0;
    if (!refused(vesk_decompress(ctx, data, size, out.data(), out.size(), &written))) {
      if (written != claimed) std::abort();
      one = std::move(out);
    }
  }
  vesk_stream* s = vesk_decompress_stream_new(ctx);
  if (s == nullptr) std::abort();
  std::string streamed;
  char buf[1 << 16];
  size_t at = 0;
  int rc = VESK_OK;
  while (rc == VESK_OK) {
    const size_t n = std::min(piece, size - at);
    size_t used = 0, got = 0;
    rc = vesk_stream_run(s, data + at, n, &used, buf, sizeof buf, &got, at + n == size);
    if (used > n) std::abort();
    at += used;
    streamed.append(buf, got);
  }
  vesk_stream_free(s);
  const bool stream_ok = rc == VESK_END;
  if (!stream_ok) refused(rc);
  // What the one-shot call restored, the stream restores; a size past the
  // one-shot buffer leaves only the stream's word.
  if (one ? (!stream_ok || streamed != *one) : (stream_ok && claimed <= one_shot_limit && size_rc == VESK_OK))
    std::abort();
  if (!stream_ok) return std::nullopt;
  return streamed;
}

}  // namespace vesk::fuzz
