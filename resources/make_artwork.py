#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the button pictures, glyphs and window icons of Lumivane as PNG files.

Run once by hand (python3 resources/make_artwork.py) and commit the PNGs; the
normal build only packs them into the Qt resource file. Only the standard
library is used, so the pixels come out the same on every machine.

Button pictures are opaque RGB images whose transparent parts carry a key
colour; the buttons take the colour of the bottom-left pixel as transparent,
so every picture keeps that corner free and uses the key nowhere else. Edges
are smoothed by supersampling and blended with the light grey of a button
face, the background the pictures are shown on; pixels covered by less than
a quarter stay transparent so the key never bleeds into the artwork.
The window icons have a real alpha channel instead; the desktop icon is the
same lens at every size a desktop asks for, plus an SVG, under packaging/icons.
"""

import math
import os
import struct
import zlib

MAGENTA = (255, 0, 255)
WHITE = (255, 255, 255)
FACE = (240, 240, 240)   # typical button face the smoothed edges blend into
SUB = 4                  # supersamples per pixel along each axis
OUT_DIR = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------- PNG writer

def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(name, width, height, pixels, alpha=False):
    """pixels: list of rows, each a list of (r, g, b) or (r, g, b, a)."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter type 0: none
        for px in row:
            raw.extend(px[:4] if alpha else px[:3])
    colour_type = 6 if alpha else 2
    ihdr = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    data = b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", ihdr) + \
        _chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + _chunk(b"IEND", b"")
    with open(os.path.join(OUT_DIR, name), "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- rasteriser
# A picture is a list of layers, painted in order. Each layer is a pair
# (inside(x, y) -> bool, colour(x, y) -> (r, g, b)); x and y are continuous
# coordinates with pixel (i, j) covering [i, i+1) x [j, j+1).

def render(width, height, layers):
    """Returns rows of ((r, g, b), coverage) after supersampling."""
    rows = []
    for j in range(height):
        row = []
        for i in range(width):
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = i + (sx + 0.5) / SUB
                    y = j + (sy + 0.5) / SUB
                    colour = None
                    for inside, paint in layers:
                        if inside(x, y):
                            colour = paint(x, y)
                    if colour is not None:
                        covered += 1
                        for k in range(3):
                            acc[k] += colour[k]
            n = SUB * SUB
            if covered:
                avg = tuple(a / covered for a in acc)
            else:
                avg = (0.0, 0.0, 0.0)
            row.append((avg, covered / n))
        rows.append(row)
    return rows


def keyed(rows, key, background=FACE):
    """Flattens rendered rows onto the key colour: faint pixels become key."""
    out = []
    for row in rows:
        line = []
        for colour, cover in row:
            if cover < 0.25:
                line.append(key)
                continue
            px = tuple(int(round(c * cover + b * (1.0 - cover))) for c, b in zip(colour, background))
            if px == key:  # keep the key colour out of the artwork
                px = (px[0], px[1] ^ 1, px[2])
            line.append(px)
        out.append(line)
    return out


def with_alpha(rows):
    out = []
    for row in rows:
        out.append([tuple(int(round(c)) for c in colour) + (int(round(cover * 255)),)
                    for colour, cover in row])
    return out


def solid(colour):
    return lambda x, y: colour


def shaded(light, dark, cx, cy, radius):
    """Lighter towards the top left, darker towards the bottom right."""
    def paint(x, y):
        t = ((x - cx) + (y - cy)) / (2.0 * radius) + 0.5
        t = min(1.0, max(0.0, t))
        return tuple(l + (d - l) * t for l, d in zip(light, dark))
    return paint


def check_keyed(name, pixels, key):
    height = len(pixels)
    assert pixels[height - 1][0] == key, name + ": bottom-left pixel must be the key"
    opaque = sum(1 for row in pixels for px in row if px != key)
    assert opaque > 0, name + ": picture is empty"


def save_keyed(name, width, height, layers, key=MAGENTA, background=FACE):
    pixels = keyed(render(width, height, layers), key, background)
    check_keyed(name, pixels, key)
    write_png(name, width, height, pixels)
    return pixels


# ---------------------------------------------------------------- shapes

def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_in, r_out):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        dx = max(x0 + r - x, 0.0, x - (x1 - r))
        dy = max(y0 + r - y, 0.0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for k in range(n):
            xa, ya = points[k]
            xb, yb = points[(k + 1) % n]
            if (ya > y) != (yb > y):
                xc = xa + (y - ya) * (xb - xa) / (yb - ya)
                if x < xc:
                    hit = not hit
        return hit
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def segment(xa, ya, xb, yb, half_width):
    """A thick line with square ends."""
    dx, dy = xb - xa, yb - ya
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length

    def inside(x, y):
        px, py = x - xa, y - ya
        along = px * ux + py * uy
        across = -px * uy + py * ux
        return 0.0 <= along <= length and abs(across) <= half_width
    return inside


def gear(cx, cy, r_tooth, r_root, r_hole, teeth, tooth_share):
    def inside(x, y):
        dx, dy = x - cx, y - cy
        r = math.hypot(dx, dy)
        if r < r_hole:
            return False
        phase = (math.atan2(dy, dx) * teeth / (2 * math.pi)) % 1.0
        on_tooth = abs(phase - 0.5) <= tooth_share / 2
        return r <= (r_tooth if on_tooth else r_root)
    return inside


# ---------------------------------------------------------------- pictures

def make_gear(name, outline, light, dark):
    # The axle hole is drawn, not cut out: the button's shape follows the
    # picture's opaque pixels, and a click on the gear's centre must press it.
    cx, cy = 10.5, 9.5
    outer = gear(cx, cy, 9.3, 7.0, 0.0, 8, 0.46)
    inner = gear(cx, cy, 8.2, 5.9, 3.2, 8, 0.34)
    save_keyed(name, 21, 19, [
        (outer, solid(outline)),
        (inner, shaded(light, dark, cx, cy, 8.0)),
        (disc(cx, cy, 2.2), solid(FACE)),
    ])


def curved_arrow(mirror):
    """An open circle whose upper end carries an arrowhead pointing left:
    the arrow turns counterclockwise; mirrored it turns clockwise."""
    cx, cy, r, half = 8.8, 9.0, 4.6, 1.3

    def arc(x, y):
        if mirror:
            x = 16.0 - x
        dx, dy = x - cx, cy - y          # y up for the angle
        if abs(math.hypot(dx, dy) - r) > half:
            return False
        angle = math.degrees(math.atan2(dy, dx))
        return -155.0 <= angle <= 90.0

    top = cy - r
    head_points = [(cx + 0.6, top - 3.5), (cx + 0.6, top + 3.5), (cx - 4.0, top)]
    if mirror:
        head_points = [(16.0 - px, py) for px, py in head_points]
    return union(arc, polygon(head_points))


def grow(shape, amount):
    """The shape widened by `amount` in every direction (sampled)."""
    offsets = [(amount * math.cos(a), amount * math.sin(a))
               for a in [k * math.pi / 8 for k in range(16)]] + [(0.0, 0.0)]
    return lambda x, y: any(shape(x + ox, y + oy) for ox, oy in offsets)


def make_rotate(name, mirror, outline, light, dark):
    # A pale round face behind the arrow: the middle of the turn is part of
    # the button, not a hole through it.
    body = curved_arrow(mirror)
    save_keyed(name, 16, 16, [
        (disc(8.0, 8.0, 7.4), solid(tuple((f + o) // 2 for f, o in zip(FACE, outline)))),
        (disc(8.0, 8.0, 6.6), solid(FACE)),
        (grow(body, 0.75), solid(outline)),
        (body, shaded(light, dark, 8.0, 8.0, 7.0)),
    ])


def make_step(name, pointing_left, frame, light, dark, arrow):
    square = rounded_rect(0.5, 0.5, 15.5, 15.5, 3.0)
    face = rounded_rect(1.5, 1.5, 14.5, 14.5, 2.2)
    # A filled triangle with a short stem behind it.
    tip, back = (3.6, 10.0) if pointing_left else (12.4, 6.0)
    head = polygon([(tip, 8.0), (back, 3.8), (back, 12.2)])
    stem_from, stem_to = (back, 12.4) if pointing_left else (3.6, back)
    stem = rect(min(stem_from, stem_to), 6.6, max(stem_from, stem_to), 9.4)
    save_keyed(name, 16, 16, [
        (square, solid(frame)),
        (face, shaded(light, dark, 8.0, 8.0, 7.0)),
        (union(head, stem), solid(arrow)),
    ])


def make_info(name, outline, light, dark, letter):
    body = lambda x, y: ((x - 8.0) / 7.3) ** 2 + ((y - 6.8) / 5.9) ** 2 <= 1.0
    tail = polygon([(3.6, 9.5), (7.4, 11.6), (2.6, 15.2)])
    bubble = union(body, tail)
    inner_body = lambda x, y: ((x - 8.0) / 6.3) ** 2 + ((y - 6.8) / 4.9) ** 2 <= 1.0
    inner_tail = polygon([(4.4, 10.0), (6.6, 11.2), (3.8, 13.4)])
    inner = union(inner_body, inner_tail)
    dot = disc(8.0, 3.9, 1.15)
    bar = union(rect(7.0, 5.8, 9.0, 10.2), rect(6.2, 9.2, 9.8, 10.2), rect(6.4, 5.8, 9.0, 6.7))
    save_keyed(name, 16, 16, [
        (bubble, solid(outline)),
        (inner, shaded(light, dark, 8.0, 6.8, 6.0)),
        (union(dot, bar), solid(letter)),
    ])


def make_centre_dot():
    # White is this glyph's background and its transparent colour.
    save_keyed("centre_dot.png", 20, 21, [(disc(10.0, 10.5, 3.2), solid((0, 0, 0)))],
               key=WHITE, background=WHITE)


def cross_shape(ox, half, inset=0.0):
    lo, hi = 4.0 + inset, 14.0 - inset
    a = segment(ox + lo, lo, ox + hi, hi, half)
    b = segment(ox + hi, lo, ox + lo, hi, half)
    return union(a, b)


def make_free_mask_glyph():
    # Two 18 x 18 glyphs side by side: the red cross and, for the disabled
    # button, the same cross drawn as a one-pixel grey outline.
    red_outer = cross_shape(0.0, 2.6)
    red_inner = cross_shape(0.0, 1.7)
    pixels = keyed(render(36, 18, [
        (red_outer, solid((128, 0, 0))),
        (red_inner, shaded((255, 90, 80), (200, 10, 10), 9.0, 9.0, 7.0)),
    ]), MAGENTA)
    covered = [[px != MAGENTA for px in row[:18]] for row in pixels]
    for y in range(18):
        for x in range(18):
            if not covered[y][x]:
                continue
            edge = any(not (0 <= x + dx < 18 and 0 <= y + dy < 18 and covered[y + dy][x + dx])
                       for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            if edge:
                pixels[y][18 + x] = (128, 128, 128)
    check_keyed("free_mask_glyph.png", pixels, MAGENTA)
    write_png("free_mask_glyph.png", 36, 18, pixels)


# The lens icon, in units of a 16-pixel icon.
ICON_RIM_OUT, ICON_RIM_IN = 7.6, 6.0
ICON_RIM_LIGHT, ICON_RIM_DARK = (120, 120, 130), (30, 30, 40)
ICON_GLASS_CENTRE, ICON_GLASS_EDGE = (255, 236, 150), (25, 45, 110)
ICON_HIGHLIGHT_SHIFT, ICON_HIGHLIGHT_R = 2.4, 1.2


def draw_icon(size):
    """A lens whose glass darkens towards its rim: vignetting at a glance."""
    s = size / 16.0
    c = size / 2.0
    rim_out, rim_in = ICON_RIM_OUT * s, ICON_RIM_IN * s
    glass = disc(c, c, rim_in)

    def glass_colour(x, y):
        t = min(1.0, math.hypot(x - c, y - c) / rim_in)
        t = t * t
        return tuple(a + (b - a) * t for a, b in zip(ICON_GLASS_CENTRE, ICON_GLASS_EDGE))

    highlight = disc(c - ICON_HIGHLIGHT_SHIFT * s, c - ICON_HIGHLIGHT_SHIFT * s, ICON_HIGHLIGHT_R * s)
    rows = render(size, size, [
        (disc(c, c, rim_out), shaded(ICON_RIM_LIGHT, ICON_RIM_DARK, c, c, rim_out)),
        (glass, glass_colour),
        (highlight, solid((255, 255, 255))),
    ])
    return with_alpha(rows)


def make_icon(size):
    write_png("icon%d.png" % size, size, size, draw_icon(size), alpha=True)


# The desktop icon: the window icon's design at every size a desktop asks for,
# laid out as in the hicolor icon theme so the install copies the folder.
APP_ID = "io.github.lumivane.Lumivane"
DESKTOP_ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
DESKTOP_ICON_DIR = os.path.join(os.path.dirname(OUT_DIR), "packaging", "icons", "hicolor")


def make_desktop_icon(size):
    folder = os.path.join(DESKTOP_ICON_DIR, "%dx%d" % (size, size), "apps")
    os.makedirs(folder, exist_ok=True)
    write_png(os.path.join(folder, APP_ID + ".png"), size, size, draw_icon(size), alpha=True)


def _hex(colour):
    return "#%02x%02x%02x" % tuple(int(round(v)) for v in colour)


def make_desktop_icon_svg():
    """The same lens as a vector drawing on a 16-unit grid."""
    c = 8.0
    half = ICON_RIM_OUT / 2.0
    stops = []
    for k in range(11):
        t = k / 10.0
        colour = tuple(a + (b - a) * t * t for a, b in zip(ICON_GLASS_CENTRE, ICON_GLASS_EDGE))
        stops.append('      <stop offset="%.1f" stop-color="%s"/>' % (t, _hex(colour)))
    hx = c - ICON_HIGHLIGHT_SHIFT
    text = "\n".join([
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 16 16">',
        '  <defs>',
        '    <linearGradient id="rim" gradientUnits="userSpaceOnUse" x1="%g" y1="%g" x2="%g" y2="%g">'
        % (c - half, c - half, c + half, c + half),
        '      <stop offset="0" stop-color="%s"/>' % _hex(ICON_RIM_LIGHT),
        '      <stop offset="1" stop-color="%s"/>' % _hex(ICON_RIM_DARK),
        '    </linearGradient>',
        '    <radialGradient id="glass" gradientUnits="userSpaceOnUse" cx="%g" cy="%g" r="%g">'
        % (c, c, ICON_RIM_IN),
    ] + stops + [
        '    </radialGradient>',
        '  </defs>',
        '  <circle cx="%g" cy="%g" r="%g" fill="url(#rim)"/>' % (c, c, ICON_RIM_OUT),
        '  <circle cx="%g" cy="%g" r="%g" fill="url(#glass)"/>' % (c, c, ICON_RIM_IN),
        '  <circle cx="%g" cy="%g" r="%g" fill="#ffffff"/>' % (hx, hx, ICON_HIGHLIGHT_R),
        '</svg>',
        '',
    ])
    folder = os.path.join(DESKTOP_ICON_DIR, "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, APP_ID + ".svg"), "w", encoding="utf-8") as f:
        f.write(text)


def main():
    make_gear("gear_grey.png", (70, 70, 70), (200, 200, 200), (120, 120, 120))
    make_gear("gear_gold.png", (120, 80, 0), (255, 220, 90), (205, 145, 10))
    grey = ((80, 80, 80), (175, 175, 175), (110, 110, 110))
    green = ((20, 90, 20), (120, 215, 100), (30, 150, 30))
    make_rotate("rotate_left_grey.png", False, *grey)
    make_rotate("rotate_left_green.png", False, *green)
    make_rotate("rotate_right_grey.png", True, *grey)
    make_rotate("rotate_right_green.png", True, *green)
    for left, stem in ((True, "previous"), (False, "next")):
        make_step(stem + "_grey.png", left, (90, 90, 90), (185, 185, 185), (125, 125, 125), WHITE)
        make_step(stem + "_green.png", left, (20, 100, 20), (120, 210, 100), (40, 150, 40), WHITE)
        make_step(stem + "_disabled.png", left, (185, 185, 185), (225, 225, 225), (210, 210, 210),
                  (245, 245, 245))
    make_info("info_grey.png", (85, 85, 85), (185, 185, 185), (130, 130, 130), WHITE)
    make_info("info_blue.png", (15, 45, 140), (110, 160, 245), (40, 90, 210), WHITE)
    make_centre_dot()
    make_free_mask_glyph()
    for size in (16, 32, 48):
        make_icon(size)
    for size in DESKTOP_ICON_SIZES:
        make_desktop_icon(size)
    make_desktop_icon_svg()


if __name__ == "__main__":
    main()
