#!/usr/bin/env bash
# Builds vesk and runs it on a small sample made here: compress, decompress,
# compare, print the sizes. Usage: scripts/quickstart.sh [file ...]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target vesk >/dev/null
bin=build/release/vesk
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $# -eq 0 ]; then
  # A text sample from the README and the licences on the machine, and a
  # binary sample: the vesk executable itself.
  (cat README.md /usr/share/common-licenses/* 2>/dev/null || true) | head -c 200000 > "$work/sample.txt" || true
  cp "$bin" "$work/sample.dat"
  head -c 100000 /dev/urandom > "$work/sample.bin"
  set -- "$work/sample.txt" "$work/sample.dat" "$work/sample.bin"
fi

printf '%-28s %12s %12s %8s %s\n' file bytes packed ratio round-trip
for f in "$@"; do
  name=$(basename "$f")
  cp "$f" "$work/$name" 2>/dev/null || true
  if ! "$bin" -c "$work/$name" "$work/$name.vsk" >"$work/log" 2>&1; then
    printf '%-28s %s\n' "$name" "$(tr '\n' ' ' < "$work/log")"
    continue
  fi
  "$bin" -d "$work/$name.vsk" "$work/$name.out" >/dev/null
  ok=FAILED
  cmp -s "$work/$name" "$work/$name.out" && ok=ok
  a=$(stat -c %s "$work/$name"); b=$(stat -c %s "$work/$name.vsk")
  printf '%-28s %12d %12d %8s %s\n' "$name" "$a" "$b" \
    "$(awk -v a="$a" -v b="$b" 'BEGIN{ if (a) printf "%.3f", b/a; else print "-" }')" "$ok"
done
