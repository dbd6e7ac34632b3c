#!/usr/bin/env bash
# Builds vesk (without the test suite, in build/quickstart) and runs it on a
# small sample made here: compress, decompress, compare, print the sizes.
# Installs the build tools first when the machine lacks them.
#   scripts/quickstart.sh [file ...]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${build_tools[@]}"

build=build/quickstart
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command quietly; on failure shows everything it printed and stops.
quiet() {
  if ! "$@" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    echo "quickstart: failed: $*" >&2
    exit 1
  fi
}

echo "building vesk in $build"
quiet cmake --preset release -B "$build" -DVESK_TESTS=OFF
quiet cmake --build "$build" --target vesk
bin=$build/vesk

if [ $# -eq 0 ]; then
  # A text sample from the README and the licences on the machine, and a
  # binary sample: the vesk executable itself.
  (cat README.md /usr/share/common-licenses/* 2>/dev/null || true) | head -c 200000 > "$work/sample.txt" || true
  cp "$bin" "$work/sample.dat"
  head -c 100000 /dev/urandom > "$work/sample.bin"
  set -- "$work/sample.txt" "$work/sample.dat" "$work/sample.bin"
fi

status=0
printf '%-28s %12s %12s %8s %s\n' file bytes packed ratio round-trip
for f in "$@"; do
  name=$(basename "$f")
  if [ "$f" != "$work/$name" ] && ! cp "$f" "$work/$name"; then
    status=1
    continue
  fi
  if ! "$bin" -c "$work/$name" "$work/$name.vsk" >"$work/log" ||
    ! "$bin" -d "$work/$name.vsk" "$work/$name.out" >"$work/log"; then
    printf '%-28s %s\n' "$name" "$(tr '\n' ' ' < "$work/log")"
    status=1
    continue
  fi
  ok=FAILED
  if cmp -s "$work/$name" "$work/$name.out"; then ok=ok; else status=1; fi
  a=$(stat -c %s "$work/$name"); b=$(stat -c %s "$work/$name.vsk")
  printf '%-28s %12d %12d %8s %s\n' "$name" "$a" "$b" \
    "$(awk -v a="$a" -v b="$b" 'BEGIN{ if (a) printf "%.3f", b/a; else print "-" }')" "$ok"
  rm -f "$work/$name.vsk" "$work/$name.out"
done
exit $status
