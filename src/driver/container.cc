#include "driver/container.h"

#include "util/fail.h"

namespace vesk {

bool decoded_exactly(const coder& k, int64_t coded) {
  const auto flush = static_cast<uint32_t>((uint64_t{k.x1} + k.x2) >> 1);
  return k.overrun == 0 && static_cast<int64_t>(coder_length(k)) == coded && k.x == flush;
}

void refuse_damaged(const char* in, const char* why) {
  fail("%s is damaged (%s); nothing was written\n", in, why);
}

}  // namespace vesk
