// What an archive holds, read from its headers without decoding it (-l):
// its method, its frames, both sizes and whether it carries a check.
#pragma once

#include <cstdint>
#include <string>

namespace vesk {

struct archive_listing {
  std::string method;     // "text", "mixed -9", "stored", "default"; frames: their methods
  int64_t frames = 0;     // 0 for a single archive
  int64_t original = 0;   // bytes restored
  int64_t packed = 0;     // bytes of the archive
  bool checked = false;   // a checksum covers what is restored
};

// Reads the headers of the archive of `size` bytes open as fd (a regular
// file). Fails like a decoder (kind damaged) on headers that do not hold
// together, and on a file that is not an archive.
archive_listing list_archive(int fd, const char* name, int64_t size);

// The method word's name in messages: "text", "mixed -9", "default" (a
// stored archive without a check), "stored", "frames"; null for a word no
// version wrote.
const char* method_word_name(uint32_t word);

}  // namespace vesk
