#!/usr/bin/env python3
"""Writes the seed corpus of every libFuzzer target into fuzz/seeds/<target>/.

Run from anywhere: python3 scripts/make-fuzz-seeds.py. Needs cjpeg and
mkfs.fat (scripts/install-deps.sh test). The outputs are committed; rerun
after changing a builder and commit the difference.
"""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kx_inputs as kx  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "seeds")


def seeds():
    baseline = kx.cjpeg(16, 16, ["-quality", "75"])
    progressive = kx.cjpeg(16, 16, ["-progressive"])
    restart = kx.cjpeg(32, 16, ["-restart", "1B"])
    h2v2 = kx.cjpeg(24, 24, ["-sample", "2x2"])
    h2v1 = kx.cjpeg(24, 16, ["-sample", "2x1"])
    grey = kx.cjpeg(16, 8, ["-grayscale"], grey=True)
    yield "jpeg_decoder_fuzzer", {
        "baseline.jpg": baseline, "progressive.jpg": progressive, "restart.jpg": restart,
        "h2v2.jpg": h2v2, "h2v1.jpg": h2v1, "grey.jpg": grey,
        "huge-frame.jpg": kx.sof_dimensions(baseline, 24576, 24576)[:400],
    }
    yield "exif_info_fuzzer", {
        "intel-gps.bin": kx.camera_exif(False, True),
        "motorola.bin": kx.camera_exif(True, False),
        "loop3.bin": kx.loop_chain(3),
        "overlap.bin": kx.overlap_chain(),
        "bomb-small.bin": kx.exif_bomb(20, 40),
    }
    yield "bmp_loader_fuzzer", {
        "grey8.bmp": kx.bmp(5, 3, 8),
        "rgb24.bmp": kx.bmp(3, 2, 24),
        "topdown24.bmp": kx.bmp(4, 2, 24, top_down=True),
    }
    fat12 = kx.mkfs_fat(1, 12, 2048)
    yield "boot_sector_fuzzer", {
        "fat12.bin": fat12,
        "fat16.bin": kx.mkfs_fat(20, 16, 2048),
        "fat32.bin": kx.mkfs_fat(40, 32, 2048),
        "ntfs.bin": kx.ntfs_boot(),
        "fat12-zero-sizes.bin": kx.fat_with(fat12, bytes_per_sector=0, sectors_per_cluster=0),
    }
    # Byte 0 picks the extension (0 jpg, 1 png, 2 mov), byte 1 the mode (0 normal, 1 split).
    block = baseline + b"\0" * 16 + kx.png() + b"\0" * 16 + kx.mov()
    yield "engine_fuzzer", {
        "jpg-normal.bin": b"\0\0" + block,
        "jpg-split.bin": b"\0\1" + block,
        "png.bin": b"\1\0" + block,
        "mov.bin": b"\2\0" + block,
        "jpg-tables-only.bin": b"\0\0" + baseline[20:] + baseline,
    }
    yield "shot_date_fuzzer", {
        "date-time.txt": b"2003:07:14 09:05:30",
        "date-only.txt": b"2003-07-14",
        "no-clock.txt": b"0000:00:00 00:00:00",
        "padded.txt": b"2004:02:29 23:59:59 \0",
    }


def main():
    for target, files in seeds():
        folder = os.path.join(ROOT, target)
        shutil.rmtree(folder, ignore_errors=True)
        for name, data in files.items():
            kx.write(os.path.join(folder, name), data)
        total = sum(len(d) for d in files.values())
        print(f"{target}: {len(files)} files, {total} bytes")


if __name__ == "__main__":
    main()
