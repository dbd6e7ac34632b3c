// Running a model over a stream in both directions, the way the containers
// do: zero history in front of each buffer, a fresh coder per direction
// (defined in support.cc).
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "coding/arithmetic.h"
#include "models/model.h"
#include "support/support.h"

namespace vesk::test {

using model_call = std::function<void(uint8_t*, int32_t, coder&, int, const model_options&)>;

// The coded bytes of data.
bytes model_encode(const model_call& model, const bytes& data, const model_options& options = {});

// Decodes n bytes; `exact` reports whether the decoder ended exactly at the
// end of the coded bytes.
bytes model_decode(const model_call& model, bytes coded, size_t n, bool* exact = nullptr,
                   const model_options& options = {});

// Round trip: returns the coded size; checks the restored stream, the
// decoder's exact end, and that nothing leaked in the arena.
size_t model_round_trip(const model_call& model, const bytes& data,
                        const model_options& options = {});

// The word-code stream of a text, as the text transform makes it, or of
// these word indices.
bytes codes_of(const bytes& text);
bytes slots_of(const std::vector<uint32_t>& indices);

}  // namespace vesk::test
