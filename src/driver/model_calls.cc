#include "driver/model_calls.h"

namespace vesk {

void mixed_model_calls(const mixed_streams& s, model_call out[mixed_stream_count]) {
  for (int w = 0; w < mixed_stream_count; w++) {
    const mixed_stream_info& i = mixed_stream_table[w];
    out[w] = {i.name, i.model, s.buf[w], stream_bytes(s, w)};
    if (i.model == stream_model::record) {
      out[w].mismatch = s.buf[ms_mismatch];
      out[w].period = s.buf[ms_period];
    }
  }
}

void text_model_calls(const text_state& t, model_call out[text_call_count]) {
  out[0] = {"word codes", stream_model::word, t.codes, 4 * t.codesc};
  out[1] = {"dictionary", stream_model::byte, t.list, t.listc};
}

void run_model_call(const model_call& c, coder& k, int direction, const model_options& o) {
  const auto len = static_cast<int32_t>(c.bytes);
  switch (c.model) {
    case stream_model::byte:
      byte_model(c.buf, len, k, direction, o);
      break;
    case stream_model::word:
      wordcode_model(c.buf, len, k, direction, o);
      break;
    case stream_model::block:
      block_model(c.buf, len, k, direction, o);
      break;
    case stream_model::x86:
      x86_model(c.buf, len, k, direction, o);
      break;
    case stream_model::disp:
      disp_model(c.buf, len, k, direction, o);
      break;
    case stream_model::record:
      record_model(c.buf, len, k, direction, c.mismatch, c.period, o);
      break;
  }
}

}  // namespace vesk
