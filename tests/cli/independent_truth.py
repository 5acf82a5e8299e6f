#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""lumivane-cli --method exact against ground truth made here, apart from the
C++ test support: its own sRGB formulas, scenes, fall-offs (one of them a
real lens's measured vignetting), lossless 24-bit BMP writer and reader, and
its own scoring.

For each case a scene in linear light is darkened by a fall-off and written
as the photograph; a grey card of code 208 through the same fall-off is the
mask. The corrected file should give the scene back. Scored ring by ring
(ten equal steps of the radius, corners at 1): log2 of the mean linear light
of the output over the truth's, the three channels averaged; the corner
shadows (outer fifth of the radius, channel values whose truth is below 0.03
linear); the RMS error in sRGB codes against the unrounded truth.

    independent_truth.py LUMIVANE_CLI [WORK_FOLDER]

Exit status 0 when every case is within the limits, 1 otherwise.
"""
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

WIDTH, HEIGHT = 300, 200
WORST_RING_EV = 0.02
CORNER_SHADOW_EV = 0.03
RMS_CODES = 1.0
SHADOW_TRUTH = 0.03


# --- IEC 61966-2-1, written out -------------------------------------------

def decode(code):
    """Linear light of an sRGB code 0..255."""
    c = code / 255.0
    if c <= 0.04045:
        return c / 12.92
    return ((c + 0.055) / 1.055) ** 2.4


def encode(linear):
    """The unrounded sRGB code (0..255) of linear light, held to 0..1."""
    x = min(max(linear, 0.0), 1.0)
    if x <= 0.0031308:
        return 255.0 * 12.92 * x
    return 255.0 * (1.055 * x ** (1.0 / 2.4) - 0.055)


DECODED = [decode(c) for c in range(256)]
CARD = DECODED[208]  # a grey card whose centre is exactly code 208


# --- geometry --------------------------------------------------------------

CX, CY = (WIDTH - 1) / 2.0, (HEIGHT - 1) / 2.0
CORNER = math.hypot(CX, CY)


def radius(x, y):
    """Distance from the centre, 1 at the corners."""
    return math.hypot(x - CX, y - CY) / CORNER


# --- fall-offs: (blue, green, red) relative illumination at radius r --------

def cos4_long(r):
    # The cos^4 law for a focal length of 2.5 half-diagonals (-0.43 EV).
    f = 1.0 / (1.0 + (r / 2.5) ** 2) ** 2
    return (f, f, f)


def gaussian(r):
    # A bell-shaped fall-off, exp(-1.2 r^2) (-1.73 EV in the corners).
    f = math.exp(-1.2 * r * r)
    return (f, f, f)


# Canon EF-S 18-55mm f/3.5-5.6 IS II at 18 mm, f/3.5, as measured for the
# lensfun project's database (data/db/slr-canon.xml, "pa" model k1 = -1.0561,
# k2 = 1.0344, k3 = -0.5153, radius 1 at the corners; the database is under
# CC BY-SA 3.0). Relative illumination 1 + k1 r^2 + k2 r^4 + k3 r^6 sampled
# here at r = 0, 0.1, ..., 1 and interpolated linearly (-1.11 EV at 1).
LENS_TABLE = [1.0 - 1.0561 * (i / 10) ** 2 + 1.0344 * (i / 10) ** 4 - 0.5153 * (i / 10) ** 6
              for i in range(11)]


def measured_lens(r):
    at = min(r, 1.0) * 10.0
    i = min(int(at), 9)
    f = LENS_TABLE[i] + (LENS_TABLE[i + 1] - LENS_TABLE[i]) * (at - i)
    return (f, f, f)


def tinted(r):
    # A lens or light that darkens blue most towards the corners.
    base = 1.0 - 0.55 * r * r
    return (base * (1.0 - 0.18 * r * r), base * (1.0 - 0.06 * r * r), base)


# --- scenes: linear (blue, green, red) per pixel, row by row ---------------

def tiles_scene(seed):
    """Tiles of tones from deep shadow to near white in a random order, each
    of its own tint, hard edges between them, fine stripes in every third."""
    rng = random.Random(seed)
    size = 20
    cols, rows = (WIDTH + size - 1) // size, (HEIGHT + size - 1) // size
    tones = []
    for i in range(cols * rows):
        level = 0.002 * (0.9 / 0.002) ** (i / (cols * rows - 1))  # log-spaced
        tint = [rng.uniform(0.75, 1.0) for _ in range(3)]
        tones.append([level * t for t in tint])
    rng.shuffle(tones)
    pixels = []
    for y in range(HEIGHT):
        for x in range(WIDTH):
            index = (y // size) * cols + x // size
            tone = tones[index]
            scale = 1.0
            if index % 3 == 0:
                scale = 1.25 if x % 2 else 0.75
            pixels.append(tuple(min(v * scale, 0.95) for v in tone))
    return pixels


def shadows_scene(seed):
    """Smooth light in the middle, deep shadows with grain towards the
    corners, a hard-edged bright bar and a dark bar across the middle."""
    rng = random.Random(seed)
    pixels = []
    for y in range(HEIGHT):
        for x in range(WIDTH):
            r = radius(x, y)
            if r > 0.7:
                base = 0.004 + 0.02 * rng.random()
            else:
                base = 0.05 + 0.6 * (0.5 + 0.5 * math.sin(x / 9.0) * math.cos(y / 13.0))
            if 90 <= y < 100:
                base = 0.85 if x < WIDTH // 2 else 0.01
            pixels.append((base * 0.9, base, base * 0.8))
    return pixels


# --- lossless 24-bit BMP -----------------------------------------------------

def write_bmp(path, codes):
    """codes: (blue, green, red) per pixel, top row first."""
    stride = (WIDTH * 3 + 3) & ~3
    pad = b"\0" * (stride - WIDTH * 3)
    size = 54 + stride * HEIGHT
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", size, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, stride * HEIGHT, 2835, 2835, 0, 0))
        for y in range(HEIGHT - 1, -1, -1):
            row = codes[y * WIDTH:(y + 1) * WIDTH]
            f.write(bytes(c for pixel in row for c in pixel) + pad)


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError(path + " is not a BMP")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if bits != 24 or width != WIDTH or abs(height) != HEIGHT:
        raise ValueError("%s: %d x %d at %d bits" % (path, width, height, bits))
    stride = (width * 3 + 3) & ~3
    codes = []
    for y in range(HEIGHT):
        row = HEIGHT - 1 - y if height > 0 else y
        start = offset + row * stride
        line = data[start:start + width * 3]
        codes.extend(tuple(line[3 * x:3 * x + 3]) for x in range(width))
    return codes


# --- the case and its score ----------------------------------------------------

def photograph_and_mask(scene, falloff):
    photo, mask = [], []
    for y in range(HEIGHT):
        for x in range(WIDTH):
            f = falloff(radius(x, y))
            truth = scene[y * WIDTH + x]
            photo.append(tuple(int(round(encode(truth[c] * f[c]))) for c in range(3)))
            mask.append(tuple(int(round(encode(CARD * f[c]))) for c in range(3)))
    return photo, mask


def score(scene, codes):
    rings = [[[0.0, 0.0] for _ in range(3)] for _ in range(10)]
    shadow = [0.0, 0.0]
    squares = 0.0
    for y in range(HEIGHT):
        for x in range(WIDTH):
            r = radius(x, y)
            ring = rings[min(int(r * 10), 9)]
            truth = scene[y * WIDTH + x]
            out = codes[y * WIDTH + x]
            for c in range(3):
                light = DECODED[out[c]]
                ring[c][0] += light
                ring[c][1] += truth[c]
                if r > 0.8 and truth[c] < SHADOW_TRUTH:
                    shadow[0] += light
                    shadow[1] += truth[c]
                squares += (out[c] - encode(truth[c])) ** 2
    errors = [sum(math.log2(s[0] / s[1]) for s in ring) / 3 for ring in rings if ring[0][1] > 0]
    worst = max(errors, key=abs)
    return worst, math.log2(shadow[0] / shadow[1]), math.sqrt(squares / (3 * WIDTH * HEIGHT))


def correct(cli, work, name, photo, mask):
    photo_path = os.path.join(work, name + ".bmp")
    mask_path = os.path.join(work, name + "_mask.bmp")
    write_bmp(photo_path, photo)
    write_bmp(mask_path, mask)
    out = os.path.join(work, name + "_out")
    command = [cli, "--quiet", "--settings", os.path.join(work, "defaults.ini"), "--mask", mask_path,
               "--hotspot", "160,120", "--brightness", "25", "--quality", "bmp", "--method", "exact",
               "--out", out, photo_path]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    if done.returncode != 0:
        raise RuntimeError("lumivane-cli failed (%d): %s" % (done.returncode, done.stdout.decode(errors="replace")))
    written = os.listdir(out)
    if len(written) != 1:
        raise RuntimeError("lumivane-cli wrote %r" % written)
    return read_bmp(os.path.join(out, written[0]))


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    cli = sys.argv[1]
    work = tempfile.mkdtemp(prefix="lumivane-truth-", dir=sys.argv[2] if len(sys.argv) == 3 else None)
    try:
        with open(os.path.join(work, "defaults.ini"), "wb") as f:
            f.write(b"25\r\n50\r\n90\r\nnone\r\n")
        scenes = {"tiles": tiles_scene(7), "shadows": shadows_scene(11)}
        cases = [("tiles", "cos4_long", cos4_long), ("tiles", "measured_lens", measured_lens),
                 ("shadows", "measured_lens", measured_lens), ("shadows", "gaussian", gaussian),
                 ("shadows", "tinted", tinted)]
        failures = 0
        for scene_name, falloff_name, falloff in cases:
            scene = scenes[scene_name]
            photo, mask = photograph_and_mask(scene, falloff)
            # The scorer must see the fall-off in the uncorrected photograph.
            before = score(scene, photo)
            corrected = correct(cli, work, scene_name + "_" + falloff_name, photo, mask)
            ring, shadow, rms = score(scene, corrected)
            good = (abs(before[0]) > 0.3 and abs(ring) <= WORST_RING_EV and abs(shadow) <= CORNER_SHADOW_EV
                    and rms <= RMS_CODES)
            failures += not good
            print("%-4s %-8s %-14s worst ring %+.4f EV, corner shadows %+.4f EV, RMS %.3f codes"
                  " (uncorrected: worst ring %+.3f EV)"
                  % ("ok" if good else "FAIL", scene_name, falloff_name, ring, shadow, rms, before[0]))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
