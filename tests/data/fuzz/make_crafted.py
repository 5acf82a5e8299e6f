#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the hand-made hostile inputs kept beside the fuzzing findings.

Each file targets one way a maker note, a directory or an IPTC block can lie
about its own size. Run from this folder: python3 make_crafted.py
"""
import struct


def ifd(entries, order, next_offset=0):
    """A TIFF directory: entries are (tag, type, count, 4-byte value field)."""
    out = struct.pack(order + "H", len(entries))
    for tag, typ, count, value in entries:
        out += struct.pack(order + "HHI", tag, typ, count) + value
    return out + struct.pack(order + "I", next_offset)


def exif_jpeg(make, note, order="<", model=b"X\0", version=b"0220"):
    """A JPEG whose APP1 holds IFD0 (Make, Model, ExifOffset) and an EXIF
    directory (ExifVersion, MakerNote). Offsets count from the TIFF header."""
    bom = b"II" if order == "<" else b"MM"
    make_z = make + b"\0"
    # Layout: header 8, IFD0 at 8 (3 entries: 2 + 36 + 4 = 42), strings, EXIF IFD, note.
    ifd0_at = 8
    make_at = ifd0_at + 42
    model_at = make_at + len(make_z)
    exif_at = model_at + len(model)
    note_at = exif_at + 2 + 24 + 4
    ifd0 = ifd([(0x010F, 2, len(make_z), struct.pack(order + "I", make_at)),
                (0x0110, 2, len(model), struct.pack(order + "I", model_at)),
                (0x8769, 4, 1, struct.pack(order + "I", exif_at))], order)
    exif_ifd = ifd([(0x9000, 7, 4, version),
                    (0x927C, 7, len(note), struct.pack(order + "I", note_at))], order)
    tiff = bom + struct.pack(order + "HI", 0x2A, ifd0_at) + ifd0 + make_z + model + exif_ifd + note
    app1 = b"Exif\0\0" + tiff
    return (b"\xFF\xD8\xFF\xE1" + struct.pack(">H", len(app1) + 2) + app1 + b"\xFF\xD9")


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# A Canon note announcing 65535 entries in 20 bytes.
write("jpeg/canon_note_entry_count_ffff.jpg",
      exif_jpeg(b"Canon", b"\xFF\xFF" + b"\x01\x00\x03\x00\x01\x00\x00\x00\x02\x00\x00\x00" + b"\0" * 6))
# A Canon note whose one entry claims 8 x 0x20000001 bytes (wraps to 8 in 32 bits).
write("jpeg/canon_note_huge_count.jpg",
      exif_jpeg(b"Canon", struct.pack("<H", 1) + struct.pack("<HHII", 0x0001, 12, 0x20000001, 16) + b"\0" * 12))
# A Nikon note of the third kind whose lens entry points 16 bytes before the note.
nikon = b"Nikon\0\x02\x10\0\0II*\0\x08\0\0\0" + struct.pack("<H", 1) \
    + struct.pack("<HHII", 0x0084, 5, 4, 0xFFFFFFF0) + b"\0" * 5
write("jpeg/nikon_note_offset_before_start.jpg", exif_jpeg(b"NIKON CORPORATION", nikon))
# A Fujifilm note too short to hold its directory, in a big-endian block.
write("jpeg/fuji_note_truncated.jpg", exif_jpeg(b"FUJIFILM", b"FUJIFILM\x0c\0", order=">"))
# Canon camera settings whose value list is the whole note itself, twice over.
canon_settings = struct.pack("<H", 2) + struct.pack("<HHII", 0x0001, 3, 200, 0) \
    + struct.pack("<HHII", 0x000F, 3, 3, 0) + b"\0" * 8
write("jpeg/canon_settings_past_note.jpg", exif_jpeg(b"Canon", canon_settings))
# An APP13 section whose last record claims more data than is there, and a
# record header cut after its dataset number.
app13 = b"Photoshop 3.0\x008BIM\x04\x04\0\0\0\0\0\0" + b"\x1c\x02\x19\x00\x03sun" \
    + b"\x1c\x02\x78\xff\xffcut" + b"\x1c\x02"
write("jpeg/app13_record_past_end.jpg",
      b"\xFF\xD8\xFF\xED" + struct.pack(">H", len(app13) + 2) + app13 + b"\xFF\xD9")

# A big-endian TIFF of a D-series Nikon without ExifVersion (the NEF rule),
# its maker note pointing past the 256000-byte head.
order = ">"
make_z, model_z = b"NIKON\0", b"NIKON D1X\0"
note = b"Nikon\0\x02\x10\0\0MM\0*\0\0\0\x08" + struct.pack(">H", 1) \
    + struct.pack(">HHII", 0x0084, 5, 4, 0x7FFFFFF0) + b"\0" * 5
make_at = 8 + 2 + 36 + 4
model_at = make_at + len(make_z)
note_at = model_at + len(model_z)
ifd0 = ifd([(0x010F, 2, len(make_z), struct.pack(">I", make_at)),
            (0x0110, 2, len(model_z), struct.pack(">I", model_at)),
            (0x927C, 7, len(note), struct.pack(">I", note_at))], order)
write("tiff/nef_nikon_note_offset_past_head.tif",
      b"MM\0*" + struct.pack(">I", 8) + ifd0 + make_z + model_z + note)
# A little-endian TIFF whose EXIF directory points back at IFD0.
ifd0 = ifd([(0x010F, 2, 4, b"SEIK"),
            (0x8769, 4, 1, struct.pack("<I", 8))], "<")
write("tiff/exif_offset_loop.tif", b"II*\0" + struct.pack("<I", 8) + ifd0)

# IPTC sections: a lone marker pair; many keywords full of quotes, commas and
# blanks; a record whose length runs past the end.
write("iptc/lone_marker.bin", b"\x1c\x02")
keywords = b"".join(b"\x1c\x02\x19" + struct.pack(">H", len(k)) + k
                    for k in [b'"a, b"', b'say ""hi""', b' , ,', b'"', b'x' * 300, b'A', b'a'] * 20)
write("iptc/keywords_quotes_commas.bin", b"Photoshop 3.0\0" + keywords)
write("iptc/record_past_end.bin", b"Photoshop 3.0\0\x1c\x02\x78\xff\xffshort")
