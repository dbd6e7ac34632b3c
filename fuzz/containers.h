// One fuzz target per container decoder: the input is a compressed file.
// The decoder must refuse it cleanly or restore something; it must never
// crash, fail an internal check or allocate beyond what the file declares.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/containers.h"
#include "harness.h"

namespace vesk::fuzz {

// Decodes the input with unpack(name, packed, m, out); returns what it
// restored, or nothing when it refused the input.
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
