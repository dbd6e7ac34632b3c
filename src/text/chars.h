// Character classes and case mapping of the text transform: those of the C
// library in the "C" locale, which the program never changes: letters are
// A-Z and a-z, and only A-Z are upper case.
#pragma once

#include <cstdint>

namespace vesk {

constexpr bool is_upper(uint8_t c) {
  return c >= 'A' && c <= 'Z';
}
constexpr bool is_lower(uint8_t c) {
  return c >= 'a' && c <= 'z';
}
constexpr bool is_alpha(uint8_t c) {
  return is_upper(c) || is_lower(c);
}
constexpr uint8_t to_lower(uint8_t c) {
  return is_upper(c) ? static_cast<uint8_t>(c + 32) : c;
}
constexpr uint8_t to_upper(uint8_t c) {
  return is_lower(c) ? static_cast<uint8_t>(c - 32) : c;
}

}  // namespace vesk
