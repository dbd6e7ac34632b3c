#include "driver/method.h"

namespace vesk {

method method_for_name(std::string_view path) {
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return method::stored;
  std::string_view ext = path.substr(dot, 4);
  if (ext == ".txt") return method::text;
  if (ext == ".dat") return method::mixed;
  return method::stored;
}

}  // namespace vesk
