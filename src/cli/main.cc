#include "cli/cli.h"

int main(int argc, char** argv) {
  return vesk::run(argc, argv);
}
