#!/usr/bin/env bash
# Builds the release preset from scratch-safe state and runs the whole test
# suite. Installs the build tools, GoogleTest, the manual-page tools (the
# install test renders the manual page), prlimit and the Debian packaging
# tools (the package test builds the .deb), pkg-config (the C example builds
# against the installed library with it) and Debian's Python with its
# headers (the Python module is built for /usr/bin/python3 and tested, and a
# test checks the mutation list, tools/mutants.txt) first when the machine
# lacks them.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${build_tools[@]}" /usr/include/gtest/gtest.h=libgtest-dev \
  man=man-db groff=groff-base prlimit=util-linux dpkg-deb=dpkg dpkg-shlibdeps=dpkg-dev \
  /usr/bin/python3=python3 /usr/bin/python3-config=python3-dev pkg-config=pkgconf

cmake --preset release -DVESK_TESTS=ON >/dev/null
cmake --build --preset release
ctest --preset release
