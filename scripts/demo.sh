#!/usr/bin/env bash
# The first end-to-end recovery, from a fresh Debian 12 as root:
# installs what it needs, builds kestrix-cli and the carving plug-in, makes a
# small FAT32 card with deleted photos and a deleted movie clip, scans it and
# restores everything into ./demo-recovered.
#
#   scripts/demo.sh [BUILD_DIR]      (default: build-demo in the source tree)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build-demo}
card=$build_dir/demo-card.img
out=$PWD/demo-recovered

"$source_dir/scripts/install-deps.sh" demo

echo "== building kestrix-cli and kxengine.kxp (Release)"
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DKESTRIX_BUILD_GUI=OFF -DKESTRIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target kestrix-cli kxengine -j2 >/dev/null

echo "== making the card image"
"$source_dir/scripts/make-demo-card.sh" --movie "$card"

cli=$build_dir/bin/kestrix-cli
echo "== kestrix-cli scan $card"
"$cli" scan "$card"

echo "== kestrix-cli restore --set-file-time $card $out"
rm -rf "$out"
mkdir -p "$out"
"$cli" restore --set-file-time "$card" "$out"

echo "== recovered files"
ls -l --time-style=long-iso "$out"
