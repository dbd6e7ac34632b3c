// The command line: vesk -c input output | vesk -d input output.
#pragma once

namespace vesk {

// Runs one command line and returns the exit status (failures inside a
// method end the process themselves, with status 1).
int run(int argc, const char* const* argv);

}  // namespace vesk
