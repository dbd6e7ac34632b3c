#include "driver/frames.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/classify.h"
#include "driver/containers.h"
#include "driver/limits.h"
#include "driver/memory_need.h"
#include "driver/trailer.h"
#include "util/arena.h"
#include "util/big_buffer.h"
#include "util/bytes.h"
#include "util/fail.h"
#include "util/memory_limits.h"
#include "util/progress.h"
#include "util/threads.h"

namespace vesk {

namespace {

static_assert(frame_size_most == input_limit - 1, "a frame is what a single archive holds");

constexpr uint8_t frame_tag[4] = {'V', 'F', 'R', 'M'};
constexpr uint8_t end_tag[4] = {'V', 'E', 'N', 'D'};
constexpr int64_t checked_bytes = 28;  // a record's bytes before its check

uint32_t record_check(const uint8_t* at) {
  return static_cast<uint32_t>(content_hash(at, checked_bytes));
}

bool is_word_byte(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

using byte_buffer = std::vector<uint8_t, big_allocator<uint8_t>>;

// One frame on its way through: compressing, `in` is the slice and `out`
// its archive; decompressing, `in` is the archive and `out` the slice.
struct frame_job {
  uint32_t index = 0;
  method m = method::stored;
  frame_header header;  // as read, when decompressing
  byte_buffer in;
  byte_buffer out;
  bool by_content = false;  // its content chose m, when compressing
  int64_t original = 0;   // the slice's length, when compressing
  uint64_t hash = 0;      // of the slice, when compressing
  bool parallel = false;  // its streams two at a time
  bool done = false;
  std::exception_ptr error;  // how its coding failed, for the caller
};

// Threads that code frames, each with an arena region of its own. Jobs are
// handed over under the lock and given back marked done; a job is touched
// by one thread at a time.
struct frame_pool {
  std::mutex m;
  std::condition_variable work, finished;
  std::deque<frame_job*> waiting;
  bool closing = false;
  std::vector<std::thread> threads;
};

void pool_start(frame_pool& p, int threads, const std::function<void(frame_job&)>& code) {
  for (int t = 0; t < threads; t++) {
    p.threads.push_back(helper_thread([&p, &code, t] {
      const arena_thread_region region;
      progress_lane = 2 * (t % progress_pairs);
      for (;;) {
        frame_job* j;
        {
          std::unique_lock lock(p.m);
          p.work.wait(lock, [&] { return p.closing || !p.waiting.empty(); });
          if (p.waiting.empty()) return;
          j = p.waiting.front();
          p.waiting.pop_front();
        }
        try {
          code(*j);
        } catch (...) {
          j->error = std::current_exception();
        }
        progress_frame_end();
        {
          std::lock_guard lock(p.m);
          j->done = true;
        }
        p.finished.notify_all();
      }
    }));
  }
}

void pool_submit(frame_pool& p, frame_job* j) {
  {
    std::lock_guard lock(p.m);
    p.waiting.push_back(j);
  }
  p.work.notify_one();
}

void pool_wait(frame_pool& p, frame_job& j) {
  std::unique_lock lock(p.m);
  p.finished.wait(lock, [&] { return j.done; });
}

void pool_stop(frame_pool& p) {
  {
    std::lock_guard lock(p.m);
    p.closing = true;
    p.waiting.clear();  // after a failure, what has not started never will
  }
  p.work.notify_all();
  for (auto& t : p.threads) t.join();
}

// Runs frames through the pool in order: next() makes the next job (null
// at the end), the pool codes it, finish() takes each coded job in order.
// At most threads + 1 frames are held at once: one per thread and the
// one read ahead.
void run_frames(int threads, const std::function<std::unique_ptr<frame_job>()>& next,
                const std::function<void(frame_job&)>& code,
                const std::function<void(frame_job&)>& finish) {
  if (threads <= 1) {
    // One thread in all: the calling thread codes each frame itself.
    while (std::unique_ptr<frame_job> j = next()) {
      code(*j);
      progress_frame_end();
      finish(*j);
    }
    return;
  }
  frame_pool pool;
  pool_start(pool, threads, code);
  std::deque<std::unique_ptr<frame_job>> held;
  bool more = true;
  try {
    for (;;) {
      while (more && held.size() < static_cast<size_t>(threads) + 1) {
        std::unique_ptr<frame_job> j = next();
        if (j == nullptr) {
          more = false;
          break;
        }
        pool_submit(pool, j.get());
        held.push_back(std::move(j));
      }
      if (held.empty()) break;
      pool_wait(pool, *held.front());
      if (held.front()->error) std::rethrow_exception(held.front()->error);
      finish(*held.front());
      held.pop_front();
    }
  } catch (...) {
    // The threads finish the frames they are on and end before the
    // failure goes on: the jobs they hold must outlive them.
    pool_stop(pool);
    throw;
  }
  pool_stop(pool);
}

// Lowers the thread count so that as many frames of `frame` bytes of
// method m fit, at once, in the memory the process may use and in its
// address-space limit; says so on standard error when it does.
int threads_for_memory(int threads, method m, int64_t frame) {
  if (threads <= 1) return threads;
  const memory_need one = expected_memory(m, frame);
  // Beside the models: the slice and its archive, and one slice read ahead.
  const int64_t resident = one.resident + 3 * frame, mapped = one.address_space + 3 * frame;
  const memory_limits l = read_memory_limits();
  const int64_t room = usable_memory(l);
  const int64_t space = l.address_space >= 0 ? l.address_space - address_space_in_use() : -1;
  const int64_t by_room = room >= 0 ? room / resident : threads;
  const int64_t by_space = space >= 0 ? space / mapped : threads;
  const int fit =
      static_cast<int>(std::max<int64_t>(1, std::min<int64_t>({threads, by_room, by_space})));
  if (fit < threads) {
    const std::string n = std::to_string(threads), f = std::to_string(fit);
    notice(by_space < by_room
               ? n + " frames at once would need about " + memory_text(threads * mapped, true) +
                     " of address space; the address-space limit (ulimit -v) leaves " +
                     memory_text(space) + ": coding " + f + " at once"
               : n + " frames at once would need about " + memory_text(threads * resident, true) +
                     " of memory; " + memory_text(room) + " is free for this process: coding " + f +
                     " at once");
  }
  return fit;
}

std::string frame_name(const char* in, uint32_t index) {
  return std::string(in) + " (frame " + std::to_string(index) + ")";
}

// Appends to a job's output buffer.
pack_output append_to(byte_buffer& b) {
  return [&b](const uint8_t* data, int64_t n) { b.insert(b.end(), data, data + n); };
}

}  // namespace

void put_frame_header(uint8_t* at, const frame_header& h) {
  std::memcpy(at, frame_tag, 4);
  put_u32(at + 4, h.index);
  put_u32(at + 8, h.method_word);
  put_u32(at + 12, static_cast<uint32_t>(h.original));
  put_u32(at + 16, static_cast<uint32_t>(h.coded));
  put_u64(at + 20, h.hash);
  put_u32(at + 28, record_check(at));
}

void put_frame_end(uint8_t* at, const frame_end& e) {
  std::memcpy(at, end_tag, 4);
  put_u64(at + 4, e.count);
  put_u64(at + 12, e.total);
  put_u64(at + 20, e.hash);
  put_u32(at + 28, record_check(at));
}

std::optional<frame_record> get_frame_record(const uint8_t* at, const char** why) {
  frame_record r;
  r.is_end = std::memcmp(at, end_tag, 4) == 0;
  if (!r.is_end && std::memcmp(at, frame_tag, 4) != 0) {
    *why = "no frame header where one belongs";
    return std::nullopt;
  }
  if (get_u32(at + 28) != record_check(at)) {
    *why = r.is_end ? "damaged end record" : "damaged frame header";
    return std::nullopt;
  }
  if (r.is_end) {
    r.end = {get_u64(at + 4), get_u64(at + 12), get_u64(at + 20)};
  } else {
    r.header = {get_u32(at + 4), get_u32(at + 8), get_u32(at + 12), get_u32(at + 16),
                get_u64(at + 20)};
  }
  return r;
}

int64_t default_frame_size(int64_t size) {
  constexpr int64_t mib = int64_t{1} << 20;
  if (size < 0) return 64 * mib;
  // Frames of up to 128 MiB, and two at least from 64 MiB on, so that two
  // cores halve the time of a large file; a frame boundary costs some
  // ratio (each frame's models start afresh: about 100 KB of a kernel
  // source tar's), so there are no more of them than that needs. The
  // frames are of even size, with a little room, so that the last frame is
  // no runt after cuts at line ends (at most 1/64 early) or whole blocks.
  int64_t frames = (size + 128 * mib - 1) / (128 * mib);
  if (size >= 64 * mib) frames = std::max<int64_t>(frames, 2);
  frames = std::max<int64_t>(frames, 1);
  int64_t f = (size + frames - 1) / frames;
  f += f / 32;
  f = (f + 99) / 100 * 100;
  return std::clamp(f, frame_size_least, frame_size_most);
}

int64_t text_frame_cut(const uint8_t* p, int64_t have, int64_t want, bool last) {
  if (have <= want && last) return have;
  const int64_t end = std::min(have, want);
  const int64_t floor = end - end / 64;
  for (int64_t i = end; i > floor; i--)
    if (p[i - 1] == '\n') return i;
  for (int64_t i = end; i > floor; i--)
    if (!is_word_byte(p[i - 1])) return i;
  return end;
}

int64_t mixed_frame_cut(int64_t have, int64_t want, bool last) {
  if (have <= want && last) return have;
  const int64_t end = std::min(have, want);
  const int64_t whole = end - end % 100;
  return whole > 0 ? whole : end;
}

// --- Compressing -----------------------------------------------------------

struct frame_encoder::state {
  std::string name;
  byte_sink write;
  int64_t want = 0;
  std::optional<method> every;  // the method of every frame; none: each frame's content
  int threads = 1;
  pack_settings set;
  byte_buffer pending;  // pushed but not yet in a frame
  uint32_t index = 0;
  content_hasher whole;
  uint64_t total = 0;
};

frame_encoder::frame_encoder(const frame_settings& s, int64_t known_size, std::string name,
                             byte_sink write)
    : st(std::make_unique<state>()) {
  state& e = *st;
  e.name = std::move(name);
  e.write = std::move(write);
  e.want = s.frame_size > 0 ? s.frame_size : default_frame_size(known_size);
  // The method the name or --method gives every frame; else each frame's
  // content picks its own.
  e.every = s.forced ? s.forced : s.name != nullptr ? method_for_name(s.name) : std::nullopt;
  // Frames chosen by content may be text or mixed: plan for the larger.
  const method base = e.every ? *e.every : method::mixed;
  const method planned = s.strong ? strong_variant(base) : base;
  const int64_t frames_known =
      known_size >= 0 ? std::max<int64_t>(1, (known_size + e.want - 1) / e.want) : -1;
  // No more threads than the frames can use (two a frame: its streams two
  // at a time), then no more than fit in memory.
  const int usable = frames_known > 0
                         ? static_cast<int>(std::min<int64_t>(s.threads, 2 * frames_known))
                         : s.threads;
  const int64_t largest = known_size < 0 ? e.want : std::min(e.want, known_size);
  e.threads = threads_for_memory(usable, planned, std::max<int64_t>(largest, 1));
  // A failed allocation stops with the memory message, quoting a frame.
  check_memory(planned, largest);
  // Spare threads code the streams of a frame two at a time: when the
  // input's frames are known to be at most half the threads.
  e.set = pack_settings{frames_known > 0 && e.threads >= 2 * frames_known, s.strong};
  uint8_t word[4];
  put_u32(word, static_cast<uint32_t>(method::framed));
  e.write(word, 4);
  progress_frames(known_size);
}

frame_encoder::~frame_encoder() = default;

// Codes the frames that `pending` holds whole (all of it at the input's
// end), as many at once as the threads allow.
void frame_encoder::code_pending(bool at_end) {
  state& e = *st;
  auto next = [&]() -> std::unique_ptr<frame_job> {
    const int64_t have = static_cast<int64_t>(e.pending.size());
    if (have == 0 || (!at_end && have < e.want)) return nullptr;
    const method m =
        e.every ? *e.every : method_by_content(e.pending.data(), std::min(have, e.want));
    const int64_t cut = m == method::text    ? text_frame_cut(e.pending.data(), have, e.want, at_end)
                        : m == method::mixed ? mixed_frame_cut(have, e.want, at_end)
                                             : std::min(have, e.want);
    auto j = std::make_unique<frame_job>();
    j->index = e.index++;
    j->m = m;
    j->by_content = !e.every;
    j->in.assign(e.pending.begin(), e.pending.begin() + cut);
    e.pending.erase(e.pending.begin(), e.pending.begin() + cut);
    e.whole.add(j->in.data(), cut);
    e.total += static_cast<uint64_t>(cut);
    return j;
  };
  auto code = [&](frame_job& j) {
    const std::string name = frame_name(e.name.c_str(), j.index);
    const pack_input input{name.c_str(), static_cast<int64_t>(j.in.size()),
                           [&j](uint8_t* dst) { std::memcpy(dst, j.in.data(), j.in.size()); }};
    j.hash = content_hash(j.in.data(), static_cast<int64_t>(j.in.size()));
    switch (j.m) {
      case method::text:
        text_pack(input, append_to(j.out), e.set);
        break;
      case method::mixed:
        mixed_pack(input, append_to(j.out), e.set);
        break;
      default:
        stored_pack(input, append_to(j.out));
        break;
    }
    j.original = static_cast<int64_t>(j.in.size());
    // A frame whose content chose a method that did not pay is stored.
    if (j.by_content && static_cast<int64_t>(j.out.size()) > j.original + 4) {
      j.out.clear();
      stored_pack(input, append_to(j.out));
    }
    byte_buffer().swap(j.in);
  };
  auto finish = [&](frame_job& j) {
    uint8_t h[frame_record_bytes];
    put_frame_header(h, {j.index, get_u32(j.out.data()), j.original,
                         static_cast<int64_t>(j.out.size()), j.hash});
    e.write(h, sizeof h);
    e.write(j.out.data(), static_cast<int64_t>(j.out.size()));
    progress_frame_done(j.original);
  };
  run_frames(e.threads, next, code, finish);
}

void frame_encoder::push(const uint8_t* p, int64_t n) {
  state& e = *st;
  e.pending.insert(e.pending.end(), p, p + n);
  // Frames go out a batch at a time: one for each thread and one more.
  if (static_cast<int64_t>(e.pending.size()) >= (e.threads + 1) * e.want) code_pending(false);
}

int64_t frame_encoder::finish() {
  state& e = *st;
  code_pending(true);
  uint8_t end[frame_record_bytes];
  put_frame_end(end, {e.index, e.total, e.whole.value()});
  e.write(end, sizeof end);
  return static_cast<int64_t>(e.total);
}

int64_t frame_encoder::frame_size() const {
  return st->want;
}

// --- Restoring ------------------------------------------------------------

struct frame_decoder::state {
  std::string name;
  byte_sink write;  // empty: a test
  int threads = 1;
  bool planned = false;  // the first frame's header has set the threads and memory
  byte_buffer in;        // pushed, not yet taken into a frame
  std::deque<std::unique_ptr<frame_job>> ready;  // whole frames, not yet restored
  uint32_t index = 0;
  bool ended = false;
  frame_end end;
  content_hasher whole;
  uint64_t total = 0;
  uint32_t restored = 0;
};

frame_decoder::frame_decoder(std::string name, byte_sink write, int threads)
    : st(std::make_unique<state>()) {
  st->name = std::move(name);
  st->write = std::move(write);
  st->threads = threads;
  progress_frames(-1);
}

frame_decoder::~frame_decoder() = default;

bool frame_decoder::ended() const {
  return st->ended;
}

// Restores the frames read whole, as many at once as the threads allow.
void frame_decoder::restore_ready() {
  state& d = *st;
  const char* in_name = d.name.c_str();
  // An archive of one frame codes its streams two at a time.
  const bool one = d.ended && d.index == 1 && d.ready.size() == 1;
  auto next = [&]() -> std::unique_ptr<frame_job> {
    if (d.ready.empty()) return nullptr;
    std::unique_ptr<frame_job> j = std::move(d.ready.front());
    d.ready.pop_front();
    j->parallel = one && d.threads >= 2;
    return j;
  };
  auto code = [&](frame_job& j) {
    const std::string name = frame_name(in_name, j.index);
    const auto m = static_cast<int64_t>(j.in.size());
    const pack_settings set{j.parallel};
    j.out.reserve(static_cast<size_t>(j.header.original));
    switch (static_cast<method>(j.header.method_word)) {
      case method::text:
      case method::text_strong:
        text_unpack(name.c_str(), j.in.data(), m, append_to(j.out), set);
        break;
      case method::mixed:
      case method::mixed_strong:
        mixed_unpack(name.c_str(), j.in.data(), m, append_to(j.out), set);
        break;
      default:
        stored_unpack(name.c_str(), j.in.data(), m, append_to(j.out));
        break;
    }
    if (static_cast<int64_t>(j.out.size()) != j.header.original ||
        content_hash(j.out.data(), static_cast<int64_t>(j.out.size())) != j.header.hash)
      refuse_damaged(name.c_str(), "the restored frame does not match its checksum");
    byte_buffer().swap(j.in);
  };
  auto finish = [&](frame_job& j) {
    d.whole.add(j.out.data(), static_cast<int64_t>(j.out.size()));
    d.total += j.out.size();
    d.restored++;
    progress_frame_done(static_cast<int64_t>(j.out.size()));
    if (d.write) d.write(j.out.data(), static_cast<int64_t>(j.out.size()));
  };
  run_frames(d.threads, next, code, finish);
}

void frame_decoder::push(const uint8_t* p, int64_t n) {
  state& d = *st;
  const char* in_name = d.name.c_str();
  if (n > 0 && d.ended) refuse_damaged(in_name, "bytes after the end record");
  d.in.insert(d.in.end(), p, p + n);
  // Takes every frame the bytes hold whole.
  size_t at = 0;
  while (!d.ended && d.in.size() - at >= frame_record_bytes) {
    const char* why = nullptr;
    const std::optional<frame_record> rec = get_frame_record(d.in.data() + at, &why);
    if (!rec) refuse_damaged(in_name, why);
    if (rec->is_end) {
      d.ended = true;
      d.end = rec->end;
      at += frame_record_bytes;
      break;
    }
    const frame_header& h = rec->header;
    if (h.index != d.index) refuse_damaged(in_name, "frames out of order");
    const auto fm = static_cast<method>(h.method_word);
    const bool known = fm == method::stored || fm == method::text || fm == method::mixed ||
                       fm == method::text_strong || fm == method::mixed_strong;
    if (!known) refuse_damaged(in_name, "a frame of an unknown method");
    if (h.original > frame_size_most || h.coded < 4 || h.coded >= archive_limit)
      refuse_damaged(in_name, "bad frame lengths");
    if (!d.planned) {
      // The first frame's method and size tell how many frames fit in memory.
      d.threads = threads_for_memory(d.threads, fm, std::max<int64_t>(h.original, 1));
      check_memory(fm, h.original);
      d.planned = true;
    }
    // The coded bytes are taken as they come, so that a header that
    // claims more than the archive holds costs no more memory than it.
    if (d.in.size() - at < frame_record_bytes + static_cast<size_t>(h.coded)) break;
    auto j = std::make_unique<frame_job>();
    j->index = d.index++;
    j->header = h;
    const auto from = d.in.begin() + static_cast<long>(at + frame_record_bytes);
    j->in.assign(from, from + h.coded);
    if (get_u32(j->in.data()) != h.method_word) refuse_damaged(in_name, "frame method mismatch");
    d.ready.push_back(std::move(j));
    at += frame_record_bytes + static_cast<size_t>(h.coded);
  }
  d.in.erase(d.in.begin(), d.in.begin() + static_cast<long>(at));
  // Frames are restored a batch at a time: one for each thread; all that
  // are left once the end record has come.
  if (static_cast<int>(d.ready.size()) >= d.threads || (d.ended && !d.ready.empty())) restore_ready();
}

int64_t frame_decoder::finish() {
  state& d = *st;
  const char* in_name = d.name.c_str();
  if (!d.ended) refuse_damaged(in_name, "truncated");
  if (!d.in.empty()) refuse_damaged(in_name, "bytes after the end record");
  if (!d.ready.empty()) restore_ready();
  if (d.end.count != d.restored || d.end.total != d.total || d.end.hash != d.whole.value())
    refuse_damaged(in_name, "the end record does not match the frames");
  return static_cast<int64_t>(d.total);
}

}  // namespace vesk
