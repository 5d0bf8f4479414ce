#!/bin/sh
# Builds a small FAT32 memory-card image holding our own test photos, a PNG
# and a stand-in QuickTime clip, then deletes some of them, as a camera user
# would before asking for them back.
#
#   scripts/make-demo-card.sh [--movie] IMAGE [ORIGINALS_DIR]
#
# --movie also puts a real two-second camera-style clip on the card
# (MVI_0005.MOV, made by ffmpeg: H.264 and AAC in QuickTime), then deletes it.
# ORIGINALS_DIR, when given, receives a copy of every file put on the card
# (the tests compare recovered files with these). Needs ImageMagick
# (convert), exiftool, dosfstools (mkfs.vfat) and mtools (mcopy, mdel), and
# ffmpeg for --movie.
set -eu

movie=
if [ "${1:-}" = "--movie" ]; then
  movie=yes
  shift
fi
if [ $# -lt 1 ]; then
  echo "usage: $0 [--movie] IMAGE [ORIGINALS_DIR]" >&2
  exit 2
fi
image=$1
originals=${2:-}
for tool in convert exiftool mkfs.vfat mcopy mdel ${movie:+ffmpeg}; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool is missing" >&2; exit 3; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# Photos: noise makes them incompressible enough to span many clusters.
photo() {  # name seed size
  convert -seed "$2" -size "$3" plasma:fractal -quality 90 "$work/$1"
}
photo IMG_0001.jpg 1 640x480
photo IMG_0002.jpg 2 800x600
photo IMG_0003.jpg 3 320x240
photo DSC_0004.jpg 4 480x360
exiftool -q -overwrite_original -Make=Canon -Model="Canon PowerShot A70" \
  "-DateTimeOriginal=2003:07:14 09:05:30" \
  -GPSLatitude=35.6812 -GPSLatitudeRef=N -GPSLongitude=139.7671 -GPSLongitudeRef=E \
  "$work/IMG_0001.jpg"
exiftool -q -overwrite_original -Make=Canon -Model="Canon PowerShot A70" \
  "-DateTimeOriginal=2003:07:15 18:30:00" "$work/IMG_0002.jpg"
exiftool -q -overwrite_original -Make=Canon -Model="Canon PowerShot A70" \
  "-DateTimeOriginal=2003:07:16 07:00:01" "$work/IMG_0003.jpg"
# A Motorola-order maker with an embedded thumbnail: split mode lists the
# thumbnail as its own JPEG.
# The thumbnail carries no JFIF segment of its own, as camera thumbnails do
# not, so in the normal mode it stays part of the picture that holds it.
convert -seed 5 -size 160x120 plasma:fractal -quality 80 "$work/thumb.jpg"
exiftool -q -overwrite_original -JFIF:all= "$work/thumb.jpg"
exiftool -q -overwrite_original -ExifByteOrder=Big-endian -Make=NIKON -Model="E995" \
  "-DateTimeOriginal=2004:01:02 03:04:05" "-ThumbnailImage<=$work/thumb.jpg" \
  "$work/DSC_0004.jpg"
rm "$work/thumb.jpg"

convert -seed 6 -size 200x150 plasma:fractal "$work/CHART.png"

# A stand-in QuickTime clip: a "pnot" preview atom, a media atom, and a
# 16-byte "udta" atom at its end, which is what the carver looks for.
{
  printf '\000\000\000\024pnot\000\000\000\000\000\000PICT\000\001'
  printf '\000\000\004\010mdat'
  head -c 1024 /dev/zero
  printf '\000\000\000\020udta\000\000\000\000\000\000\000\000'
} > "$work/CLIP0001.MOV"

files="CHART.png IMG_0001.jpg IMG_0002.jpg IMG_0003.jpg DSC_0004.jpg CLIP0001.MOV"
if [ -n "$movie" ]; then
  # What a camera writes: an ftyp "qt  " atom, then the media, then moov.
  ffmpeg -loglevel error -f lavfi -i testsrc=duration=2:size=320x240:rate=15 \
    -f lavfi -i sine=frequency=440:duration=2 -c:v libx264 -pix_fmt yuv420p \
    -c:a aac -shortest -f mov "$work/MVI_0005.MOV"
  files="$files MVI_0005.MOV"
fi

rm -f "$image"
# 40 MiB is about the smallest size mkfs.vfat accepts for FAT32 with
# one-sector clusters.
mkfs.vfat -C -F 32 -s 1 -n KESTRIXDEMO "$image" 40960 >/dev/null
# The PNG goes first: its compressed bytes may hold JPEG end markers, which
# a picture in front of it would take in as the ends of embedded pictures.
for file in $files; do
  MTOOLS_SKIP_CHECK=1 mcopy -i "$image" "$work/$file" "::$file"
done
# Deleted files keep their clusters on FAT: the carver still finds them.
MTOOLS_SKIP_CHECK=1 mdel -i "$image" ::IMG_0002.jpg ::CLIP0001.MOV
[ -z "$movie" ] || MTOOLS_SKIP_CHECK=1 mdel -i "$image" ::MVI_0005.MOV

if [ -n "$originals" ]; then
  mkdir -p "$originals"
  cp "$work"/* "$originals"/
fi
echo "$image: FAT32 card with IMG_0001.jpg (GPS), IMG_0003.jpg, DSC_0004.jpg (thumbnail),"
echo "  CHART.png; IMG_0002.jpg and CLIP0001.MOV deleted${movie:+, and the clip MVI_0005.MOV deleted}"
