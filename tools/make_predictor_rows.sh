#!/usr/bin/env bash
# Regenerates src/coding/predictor_rows.h from sample data found on this
# machine (texts, source code, a word list, x86 binaries, binary tables).
# The rows are part of the compressed format: regenerating them changes
# every archive, and the golden tests will say so.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build --preset release --target predictor_rows >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
find /usr/share/doc -name copyright -type f | sort | xargs cat | head -c 3000000 > "$work/copyrights.txt" || true
find /usr/include -name '*.h' -type f | sort | xargs cat | head -c 3000000 > "$work/headers.txt" || true
# Words ranked by frequency, each behind a space: what the text method's
# dictionary stream looks like.
find /usr/share/doc -name copyright -type f | sort | xargs cat | tr -cs 'A-Za-z' '\n' | tr 'A-Z' 'a-z' |
  sort | uniq -c | sort -rn | awk '{printf " %s", $2}' > "$work/words.txt" || true
head -c 4000000 /usr/bin/gdb > "$work/code.bin"
head -c 3000000 /usr/lib/x86_64-linux-gnu/libicudata.so.72.1 | tail -c 2000000 > "$work/tables.bin"
build/release/predictor_rows "$work/headers.txt" "$work/copyrights.txt" "$work/words.txt" \
  "$work/code.bin" "$work/tables.bin" -- /usr/bin/gdb \
  /usr/lib/x86_64-linux-gnu/libz3.so.4 /usr/lib/x86_64-linux-gnu/libclang-14.so.14.0.6 \
  > src/coding/predictor_rows.h
