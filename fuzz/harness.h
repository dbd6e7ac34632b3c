// What the fuzz targets share. Each target is one libFuzzer entry point,
// LLVMFuzzerTestOneInput, built two ways: with clang's libFuzzer for a
// campaign (scripts/fuzz.sh), or with corpus_main.cc as a plain program
// that runs every file of a checked-in seed corpus (a CTest case). The
// harness defines LLVMFuzzerInitialize, which sets up the arena once.
// A refusal (a failure of any kind but internal) unwinds back to the
// target, and the arena is released to where it was; an internal check
// aborts, which the fuzzer reports as a crash.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <cstdlib>

#include "driver/containers.h"
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

// Decodes a compressed file with unpack(name, packed, m, out); returns
// what it restored, or nothing when it refused the input.
template <class Unpack>
std::optional<std::string> decode(const uint8_t* data, size_t size, Unpack unpack) {
  std::string restored;
  const pack_output out = [&](const uint8_t* p, int64_t n) {
    restored.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
  };
  if (!guarded([&] { unpack("fuzz input", data, static_cast<int64_t>(size), out); }))
    return std::nullopt;
  return restored;
}

}  // namespace vesk::fuzz
