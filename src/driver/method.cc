#include "driver/method.h"

namespace vesk {

std::optional<method> method_for_name(std::string_view path) {
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  std::string_view ext = path.substr(dot, 4);
  if (ext == ".txt") return method::text;
  if (ext == ".dat") return method::mixed;
  return std::nullopt;
}

}  // namespace vesk
