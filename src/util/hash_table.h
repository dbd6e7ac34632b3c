// A chained hash table from byte strings to 32-bit values, keyed by the
// strings' fasthash64 values alone: the table never stores or compares the
// bytes, so callers that must tell two strings apart compare them on a hit.
// Entries 0 .. l-1 are the primary area addressed by the hash; l .. size-1
// the overflow area that holds the rest of every chain. The overflow area
// starts at 0.3 x l entries and grows when it fills, so keys whose hashes
// share their low bits cannot exhaust it: a table takes any keys up to its
// count limit, fewer than 0.8 x l.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk {

struct hash_entry {
  uint64_t key;  // fasthash64 of the string; 0 = empty
  int32_t value;
  int32_t next;  // next entry of the chain, 0 = none
};

struct hash_table {
  hash_entry* a = nullptr;
  int32_t allocated = 0;
  int32_t count = 0;
  int32_t mask = 0;
  int32_t l = 0;     // primary entries, a power of two
  int32_t size = 0;  // all entries, 1.3 x l at creation
  int32_t lc = 0;    // next free entry of the overflow area
};

void hash_create(hash_table& ht, int32_t l);
void hash_free(hash_table& ht);

// Frees a table when a failure unwinds past it (a table freed already is
// left alone): hash_table stays plain data.
struct hash_scope {
  hash_table& ht;
  ~hash_scope() {
    if (ht.allocated == 1) hash_free(ht);
  }
};

// Inserts the string with `value` and returns value, or, when the key is
// present, returns ~(stored value) and changes nothing.
int32_t hash_insert(hash_table& ht, const void* bytes, size_t len, int32_t value);

// True when one more new key would reach the count limit (an insert of a
// new key would stop the run).
bool hash_full(const hash_table& ht);

// Looks a key up without inserting; returns the stored value or -1.
int32_t hash_find(const hash_table& ht, const void* bytes, size_t len);

}  // namespace vesk
