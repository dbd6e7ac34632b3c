#!/usr/bin/env bash
# Builds the release preset from scratch-safe state and runs the whole test
# suite. Installs the build tools first when the machine lacks them.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/xxhash.h ] || need+=(libxxhash-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release
