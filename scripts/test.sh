#!/usr/bin/env bash
# Installs what the tests need, checks that every source keeps the tree's one
# format (clang-format) and that includes point down the layers, builds, and
# runs every test three ways:
#   1. the plain build (RelWithDebInfo) under ctest,
#   2. the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
#   3. every libFuzzer target for KESTRIX_FUZZ_SECONDS seconds (18) when clang is there.
# Build trees go to build/test, build/asan and build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test gui
fuzz_seconds=${KESTRIX_FUZZ_SECONDS:-18}
jobs=2
passed=0
failed=0

# Skipped tests of a ctest log that tests/expected-skips.txt does not allow
# for this build (plain or asan); each is named with the command that shows why.
unexpected_skips() {  # build kind, build dir
  local kind=$1 dir=$2 name bad=0
  while read -r name; do
    if ! awk -v kind="$kind" -v name="$name" \
        '$1 !~ /^#/ && ($1 == kind || $1 == "any") && $2 == name { found = 1 } END { exit !found }' \
        tests/expected-skips.txt; then
      echo "unexpected skip ($kind): $name; why: ctest --test-dir $dir -V -R '^$name\$'"
      bad=$((bad + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$dir/ctest.log")
  [ "$bad" -eq 0 ]
}

run_suite() {  # name, build dir, extra cmake arguments...
  local name=$1 dir=$2
  shift 2
  echo "== $name: configure and build"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
  if ! cmake --build "$dir" -j"$jobs" >"$dir.build.log" 2>&1; then
    grep -E -A5 'error|Error' "$dir.build.log" | head -80
    return 1
  fi
  grep -E 'warning:' "$dir.build.log" || true
  echo "== $name: ctest"
  # The whole log stays in the build tree; the terminal gets failures and the summary.
  local log="$dir/ctest.log" status
  set +e
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" 2>&1 | tee "$log" |
    grep -vE '^ +Start +[0-9]+: |Test +#[0-9]+: .* Passed +[0-9.]+ sec'
  status=${PIPESTATUS[0]}
  set -e
  local total bad
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
  passed=$((passed + ${total:-0} - ${bad:-0}))
  failed=$((failed + ${bad:-0}))
  [ -n "$total" ] || failed=$((failed + 1))
  local kind=plain
  [ "$dir" = build/asan ] && kind=asan
  if ! unexpected_skips "$kind" "$dir"; then
    failed=$((failed + 1))
    status=1
  fi
  return $status
}

# Line tables are enough for the sanitizers' and gtest's traces, and lld links
# the many test programs several times faster than ld.bfd: the whole run then
# stays within CI's half hour on two cores.
lean=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
for kind in EXE SHARED MODULE; do lean+=("-DCMAKE_${kind}_LINKER_FLAGS=-fuse-ld=lld"); done

mkdir -p build
status=0
# The tree keeps one format (.clang-format): a change that drifts from it
# fails here, with the files to run `clang-format -i` on.
if git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror >build/format.log 2>&1; then
  echo "format: ok"
  passed=$((passed + 1))
else
  echo "format: FAILED; clang-format -i these files:"
  sed -n 's/^\([^: ]*\):[0-9]*:[0-9]*: error:.*/  \1/p' build/format.log | sort -u
  failed=$((failed + 1))
  status=1
fi
# Includes point down the layers only (scripts/check-layers.sh).
if scripts/check-layers.sh; then
  echo "layers: ok"
  passed=$((passed + 1))
else
  echo "layers: FAILED; an include above points up or sideways"
  failed=$((failed + 1))
  status=1
fi
run_suite "plain build" build/test "${lean[@]}" -DKESTRIX_WERROR=ON || status=1
# System libraries loaded by Qt under Xvfb leak once per process; ours may not.
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
# With GLib's event dispatcher, LeakSanitizer's end-of-process check of the
# viewer test reads a stale dynamic-TLS slot left by GLib's threads and
# crashes itself ("Tracer caught signal 11") after the test passed. Qt's own
# dispatcher runs the same event loops without those threads.
export QT_NO_GLIB=1
run_suite "ASan+UBSan build" build/asan -DKESTRIX_SANITIZE=ON "${lean[@]}" -DKESTRIX_WERROR=ON || status=1
unset LSAN_OPTIONS QT_NO_GLIB

if command -v clang++ >/dev/null; then
  echo "== fuzzers: ${fuzz_seconds}s each (the JPEG checker's shared with the seam search)"
  if CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lean[@]}" \
      -DKESTRIX_BUILD_FUZZERS=ON -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_GUI=OFF \
      >build/fuzz.configure.log 2>&1 && cmake --build build/fuzz -j"$jobs" >build/fuzz.build.log 2>&1; then
    for fuzzer in build/fuzz/fuzz/*; do
      [ -x "$fuzzer" ] && [ -f "$fuzzer" ] || continue
      name=$(basename "$fuzzer")
      corpus=build/fuzz/corpus/$name
      mkdir -p "$corpus"
      seeds=()
      [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
      # The seam search decodes with the JPEG checker: the two share the
      # checker's time, so the run takes as long as it always did.
      seconds=$fuzz_seconds
      case $name in
        jpeg_checker_fuzzer) seconds=$((fuzz_seconds - fuzz_seconds / 2)) ;;
        fragment_seam_fuzzer) seconds=$((fuzz_seconds / 2)) ;;
      esac
      if "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" \
          >"build/fuzz/$name.log" 2>&1; then
        echo "fuzz $name: ok"
        passed=$((passed + 1))
      else
        echo "fuzz $name: FAILED"
        tail -40 "build/fuzz/$name.log"
        failed=$((failed + 1))
        status=1
      fi
    done
  else
    tail -40 build/fuzz.configure.log build/fuzz.build.log
    failed=$((failed + 1))
    status=1
  fi
fi

echo "kestrix: $passed passed, $failed failed"
exit $status
