#!/usr/bin/env bash
# Peak private memory of one scan, check and join of a card of 64 photos and
# of one four times as large (each with one photo in eight split): the two
# figures must be about the same, since the card is a file mapping and a
# seam try holds one joined photo, whatever the card's size.
#   bench/joiner/peak-memory.sh BUILD/bench/fragment_joiner_bench
set -euo pipefail
bench=$1
probe="$(dirname "$0")/../scan/peak-rss-anon.sh"
for photos in 64 256; do
  echo "$photos photos:"
  "$probe" "$bench" --join-once "$photos"
done
