// The compression method: chosen from the input's name when compressing and
// stored as the first four bytes (little-endian) of every compressed file.
#pragma once

#include <cstdint>
#include <string_view>

namespace vesk {

// 4 and 5 are the text and mixed methods with the strong models (-9): the
// same layouts, other coded bits.
enum class method : uint32_t { stored = 0, text = 1, mixed = 2, text_strong = 4, mixed_strong = 5 };

// The last "." of the whole argument (directories included) decides: the
// four characters from it compared with ".txt" and ".dat", case-sensitive.
method method_for_name(std::string_view path);

}  // namespace vesk
