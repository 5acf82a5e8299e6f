#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the seed sources of the transplant harness (transplant/).

Each file is a JPEG source head of one shape the EXIF transplant meets: the
usual JFIF + EXIF file with ICC, XMP and IPTC sections, a camera file with
EXIF first, and the shapes whose head must not be copied whole (an APP1
after the tables and frame, 0xFF 0xE1 inside a comment or after the end of
image, an Adobe APP14 that switches the colour transform off). The tables,
frame and scan are stand-ins: only the source's sections are used.
Run from this folder: python3 make_transplant_seeds.py
"""
import struct


def section(code, payload):
    return bytes([0xFF, code]) + struct.pack(">H", len(payload) + 2) + payload


SOI = b"\xff\xd8"
EOI = b"\xff\xd9"
JFIF = section(0xE0, b"JFIF\0\x01\x02\x01\x01\x2c\x01\x2c\0\0")
JFXX = section(0xE0, b"JFXX\0\x10" + bytes(8))
# "Exif\0\0", a little-endian TIFF header and an empty first directory.
EXIF = section(0xE1, b"Exif\0\0" + b"II*\0" + struct.pack("<I", 8) + struct.pack("<HI", 0, 0))
XMP = section(0xE1, b"http://ns.adobe.com/xap/1.0/\0<x:xmpmeta xmlns:x='adobe:ns:meta/'/>")
EXTENDED_XMP = section(0xE1, b"http://ns.adobe.com/xmp/extension/\0" + b"0" * 32 + struct.pack(">II", 4, 0) + b"<x/>")
IPTC = section(0xED, b"Photoshop 3.0\0" + b"8BIM\x04\x04\0\0" + struct.pack(">I", 8) + b"\x1c\x02\x78\0\x03abc\0")


def icc(sequence, count, body):
    return section(0xE2, b"ICC_PROFILE\0" + bytes([sequence, count]) + body)


ADOBE_RGB = section(0xEE, b"Adobe\0\x64\0\0\0\0\0")
COMMENT_WITH_PAIR = section(0xFE, b"note \xff\xe1\x00\x20 not a section")
DQT = section(0xDB, b"\0" + bytes(range(1, 65)))
SOF0 = section(0xC0, b"\x08\x00\x10\x00\x10\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01")
SOS = section(0xDA, b"\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00")
SCAN = bytes((i * 37) % 251 for i in range(200))
TAIL = DQT + SOF0 + SOS + SCAN + EOI

SEEDS = {
    "jfif_exif_icc_xmp_iptc.jpg": SOI + JFIF + EXIF + icc(1, 1, b"profile") + XMP + EXTENDED_XMP + IPTC + TAIL,
    "exif_first_icc_in_two_chunks.jpg": SOI + EXIF + icc(1, 2, b"first half") + icc(2, 2, b"second") + IPTC + TAIL,
    "jfif_xmp_after_frame.jpg": SOI + JFIF + DQT + SOF0 + XMP + SOS + SCAN + EOI,
    "jfif_exif_after_tables.jpg": SOI + JFIF + DQT + EXIF + SOF0 + SOS + SCAN + EOI,
    "jfif_comment_holding_ffe1.jpg": SOI + JFIF + COMMENT_WITH_PAIR + TAIL,
    "jfif_ffe1_after_eoi.jpg": SOI + JFIF + TAIL + EXIF,
    "jfxx_adobe_rgb_then_exif.jpg": SOI + JFXX + ADOBE_RGB + EXIF + TAIL,
    # A profile whose first chunk is copied with the head and whose second
    # follows the EXIF section: both must reach the output.
    "jfif_icc_split_around_exif.jpg": SOI + JFIF + icc(1, 2, b"first half") + EXIF + icc(2, 2, b"second") + TAIL,
}

for name, data in SEEDS.items():
    with open("transplant/" + name, "wb") as out:
        out.write(data)
