// The compression method: chosen from the input's name when compressing and
// stored as the first four bytes (little-endian) of every compressed file.
#pragma once

#include <cstdint>
#include <string_view>

namespace vesk {

enum class method : uint32_t { stored = 0, text = 1, mixed = 2, framed = 3 };

// The last "." of the whole argument (directories included) decides: the
// four characters from it compared with ".txt" and ".dat", case-sensitive.
method method_for_name(std::string_view path);

}  // namespace vesk
