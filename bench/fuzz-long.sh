#!/usr/bin/env bash
# Fuzzes every libFuzzer target for SECONDS seconds each (default 600), one
# after the other on one core, starting from fuzz/seeds/<target>/ and the
# corpus a previous run left in build/fuzz/corpus/<target>/.
#
#   bench/fuzz-long.sh [SECONDS] [TARGET...]
#
# Builds build/fuzz with clang when a target is missing. Prints one line per
# target: executions, executions per second, corpus size and findings (crash,
# leak, timeout and out-of-memory files libFuzzer wrote to
# build/fuzz/findings/<target>/). Exits 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
build=build/fuzz
if [ ! -d "$build/fuzz" ] || [ -n "${KESTRIX_FUZZ_REBUILD:-}" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRIX_BUILD_FUZZERS=ON -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_GUI=OFF >/dev/null
  cmake --build "$build" -j2 >/dev/null
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for fuzzer in "$build"/fuzz/*; do
    [ -x "$fuzzer" ] && [ -f "$fuzzer" ] && targets+=("$(basename "$fuzzer")")
  done
fi

status=0
printf '%-22s %12s %10s %8s %s\n' target executions exec/s corpus findings
for name in "${targets[@]}"; do
  corpus=$build/corpus/$name
  findings=$build/findings/$name
  log=$build/$name.long.log
  mkdir -p "$corpus" "$findings"
  seeds=()
  [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
  # -jobs=1 keeps it on one core; the second core stays for the others.
  "$build/fuzz/$name" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
      -rss_limit_mb=2048 -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1 || true
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  size=$(find "$corpus" -type f | wc -l)
  found=$(find "$findings" -type f | wc -l)
  printf '%-22s %12s %10s %8s %s\n' "$name" "${executions:-?}" "${speed:-?}" "$size" "$found"
  if [ "$found" -gt 0 ]; then
    status=1
    find "$findings" -type f | sed 's/^/    /'
    grep -m3 -E 'ERROR|SUMMARY' "$log" | sed 's/^/    /' || true
  fi
done
exit $status
