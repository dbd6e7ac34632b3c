// The command line, read as a Unix tool's: options before or among the
// files ("--" ends them), short options grouped (-qd) and their values
// attached or not (-T2, -T 2, -oOUT, -o OUT), long options with "=" or a
// separate value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/method.h"

namespace vesk {

enum class run_mode { compress, decompress, test, list, help, version };

struct run_options {
  run_mode mode = run_mode::compress;
  bool mode_given = false;         // -c or -d named the direction
  bool quiet = false;              // -q: nothing but errors
  bool verbose = false;            // -v: the start line and the summary, wherever they go
  bool force = false;              // -f: an existing output is replaced
  bool remove = false;             // --rm: the input goes once its output is complete
  bool strong = false;             // -9, --best: the strong methods
  bool to_stdout = false;          // --stdout: every output to standard output
  std::optional<std::string> output;  // -o OUT: the output of the one input
  std::optional<int> threads;      // -T N; 0 = one per core the process may use
  int64_t frame_size = 0;          // --frame-size; 0 = the default rule
  std::optional<method> forced;    // --method: the method of the input or of every frame
  std::vector<std::string> files;  // the operands
};

// The options, or nothing when the command line cannot be read; `why` then
// names what was wrong ("unknown option '--bogus'"). `every_input`: the
// program was called as unvesk (vesk -d, every operand an input).
std::optional<run_options> parse_options(int argc, const char* const* argv, std::string& why,
                                         bool every_input = false);

// A size with an optional K, M or G suffix (powers of 1024), or -1.
int64_t parse_size(const std::string& text);

}  // namespace vesk
