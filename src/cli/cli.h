// The command line: vesk -c input output | vesk -d input output.
#pragma once

namespace vesk {

// Runs one command line and returns the exit status.
int run(int argc, const char* const* argv);

}  // namespace vesk
