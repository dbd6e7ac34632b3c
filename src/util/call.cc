#include "util/call.h"

#include <cfenv>
#include <xmmintrin.h>

namespace vesk {

namespace {

// MXCSR: every exception masked, round to nearest, no flush to zero and no
// denormals-are-zero: what a program starts with.
constexpr uint32_t model_mode = 0x1F80;

}  // namespace

void set_model_float_mode() {
  _mm_setcsr(model_mode);
  std::fesetround(FE_TONEAREST);
}

call_scope::call_scope(call_state& c) : previous(current_call), saved_mode(_mm_getcsr()) {
  current_call = &c;
  set_model_float_mode();
}

call_scope::~call_scope() {
  _mm_setcsr(saved_mode);
  current_call = previous;
}

void notice(const std::string& text) {
  if (current_call != nullptr && current_call->notice) current_call->notice(text);
}

}  // namespace vesk
