#!/usr/bin/env bash
# Checks that every include of the program's own headers points down the
# layers: a folder may include only folders of a lower rank, never one of
# its own rank or above. Tests, fuzz targets and benches sit outside the
# layers and may include anything. Prints each offending include; exits 1
# when there is one.
#
#   programs  ui cli      6
#   texts     texts       5   (the words both programs show)
#   jobs      jobs        4
#   core      core        3
#   parsers   host imaging 2, engine media 1
#   platform  platform    0
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A rank=([platform]=0 [engine]=1 [media]=1 [host]=2 [imaging]=2 [core]=3 [jobs]=4
  [texts]=5 [cli]=6 [ui]=6)

bad=0
while IFS= read -r -d '' file; do
  from=${file%%/*}
  while IFS=: read -r line target; do
    to=${target%%/*}
    [ -n "${rank[$to]+set}" ] || continue  # a header of a library, not ours
    [ "$to" = "$from" ] && continue
    if [ "${rank[$to]}" -ge "${rank[$from]}" ]; then
      echo "$file:$line: includes $target ($from may not use $to)"
      bad=1
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
    sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1:\2/')
done < <(git ls-files -z -- "${!rank[@]}" | grep -z -E '\.(h|cpp)$')
exit $bad
