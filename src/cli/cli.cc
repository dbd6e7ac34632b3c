#include "cli/cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <new>

#include "cli/display.h"
#include "cli/files.h"
#include "cli/listing.h"
#include "cli/options.h"
#include "cli/signals.h"
#include "driver/classify.h"
#include "driver/containers.h"
#include "driver/frames.h"
#include "driver/limits.h"
#include "driver/memory_need.h"
#include "driver/method.h"
#include "util/arena.h"
#include "util/big_buffer.h"
#include "util/bytes.h"
#include "util/call.h"
#include "util/cores.h"
#include "util/prefault.h"
#include "util/fail.h"
#include "util/progress.h"

#ifndef VESK_VERSION
#define VESK_VERSION "unknown"
#endif

namespace vesk {

namespace {

// The design's usage text, with the program's name as it was called.
std::string usage_text(const std::string& called) {
  return "Vesk version " VESK_VERSION "\nCompress:\n    " + called +
         " -c input output\nDecompress:\n    " + called + " -d input output\n";
}

constexpr const char* options_text =
    "\n"
    "Other forms:\n"
    "  vesk FILE...          compress each FILE to FILE.vsk (kept; --rm removes it)\n"
    "  vesk -d FILE.vsk...   restore each FILE.vsk to FILE (unvesk FILE.vsk... too)\n"
    "  vesk -t FILE...       decode and verify, writing nothing\n"
    "  vesk -l FILE...       list each archive: method, frames, sizes, check\n"
    "  vesk < in > out       compress standard input to standard output (-d: restore)\n"
    "With -c or -d and exactly two files, the second is the output (replaced).\n"
    "\"-\" names standard input or output.\n"
    "\n"
    "Options:\n"
    "  -c, --compress        compress (the default)\n"
    "  -d, --decompress      restore\n"
    "  -t, --test            verify each FILE (standard input if none)\n"
    "  -l, --list            list each FILE from its headers, without decoding\n"
    "  -o FILE, --output=FILE  the output of the one input\n"
    "  --stdout              write to standard output (vesk -d --stdout F: xz -dc F)\n"
    "  -f, --force           replace an existing output\n"
    "  -k, --keep            keep the input (the default)\n"
    "  --rm                  remove each input once its output is complete\n"
    "  -T N, --threads=N     code up to N frames at once (0: one per usable core);\n"
    "                        compresses in frames\n"
    "  --frame-size=SIZE     compress in frames of SIZE: 64K to 1,001,000,000 bytes\n"
    "                        (K, M, G suffixes, powers of 1024)\n"
    "  --method=METHOD       text, mixed or stored, whatever the name or content\n"
    "  -9, --best            the strong methods: smaller archives, in up to twice\n"
    "                        the time\n"
    "  -q, --quiet           nothing but errors\n"
    "  -v, --verbose         the start line and a summary line on standard error\n"
    "  -h, --help            this text\n"
    "  -V, --version         the version and the archive methods it reads\n";

constexpr const char* version_text =
    "vesk " VESK_VERSION
    "\n"
    "Reads archives of methods 0 (stored, without a check), 1 (text), 2 (mixed),\n"
    "3 (framed), 4 (text -9), 5 (mixed -9) and 6 (stored), text and mixed ones\n"
    "with or without their checksum trailer (\"VSK2\", \"XXH3\").\n";

// -t's status for archives that carry no check, when no other was damaged.
constexpr int unverified = 2;

bool is_stdio(const std::string& path) {
  return path == "-";
}

std::string base_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One input and its output, and how they were named.
struct job {
  std::string in;
  std::string out;     // "-": standard output; empty: none (-t, -l)
  bool design = false;  // vesk -c IN OUT, vesk -d IN OUT: the output is replaced
};

// What a run does with every job: its options and where its lines go.
struct run_context {
  const run_options& o;
  bool filter = false;  // no file operands: data on both ends, nothing printed but errors
  // The start line: the design's forms print it on standard output as they
  // always did (on standard error when standard output carries data); -v
  // prints it on standard error in every form.
  void say(const job& j, const std::string& line) const {
    if (o.quiet || filter) return;
    FILE* to = nullptr;
    if (o.verbose) {
      to = stderr;
    } else if (j.design) {
      const bool data_on_stdout =
          is_stdio(j.out) || (!j.out.empty() && is_same_file(STDOUT_FILENO, j.out.c_str()));
      to = data_on_stdout ? stderr : stdout;
    }
    if (to == nullptr) return;
    display_clear();
    std::fprintf(to, "%s\n", line.c_str());
    std::fflush(to);
  }
  // The summary line, on standard error: on a terminal, or with -v.
  bool summarise() const { return !o.quiet && !filter && (o.verbose || isatty(STDERR_FILENO)); }
};

// The method of a single archive and why it was chosen.
struct method_choice {
  method m;
  enum { by_name, by_content, by_option } why;
};

method_choice choose_method(const run_options& o, const char* in, int64_t size) {
  if (o.forced) return {*o.forced, method_choice::by_option};
  if (const std::optional<method> m = method_for_name(in)) return {*m, method_choice::by_name};
  const input_file f(in);
  const method m = method_by_content(size, [&](int64_t at, int64_t n, uint8_t* dst) {
    input_read_at(f.fd, in, dst, static_cast<uint64_t>(n), at);
  });
  return {m, method_choice::by_content};
}

// "Compressing text", as the design has it for names; the reason after
// the others; "Compressing text -9" for the strong methods.
std::string start_line(method_choice c, bool strong) {
  if (strong) c.m = strong_variant(c.m);
  const char* why = c.why == method_choice::by_content  ? " (by content)"
                    : c.why == method_choice::by_option ? " (--method)"
                                                        : "";
  if (c.m == method::stored)
    return c.why == method_choice::by_content ? "Storing (does not compress)"
                                              : std::string("Storing") + why;
  return std::string("Compressing ") + method_word_name(static_cast<uint32_t>(c.m)) + why;
}

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

// Frames over a file descriptor (a file of known_size bytes, or a pipe:
// -1), read until its end: compressing returns the bytes read, restoring
// the bytes restored.
int64_t framed_compress(int fd, const char* in_name, int64_t known_size, const byte_sink& write,
                        const frame_settings& s) {
  frame_encoder e(s, known_size, in_name, write);
  // Read a frame at a time (at most 64 MiB a read), so that a pipe streams
  // through in bounded memory.
  const int64_t piece = std::min<int64_t>(e.frame_size(), int64_t{64} << 20);
  std::vector<uint8_t> buf(static_cast<size_t>(piece));
  for (;;) {
    const uint64_t got = input_read(fd, in_name, buf.data(), buf.size());
    e.push(buf.data(), static_cast<int64_t>(got));
    if (got < buf.size()) break;
  }
  return e.finish();
}

int64_t framed_decompress(int fd, const char* in_name, const byte_sink& write, int threads) {
  frame_decoder d(in_name, write, threads);
  std::vector<uint8_t> buf(size_t{1} << 20);
  for (;;) {
    const uint64_t got = input_read(fd, in_name, buf.data(), buf.size());
    d.push(buf.data(), static_cast<int64_t>(got));
    if (got < buf.size()) break;
  }
  return d.finish();
}

// Appends to an open output.
pack_output into(output_file& o) {
  return [&o](const uint8_t* data, int64_t n) { output_write(o, data, static_cast<uint64_t>(n)); };
}

// The stored archive of a file, written as the file is read: at the speed
// of a copy, in memory of a piece.
void store_file(const char* in, int64_t size, output_file& o) {
  check_packable(pack_input{in, size, {}});
  const input_file f(in);
  stored_checked_stream(
      size,
      [&](uint8_t* dst, int64_t n) {
        if (input_read(f.fd, in, dst, static_cast<uint64_t>(n)) < static_cast<uint64_t>(n))
          fail_as(failure_kind::io, "Cannot read %s: it changed while it was read", in);
      },
      [&](const uint8_t* p, int64_t n) { output_write(o, p, static_cast<uint64_t>(n)); });
  uint8_t more;
  if (input_read(f.fd, in, &more, 1) != 0)
    fail_as(failure_kind::io, "Cannot read %s: it changed while it was read", in);
}

// What a job read and wrote, for its summary line.
struct job_figures {
  int64_t in = 0, out = 0;
  std::string what;  // the method, as the start line names it
};

job_figures compress_single(const run_context& c, const job& j, int64_t size, output_file& o) {
  const char* in = j.in.c_str();
  const pack_input input = file_input(in, size);
  pack_settings set;
  set.strong = c.o.strong;
  const method_choice choice = choose_method(c.o, in, size);
  check_memory(choice.m == method::stored ? method::stored_checked
               : set.strong               ? strong_variant(choice.m)
                                          : choice.m,
               size);
  c.say(j, start_line(choice, set.strong));
  // A method the content chose that did not pay leaves the input stored.
  const pack_output output_or_stored = [&](const uint8_t* data, int64_t n) {
    if (choice.why == method_choice::by_content && stored_is_smaller(n, size)) {
      stored_checked_pack(input, into(o));
    } else {
      output_write(o, data, static_cast<uint64_t>(n));
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
      store_file(in, size, o);
      break;
  }
  const char* m = choice.m == method::stored
                      ? "stored"
                      : method_word_name(static_cast<uint32_t>(set.strong ? strong_variant(choice.m) : choice.m));
  return {size, o.written, m};
}

// An input's size, or not_regular for a stream (standard input, a pipe, a
// FIFO, a device); fails when it is missing.
int64_t input_size(const std::string& in) {
  if (is_stdio(in)) return not_regular;
  const int64_t size = file_size(in.c_str());
  if (size == -1) fail("%s not found", in.c_str());
  return size;
}

// The terminal rules: compressed data is never written to a terminal nor
// read from one.
void refuse_terminals(const job& j, bool compressing) {
  if (compressing && is_stdio(j.out) && isatty(STDOUT_FILENO))
    fail("compressed data is not written to a terminal; give an output file or redirect");
  if (is_stdio(j.in) && isatty(STDIN_FILENO))
    fail(compressing ? "input is not read from a terminal; give an input file or a pipe"
                     : "compressed data is not read from a terminal; give a file or a pipe");
}

// Opens a job's output before any work, so that a missing folder, a folder
// without write permission or a read-only file system is refused at once;
// the output takes the input's permission bits and times (a regular input).
output_file open_output(const job& j) {
  output_file o = output_open(j.out.c_str());
  struct stat st;
  if (!is_stdio(j.in) && stat(j.in.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    output_take_attributes(o, st);
  return o;
}

job_figures compress_job(const run_context& c, const job& j) {
  const int64_t size = input_size(j.in);
  refuse_terminals(j, true);
  output_file o = open_output(j);
  const bool stream = size == not_regular;
  // Frames when asked for (-T, --frame-size), for a stream, and for what a
  // single archive cannot hold; otherwise the single archive of the
  // file's method.
  if (!stream && !c.o.threads && c.o.frame_size == 0 && input_fits(size)) {
    const job_figures f = compress_single(c, j, size, o);
    output_commit(o);
    return f;
  }
  frame_settings s;
  s.threads = frame_threads(c.o);
  s.frame_size = c.o.frame_size;
  s.forced = c.o.forced;
  s.name = is_stdio(j.in) ? nullptr : j.in.c_str();
  s.strong = c.o.strong;
  const std::optional<method> all = s.forced ? s.forced : s.name ? method_for_name(s.name) : std::nullopt;
  const std::string nine = s.strong ? " -9" : "";
  const std::string what =
      !all                     ? "in frames" + nine
      : *all == method::stored ? "stored in frames"
                               : std::string(method_word_name(static_cast<uint32_t>(
                                     s.strong ? strong_variant(*all) : *all))) +
                                     " in frames";
  c.say(j, !all                     ? "Compressing in frames" + nine
           : *all == method::stored ? std::string("Storing in frames")
                                    : "Compressing " + what);
  const input_file f(j.in.c_str());
  const int64_t read = framed_compress(f.fd, is_stdio(j.in) ? "standard input" : j.in.c_str(),
                                       stream ? -1 : size, into(o), s);
  output_commit(o);
  return {read, o.written, what};
}

// Restores (with an output) or tests (without) one archive; `status` turns
// to `unverified` for an archive without a check.
job_figures decompress_job(const run_context& c, const job& j, int& status) {
  const bool from_stdin = is_stdio(j.in);
  const char* name = from_stdin ? "standard input" : j.in.c_str();
  const int64_t size = input_size(j.in);
  refuse_terminals(j, false);
  std::unique_ptr<output_file> o;
  if (!j.out.empty()) o = std::make_unique<output_file>(open_output(j));
  try {
    const input_file f(j.in.c_str());
    uint8_t word[4];
    if (input_read(f.fd, name, word, 4) < 4) fail("%s is not a compressed file: too short", name);
    const uint32_t w = get_u32(word);
    const char* what = method_word_name(w);
    if (what == nullptr) fail("%s is not a compressed file: unknown method", name);
    if (o) c.say(j, std::string("Decompressing ") + what);
    job_figures figures{size, 0, what};
    if (static_cast<method>(w) == method::framed) {
      byte_sink write;
      if (o) write = into(*o);
      figures.out = framed_decompress(f.fd, name, write, frame_threads(c.o));
      if (o) output_commit(*o);
      return figures;
    }
    // A stored archive in a file streams to a file (renamed into place once
    // verified) or through the test.
    if (static_cast<method>(w) == method::stored_checked && size >= 0 &&
        (!o || !o->temp.empty())) {
      std::function<void(const uint8_t*, int64_t)> write;
      if (o) write = [&](const uint8_t* p, int64_t n) { output_write(*o, p, static_cast<uint64_t>(n)); };
      stored_checked_restore(
          name, size, word,
          [&](uint8_t* dst, int64_t n) {
            return static_cast<int64_t>(input_read(f.fd, name, dst, static_cast<uint64_t>(n)));
          },
          write);
      if (o) output_commit(*o);
      figures.out = size - stored_checked_overhead;
      return figures;
    }
    // A single archive is read whole (a regular file's size is known; from a
    // stream, up to the largest archive vesk writes).
    if (size >= archive_limit) fail("%s must be less than 1.5GB", name);
    const int64_t cap = size >= 0 ? size : archive_limit;
    struct big_block {
      uint8_t* p;
      ~big_block() { big_free(p); }
    } packed{static_cast<uint8_t*>(big_alloc(static_cast<size_t>(std::max<int64_t>(cap, 4))))};
    if (packed.p == nullptr) refuse_memory(cap);
    std::memcpy(packed.p, word, 4);
    progress_phase("reading", cap);
    const int64_t m = 4 + static_cast<int64_t>(
                              input_read(f.fd, name, packed.p + 4, static_cast<uint64_t>(cap - 4)));
    if (size >= 0 && m != size)
      fail_as(failure_kind::io, "Cannot read %s: it changed while it was read", name);
    if (size < 0 && m == cap) {
      uint8_t more;
      if (input_read(f.fd, name, &more, 1) != 0) fail("%s must be less than 1.5GB", name);
    }
    figures.in = m;
    // The original's size: a stored archive's rest, else the header's field.
    const auto single = static_cast<method>(w);
    const bool stored = single == method::stored || single == method::stored_checked;
    check_memory(single, stored ? m : m >= 8 ? get_u32(packed.p + 4) : 0);
    const pack_output output = [&](const uint8_t* data, int64_t n) {
      figures.out = n;
      if (o) output_write(*o, data, static_cast<uint64_t>(n));
    };
    pack_settings set;
    set.parallel_streams = !c.o.threads || *c.o.threads != 1;
    switch (single) {
      case method::text:
      case method::text_strong:
        text_unpack(name, packed.p, m, output, set);
        break;
      case method::mixed:
      case method::mixed_strong:
        mixed_unpack(name, packed.p, m, output, set);
        break;
      case method::stored_checked:
        stored_checked_unpack(name, packed.p, m, output);
        break;
      default:
        stored_unpack(name, packed.p, m, output);
        // Nothing shows whether such an archive is sound.
        if (!o) {
          display_clear();
          std::fprintf(stderr,
                       "vesk: %s carries no check (a stored archive of an earlier version): it "
                       "was not verified\n",
                       name);
          status = std::max(status, unverified);
        }
        break;
    }
    if (o) output_commit(*o);
    return figures;
  } catch (failure& e) {
    // What became of the output: a file is never written before its
    // archive is verified; a stream gets each frame once it is.
    if (e.kind == failure_kind::damaged && o)
      e.message += o->temp.empty() && o->written > 0 ? "; the frames before it were written"
                                                     : "; nothing was written";
    throw;
  }
}

void print_listing(const std::vector<std::pair<std::string, archive_listing>>& rows) {
  std::printf("%8s  %-12s %-6s %14s %14s %7s  %s\n", "frames", "method", "check", "compressed",
              "original", "ratio", "name");
  archive_listing total;
  for (const auto& [name, l] : rows) {
    const std::string frames = l.frames > 0 ? std::to_string(l.frames) : "-";
    const double ratio = l.original > 0 ? static_cast<double>(l.packed) / static_cast<double>(l.original) : 0.0;
    std::printf("%8s  %-12s %-6s %14lld %14lld %7.3f  %s\n", frames.c_str(), l.method.c_str(),
                l.checked ? "XXH3" : "none", static_cast<long long>(l.packed),
                static_cast<long long>(l.original), ratio, name.c_str());
    total.packed += l.packed;
    total.original += l.original;
  }
  if (rows.size() > 1) {
    const double ratio =
        total.original > 0 ? static_cast<double>(total.packed) / static_cast<double>(total.original) : 0.0;
    std::printf("%8s  %-12s %-6s %14lld %14lld %7.3f  %zu files\n", "", "", "",
                static_cast<long long>(total.packed), static_cast<long long>(total.original), ratio,
                rows.size());
  }
}

archive_listing list_job(const std::string& path) {
  const int64_t size = input_size(path);
  if (size < 0) fail("%s is not a regular file: -l reads a file's headers", path.c_str());
  const input_file f(path.c_str());
  return list_archive(f.fd, path.c_str(), size);
}

std::string bytes_text(int64_t n) {
  std::string digits = std::to_string(n), s;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) s += ',';
    s += digits[i];
  }
  return s;
}

// "notes.txt -> notes.txt.vsk: 3,000,000 -> 396,624 bytes (13.22%), text,
// 1.7 s, 1.76 MB/s"
void print_summary(const job& j, const job_figures& f, bool compressing, double seconds) {
  const std::string from = is_stdio(j.in) ? "(standard input)" : j.in;
  const std::string to = j.out.empty() ? "" : is_stdio(j.out) ? " -> (standard output)" : " -> " + j.out;
  const int64_t original = compressing ? f.in : f.out;
  const double share = original > 0 ? 100.0 * static_cast<double>(compressing ? f.out : f.in) /
                                          static_cast<double>(original)
                                    : 0.0;
  const double rate = seconds > 0 ? static_cast<double>(original) / seconds / 1e6 : 0.0;
  display_clear();
  std::fprintf(stderr, "%s%s: %s -> %s bytes (%.2f%%), %s, %.1f s, %.2f MB/s%s\n", from.c_str(),
               to.c_str(), bytes_text(f.in).c_str(), bytes_text(f.out).c_str(), share,
               f.what.c_str(), seconds, rate, j.out.empty() ? ", sound" : "");
}

// The jobs of a compress or restore command line, or why there are none.
std::vector<job> jobs_of(const run_options& o, bool every_input, bool& filter) {
  const bool compressing = o.mode == run_mode::compress;
  std::vector<job> jobs;
  filter = o.files.empty();
  if (filter) {
    jobs.push_back({"-", o.output.value_or("-"), false});
    return jobs;
  }
  // The design's forms: -c or -d, an input and an output.
  if (o.mode_given && !every_input && o.files.size() == 2 && !o.output && !o.to_stdout) {
    jobs.push_back({o.files[0], o.files[1], true});
    return jobs;
  }
  if (o.output && o.files.size() > 1) fail("-o names the output of one input, not of %zu", o.files.size());
  for (const std::string& in : o.files) {
    job j{in, "", false};
    if (o.output) {
      j.out = *o.output;
    } else if (o.to_stdout || is_stdio(in)) {
      j.out = "-";
    } else if (compressing) {
      j.out = in + ".vsk";
    } else {
      constexpr std::string_view suffix = ".vsk";
      if (in.size() <= suffix.size() || in.compare(in.size() - suffix.size(), suffix.size(), suffix) != 0 ||
          in.back() == '/' || base_name(in) == ".vsk")
        fail("%s does not end in .vsk: give -o to name its output, or --stdout", in.c_str());
      j.out = in.substr(0, in.size() - suffix.size());
    }
    jobs.push_back(j);
  }
  return jobs;
}

// An existing output is never replaced by surprise in the forms that name
// it themselves: only with -f. An output that is the input, never.
void refuse_surprises(const run_options& o, const job& j) {
  if (j.design || is_stdio(j.out)) return;
  struct stat out_st, in_st;
  if (stat(j.out.c_str(), &out_st) != 0) return;
  if (!is_stdio(j.in) && stat(j.in.c_str(), &in_st) == 0 && in_st.st_dev == out_st.st_dev &&
      in_st.st_ino == out_st.st_ino)
    fail("%s: the output would be the input", j.in.c_str());
  if (!o.force && S_ISREG(out_st.st_mode))
    fail("%s already exists; not overwritten (-f replaces it)", j.out.c_str());
}

void print_failure(const failure& e) {
  display_clear();
  std::fflush(stdout);
  std::fprintf(stderr, "vesk: %s\n", e.message.c_str());
}

}  // namespace

int run(int argc, const char* const* argv) {
  const std::string called = argc > 0 && argv[0] != nullptr ? argv[0] : "vesk";
  const bool every_input = base_name(called).rfind("unvesk", 0) == 0;
  std::string why;
  const std::optional<run_options> parsed = parse_options(argc, argv, why, every_input);
  if (!parsed) {
    std::fprintf(stderr, "vesk: %s\n%sTry '%s --help' for more information.\n", why.c_str(),
                 usage_text(called).c_str(), called.c_str());
    return exit_failure;
  }
  const run_options& o = *parsed;
  if (o.mode == run_mode::help) {
    std::fputs(usage_text(called).c_str(), stdout);
    std::fputs(options_text, stdout);
    return 0;
  }
  if (o.mode == run_mode::version) {
    std::fputs(version_text, stdout);
    return 0;
  }
  install_stop_signals();
  install_fault_handler();
  // The program's calls into the core: every usable core for the streams
  // coded side by side, a prefaulter, the notes printed unless -q.
  call_state call;
  call.threads = usable_cores();
  prefault_queue prefaulter;
  call.prefault = &prefaulter;
  call.notice = [&o](const std::string& text) {
    if (o.quiet) return;
    display_clear();
    std::fflush(stdout);
    std::fprintf(stderr, "vesk: %s\n", text.c_str());
  };
  const call_scope scope(call);
  int status = 0;
  if (o.mode == run_mode::list) {
    std::vector<std::pair<std::string, archive_listing>> rows;
    for (const std::string& f : o.files) {
      try {
        rows.emplace_back(f, list_job(f));
      } catch (const failure& e) {
        print_failure(e);
        status = exit_failure;
      }
    }
    if (!rows.empty()) print_listing(rows);
    return status;
  }
  run_context c{o};
  std::vector<job> jobs;
  if (o.mode == run_mode::test) {
    for (const std::string& f : o.files) jobs.push_back({f, "", false});
    if (jobs.empty()) jobs.push_back({"-", "", false});
  } else {
    try {
      jobs = jobs_of(o, every_input, c.filter);
    } catch (const failure& e) {
      print_failure(e);
      return exit_failure;
    }
  }
  // The display thread shows progress on a terminal, each file's board.
  if (!o.quiet) display_begin();
  const bool compressing = o.mode == run_mode::compress;
  for (size_t k = 0; k < jobs.size(); k++) {
    const job& j = jobs[k];
    const int64_t mark = arena_blocks();
    const auto t0 = std::chrono::steady_clock::now();
    progress_board board;
    call.progress = &board;
    display_show(&board);
    try {
      if (o.mode != run_mode::test) refuse_surprises(o, j);
      const job_figures f = compressing ? compress_job(c, j) : decompress_job(c, j, status);
      if (c.summarise()) {
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        print_summary(j, f, compressing, s);
      }
      if (o.remove && !is_stdio(j.in) && !is_stdio(j.out) && unlink(j.in.c_str()) != 0)
        fail_as(failure_kind::io, "Cannot remove %s: %s", j.in.c_str(), std::strerror(errno));
    } catch (const failure& e) {
      print_failure(e);
      arena_unwind(mark);
      status = exit_failure;
    } catch (const std::bad_alloc&) {
      // Memory the heap refused: the message quotes the call's estimate.
      try {
        refuse_memory(0);
      } catch (const failure& e) {
        print_failure(e);
      }
      arena_unwind(mark);
      status = exit_failure;
    }
    display_show(nullptr);
    call.progress = nullptr;
    // The next file may be stopped again.
    if (k + 1 < jobs.size()) unblock_stop_signals();
  }
  display_end();
  std::fflush(stdout);
  return status;
}

}  // namespace vesk
