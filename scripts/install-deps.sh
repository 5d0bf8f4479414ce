#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing.
#   scripts/install-deps.sh build   compiler, CMake and the FFmpeg libraries of the movie thumbnails
#   scripts/install-deps.sh demo    build + the tools that make the demo card
#   scripts/install-deps.sh test    demo + test frameworks, sanitizer/fuzzer runtimes, image tools
#   scripts/install-deps.sh gui     Qt 6 Widgets, Xvfb and Japanese fonts (added to any of the above)
#   scripts/install-deps.sh bench   test + the peers and timer the benchmarks in bench/ compare with
set -euo pipefail

build=(cmake g++ make binutils pkg-config zlib1g-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev)
demo=(dosfstools mtools imagemagick libimage-exiftool-perl libjpeg-turbo-progs ffmpeg)
test=(libgtest-dev libgmock-dev libbenchmark-dev clang clang-format lld libclang-rt-14-dev file xxd gddrescue dbus python3-dbusmock)
bench=(hyperfine foremost)
gui=(qt6-base-dev qt6-translations-l10n xvfb xauth fonts-noto-cjk)

packages=()
for group in "$@"; do
  case "$group" in
    build) packages+=("${build[@]}") ;;
    demo) packages+=("${build[@]}" "${demo[@]}") ;;
    test) packages+=("${build[@]}" "${demo[@]}" "${test[@]}") ;;
    gui) packages+=("${gui[@]}") ;;
    bench) packages+=("${build[@]}" "${demo[@]}" "${test[@]}" "${bench[@]}") ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing; install them as root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
