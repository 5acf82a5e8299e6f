#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes flat_field_640x480.tif: a flat-field mask as a lens would record it.

Linear light falls off as cos^4 of the angle of view (a wide-angle lens at
full aperture, about -1.6 EV in the corners) around an optical centre a
little off the frame's centre, with a faint warm cast; stored as sRGB in an
RGB TIFF with horizontal differencing and Deflate so it stays small.
Run from this folder: python3 make_flat_field.py
"""
import math
import struct
import zlib

W, H = 640, 480
CENTRE_X, CENTRE_Y = 0.52 * W, 0.49 * H
FOCAL = 1.16 * math.hypot(W, H) / 2  # in pixels: tan(angle) = 0.86 in the corners
LEVELS = (0.80, 0.76, 0.70)  # linear red, green, blue at the centre


def srgb(linear):
    c = 12.92 * linear if linear <= 0.0031308 else 1.055 * linear ** (1 / 2.4) - 0.055
    return max(0, min(255, round(c * 255)))


rows = bytearray()
for y in range(H):
    previous = (0, 0, 0)
    line = []
    for x in range(W):
        r = math.hypot(x + 0.5 - CENTRE_X, y + 0.5 - CENTRE_Y)
        c = math.cos(math.atan(r / FOCAL)) ** 4
        line.append(tuple(srgb(level * c) for level in LEVELS))
    # Horizontal differencing (TIFF predictor 2), sample by sample.
    for pixel in line:
        rows += bytes((v - p) & 0xFF for v, p in zip(pixel, previous))
        previous = pixel

data = zlib.compress(bytes(rows), 9)

entries = [  # tag, type (3 SHORT, 4 LONG), count, value
    (256, 4, 1, W), (257, 4, 1, H), (258, 3, 3, None), (259, 3, 1, 8),
    (262, 3, 1, 2), (273, 4, 1, None), (277, 3, 1, 3), (278, 4, 1, H),
    (279, 4, 1, len(data)), (284, 3, 1, 1), (317, 3, 1, 2),
]
ifd_at = 8
ifd_size = 2 + 12 * len(entries) + 4
bits_at = ifd_at + ifd_size
strip_at = bits_at + 6
out = bytearray(b"II*\0" + struct.pack("<I", ifd_at))
out += struct.pack("<H", len(entries))
for tag, typ, count, value in entries:
    if tag == 258:
        out += struct.pack("<HHII", tag, typ, count, bits_at)
    elif tag == 273:
        out += struct.pack("<HHII", tag, typ, count, strip_at)
    elif typ == 3:
        out += struct.pack("<HHIHH", tag, typ, count, value, 0)
    else:
        out += struct.pack("<HHII", tag, typ, count, value)
out += struct.pack("<I", 0)
out += struct.pack("<HHH", 8, 8, 8)
out += data
with open("flat_field_640x480.tif", "wb") as f:
    f.write(out)
