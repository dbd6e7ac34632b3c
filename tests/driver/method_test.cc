#include "driver/method.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(MethodChoice, ByTheLastDotOfTheWholeArgument) {
  EXPECT_EQ(method_for_name("archive"), method::stored);
  EXPECT_EQ(method_for_name("notes.TXT"), method::stored);  // case-sensitive
  EXPECT_EQ(method_for_name("a.txt.gz"), method::stored);   // only the last dot
  EXPECT_EQ(method_for_name("dir.txt/readme"), method::text);
  EXPECT_EQ(method_for_name("log.txtold"), method::text);  // four characters only
  EXPECT_EQ(method_for_name("x.dat2"), method::mixed);
  EXPECT_EQ(method_for_name("x.tx"), method::stored);
  EXPECT_EQ(method_for_name("notes.txt"), method::text);
  EXPECT_EQ(method_for_name("/tmp/data.dat"), method::mixed);
  EXPECT_EQ(method_for_name("."), method::stored);
  EXPECT_EQ(method_for_name(""), method::stored);
}

}  // namespace
}  // namespace vesk
