#!/usr/bin/env bash
# Replays the scan rows of tests/data/hostile/corpus.tsv through kestrix-cli:
# each "cli-scan" row's file is scanned and the exit code and the number of
# listed rows must match "exit=CODE finds=N". Rows marked "cli-scan-todo" are
# faults not mended yet: they run and print their outcome but do not fail.
#
#   tests/hostile/replay-cli.sh [BIN_DIR]    (default: $KESTRIX_BIN_DIR or build/dev/bin)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/../data/hostile
bin=${1:-${KESTRIX_BIN_DIR:-$here/../../build/dev/bin}}
cli=$bin/kestrix-cli
[ -x "$cli" ] || { echo "no $cli"; exit 1; }

failed=0
while IFS=$'\t' read -r file parser expected _; do
  case $file in ''|'#'*) continue ;; esac
  case $parser in cli-scan|cli-scan-todo) ;; *) continue ;; esac
  finds=$("$cli" scan "$corpus/$file" 2>/dev/null | wc -l)
  code=${PIPESTATUS[0]}
  outcome="exit=$code finds=$finds"
  if [ "$outcome" = "$expected" ]; then
    echo "ok      $file: $outcome"
  elif [ "$parser" = cli-scan-todo ]; then
    echo "todo    $file: $outcome (wanted $expected)"
  else
    echo "FAILED  $file: $outcome (wanted $expected)"
    failed=1
  fi
done <"$corpus/corpus.tsv"
exit $failed
