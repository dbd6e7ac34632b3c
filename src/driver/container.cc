#include "driver/container.h"

#include "util/fail.h"

namespace vesk {

void refuse_damaged(const char* in, const char* why) {
  fail("%s is damaged (%s); nothing was written\n", in, why);
}

}  // namespace vesk
