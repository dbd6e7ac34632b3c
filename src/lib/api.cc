// The C API over the core: every entry point runs as one call (call.h) in
// an arena region of its own, which the call releases whole, also when it
// fails; failures become codes and the context's error detail.
#include "lib/vesk.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "driver/classify.h"
#include "driver/containers.h"
#include "driver/frames.h"
#include "driver/limits.h"
#include "driver/memory_need.h"
#include "driver/method.h"
#include "util/arena.h"
#include "util/bytes.h"
#include "util/call.h"
#include "util/cores.h"
#include "util/fail.h"
#include "util/memory_limits.h"
#include "util/prefault.h"
#include "util/progress.h"

struct vesk_ctx {
  int threads = 1;
  uint64_t memory_limit = 0;  // 0: none
  int64_t frame_size = 0;     // 0: 64 MiB, as a pipe's
  vesk_progress_fn progress = nullptr;
  void* user = nullptr;
  std::string error;
};

namespace vesk {

namespace {

// An output buffer too small for what the call produced.
struct buffer_full {};

// An argument the call cannot take.
struct bad_argument {
  const char* what;
};

int code_of(failure_kind k) {
  switch (k) {
    case failure_kind::damaged:
      return VESK_ERROR_CORRUPT;
    case failure_kind::memory:
      return VESK_ERROR_MEMORY;
    case failure_kind::cancelled:
      return VESK_ERROR_CANCELLED;
    case failure_kind::internal:
      return VESK_ERROR_INTERNAL;
    default:
      return VESK_ERROR_INPUT;
  }
}

// Runs f as one call of the context's: its threads, a prefaulter, a
// progress board that hears the callback, a region of its own.
template <class F>
int run_call(vesk_ctx* ctx, F&& f) {
  if (ctx == nullptr) return VESK_ERROR_ARGUMENT;
  ctx->error.clear();
  call_state call;
  call.threads = ctx->threads;
  prefault_queue prefaulter;
  call.prefault = &prefaulter;
  progress_board board;
  if (ctx->progress != nullptr) {
    board.callback = [ctx](int64_t done, int64_t total) {
      return ctx->progress(ctx->user, static_cast<uint64_t>(std::max<int64_t>(done, 0)),
                           total < 0 ? UINT64_MAX : static_cast<uint64_t>(total)) == 0;
    };
    call.progress = &board;
  }
  const call_scope scope(call);
  try {
    const arena_thread_region region;
    f();
    return VESK_OK;
  } catch (const failure& e) {
    ctx->error = e.message;
    return code_of(e.kind);
  } catch (const buffer_full&) {
    ctx->error = "the output buffer is too small";
    return VESK_ERROR_BUFFER;
  } catch (const bad_argument& e) {
    ctx->error = e.what;
    return VESK_ERROR_ARGUMENT;
  } catch (const std::bad_alloc&) {
    ctx->error = "not enough memory";
    return VESK_ERROR_MEMORY;
  } catch (const std::exception& e) {
    ctx->error = e.what();
    return VESK_ERROR_INTERNAL;
  }
}

std::optional<method> method_of(int m) {
  switch (m) {
    case VESK_METHOD_AUTO:
      return std::nullopt;
    case VESK_METHOD_TEXT:
      return method::text;
    case VESK_METHOD_MIXED:
      return method::mixed;
    case VESK_METHOD_STORED:
      return method::stored;
    default:
      throw bad_argument{"unknown method"};
  }
}

bool strong_of(int level) {
  if (level != VESK_LEVEL_DEFAULT && level != VESK_LEVEL_BEST) throw bad_argument{"unknown level"};
  return level == VESK_LEVEL_BEST;
}

// The threads a call of that method over units of `unit` bytes may use
// under the context's memory limit: fewer first, then a failure.
int threads_within_limit(const vesk_ctx* ctx, method m, int64_t unit, int threads) {
  if (ctx->memory_limit == 0) return threads;
  const auto limit = static_cast<int64_t>(std::min<uint64_t>(ctx->memory_limit, INT64_MAX));
  const int64_t one = expected_memory(m, unit).resident + unit;
  if (one > limit)
    fail_as(failure_kind::memory, "this input needs about %s of memory; the limit is %s",
            memory_text(one, true).c_str(), memory_text(limit).c_str());
  return static_cast<int>(std::clamp<int64_t>(limit / one, 1, threads));
}

// Copies an archive or a restored input into the caller's buffer.
struct buffer_sink {
  uint8_t* dst;
  size_t cap;
  size_t n = 0;
  void put(const uint8_t* p, int64_t k) {
    if (k == 0) return;
    if (static_cast<size_t>(k) > cap - n) throw buffer_full{};
    std::memcpy(dst + n, p, static_cast<size_t>(k));
    n += static_cast<size_t>(k);
  }
};

frame_settings stream_settings(const vesk_ctx* ctx, std::optional<method> forced, bool strong) {
  frame_settings s;
  s.threads = ctx->threads;
  s.frame_size = ctx->frame_size;
  s.forced = forced;
  s.strong = strong;
  return s;
}

void compress_into(vesk_ctx* ctx, const uint8_t* src, int64_t n, buffer_sink& out, int m, int level) {
  const std::optional<method> forced = method_of(m);
  const bool strong = strong_of(level);
  if (!input_fits(n)) {
    // Beyond what a single archive holds: frames.
    frame_settings s = stream_settings(ctx, forced, strong);
    s.threads = threads_within_limit(ctx, strong ? method::mixed_strong : method::mixed,
                                     s.frame_size > 0 ? s.frame_size : default_frame_size(n), s.threads);
    frame_encoder e(s, n, "input", [&](const uint8_t* p, int64_t k) { out.put(p, k); });
    for (int64_t at = 0; at < n;) {
      const int64_t k = std::min<int64_t>(n - at, e.frame_size());
      e.push(src + at, k);
      at += k;
    }
    e.finish();
    return;
  }
  const method chosen = forced ? *forced : method_by_content(src, n);
  const method coded = strong ? strong_variant(chosen) : chosen;
  current_call->threads =
      threads_within_limit(ctx, chosen == method::stored ? method::stored_checked : coded, n,
                           current_call->threads);
  check_memory(chosen == method::stored ? method::stored_checked : coded, n);
  const pack_input input{"input", n, [&](uint8_t* dst) {
    if (n > 0) std::memcpy(dst, src, static_cast<size_t>(n));
  }};
  const pack_output keep = [&](const uint8_t* p, int64_t k) { out.put(p, k); };
  // A method the content chose that did not pay leaves the input stored,
  // as the program does.
  const pack_output keep_or_store = [&](const uint8_t* p, int64_t k) {
    if (!forced && stored_is_smaller(k, n)) {
      stored_checked_pack(input, keep);
    } else {
      out.put(p, k);
    }
  };
  pack_settings set;
  set.strong = strong;
  switch (chosen) {
    case method::text:
      text_pack(input, keep_or_store, set);
      break;
    case method::mixed:
      mixed_pack(input, keep_or_store, set);
      break;
    default:
      stored_checked_pack(input, keep);
      break;
  }
}

// What an archive restores, from its headers.
int64_t restored_size(const uint8_t* p, int64_t n) {
  if (n < 4) fail_as(failure_kind::damaged, "input is not a compressed file: too short");
  const uint32_t w = get_u32(p);
  auto field = [&](int64_t at, int bytes) -> int64_t {
    if (at + bytes > n) fail_as(failure_kind::damaged, "input is damaged (shorter than its header)");
    return bytes == 4 ? static_cast<int64_t>(get_u32(p + at)) : static_cast<int64_t>(get_u64(p + at));
  };
  switch (static_cast<method>(w)) {
    case method::stored:
      return n - 4;
    case method::stored_checked:
      return field(4, 8);
    case method::text:
    case method::text_strong:
      return std::max<int64_t>(field(4, 4) - 1, 0);
    case method::mixed:
    case method::mixed_strong:
      return field(4, 4);
    case method::framed: {
      if (n < 4 + frame_record_bytes) fail_as(failure_kind::damaged, "input is damaged (truncated)");
      const char* why = nullptr;
      const std::optional<frame_record> r = get_frame_record(p + n - frame_record_bytes, &why);
      if (!r || !r->is_end) fail_as(failure_kind::damaged, "input is damaged (no end record)");
      return static_cast<int64_t>(r->end.total);
    }
    default:
      fail_as(failure_kind::damaged, "input is not a compressed file: unknown method");
  }
}

// Restores an archive into put, in pieces (frames) or whole; the size its
// header claims sets the memory planned, never an allocation.
void decompress_into(vesk_ctx* ctx, const uint8_t* src, int64_t n, const byte_sink& put) {
  const int64_t size = restored_size(src, n);
  const auto w = static_cast<method>(get_u32(src));
  if (w == method::framed) {
    frame_decoder d("input", put, ctx->threads);
    d.push(src + 4, n - 4);
    d.finish();
    return;
  }
  if (n >= archive_limit) fail_as(failure_kind::input, "input must be less than 1.5GB");
  current_call->threads = threads_within_limit(ctx, w, size, current_call->threads);
  check_memory(w, size);
  const pack_output keep = [&](const uint8_t* p, int64_t k) { put(p, k); };
  const pack_settings set{current_call->threads >= 2};
  switch (w) {
    case method::text:
    case method::text_strong:
      text_unpack("input", src, n, keep, set);
      break;
    case method::mixed:
    case method::mixed_strong:
      mixed_unpack("input", src, n, keep, set);
      break;
    case method::stored_checked:
      stored_checked_unpack("input", src, n, keep);
      break;
    default:
      stored_unpack("input", src, n, keep);
      break;
  }
}

}  // namespace

}  // namespace vesk

using namespace vesk;

// A stream: its settings, its coder (made on its first call, inside it),
// the output not yet given out, and how it ended.
struct vesk_stream {
  vesk_ctx* ctx = nullptr;
  bool compressing = false;
  int method_choice = VESK_METHOD_AUTO;
  int level = VESK_LEVEL_DEFAULT;
  std::unique_ptr<frame_encoder> encoder;
  std::unique_ptr<frame_decoder> decoder;
  // Restoring: the method word, and a single archive (not framed) taken
  // whole before it is restored.
  uint8_t word[4] = {};
  size_t word_have = 0;
  std::vector<uint8_t> single;
  std::deque<uint8_t> out;
  bool finished = false;
  int failed = VESK_OK;
};

extern "C" {

const char* vesk_version(void) {
  return "4";
}

unsigned vesk_version_number(void) {
  return VESK_VERSION_NUMBER;
}

const char* vesk_error_name(int code) {
  switch (code) {
    case VESK_OK:
      return "VESK_OK";
    case VESK_END:
      return "VESK_END";
    case VESK_ERROR_ARGUMENT:
      return "VESK_ERROR_ARGUMENT";
    case VESK_ERROR_INPUT:
      return "VESK_ERROR_INPUT";
    case VESK_ERROR_CORRUPT:
      return "VESK_ERROR_CORRUPT";
    case VESK_ERROR_MEMORY:
      return "VESK_ERROR_MEMORY";
    case VESK_ERROR_BUFFER:
      return "VESK_ERROR_BUFFER";
    case VESK_ERROR_CANCELLED:
      return "VESK_ERROR_CANCELLED";
    case VESK_ERROR_INTERNAL:
      return "VESK_ERROR_INTERNAL";
    default:
      return "VESK_ERROR_UNKNOWN";
  }
}

vesk_ctx* vesk_ctx_new(void) {
  return new (std::nothrow) vesk_ctx;
}

void vesk_ctx_free(vesk_ctx* ctx) {
  delete ctx;
}

int vesk_ctx_set_threads(vesk_ctx* ctx, int threads) {
  if (ctx == nullptr || threads < 0 || threads > frame_threads_most) return VESK_ERROR_ARGUMENT;
  ctx->threads = threads == 0 ? std::min(usable_cores(), frame_threads_most) : threads;
  return VESK_OK;
}

int vesk_ctx_set_memory_limit(vesk_ctx* ctx, uint64_t bytes) {
  if (ctx == nullptr) return VESK_ERROR_ARGUMENT;
  ctx->memory_limit = bytes;
  return VESK_OK;
}

int vesk_ctx_set_frame_size(vesk_ctx* ctx, uint64_t bytes) {
  if (ctx == nullptr) return VESK_ERROR_ARGUMENT;
  if (bytes != 0 && (bytes < static_cast<uint64_t>(frame_size_least) ||
                     bytes > static_cast<uint64_t>(frame_size_most)))
    return VESK_ERROR_ARGUMENT;
  ctx->frame_size = static_cast<int64_t>(bytes);
  return VESK_OK;
}

void vesk_ctx_set_progress(vesk_ctx* ctx, vesk_progress_fn fn, void* user) {
  if (ctx == nullptr) return;
  ctx->progress = fn;
  ctx->user = user;
}

const char* vesk_ctx_error(const vesk_ctx* ctx) {
  return ctx != nullptr ? ctx->error.c_str() : "no context";
}

size_t vesk_compress_bound(size_t n) {
  // The models code data that does not compress at a few parts in a
  // thousand over its size, and a container's headers and streams take a
  // few hundred bytes: an eighth and 4 KiB more, as the containers' own
  // buffers allow, for a single archive and for each frame of a larger one.
  const size_t frames = n / static_cast<size_t>(frame_size_least) + 1;
  return n + n / 8 + 4096 + frames * frame_record_bytes;
}

uint64_t vesk_memory_estimate(uint64_t n, int m, int level) {
  try {
    const std::optional<method> forced = method_of(m);
    const bool strong = strong_of(level);
    const method base = forced ? *forced : method::mixed;
    const method coded = base == method::stored ? method::stored_checked
                         : strong               ? strong_variant(base)
                                                : base;
    return static_cast<uint64_t>(
        expected_memory(coded, static_cast<int64_t>(std::min<uint64_t>(n, INT64_MAX))).resident);
  } catch (const bad_argument&) {
    return 0;
  }
}

int vesk_compress(vesk_ctx* ctx, const void* src, size_t n, void* dst, size_t cap, size_t* written,
                  int method_choice, int level) {
  if ((src == nullptr && n > 0) || dst == nullptr || written == nullptr) return VESK_ERROR_ARGUMENT;
  *written = 0;
  buffer_sink out{static_cast<uint8_t*>(dst), cap};
  const int rc = run_call(ctx, [&] {
    compress_into(ctx, static_cast<const uint8_t*>(src), static_cast<int64_t>(n), out, method_choice,
                  level);
  });
  if (rc == VESK_OK) *written = out.n;
  return rc;
}

int vesk_decompressed_size(const void* src, size_t n, uint64_t* size) {
  if (src == nullptr || size == nullptr) return VESK_ERROR_ARGUMENT;
  try {
    *size = static_cast<uint64_t>(restored_size(static_cast<const uint8_t*>(src), static_cast<int64_t>(n)));
    return VESK_OK;
  } catch (const failure& e) {
    return code_of(e.kind);
  }
}

int vesk_decompress(vesk_ctx* ctx, const void* src, size_t n, void* dst, size_t cap, size_t* written) {
  if (src == nullptr || written == nullptr || (dst == nullptr && cap > 0)) return VESK_ERROR_ARGUMENT;
  *written = 0;
  uint8_t none = 0;
  buffer_sink out{dst != nullptr ? static_cast<uint8_t*>(dst) : &none, cap};
  const int rc = run_call(ctx, [&] {
    decompress_into(ctx, static_cast<const uint8_t*>(src), static_cast<int64_t>(n),
                    [&](const uint8_t* p, int64_t k) { out.put(p, k); });
  });
  if (rc == VESK_OK) *written = out.n;
  return rc;
}

vesk_stream* vesk_compress_stream_new(vesk_ctx* ctx, int method_choice, int level) {
  if (ctx == nullptr || method_choice < VESK_METHOD_AUTO || method_choice > VESK_METHOD_STORED ||
      (level != VESK_LEVEL_DEFAULT && level != VESK_LEVEL_BEST))
    return nullptr;
  vesk_stream* s = new (std::nothrow) vesk_stream;
  if (s != nullptr) {
    s->ctx = ctx;
    s->compressing = true;
    s->method_choice = method_choice;
    s->level = level;
  }
  return s;
}

vesk_stream* vesk_decompress_stream_new(vesk_ctx* ctx) {
  if (ctx == nullptr) return nullptr;
  vesk_stream* s = new (std::nothrow) vesk_stream;
  if (s != nullptr) s->ctx = ctx;
  return s;
}

void vesk_stream_free(vesk_stream* s) {
  if (s == nullptr) return;
  // The coders' buffers and their state go with the stream; nothing of
  // theirs lives in an arena.
  delete s;
}

int vesk_stream_run(vesk_stream* s, const void* in, size_t in_size, size_t* in_used, void* out,
                    size_t out_size, size_t* out_used, int finish) {
  if (s == nullptr || in_used == nullptr || out_used == nullptr || (in == nullptr && in_size > 0) ||
      (out == nullptr && out_size > 0))
    return VESK_ERROR_ARGUMENT;
  *in_used = *out_used = 0;
  if (s->failed != VESK_OK) return s->failed;
  const auto* p = static_cast<const uint8_t*>(in);
  auto give = [&] {
    const size_t k = std::min(out_size - *out_used, s->out.size());
    std::copy_n(s->out.begin(), k, static_cast<uint8_t*>(out) + *out_used);
    s->out.erase(s->out.begin(), s->out.begin() + static_cast<long>(k));
    *out_used += k;
  };
  give();
  if (!s->finished && (in_size > 0 || finish)) {
    const byte_sink keep = [s](const uint8_t* q, int64_t k) { s->out.insert(s->out.end(), q, q + k); };
    const int rc = run_call(s->ctx, [&] {
      if (s->compressing) {
        if (!s->encoder) {
          const std::optional<method> forced = method_of(s->method_choice);
          const bool strong = strong_of(s->level);
          frame_settings fs = stream_settings(s->ctx, forced, strong);
          const method base = forced ? *forced : method::mixed;
          fs.threads = threads_within_limit(s->ctx, strong ? strong_variant(base) : base,
                                            fs.frame_size > 0 ? fs.frame_size : default_frame_size(-1),
                                            fs.threads);
          s->encoder = std::make_unique<frame_encoder>(fs, -1, "input", keep);
        }
        s->encoder->push(p, static_cast<int64_t>(in_size));
        if (finish) s->encoder->finish();
      } else {
        size_t at = 0;
        while (s->word_have < 4 && at < in_size) s->word[s->word_have++] = p[at++];
        const bool framed = s->word_have == 4 && get_u32(s->word) == static_cast<uint32_t>(method::framed);
        if (framed) {
          if (!s->decoder) s->decoder = std::make_unique<frame_decoder>("input", keep, s->ctx->threads);
          s->decoder->push(p + at, static_cast<int64_t>(in_size - at));
          if (finish) s->decoder->finish();
        } else {
          s->single.insert(s->single.end(), p + at, p + in_size);
          if (finish) {
            std::vector<uint8_t> whole(s->word, s->word + s->word_have);
            whole.insert(whole.end(), s->single.begin(), s->single.end());
            // A single archive gives out its input once it is verified, whole.
            decompress_into(s->ctx, whole.data(), static_cast<int64_t>(whole.size()), keep);
          }
        }
      }
    });
    if (rc != VESK_OK) {
      s->failed = rc;
      return rc;
    }
    *in_used = in_size;
    if (finish) s->finished = true;
    give();
  }
  return s->finished && s->out.empty() ? VESK_END : VESK_OK;
}

}  // extern "C"
