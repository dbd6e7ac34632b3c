// A container's streams as model calls: each stream, the model that codes
// it and the side streams that model reads. The containers code these
// calls; the developer tools (modelrun, predictor_rows) run the very same
// ones, so a tool's figures are the container's.
#pragma once

#include <cstdint>

#include "mixed/mixed.h"
#include "models/model.h"
#include "text/text.h"

namespace vesk {

struct model_call {
  const char* name;
  stream_model model;
  uint8_t* buf;  // the stream, its zero history in front
  int64_t bytes;
  const uint8_t* mismatch = nullptr;  // the record model's side streams
  const uint8_t* period = nullptr;
};

constexpr int text_call_count = 2;

// The mixed method's nine calls, in coding order.
void mixed_model_calls(const mixed_streams& s, model_call out[mixed_stream_count]);

// The text method's two: the word codes, then the dictionary.
void text_model_calls(const text_state& t, model_call out[text_call_count]);

// Codes (direction compress_dir) or rebuilds one call's stream.
void run_model_call(const model_call& c, coder& k, int direction, const model_options& o);

}  // namespace vesk
