#!/usr/bin/env bash
# Private memory and bytes read on cards larger than memory, run by hand as
# root (not part of the test suite):
#   bench/scan/large-card-bench.sh BUILD_DIR
# 1. Sparse images of 6 GiB and 20 GiB (truncate) with a photo written every
#    256 MiB: peak RssAnon of `scan` and `restore` (target: at most 64 MiB).
# 2. A 3 GiB image of photos and noise, evicted from the page cache
#    (posix_fadvise DONTNEED), scanned inside a v1 memory cgroup of 640 MiB:
#    bytes read from storage (target: at most 1.25 x the image).
set -euo pipefail

build_dir=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
cli=$build_dir/bin/kestrix-cli
here=$(cd "$(dirname "$0")" && pwd)
work=$build_dir/bench-large-work
rm -rf "$work" && mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

photo=$work/photo.jpg
convert -seed 1 -size 1600x1200 plasma:fractal +noise Gaussian -quality 90 "$photo"
photo_size=$(stat -c %s "$photo")

sparse_card() {  # path, GiB
  truncate -s "$(($2 << 30))" "$1"
  local offset=$((1 << 20))
  while [ $((offset + photo_size)) -lt $(($2 << 30)) ]; do
    dd if="$photo" of="$1" bs=1M seek="$offset" oflag=seek_bytes conv=notrunc status=none
    offset=$((offset + (256 << 20)))
  done
}

for gib in 6 20; do
  card=$work/sparse-$gib.img
  sparse_card "$card" "$gib"
  finds=$("$cli" scan "$card" | wc -l)
  echo "== sparse ${gib} GiB card, $finds photos"
  echo -n "   scan:    " && "$here/peak-rss-anon.sh" "$cli" scan "$card"
  mkdir -p "$work/out-$gib"
  echo -n "   restore: " && "$here/peak-rss-anon.sh" "$cli" restore "$card" "$work/out-$gib"
  rm -rf "$work/out-$gib" "$card"
done

echo "== 3 GiB card larger than a 640 MiB memory cgroup"
card=$work/dense-3.img
: >"$card"
for i in $(seq 1 $(((3 << 30) / (photo_size + 65536)))); do
  cat "$photo" >>"$card"
  head -c 65536 /dev/urandom >>"$card"
done
truncate -s $((3 << 30)) "$card"
sync "$card"
python3 -c "import os,sys; fd=os.open(sys.argv[1], os.O_RDONLY); os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)" "$card"
group=/sys/fs/cgroup/memory/kestrix-bench
mkdir -p "$group"
echo $((640 << 20)) >"$group/memory.limit_in_bytes"
# ru_inblock counts 512-byte blocks read from storage.
blocks=$(sh -c "echo \$\$ > $group/cgroup.procs && exec /usr/bin/time -f '%I' '$cli' scan '$card'" 2>&1 >/dev/null | tail -1)
echo "   read from storage: $((blocks * 512)) bytes for a $((3 << 30))-byte image" \
     "($(echo "scale=3; $blocks * 512 / (3 * 2^30)" | bc) x)"
echo "   cgroup peak: $(cat "$group/memory.max_usage_in_bytes") bytes"
rmdir "$group" 2>/dev/null || true
