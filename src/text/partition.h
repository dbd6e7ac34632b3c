// Word ordering by context bisection. The words of one tier of dictionary
// indices are split recursively into two sides so as to minimise the code
// length of the words that precede them on each side (the log2 of the
// multinomial coefficient of each side's preceding-word counts); each side
// is laid out as a run and split again. Words that follow the same words end
// up with neighbouring indices, so their codes share leading bits.
//
// The order only shapes compression: the decoder receives the dictionary in
// its final order and never runs this.
#pragma once

#include <cstdint>

namespace vesk {

// The largest tier this can order: a tier must hold fewer words.
constexpr int64_t tier_word_limit = 1'000'000;

// perm[p] = (old index - lo) of the word that gets index lo + p, for the
// tier [lo, hi) of `codes` (word indices in text order). indices holds how
// many words the dictionary has (every code is below it).
void order_tier(const uint32_t* codes, int64_t codesc, uint32_t* perm, uint32_t lo, uint32_t hi,
                uint32_t indices);

}  // namespace vesk
