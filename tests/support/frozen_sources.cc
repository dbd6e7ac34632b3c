// Writes the sources of the frozen archives into a folder, the strong
// methods' into its subfolder strong:
//   frozen_sources DIR
// The archives in tests/cli/frozen were made from them with `vesk -c`,
// those in tests/cli/frozen/strong with `vesk -9 -c`.
#include <sys/stat.h>

#include <cstdio>

#include "support/recipes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: frozen_sources DIR\n");
    return 1;
  }
  for (const auto& r : vesk::test::frozen_recipes())
    vesk::test::write_bytes(std::string(argv[1]) + "/" + r.name, r.data);
  const std::string strong = std::string(argv[1]) + "/strong";
  mkdir(strong.c_str(), 0777);
  for (const auto& r : vesk::test::frozen_strong_recipes())
    vesk::test::write_bytes(strong + "/" + r.name, r.data);
  return 0;
}
