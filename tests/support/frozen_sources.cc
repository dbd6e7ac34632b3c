// Writes the sources of the frozen archives into a folder:
//   frozen_sources DIR
// The archives in tests/cli/frozen were made from them with `vesk -c`, and
// those of the strong recipes (named *-9.*) with `vesk -9 -c`.
#include <cstdio>

#include "support/recipes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: frozen_sources DIR\n");
    return 1;
  }
  for (const auto& r : vesk::test::frozen_recipes())
    vesk::test::write_bytes(std::string(argv[1]) + "/" + r.name, r.data);
  for (const auto& r : vesk::test::frozen_strong_recipes())
    vesk::test::write_bytes(std::string(argv[1]) + "/" + r.name, r.data);
  return 0;
}
