#include "util/hash_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/support.h"
#include "util/fasthash.h"

namespace vesk {
namespace {

// Words (letters only: one token each) whose hashes share their low 10
// bits, those of "a": in a table of 1024 entries they all land in the
// overflow area, which grows instead of running out.
std::vector<std::string> colliding_words(int count) {
  std::vector<std::string> words;
  for (int i = 0; static_cast<int>(words.size()) < count; i++) {
    const std::string w = test::letter_word(i);
    if ((fasthash64(w.data(), w.size()) & 1023) == (fasthash64("a", 1) & 1023)) words.push_back(w);
  }
  return words;
}

TEST(HashTable, InsertChainsAndCollidingKeysThatGrowTheOverflowArea) {
  hash_table ht;
  hash_create(ht, 4);
  EXPECT_EQ(hash_insert(ht, "ab", 2, 7), 7);
  EXPECT_EQ(hash_insert(ht, "ab", 2, 9), ~7);
  EXPECT_EQ(hash_find(ht, "ab", 2), 7);
  EXPECT_EQ(hash_find(ht, "zz", 2), -1);
  EXPECT_EQ(hash_insert(ht, "", 0, 1), 1);  // the empty string is a key
  // A table of l = 4 holds two keys: the third stops.
  EXPECT_STOPS(hash_insert(ht, "c", 1, 2), "ht->count<\\(int\\)\\(.8\\*ht->l\\)");
  hash_free(ht);
  hash_create(ht, 1024);  // then colliding keys: the overflow area grows
  const int32_t size = ht.size;  // 1331: room for 307 keys beyond the primary entries
  // (int)(0.8 x 1024) - 1 = 818 keys, the most the table holds.
  const std::vector<std::string> words = colliding_words(818);
  for (int i = 0; i < 818; i++) {
    EXPECT_FALSE(hash_full(ht)) << i;
    ASSERT_EQ(hash_insert(ht, words[i].data(), words[i].size(), i), i) << i;
  }
  EXPECT_GT(ht.size, size);
  for (int i = 0; i < 818; i++) {
    EXPECT_EQ(hash_find(ht, words[i].data(), words[i].size()), i);
    EXPECT_EQ(hash_insert(ht, words[i].data(), words[i].size(), 5), ~i);
  }
  EXPECT_TRUE(hash_full(ht));
  hash_free(ht);
}

// A text of 400 distinct words whose hashes share the low bits of the
// tokens' table (1024 entries for a text this short).
TEST(HashTable, CraftedCollisionsInATextAreAccepted) {
  std::string s;
  for (const std::string& w : colliding_words(400)) s += w + " ";
  EXPECT_EQ(test::text_round_trip(s), s);
}

}  // namespace
}  // namespace vesk
