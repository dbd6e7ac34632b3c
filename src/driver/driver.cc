#include "driver/driver.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "driver/classify.h"
#include "driver/containers.h"
#include "driver/frames.h"
#include "driver/limits.h"
#include "driver/memory_need.h"
#include "driver/method.h"
#include "driver/options.h"
#include "util/arena.h"
#include "util/big_buffer.h"
#include "util/bytes.h"
#include "util/cores.h"
#include "util/fail.h"
#include "util/files.h"
#include "util/progress.h"

#ifndef VESK_VERSION
#define VESK_VERSION "unknown"
#endif

namespace vesk {

namespace {

constexpr const char* usage_text =
    "Vesk version 4\n"
    "Compress:\n"
    "    ./vesk -c input output\n"
    "Decompress:\n"
    "    ./vesk -d input output\n";

constexpr const char* options_text =
    "\n"
    "Without files, vesk compresses standard input to standard output (with -d,\n"
    "decompresses); \"-\" names standard input or output.\n"
    "\n"
    "Options:\n"
    "  -c, --compress        compress (the default)\n"
    "  -d, --decompress      decompress\n"
    "  -t, --test            decode and verify each FILE (standard input if none),\n"
    "                        writing nothing\n"
    "  -T N, --threads=N     code up to N frames at once (0: one per usable core);\n"
    "                        compresses in frames\n"
    "  --frame-size=SIZE     the frames' size: 64K to 1,001,000,000 bytes (K, M, G\n"
    "                        suffixes, powers of 1024)\n"
    "  --method=METHOD       text, mixed or stored for every frame of the input\n"
    "                        (default: by the file's name, or by each frame's content)\n"
    "  -q, --quiet           no start line\n"
    "  -h, --help            this text\n"
    "  -V, --version         the version and the archive methods it reads\n";

constexpr const char* version_text =
    "vesk " VESK_VERSION
    "\n"
    "Reads archives of methods 0 (stored), 1 (text), 2 (mixed) and 3 (framed),\n"
    "with or without their checksum trailer (\"VSK2\", \"XXH3\").\n";

// The methods this version reads, by the names its messages use; null for
// any other word. The strong methods' words are not read yet.
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
    case method::stored_checked:
      return "stored";
    default:
      return nullptr;
  }
}

// The method of a single archive and why it was chosen.
struct method_choice {
  method m;
  enum { by_name, by_content, by_option } why;
};

method_choice choose_method(const run_options& o, const char* in, int64_t size) {
  if (o.forced) return {*o.forced, method_choice::by_option};
  if (const std::optional<method> m = method_for_name(in)) return {*m, method_choice::by_name};
  const int fd = input_open(in);
  const method m = method_by_content(size, [&](int64_t at, int64_t n, uint8_t* dst) {
    input_read_at(fd, in, dst, static_cast<uint64_t>(n), at);
  });
  close(fd);
  return {m, method_choice::by_content};
}

// "Compressing text", as the design has it for names; the reason after
// the others.
std::string start_line(const method_choice& c) {
  const char* why = c.why == method_choice::by_content  ? " (by content)"
                    : c.why == method_choice::by_option ? " (--method)"
                                                        : "";
  if (c.m == method::stored)
    return c.why == method_choice::by_content ? "Storing (does not compress)"
                                              : std::string("Storing") + why;
  return std::string("Compressing ") + method_word_name(static_cast<uint32_t>(c.m)) + why;
}

struct run_context {
  const run_options& o;
  bool announce;  // print the start line
  void say(const std::string& line) const {
    if (!announce) return;
    std::fprintf(message_stream(), "%s\n", line.c_str());
    std::fflush(message_stream());
  }
};

// Frames coded at once: -T N (0: the usable cores), else the two threads a
// single archive uses.
int frame_threads(const run_options& o) {
  const int cores = usable_cores();
  int n = !o.threads ? std::min(2, cores) : *o.threads == 0 ? cores : *o.threads;
  return std::clamp(n, 1, frame_threads_most);
}

pack_input file_input(const char* path, int64_t size) {
  return {path, size,
          [path, size](uint8_t* dst) { read_file(path, dst, static_cast<uint64_t>(size)); }};
}

// The stored archive of a file, written as the file is read: at the speed
// of a copy, in memory of a piece.
void store_file(const char* in, int64_t size, const char* out) {
  check_packable(pack_input{in, size, {}});
  const int fd = input_open(in);
  output_file o = output_open(out);
  stored_checked_stream(
      size,
      [&](uint8_t* dst, int64_t n) {
        if (input_read(fd, in, dst, static_cast<uint64_t>(n)) < static_cast<uint64_t>(n))
          fail("Cannot read %s: it changed while it was read\n", in);
      },
      [&](const uint8_t* p, int64_t n) { output_write(o, p, static_cast<uint64_t>(n)); });
  uint8_t more;
  if (input_read(fd, in, &more, 1) != 0) fail("Cannot read %s: it changed while it was read\n", in);
  close(fd);
  output_commit(o);
}

void compress_single(const run_context& c, const char* in, int64_t size, const char* out) {
  const pack_input input = file_input(in, size);
  const pack_output output = [out](const uint8_t* data, int64_t n) {
    write_file(out, data, static_cast<uint64_t>(n));
  };
  const pack_settings set;
  const method_choice choice = choose_method(c.o, in, size);
  check_memory(choice.m, size);
  c.say(start_line(choice));
  // A method the content chose that did not pay leaves the input stored.
  const pack_output output_or_stored = [&](const uint8_t* data, int64_t n) {
    if (choice.why == method_choice::by_content && n > size + stored_checked_overhead) {
      stored_checked_pack(input, output);
    } else {
      output(data, n);
    }
  };
  switch (choice.m) {
    case method::text:
      text_pack(input, output_or_stored, set);
      break;
    case method::mixed:
      mixed_pack(input, output_or_stored, set);
      break;
    default:
      store_file(in, size, out);
      break;
  }
}

void compress(const run_context& c, const char* in, const char* out) {
  const bool from_stdin = std::strcmp(in, "-") == 0;
  const int64_t size = from_stdin ? -1 : file_size(in);
  if (!from_stdin && size < 0) fail("%s not found", in);
  // Frames when asked for (-T, --frame-size), for a pipe, and for what a
  // single archive cannot hold; otherwise the single archive of the
  // file's method.
  if (!from_stdin && !c.o.threads && c.o.frame_size == 0 && input_fits(size)) {
    compress_single(c, in, size, out);
    return;
  }
  frame_settings s;
  s.threads = frame_threads(c.o);
  s.frame_size = c.o.frame_size;
  s.forced = c.o.forced;
  s.name = from_stdin ? nullptr : in;
  const std::optional<method> all = s.forced ? s.forced : s.name ? method_for_name(s.name) : std::nullopt;
  c.say(!all                   ? std::string("Compressing in frames")
        : *all == method::stored ? std::string("Storing in frames")
                                 : std::string("Compressing ") +
                                       method_word_name(static_cast<uint32_t>(*all)) + " in frames");
  const int fd = input_open(in);
  output_file o = output_open(out);
  framed_compress(fd, from_stdin ? "standard input" : in, size, o, s);
}

// -t's status for archives that carry no check, when no other was damaged.
constexpr int unverified = 2;

// Restores (or, with out null, tests) the archive at `in`; returns 0, or
// `unverified` for an archive without a check.
int decompress(const run_context& c, const char* in, const char* out) {
  const bool from_stdin = std::strcmp(in, "-") == 0;
  const char* name = from_stdin ? "standard input" : in;
  int64_t size = -1;
  if (!from_stdin) {
    size = file_size(in);
    if (size < 0) fail("File %s not found", in);
  }
  const int fd = input_open(in);
  uint8_t word[4];
  const uint64_t got = input_read(fd, name, word, 4);
  if (got < 4) fail("%s is not a compressed file: too short\n", name);
  const uint32_t w = get_u32(word);
  const char* what = method_word_name(w);
  if (what == nullptr) fail("%s is not a compressed file: unknown method\n", name);
  if (out != nullptr) c.say(std::string("Decompressing ") + what);
  if (static_cast<method>(w) == method::framed) {
    std::unique_ptr<output_file> o;
    if (out != nullptr) o = std::make_unique<output_file>(output_open(out));
    framed_decompress(fd, name, o.get(), frame_threads(c.o));
    return 0;
  }
  // A stored archive in a file streams to a file (renamed into place once
  // verified) or through the test.
  if (static_cast<method>(w) == method::stored_checked && size >= 0 &&
      (out == nullptr || writes_new_file(out))) {
    std::unique_ptr<output_file> o;
    if (out != nullptr) o = std::make_unique<output_file>(output_open(out));
    std::function<void(const uint8_t*, int64_t)> write;
    if (o) write = [&](const uint8_t* p, int64_t n) { output_write(*o, p, static_cast<uint64_t>(n)); };
    stored_checked_restore(
        name, size, word,
        [&](uint8_t* dst, int64_t n) {
          return static_cast<int64_t>(input_read(fd, name, dst, static_cast<uint64_t>(n)));
        },
        write);
    if (o) output_commit(*o);
    return 0;
  }
  // A single archive is read whole (a regular file's size is known; from a
  // pipe, up to the largest archive vesk writes).
  if (size >= archive_limit) fail("File %s must be less than 1.5GB", in);
  int64_t cap = size >= 0 ? size : archive_limit;
  auto* packed = static_cast<uint8_t*>(big_alloc(static_cast<size_t>(std::max<int64_t>(cap, 4))));
  if (packed == nullptr) fail("Not enough memory for %s\n", name);
  std::memcpy(packed, word, 4);
  progress_phase("reading", cap);
  const int64_t m =
      4 + static_cast<int64_t>(input_read(fd, name, packed + 4, static_cast<uint64_t>(cap - 4)));
  if (size >= 0 && m != size) fail("Cannot read %s: it changed while it was read\n", in);
  if (size < 0 && m == cap) {
    uint8_t more;
    if (input_read(fd, name, &more, 1) != 0) fail("%s must be less than 1.5GB\n", name);
  }
  // The original's size: a stored archive's rest, else the header's field.
  const auto single = static_cast<method>(w);
  const bool stored = single == method::stored || single == method::stored_checked;
  check_memory(single, stored ? m : m >= 8 ? get_u32(packed + 4) : 0);
  const pack_output output = [out](const uint8_t* data, int64_t n) {
    if (out != nullptr) write_file(out, data, static_cast<uint64_t>(n));
  };
  pack_settings set;
  set.parallel_streams = !c.o.threads || *c.o.threads != 1;
  switch (static_cast<method>(w)) {
    case method::text:
      text_unpack(name, packed, m, output, set);
      break;
    case method::mixed:
      mixed_unpack(name, packed, m, output, set);
      break;
    case method::stored_checked:
      stored_checked_unpack(name, packed, m, output);
      break;
    default:
      stored_unpack(name, packed, m, output);
      // Nothing shows whether such an archive is sound.
      if (out == nullptr)
        std::fprintf(message_stream(),
                     "%s carries no check (a stored archive of an earlier version): it was not "
                     "verified\n",
                     name);
      big_free(packed);
      return unverified;
  }
  big_free(packed);
  return 0;
}

// Tests each archive in a process of its own, so that one damaged archive
// (whose refusal ends its process) does not stop the others.
int test_archives(const run_context& c) {
  std::vector<std::string> files = c.o.files;
  if (files.empty()) files.emplace_back("-");
  int status = 0;
  for (const std::string& f : files) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) fail("Cannot test %s: %s\n", f.c_str(), std::strerror(errno));
    if (pid == 0) {
      damage_note_testing();
      const int tested = decompress(c, f.c_str(), nullptr);
      std::fflush(nullptr);
      _exit(tested);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st) && WEXITSTATUS(st) == unverified) {
      if (status == 0) status = unverified;
    } else if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
      status = exit_failure;
    }
    if (WIFSIGNALED(st)) {
      std::fprintf(message_stream(), "%s could not be tested (signal %d)\n", f.c_str(),
                   WTERMSIG(st));
      if (WTERMSIG(st) == SIGINT || WTERMSIG(st) == SIGTERM || WTERMSIG(st) == SIGHUP)
        raise(WTERMSIG(st));
    }
  }
  return status;
}

}  // namespace

int run(int argc, const char* const* argv) {
  std::string why;
  const std::optional<run_options> parsed = parse_options(argc, argv, why);
  if (!parsed) {
    std::fputs(usage_text, stdout);
    return exit_failure;
  }
  const run_options& o = *parsed;
  if (o.mode == run_mode::help) {
    std::fputs(usage_text, stdout);
    std::fputs(options_text, stdout);
    return 0;
  }
  if (o.mode == run_mode::version) {
    std::fputs(version_text, stdout);
    return 0;
  }
  install_stop_signals();
  const bool files_given = !o.files.empty();
  const char* in = files_given ? o.files[0].c_str() : "-";
  const char* out = o.mode != run_mode::test && files_given ? o.files[1].c_str() : "-";
  // Messages never mix with data: when standard output carries it, they
  // go to standard error.
  const bool data_on_stdout =
      o.mode != run_mode::test && (std::strcmp(out, "-") == 0 || is_same_file(STDOUT_FILENO, out));
  set_messages_to_stderr(data_on_stdout);
  run_context c{o, !o.quiet && o.mode != run_mode::test};
  // The data side is never a terminal: compressed data is not written to
  // one, and nothing is read from one.
  if (o.mode == run_mode::compress && std::strcmp(out, "-") == 0 && isatty(STDOUT_FILENO))
    fail("vesk: compressed data is not written to a terminal; give an output file or redirect\n");
  if (std::strcmp(in, "-") == 0 && isatty(STDIN_FILENO))
    fail(o.mode == run_mode::compress
             ? "vesk: input is not read from a terminal; give an input file or a pipe\n"
             : "vesk: compressed data is not read from a terminal; give a file or a pipe\n");
  arena_init();
  // The display thread is not started for -t, whose checks run in child
  // processes.
  if (o.mode != run_mode::test) progress_begin();
  int status = 0;
  switch (o.mode) {
    case run_mode::compress:
      compress(c, in, out);
      break;
    case run_mode::decompress:
      decompress(c, in, out);  // restored: an archive without a check is no failure
      break;
    default:
      status = test_archives(c);
      break;
  }
  progress_end();
  std::fflush(stdout);
  return status;
}

}  // namespace vesk
