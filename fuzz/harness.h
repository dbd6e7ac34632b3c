// What the fuzz targets share. Each target is one libFuzzer entry point,
// LLVMFuzzerTestOneInput, built two ways: with clang's libFuzzer for a
// campaign (scripts/fuzz.sh), or with corpus_main.cc as a plain program
// that runs every file of a checked-in seed corpus (a CTest case).
//
// The decoders end the process on a refusal; here a refusal unwinds back to
// the target instead (and the arena is released to where it was), while an
// internal check aborts, which the fuzzer reports as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vesk::fuzz {

// Sets up the process once: arena, statistics tables, the stop hook and a
// scratch directory under $TMPDIR (or /tmp).
void init();

// Runs f(); a refusal inside it returns false, with the arena unwound.
template <class F>
bool guarded(F&& f);

// A path in the scratch directory.
std::string scratch(const char* name);

void write_whole(const std::string& path, const uint8_t* data, size_t n);
std::string read_whole(const std::string& path);

// ---

struct refused {};
int64_t arena_mark();
void arena_reset(int64_t mark);

template <class F>
bool guarded(F&& f) {
  const int64_t mark = arena_mark();
  try {
    f();
    return true;
  } catch (const refused&) {
    arena_reset(mark);
    return false;
  }
}

}  // namespace vesk::fuzz
