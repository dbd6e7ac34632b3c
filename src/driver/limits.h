#pragma once

#include <cstdint>

namespace vesk {

// Every input, raw or compressed, must be smaller than this.
constexpr int64_t input_limit = 1'001'000'001;

}  // namespace vesk
