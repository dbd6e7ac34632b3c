#!/usr/bin/env bash
# One model alone against xz -9e on the same file, interleaved, medians.
#   bench/model_vs_xz.sh MODEL FILE [RUNS]      MODEL: as tools/modelrun takes it
# Prints the model's coded size, compress and decompress seconds and peak
# RSS beside xz -9e's compression time (the speed target of a model: each
# direction at least as fast as xz -9e compresses).
set -eu
cd "$(dirname "$0")/.."
model=$1 file=$2 runs=${3:-5}
cmake --build --preset release --target modelrun >/dev/null
tool=build/release/modelrun
c=() d=() x=() rss=()
for _ in $(seq "$runs"); do
  line=$($tool "$model" "$file" | head -1)
  c+=("$(sed -E 's/.*bpb, compress ([0-9.]+) s.*/\1/' <<<"$line")")
  d+=("$(sed -E 's/.*decompress ([0-9.]+) s.*/\1/' <<<"$line")")
  rss+=("$(sed -E 's/.*peak RSS ([0-9.]+) MB.*/\1/' <<<"$line")")
  size=$(sed -E 's/.*-> ([0-9]+) bytes.*/\1/' <<<"$line")
  s=$(date +%s.%N); xz -9e -c "$file" >/dev/null; e=$(date +%s.%N)
  x+=("$(awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f", e - s }')")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf '%s on %s (%d bytes), medians of %d interleaved runs\n' "$model" "$file" "$(stat -c %s "$file")" "$runs"
printf '  coded %s bytes; compress %s s, decompress %s s, peak RSS %s MB; xz -9e compress %s s (%s bytes)\n' \
  "$size" "$(median "${c[@]}")" "$(median "${d[@]}")" "$(median "${rss[@]}")" "$(median "${x[@]}")" \
  "$(xz -9e -c "$file" | wc -c)"
