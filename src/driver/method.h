// The compression method: chosen from the input's name when compressing and
// stored as the first four bytes (little-endian) of every compressed file.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vesk {

// 3 is the framed archive of independent frames. 4 and 5 are the text and
// mixed methods with the strong models (-9: match models, a final stage,
// the media and word contexts): the same layouts, other coded bits. 6 is the stored method with the
// original's length and checksum, which single archives of stored data
// use; 0, without them, lives on inside frames (whose headers carry both)
// and in the archives of earlier versions.
enum class method : uint32_t {
  stored = 0,
  text = 1,
  mixed = 2,
  framed = 3,
  text_strong = 4,
  mixed_strong = 5,
  stored_checked = 6
};

// The strong variant of the text and mixed methods (-9); the others have
// none. base_method undoes it.
constexpr method strong_variant(method m) {
  return m == method::text ? method::text_strong : m == method::mixed ? method::mixed_strong : m;
}
constexpr method base_method(method m) {
  return m == method::text_strong ? method::text : m == method::mixed_strong ? method::mixed : m;
}

// The method a name asks for: the last "." of the whole argument
// (directories included) decides, the four characters from it compared
// with ".txt" (text) and ".dat" (mixed), case-sensitive. Any other name
// asks for none: its content decides (classify.h).
std::optional<method> method_for_name(std::string_view path);

}  // namespace vesk
