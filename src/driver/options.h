// The command line, read as a Unix tool's: options before the files ("--"
// ends them), short options grouped (-9c) and their values attached or not
// (-T2, -T 2), long options with "=" or a separate value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/method.h"

namespace vesk {

enum class run_mode { compress, decompress, test, help, version };

struct run_options {
  run_mode mode = run_mode::compress;
  bool quiet = false;              // -q: no start line
  std::optional<int> threads;      // -T N; 0 = one per core the process may use
  int64_t frame_size = 0;          // --frame-size; 0 = the default rule
  std::optional<method> forced;    // --method: the method of every frame
  std::vector<std::string> files;  // what follows the options
};

// The options, or nothing when the command line cannot be read (the caller
// prints the usage); `why` then says what was wrong.
std::optional<run_options> parse_options(int argc, const char* const* argv, std::string& why);

// A size with an optional K, M or G suffix (powers of 1024), or -1.
int64_t parse_size(const std::string& text);

}  // namespace vesk
