// Helpers shared by the tests: scratch directories and files, the built
// binary run as a process, the containers run in this one, test data.
#pragma once

#include <cstdint>
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
std::vector<std::string> list_dir(const std::string& dir);

struct run_result {
  int status = -1;  // exit status, or -1 if the process did not exit normally
  std::string out;  // standard output and standard error together
};

// The built vesk binary with the given arguments: run, or as a shell
// command line (arguments quoted) for tests that add redirections.
run_result run_vesk(const std::vector<std::string>& args);
std::string vesk_command(const std::vector<std::string>& args);

// Runs a shell command; standard output and standard error are collected
// together, or (run_split, with no standard input) apart.
run_result run_shell(const std::string& command);
struct split_result {
  int status = -1;
  std::string out, err;
};
split_result run_split(const std::string& command);

// Compresses data as a file called `name` and restores it through the
// binary; checks the start lines ("Compressing <word>") and the restored
// bytes; returns the compressed file.
bytes cli_round_trip(const std::string& name, const std::string& method_word, const bytes& data);

// A clean refusal of a damaged or foreign compressed file: status 1 and
// one of the refusal messages, not a crash or an internal check.
bool is_refusal(const run_result& r);

// Decompresses a damaged archive through the binary over an existing file
// and expects a clean refusal, the existing file untouched and no temporary
// left; returns the run, for its message.
run_result expect_clean_failure(const bytes& archive, const std::string& what);

// An archive decoded in this process, the way the driver decodes it (by
// its method word: stored, text, mixed or framed), so that a sweep over
// many damaged archives costs no process each. A refusal or an internal
// check comes back with its message instead of ending the process. Other
// words, and files shorter than a word, are the driver's to refuse and are
// not looked at. `two_threads` codes two streams at a time as the binary
// does: only for archives that restore (a refusal there ends the process).
struct unpack_result {
  enum { restored, refused, internal, not_looked_at } kind = not_looked_at;
  std::string message;   // what a refusal or a check printed
  bool written = false;  // the output was handed over (only once all checks passed)
  bytes output;
};
unpack_result unpack_in_process(const bytes& archive, bool two_threads = false);

// Compresses data in this process with method word 0, 1 or 2.
bytes pack_in_process(uint32_t method_word, const bytes& data);

// Initialises the arena and the statistics tables once per test process.
void init_runtime();

// Test data: a string's bytes, random bytes, 0 to 255, and prose (the
// recipes' pin_text).
inline bytes as_bytes(const std::string& s) {
  return bytes(s.begin(), s.end());
}
bytes random_bytes(size_t n, uint64_t seed);
bytes every_byte();
bytes text_sample(size_t n, uint64_t seed);

}  // namespace vesk::test
