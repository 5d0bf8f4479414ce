#!/usr/bin/env bash
# Speed and memory of the whole recovery on a dense 1 GiB FAT32 card of about
# 840 photos, run by hand (not part of the test suite):
#   bench/scan/scan-bench.sh BUILD_DIR
# BUILD_DIR should be a Release build holding bin/kestrix-cli and
# bin/kxengine.kxp. The card image is generated once and cached in BUILD_DIR.
# Targets (page-cached): scan at most 3 x `cat IMAGE > /dev/null` in the same
# run; private memory (RssAnon) at most 64 MiB; restore of every candidate
# in at most half of foremost's time; `scan --check` (both cores) adds at
# least 60 photos per second over the plain scan: photos ÷ (check − plain).
# Cards larger than memory:
# large-card-bench.sh.
set -euo pipefail

build_dir=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
cli=$build_dir/bin/kestrix-cli
card=$build_dir/bench-card-1g.img
work=$build_dir/bench-scan-work
mkdir -p "$work"

if [ ! -f "$card" ]; then
  echo "== making $card (1 GiB, as many ~1.2 MB photos as fit)"
  photos=$work/photos
  rm -rf "$photos" && mkdir -p "$photos"
  # Eight distinct noisy pictures; copies of them fill the card. The carver
  # does not care that contents repeat, only that the card is dense.
  for seed in 1 2 3 4 5 6 7 8; do
    convert -seed "$seed" -size 1280x960 plasma:fractal +noise Gaussian -quality 90 \
      "$photos/base$seed.jpg"
    exiftool -q -overwrite_original -Make=Canon -Model=Bench "-DateTimeOriginal=2003:07:14 09:05:30" \
      "$photos/base$seed.jpg"
  done
  rm -f "$card.tmp"
  mkfs.vfat -C -F 32 "$card.tmp" 1048576 >/dev/null
  free=$((1024 * 1024 * 1024 - 8 * 1024 * 1024))
  i=0
  while :; do
    base=$photos/base$((i % 8 + 1)).jpg
    size=$(stat -c %s "$base")
    [ $((free - size)) -gt 0 ] || break
    cp "$base" "$photos/P$(printf %04d $i).JPG"
    free=$((free - size - 32768))
    i=$((i + 1))
  done
  rm "$photos"/base*.jpg
  MTOOLS_SKIP_CHECK=1 mcopy -i "$card.tmp" "$photos"/*.JPG ::/
  rm -rf "$photos"
  mv "$card.tmp" "$card"
  echo "   $i photos"
fi

size=$(stat -L -c %s "$card")
cat "$card" >/dev/null  # page-cache it
echo "== image: $size bytes, $("$cli" scan "$card" | wc -l) candidates"

echo "== scan against reading the image once (cat), same run"
hyperfine --warmup 1 --runs 5 \
  "cat '$card' >/dev/null" \
  "'$cli' scan '$card' >/dev/null" \
  "'$cli' scan --signature-rules '$card' >/dev/null"

echo "== scan --check against the plain scan (photos per second added: see the end)"
photos=$("$cli" scan "$card" | wc -l)
hyperfine --warmup 1 --runs 5 --export-json "$work/check.json" \
  "'$cli' scan '$card' >/dev/null" \
  "'$cli' scan --check '$card' >/dev/null"
python3 - "$work/check.json" "$photos" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
plain, check = (r["mean"] for r in runs)
photos = int(sys.argv[2])
print(f"   {photos} photos: plain {plain:.3f} s, --check {check:.3f} s wall;"
      f" user+system {runs[0]['user'] + runs[0]['system']:.3f} s vs"
      f" {runs[1]['user'] + runs[1]['system']:.3f} s")
added = check - plain
print(f"   the check adds {photos / added:.0f} photos per second" if added > 0 else
      "   the check added no measurable time")
PY

echo "== private memory (RssAnon)"
here=$(cd "$(dirname "$0")" && pwd)
echo -n "   scan:    " && "$here/peak-rss-anon.sh" "$cli" scan "$card"
rm -rf "$work/restore" && mkdir -p "$work/restore"
echo -n "   restore: " && "$here/peak-rss-anon.sh" "$cli" restore "$card" "$work/restore"

echo "== restore of every candidate vs foremost"
hyperfine --warmup 1 --runs 3 \
  --prepare "rm -rf '$work/restore' '$work/foremost'; mkdir -p '$work/restore'" \
  "'$cli' restore '$card' '$work/restore'" \
  "foremost -q -t jpg,png,mov -i '$card' -o '$work/foremost'"
rm -rf "$work/restore" "$work/foremost"
