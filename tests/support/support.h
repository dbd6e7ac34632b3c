// Helpers shared by the tests: scratch directories and files, the built
// binary run as a process, the containers run in this one, test data.
// Every test process has its arena set up before its first test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vesk::test {

using bytes = std::vector<uint8_t>;

// A fresh directory, removed with its contents when the object goes away.
struct scratch_dir {
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  std::string path(const std::string& name) const { return dir + "/" + name; }
  std::string dir;
};

bytes read_bytes(const std::string& path, size_t most = SIZE_MAX);  // up to `most` bytes
void write_bytes(const std::string& path, const bytes& data);
bool exists(const std::string& path);
std::vector<std::string> list_dir(const std::string& dir);  // sorted

// A shell command run with no standard input: its exit status (-1 if it
// did not exit normally), standard output and standard error (run_split),
// or both together in `out` (run_shell, run_vesk: the built binary with
// these arguments, which vesk_command quotes for a shell).
struct run_result {
  int status = -1;
  std::string out, err;
};
run_result run_split(const std::string& command);
inline run_result run_shell(const std::string& c) { return run_split("{ " + c + "; } 2>&1"); }
std::string vesk_command(const std::vector<std::string>& args);
[[noreturn]] void exec_vesk(std::vector<std::string> args);  // in a child process of the test
inline run_result run_vesk(const std::vector<std::string>& a) { return run_shell(vesk_command(a)); }

// Compresses data as a file called `name` and restores it through the
// binary; checks the start lines ("Compressing <word>") and the restored
// bytes; returns the compressed file.
bytes cli_round_trip(const std::string& name, const std::string& method_word, const bytes& data);
// The same with the whole start lines expected ("Storing (does not compress)").
bytes cli_round_trip_lines(const std::string& name, const bytes& data, const std::string& start,
                           const std::string& restore);

// A clean refusal of a damaged or foreign compressed file: status 1 and
// one of the refusal messages, not a crash or an internal check.
bool is_refusal(const run_result& r);

// An archive decoded in this process, the way the driver decodes it (by
// its method word: stored, text, mixed, framed, text -9, mixed -9, stored
// with its check), so that a sweep over many damaged archives costs no
// process each. A refusal or an internal check comes back with its
// message. Other words, and files shorter than a word, are the driver's
// to refuse and are not looked at.
struct unpack_result {
  enum { restored, refused, internal, not_looked_at } kind = not_looked_at;
  std::string message;   // what a refusal or a check printed
  bool written = false;  // the output was handed over (only once all checks passed)
  bytes output;
};
unpack_result unpack_in_process(const bytes& archive);

// A file through the text transform and its inverse, as the text container
// lays it out (" " + file + " "): the restored file.
std::string text_round_trip(const std::string& file);

// Compresses data in this process with method word 0, 1, 2, 4, 5 or 6.
bytes pack_in_process(uint32_t method_word, const bytes& data);

void init_runtime();  // sets up the arena once per process

// For death tests: runs f, and ends the process with status 1 after
// printing its failure's message (as the command line does) when it
// throws one.
[[noreturn]] void exit_on_failure(const std::function<void()>& f);
#define EXPECT_STOPS(stmt, regex) \
  EXPECT_EXIT(::vesk::test::exit_on_failure([&] { stmt; }), testing::ExitedWithCode(1), regex)

// Test data: a string's bytes, random bytes, 0 to 255, prose (the recipes'
// pin_text), and the i-th of the words a, b, ..., z, ba, bb, ...
inline bytes as_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }
bytes random_bytes(size_t n, uint64_t seed);
bytes every_byte();
bytes text_sample(size_t n, uint64_t seed);
std::string letter_word(int i);

uint64_t fnv64(const bytes& b);  // 64-bit FNV-1a, for golden hashes

}  // namespace vesk::test
