#!/usr/bin/env bash
# A fuzzing campaign: builds the fuzz targets with clang's libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer (build/fuzz), then runs
# each target for SECONDS (default 60), niced, from a copy of its checked-in
# seed corpus (build/fuzz/corpus/TARGET grows; fuzz/corpus is left alone).
# Prints per target the executions, crashes and hangs; findings are kept
# as build/fuzz/artifacts/TARGET-*. Exits non-zero when anything was found.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(stored_container text_container mixed_container framed_container text_inverse mixed_inverse
           round_trip)

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
  need+=(libclang-rt-dev)
[ -f /usr/include/xxhash.h ] || need+=(libxxhash-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESK_FUZZ=ON -DVESK_SANITIZE=ON -DVESK_TESTS=OFF >/dev/null
nice -n 10 cmake --build build/fuzz --target "${targets[@]/#/fuzz_}"

mkdir -p build/fuzz/artifacts
found=0
printf '%-18s %12s %8s %6s\n' target executions crashes hangs
for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$t
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  log=build/fuzz/$t.log
  status=0
  ASAN_OPTIONS=allocator_may_return_null=1 nice -n 10 \
    build/fuzz/fuzz/fuzz_"$t" "$corpus" -max_total_time="$seconds" -max_len=4096 -timeout=20 \
    -rss_limit_mb=8192 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/artifacts/"$t"- >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  crashes=$(find build/fuzz/artifacts -name "$t-crash-*" -o -name "$t-leak-*" -o -name "$t-oom-*" |
    wc -l)
  hangs=$(find build/fuzz/artifacts -name "$t-timeout-*" | wc -l)
  printf '%-18s %12s %8s %6s\n' "$t" "${execs:-?}" "$crashes" "$hangs"
  if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ] || [ "$hangs" -ne 0 ]; then
    found=1
    echo "  see $log" >&2
  fi
done
exit $found
