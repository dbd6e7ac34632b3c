// What the fuzz targets of the core's inverse transforms share. Each target
// is one libFuzzer entry point, LLVMFuzzerTestOneInput, built two ways:
// with clang's libFuzzer for a campaign (scripts/fuzz.sh), or with
// corpus_main.cc as a plain program that runs every file of a checked-in
// seed corpus (a CTest case); harness.cc defines LLVMFuzzerInitialize.
// A refusal (a failure of any kind but internal) unwinds back to the
// target, and the arena is released to where it was; an internal check
// aborts, which the fuzzer reports as a crash.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "util/arena.h"
#include "util/fail.h"

namespace vesk::fuzz {

// Runs f(); a refusal inside it returns false, with the arena unwound.
template <class F>
bool guarded(F&& f) {
  const int64_t mark = arena_blocks();
  try {
    f();
    return true;
  } catch (const failure& e) {
    if (e.kind == failure_kind::internal) std::abort();  // a bug
    arena_unwind(mark);
    return false;
  }
}

}  // namespace vesk::fuzz
