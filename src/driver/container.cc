#include "driver/container.h"

#include <atomic>

#include "util/fail.h"

namespace vesk {

bool decoded_exactly(const coder& k, int64_t coded) {
  const auto flush = static_cast<uint32_t>((uint64_t{k.x1} + k.x2) >> 1);
  return k.overrun == 0 && static_cast<int64_t>(coder_length(k)) == coded && k.x == flush;
}

namespace {
std::atomic<const char*> damage_note{"; nothing was written"};
}

void damage_note_output_started() {
  damage_note = "; the frames before it were written";
}

void damage_note_testing() {
  damage_note = "";
}

void refuse_damaged(const char* in, const char* why) {
  fail("%s is damaged (%s)%s\n", in, why, damage_note.load());
}

}  // namespace vesk
