#include "support/model_support.h"

#include "text/text.h"
#include "util/arena.h"

namespace vesk::test {

constexpr size_t model_history = 1024;

bytes model_encode(const model_call& model, const bytes& data, const model_options& options) {
  bytes in(model_history, 0);
  in.insert(in.end(), data.begin(), data.end());
  in.resize(in.size() + 64, 0);
  bytes out(2 * data.size() + 4096);
  coder k;
  coder_init_encode(k, out.data(), out.size());
  model(in.data() + model_history, static_cast<int32_t>(data.size()), k, 1, options);
  EXPECT_EQ(k.overrun, 0u);
  out.resize(coder_length(k));
  return out;
}

bytes model_decode(const model_call& model, bytes coded, size_t n, bool* exact,
                   const model_options& options) {
  bytes out(model_history + n + 64, 0xCD);
  std::fill(out.begin(), out.begin() + model_history, 0);
  coder k;
  coder_init_decode(k, coded.data(), coded.size());
  model(out.data() + model_history, static_cast<int32_t>(n), k, 0, options);
  if (exact != nullptr) *exact = coder_length(k) == coded.size() && k.overrun == 0;
  return bytes(out.begin() + model_history, out.begin() + static_cast<long>(model_history + n));
}

size_t model_round_trip(const model_call& model, const bytes& data,
                        const model_options& options) {
  const int64_t blocks = arena_blocks(), allocated = arena_allocated();
  const bytes coded = model_encode(model, data, options);
  bool exact = false;
  EXPECT_TRUE(model_decode(model, coded, data.size(), &exact, options) == data)
      << "stream of " << data.size() << " bytes";
  EXPECT_TRUE(exact);
  EXPECT_EQ(arena_blocks(), blocks);
  EXPECT_EQ(arena_allocated(), allocated);
  return coded.size();
}

bytes codes_of(const bytes& text) {
  bytes a(text.size() + 2, ' ');
  std::copy(text.begin(), text.end(), a.begin() + 1);
  text_state t;
  EXPECT_EQ(text_forward(t, a.data(), static_cast<int64_t>(text.size()) + 1), nullptr);
  bytes codes(t.codes, t.codes + 4 * t.codesc);
  text_release_streams(t);
  return codes;
}

}  // namespace vesk::test
