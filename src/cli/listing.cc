#include "cli/listing.h"

#include <unistd.h>

#include <set>

#include "driver/containers.h"
#include "driver/frames.h"
#include "driver/method.h"
#include "driver/trailer.h"
#include "mixed/mixed.h"
#include "util/bytes.h"
#include "util/fail.h"

namespace vesk {

namespace {

// Reads n bytes at `at`, which must lie inside the archive's `size`.
void read_at(int fd, const char* name, int64_t size, int64_t at, uint8_t* dst, int64_t n) {
  if (at < 0 || n < 0 || at + n > size) refuse_damaged(name, "truncated");
  int64_t done = 0;
  while (done < n) {
    const ssize_t r = pread(fd, dst + done, static_cast<size_t>(n - done), at + done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) refuse_damaged(name, "truncated");
    done += r;
  }
}

uint32_t u32_at(int fd, const char* name, int64_t size, int64_t at) {
  uint8_t b[4];
  read_at(fd, name, size, at, b, 4);
  return get_u32(b);
}

// Whether a single archive's coded streams, ending at `end`, are followed
// by a checksum trailer.
bool trailer_after(int fd, const char* name, int64_t size, int64_t end) {
  if (end == size) return false;
  if (end + trailer_bytes != size) refuse_damaged(name, "bytes after the last stream");
  uint8_t t[4];
  read_at(fd, name, size, end, t, 4);
  return get_u32(t) == get_u32(reinterpret_cast<const uint8_t*>("VSK2")) ||
         get_u32(t) == get_u32(reinterpret_cast<const uint8_t*>("XXH3"));
}

// A single archive of `size` bytes at offset `at` (a frame's, or the file).
archive_listing list_single(int fd, const char* name, int64_t at, int64_t size) {
  archive_listing l;
  l.packed = size;
  auto u32 = [&](int64_t off) { return u32_at(fd, name, at + size, at + off); };
  const uint32_t word = u32(0);
  const char* what = method_word_name(word);
  if (what == nullptr || word == static_cast<uint32_t>(method::framed))
    fail("%s is not a compressed file: unknown method", name);
  l.method = what;
  switch (static_cast<method>(word)) {
    case method::stored:
      l.original = size - 4;
      break;
    case method::stored_checked: {
      uint8_t b[8];
      read_at(fd, name, at + size, at + 4, b, 8);
      l.original = static_cast<int64_t>(get_u64(b));
      if (l.original != size - stored_checked_overhead) refuse_damaged(name, "bad length");
      l.checked = true;
      break;
    }
    case method::text:
    case method::text_strong: {
      l.original = static_cast<int64_t>(u32(4)) - 1;
      const int64_t k1 = u32(16), k2 = u32(20 + k1);
      l.checked = trailer_after(fd, name, at + size, at + 24 + k1 + k2);
      break;
    }
    default: {  // mixed
      l.original = u32(4);
      int64_t off = 4 * 11;
      for (int w = 0; w < mixed_stream_count; w++) off += 4 + static_cast<int64_t>(u32(off));
      l.checked = trailer_after(fd, name, at + size, at + off);
      break;
    }
  }
  if (l.original < 0) refuse_damaged(name, "bad length");
  return l;
}

}  // namespace

const char* method_word_name(uint32_t word) {
  switch (static_cast<method>(word)) {
    case method::stored:
      return "default";
    case method::text:
      return "text";
    case method::mixed:
      return "mixed";
    case method::framed:
      return "frames";
    case method::text_strong:
      return "text -9";
    case method::mixed_strong:
      return "mixed -9";
    case method::stored_checked:
      return "stored";
    default:
      return nullptr;
  }
}

archive_listing list_archive(int fd, const char* name, int64_t size) {
  if (size < 4) fail("%s is not a compressed file: too short", name);
  if (u32_at(fd, name, size, 0) != static_cast<uint32_t>(method::framed))
    return list_single(fd, name, 0, size);
  archive_listing l;
  l.packed = size;
  l.checked = true;  // every frame's header and the end record hold hashes
  std::set<std::string> methods;
  for (int64_t at = 4;;) {
    uint8_t r[frame_record_bytes];
    read_at(fd, name, size, at, r, frame_record_bytes);
    const char* why = nullptr;
    const std::optional<frame_record> rec = get_frame_record(r, &why);
    if (!rec) refuse_damaged(name, why);
    at += frame_record_bytes;
    if (rec->is_end) {
      if (rec->end.count != static_cast<uint64_t>(l.frames) ||
          rec->end.total != static_cast<uint64_t>(l.original))
        refuse_damaged(name, "the end record does not match the frames");
      if (at != size) refuse_damaged(name, "bytes after the end record");
      break;
    }
    if (rec->header.index != l.frames) refuse_damaged(name, "frames out of order");
    const archive_listing f = list_single(fd, name, at, rec->header.coded);
    if (f.original != rec->header.original) refuse_damaged(name, "bad frame lengths");
    methods.insert(f.method);
    l.original += f.original;
    l.frames++;
    at += rec->header.coded;
  }
  // The frames' methods, or "-" for an archive of no frame.
  std::string all;
  for (const std::string& m : methods) {
    if (!all.empty()) all += '+';
    all += m;
  }
  l.method = methods.empty() ? std::string(1, '-') : all;
  return l;
}

}  // namespace vesk
