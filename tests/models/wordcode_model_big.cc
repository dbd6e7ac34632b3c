// The word-code model on its direct 8 GiB table: run under the bigmem lock.
#include <gtest/gtest.h>

#include "support/model_support.h"

namespace vesk::test {
namespace {

TEST(WordModelBig, DirectTableCodesLikeTheMap) {
  std::vector<uint32_t> idx;
  // Few slots: each selection of a direct table touches a 2 MiB page.
  for (uint32_t i = 0; i < 24; i++) idx.push_back((i * 7919u) % 300 + (i % 3 == 0 ? 200 : 0));
  const bytes s = slots_of(idx), map = model_encode(wordcode_model, s);
  EXPECT_EQ(model_encode(wordcode_model, s, {0, true}), map);
  EXPECT_EQ(model_decode(wordcode_model, map, s.size(), nullptr, {0, true}), s);
}

}  // namespace
}  // namespace vesk::test
