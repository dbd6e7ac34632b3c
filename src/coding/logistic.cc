#include "coding/logistic.h"

namespace vesk {

void build_squash_table(squash_table& t) {
  for (int i = 0; i < squash_table_size; i++)
    t.v[i] = squash(static_cast<float>(i - squash_table_zero) / 15.0f);
}

}  // namespace vesk
