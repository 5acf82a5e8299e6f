#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the picture files of a few hundred bytes whose headers claim
65,000 x 65,000 pixels (one BMP, one JPEG, one TIFF), kept as seeds of the
picture harnesses and read by the tests that check they are refused before
anything of that size is allocated, and the defaults.ini seeds.

Run from this folder: python3 make_bombs.py
"""
import struct

SIDE = 65000


def bmp_bomb():
    """24-bit uncompressed BMP: the headers are honest about everything but
    the size; 200 bytes of pixels follow instead of 12.7 GB."""
    pixels = bytes(range(200))
    info = struct.pack("<IiiHHIIiiII",
                       40,            # information header size
                       SIDE, SIDE,    # width, height (bottom-up)
                       1, 24,         # planes, bits per pixel
                       0,             # BI_RGB
                       0, 0, 0,       # image size (may be 0), resolution
                       0, 0)          # colours used, important
    head = b"BM" + struct.pack("<IHHI", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    return head + info + pixels


def segment(marker, payload):
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


def jpeg_bomb():
    """Baseline three-component JPEG: one quantisation table of ones, one DC
    and one AC Huffman table of a single one-bit code each (difference 0,
    end of block), and a few bytes of scan data."""
    dqt = segment(0xDB, b"\x00" + b"\x01" * 64)
    sof = segment(0xC0, struct.pack(">BHHB", 8, SIDE, SIDE, 3) +
                  b"\x01\x11\x00" b"\x02\x11\x00" b"\x03\x11\x00")
    one_code = b"\x01" + b"\x00" * 15  # one code of length 1
    dht = segment(0xC4, b"\x00" + one_code + b"\x00" + b"\x10" + one_code + b"\x00")
    sos = segment(0xDA, b"\x03" b"\x01\x00" b"\x02\x00" b"\x03\x00" b"\x00\x3F\x00")
    return b"\xFF\xD8" + dqt + sof + dht + sos + b"\x00" * 64 + b"\xFF\xD9"


def tiff_bomb():
    """Little-endian RGB TIFF, one uncompressed strip of 192 bytes."""
    return rgb_tiff(SIDE, SIDE)


def rgb_tiff(width, height, compression=1, strip_at=None, samples=3):
    """Little-endian RGB TIFF of one strip of 192 bytes, stored right after
    the directory unless `strip_at` says otherwise."""
    entries = [
        (256, 4, 1, width),       # ImageWidth, LONG
        (257, 4, 1, height),      # ImageLength, LONG
        (258, 3, 1, 8),           # BitsPerSample, SHORT (one value for all samples)
        (259, 3, 1, compression), # Compression: 1 none
        (262, 3, 1, 2),           # PhotometricInterpretation: RGB
        (273, 4, 1, 0),           # StripOffsets, patched below
        (277, 3, 1, samples),     # SamplesPerPixel
        (278, 4, 1, height),      # RowsPerStrip
        (279, 4, 1, 192),         # StripByteCounts
        (284, 3, 1, 1),           # PlanarConfiguration: contiguous
    ]
    ifd_at = 8
    data_at = ifd_at + 2 + 12 * len(entries) + 4
    out = b"II*\x00" + struct.pack("<I", ifd_at) + struct.pack("<H", len(entries))
    for tag, typ, count, value in entries:
        if tag == 273:
            value = data_at if strip_at is None else strip_at
        field = struct.pack("<H", value) + b"\x00\x00" if typ == 3 else struct.pack("<I", value)
        out += struct.pack("<HHI", tag, typ, count) + field
    out += struct.pack("<I", 0)
    return out + bytes(range(192))


SETTINGS = {
    "full_form.ini": b"25\r\n40\r\n90\r\n/home/me/default_mask.bmp\r\n201\r\n190\r\n185\r\n160\r\n120\r\n",
    "short_form.ini": b"30\r\n0\r\n101\r\nnone\r\n",
    "lf_endings_no_last.ini": b"12\n7\n55\nmask.bmp\n10\n-3\n+4\n 8 \n\t9",
    "one_digit_red.ini": b"1\r2\r3\rm.bmp\r5\r6\r7\r8\r9\r",
}

if __name__ == "__main__":
    for name, data in (("bmp/bomb_65000x65000.bmp", bmp_bomb()),
                       ("jpegdecode/bomb_65000x65000.jpg", jpeg_bomb()),
                       ("tiffread/bomb_65000x65000.tif", tiff_bomb()),
                       # Damaged files whose pixels are kept and reported:
                       # an 8 x 8 picture whose strip lies past the end of
                       # the file, and one of a compression (12345) that no
                       # reader knows.
                       ("tiffread/strip_past_end.tif", rgb_tiff(8, 8, strip_at=1 << 20)),
                       ("tiffread/unknown_compression.tif", rgb_tiff(8, 8, compression=12345)),
                       ("photofile/strip_past_end.tif", b"\x02" + rgb_tiff(8, 8, strip_at=1 << 20)),
                       ("photofile/unknown_compression.tif", b"\x02" + rgb_tiff(8, 8, compression=12345)),
                       # An 8 x 648 picture of 65,533 samples a pixel: libtiff
                       # would decode its strip into 340 MB (a fuzzer's find).
                       ("tiffread/samples_65533.tif", rgb_tiff(8, 648, compression=12345, samples=65533)),
                       ("photofile/samples_65533.tif",
                        b"\x02" + rgb_tiff(8, 648, compression=12345, samples=65533))):
        with open(name, "wb") as f:
            f.write(data)
    for name, data in SETTINGS.items():
        with open("settings/" + name, "wb") as f:
            f.write(data)
