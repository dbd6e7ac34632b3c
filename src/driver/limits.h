#pragma once

#include <cstdint>

namespace vesk {

// Every input to compress must be smaller than this.
constexpr int64_t input_limit = 1'001'000'001;

// Every compressed file vesk writes is smaller than this, and decompression
// accepts any file below it: a compressed file may exceed its original by
// its container (the stored method's 4 bytes; the coded streams of data
// that does not compress). A text or mixed archive that would reach it is
// never written.
constexpr int64_t archive_limit = 1'500'000'000;

}  // namespace vesk
