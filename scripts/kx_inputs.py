"""Builders for the small binary inputs the tests and fuzzers start from.

Everything here is written from the formats' own rules (TIFF 6.0 / EXIF
directories, BMP headers, FAT and NTFS boot sectors, PNG chunks, QuickTime
atoms); JPEG streams come from cjpeg over a picture drawn here. Outputs are
deterministic, so regenerating them gives the committed bytes again.
"""

import os
import struct
import subprocess
import tempfile
import zlib

# ------------------------------------------------------------------ EXIF


def tiff(dirs, motorola=False, ifd0=None):
    """A TIFF block: header, then each directory, then out-of-line values.

    dirs: list of (entries, next_index_or_None); entries are
    (tag, type, count, value_bytes_or_None, pointer_directory_or_None).
    """
    order = ">" if motorola else "<"
    offsets, at = [], 8
    for entries, _ in dirs:
        offsets.append(at)
        at += 2 + 12 * len(entries) + 4
    out = bytearray(b"MM" if motorola else b"II")
    out += struct.pack(order + "HI", 42, offsets[0] if ifd0 is None and dirs else (ifd0 or 0))
    extra = bytearray()
    for entries, nxt in dirs:
        out += struct.pack(order + "H", len(entries))
        for tag, typ, count, data, pointer in entries:
            out += struct.pack(order + "HHI", tag, typ, count)
            if pointer is not None:
                out += struct.pack(order + "I", offsets[pointer])
            elif len(data) <= 4:
                out += data.ljust(4, b"\0")
            else:
                out += struct.pack(order + "I", at + len(extra))
                extra += data
        out += struct.pack(order + "I", offsets[nxt] if nxt is not None else 0)
    return bytes(out + extra)


def ascii_entry(tag, text):
    data = text.encode() + b"\0"
    return (tag, 2, len(data), data, None)


def pointer_entry(tag, directory):
    return (tag, 4, 1, None, directory)


def short_entry(tag, value, motorola=False):
    return (tag, 3, 1, struct.pack(">H" if motorola else "<H", value), None)


def in_jpeg(block):
    """SOI, APP1 "Exif\\0\\0" with the TIFF block, EOI."""
    body = b"Exif\0\0" + block
    length = min(len(body) + 2, 0xFFFF)  # a bomb's block is longer than a segment can say
    return b"\xff\xd8\xff\xe1" + struct.pack(">H", length) + body + b"\xff\xd9"


def camera_exif(motorola=False, gps=True):
    main = [ascii_entry(0x010F, "Kestrel"), ascii_entry(0x0110, "KX-100"),
            ascii_entry(0x0132, "2020:01:01 00:00:00"), pointer_entry(0x8769, 1)]
    if gps:
        main.append(pointer_entry(0x8825, 2))
    dirs = [(main, 3), ([ascii_entry(0x9003, "2021:02:03 04:05:06")], None),
            ([(0x0000, 1, 4, b"\2\2\0\0", None)], None),
            ([short_entry(0x0103, 6, motorola)], None)]
    return in_jpeg(tiff(dirs, motorola))


def loop_chain(length):
    dirs = [([ascii_entry(0x010F, "Loop")], (i + 1) % length) for i in range(length)]
    return in_jpeg(tiff(dirs))


def overlap_chain():
    """IFD0's next offset points 12 bytes into IFD0 itself. The count there is
    the upper half of IFD0's first value (2), so the second directory re-reads
    IFD0's last two entries, and its next offset is IFD0's own next offset:
    the chain loops back into the overlap."""
    entries = [(0x0100, 4, 1, struct.pack("<I", 0x00020000), None), ascii_entry(0x010F, "Ovl"),
               short_entry(0x0002, 3)]
    block = bytearray(tiff([(entries, None)]))
    struct.pack_into("<I", block, 8 + 2 + 3 * 12, 8 + 12)
    return in_jpeg(bytes(block))


def exif_bomb(directories, entries):
    """Chained directories that share one run of entries.

    Directory k lies 12 × k bytes after the first: its count is the upper half
    of the value field of the entry in front of it (FF FF is 65,535, cut to
    `entries` here), and its next offset is the first four bytes of entry
    `entries + k`, so `directories` directories of `entries` valid SHORT
    entries cost little more than one directory's bytes.
    """
    first = 8  # IFD0 right after the TIFF header
    run = entries + directories
    block = bytearray(b"II" + struct.pack("<HI", 42, first))
    block += struct.pack("<H", entries)
    for _ in range(run):
        block += struct.pack("<HHIHH", 0x1234, 3, 1, 7, entries)
    for k in range(directories):
        next_offset = first + 12 * (k + 1) if k + 1 < directories else 0
        struct.pack_into("<I", block, first + 2 + 12 * (entries + k), next_offset)
    block += b"\0" * 4
    return in_jpeg(bytes(block))


# ------------------------------------------------------------------ JPEG


def ppm(width, height, grey=False):
    """A smooth test picture with some edges, as binary PPM or PGM."""
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            r = (x * 255) // max(1, width - 1)
            g = (y * 255) // max(1, height - 1)
            b = 255 if (x // 4 + y // 4) % 2 else 40
            pixels += bytes([(r + g + b) // 3]) if grey else bytes([r, g, b])
    magic = b"P5" if grey else b"P6"
    return magic + b"\n%d %d\n255\n" % (width, height) + bytes(pixels)


def cjpeg(width, height, options, grey=False):
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "in.pnm")
        with open(source, "wb") as f:
            f.write(ppm(width, height, grey))
        return subprocess.run(["cjpeg"] + options + [source], check=True,
                              stdout=subprocess.PIPE).stdout


def sof_dimensions(jpeg, width, height):
    """The same stream with the frame header's size fields replaced."""
    data = bytearray(jpeg)
    for marker in (0xC0, 0xC1, 0xC2):
        at = data.find(bytes([0xFF, marker]))
        if at >= 0:
            struct.pack_into(">HH", data, at + 5, height, width)
            return bytes(data)
    raise ValueError("no frame header")


def damaged_huffman(jpeg, counts_total):
    """The first DHT's 16 code counts replaced so they sum to counts_total."""
    data = bytearray(jpeg)
    at = data.find(b"\xff\xc4")
    counts = [0] * 16
    counts[15] = min(255, counts_total)
    counts[14] = max(0, counts_total - 255)
    data[at + 5:at + 21] = bytes(counts)
    return bytes(data)


# ------------------------------------------------------------------ BMP


def bmp(width, height, bits, top_down=False, claimed_size=None, planes=1, offset=None):
    palette = b"".join(bytes([i, i, i, 0]) for i in range(256)) if bits == 8 else b""
    stride = ((width * bits // 8) + 3) & ~3
    pixels = bytes((x * 37 + y * 11) & 0xFF for y in range(height) for x in range(stride))
    data_offset = 14 + 40 + len(palette) if offset is None else offset
    header = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, planes,
                         bits, 0, len(pixels) if claimed_size is None else claimed_size,
                         2835, 2835, 0, 0)
    size = 14 + len(header) + len(palette) + len(pixels)
    return b"BM" + struct.pack("<IHHI", size, 0, 0, data_offset) + header + palette + pixels


# ------------------------------------------------------------------ boot sectors


def mkfs_fat(megabytes, fat_bits, keep):
    """The first `keep` bytes of a freshly formatted FAT volume."""
    with tempfile.TemporaryDirectory() as folder:
        image = os.path.join(folder, "v.img")
        with open(image, "wb") as f:
            f.truncate(megabytes << 20)
        subprocess.run(["mkfs.fat", "-F", str(fat_bits), "-i", "4b455354", "-n", "KESTRIX",
                        "--invariant", image], check=True, stdout=subprocess.DEVNULL)
        with open(image, "rb") as f:
            return f.read(keep)


def ntfs_boot(bytes_per_sector=512, sectors_per_cluster=8, total=20480):
    sector = bytearray(512)
    sector[0:3] = b"\xeb\x52\x90"
    sector[3:11] = b"NTFS    "
    struct.pack_into("<HB", sector, 11, bytes_per_sector, sectors_per_cluster)
    sector[21] = 0xF8
    struct.pack_into("<HHI", sector, 24, 63, 255, 0)
    struct.pack_into("<QQQ", sector, 40, total - 1, 4, total // 2)
    sector[510:512] = b"\x55\xaa"
    return bytes(sector)


def fat_with(boot, **fields):
    """A FAT boot sector with BPB fields replaced (bytes per sector, ...)."""
    layout = {"bytes_per_sector": ("<H", 11), "sectors_per_cluster": ("<B", 13),
              "reserved": ("<H", 14), "fats": ("<B", 16), "root_entries": ("<H", 17),
              "total16": ("<H", 19), "sectors_per_fat": ("<H", 22), "total32": ("<I", 32)}
    data = bytearray(boot)
    for name, value in fields.items():
        fmt, at = layout[name]
        struct.pack_into(fmt, data, at, value)
    return bytes(data)


# ------------------------------------------------------------------ PNG and MOV


def png(width=4, height=3):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    rows = b"".join(b"\0" + bytes((x * 60 + y * 20) & 0xFF for x in range(width * 3))
                    for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def mov():
    def atom(kind, body):
        return struct.pack(">I", 8 + len(body)) + kind + body
    # Old QuickTime files open with a preview atom ("pnot") and end with
    # user data ("udta"): the pair the carving engine looks for.
    mvhd = atom(b"mvhd", b"\0" * 100)
    return (atom(b"pnot", b"\0" * 12) + atom(b"moov", mvhd) + atom(b"mdat", bytes(range(64)))
            + atom(b"udta", b"\0" * 8))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
