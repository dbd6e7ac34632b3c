#!/usr/bin/env bash
# Lines of code of the tests (tests/ and the fuzz harnesses in fuzz/) against
# the rest (src/, tools/, bench/), per folder, and their ratio. Counts
# .cc, .h, .py and .sh files: not data, build files or documents.
#   tools/count_lines.sh [TREE]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

lines() {  # lines of the code files under the folders given
  find "$@" -type f \( -name '*.cc' -o -name '*.h' -o -name '*.py' -o -name '*.sh' \) \
    -print0 2>/dev/null | xargs -0 -r cat | wc -l
}

for d in tests/* fuzz; do
  [ -d "$d" ] && printf '%-16s %6d\n' "$d" "$(lines "$d")"
done
tests=$(lines tests fuzz)
code=$(lines src tools bench)
printf '%-16s %6d\n%-16s %6d\n' "tests + fuzz" "$tests" "src tools bench" "$code"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "ratio            %5.1f%%\n", 100 * t / c }'
