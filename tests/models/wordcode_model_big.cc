// The word-code model on its direct 8 GiB table: run under the bigmem lock.
#include <gtest/gtest.h>

#include "models/model.h"
#include "support/model_support.h"
#include "text/text.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

TEST(WordModelBig, DirectTableCodesLikeTheMap) {
  std::vector<uint32_t> idx;
  // Few slots: each selection of a direct table touches a 2 MiB page.
  for (uint32_t i = 0; i < 24; i++) idx.push_back((i * 7919u) % 300 + (i % 3 == 0 ? 200 : 0));
  bytes s(4 * idx.size());
  for (size_t i = 0; i < idx.size(); i++) put_u32(&s[4 * i], code_slot(idx[i]));
  bytes map = model_encode(wordcode_model, s);
  bytes direct = model_encode(wordcode_model, s, {0, true});
  EXPECT_EQ(map, direct);
  EXPECT_EQ(model_decode(wordcode_model, map, s.size(), nullptr, {0, true}), s);
}

}  // namespace
}  // namespace vesk::test
