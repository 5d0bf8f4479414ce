#!/usr/bin/env python3
"""Writes tests/data/hostile/: small inputs that once broke, or nearly broke,
a parser or the scan. Their expected outcomes are in tests/data/hostile/corpus.tsv,
replayed by tests/hostile. Needs cjpeg and mkfs.fat; rerun after changing a
builder and commit the difference.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kx_inputs as kx  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "hostile")


def files():
    baseline = kx.cjpeg(16, 16, ["-quality", "75"])
    progressive = kx.cjpeg(16, 16, ["-progressive"])
    fat12 = kx.mkfs_fat(1, 12, 2048)
    yield "exif-bomb-compact.jpg", kx.exif_bomb(20, 300)
    yield "exif-loop-self.jpg", kx.loop_chain(1)
    yield "exif-loop-three.jpg", kx.loop_chain(3)
    yield "exif-overlap-loop.jpg", kx.overlap_chain()
    yield "exif-signature-at-end.bin", b"\xff\xd8\0\0Exif\0\0MM"
    # A carved fragment's frame header claiming 24576 x 24576 over 16 x 16 data.
    yield "jpeg-huge-frame.jpg", kx.sof_dimensions(baseline, 24576, 24576)
    yield "jpeg-huge-progressive.jpg", kx.sof_dimensions(progressive, 24576, 24576)
    yield "jpeg-huffman-overfull.jpg", kx.damaged_huffman(baseline, 300)
    yield "jpeg-huffman-cut.jpg", baseline[:baseline.find(b"\xff\xc4") + 12]
    yield "jpeg-zero-width.jpg", kx.sof_dimensions(baseline, 0, 16)
    yield "bmp-huge-dimensions.bmp", kx.bmp(2, 2, 24)[:54].replace(
        b"\x02\0\0\0\x02\0\0\0", b"\xa0\x86\x01\0\xa0\x86\x01\0") + b"\0" * 16
    yield "bmp-pixels-past-end.bmp", kx.bmp(8, 8, 24)[:100]
    yield "bmp-offset-past-end.bmp", kx.bmp(2, 2, 24, offset=0x7FFFFFF0)
    yield "bmp-zero-planes.bmp", kx.bmp(2, 2, 24, planes=0)
    yield "bmp-bits-32.bmp", kx.bmp(2, 2, 32)
    yield "boot-fat-zero-sizes.bin", kx.fat_with(fat12, bytes_per_sector=0, sectors_per_cluster=0)
    yield "boot-fat-huge-sizes.bin", kx.fat_with(fat12, bytes_per_sector=4096, sectors_per_cluster=128,
                                                total16=0, total32=0xFFFFFFFF)
    yield "boot-ntfs-zero-cluster.bin", kx.ntfs_boot(sectors_per_cluster=0)
    yield "boot-one-byte.bin", b"\xeb"
    yield "scan-one-byte.img", b"\xff"
    # An image whose size is no multiple of a sector, holding one photo.
    yield "scan-odd-size.img", b"\0" * 301 + baseline + b"\0" * 77
    # The photo's last byte is the image's last byte.
    yield "scan-photo-at-end.img", b"\0" * 301 + baseline
    yield "scan-cut-jpeg.img", b"\0" * 11 + baseline[:len(baseline) // 2]
    # Found by fuzz/rescuemap: an area ending 2055 bytes below 2^63 (octal, as
    # ddrescue reads it), then one whose end is one past the largest position.
    yield "rescuemap-area-near-2-63.map", b"0 +\n1 0777777777777777773770 +\n"
    yield "rescuemap-area-past-2-63.map", b"0 +\n1 0x7FFFFFFFFFFFFFFF +\n"


def main():
    total = 0
    for name, data in files():
        kx.write(os.path.join(ROOT, name), data)
        total += len(data)
    print(f"{ROOT}: {total} bytes")


if __name__ == "__main__":
    main()
