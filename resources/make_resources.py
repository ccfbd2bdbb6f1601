#!/usr/bin/env python3
"""Draws Kestrin's window picture and icon.

Writes resources/picture.jpg (330 x 100, baseline, YCbCr 4:2:0, through the
cjpeg tool of libjpeg-turbo) and resources/kestrin.ico (32 x 32 and 16 x 16,
32 bits with alpha). Standard library only; the output is the same on every
run, so the committed files can be checked by running this again:

    python3 resources/make_resources.py
"""

import math
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
WIDTH, HEIGHT = 330, 100
SUPER = 3  # samples per pixel in each direction (anti-aliasing)

# A 5 x 7 pixel font for the letters the banner uses.
FONT = {
    "K": ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    "E": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    "S": [".XXXX", "X....", "X....", ".XXX.", "....X", "....X", "XXXX."],
    "T": ["XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "I": [".XXX.", "..X..", "..X..", "..X..", "..X..", "..X..", ".XXX."],
    "N": ["X...X", "XX..X", "X.X.X", "X..XX", "X...X", "X...X", "X...X"],
    "G": [".XXXX", "X....", "X....", "X.XXX", "X...X", "X...X", ".XXXX"],
    "O": [".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "U": ["X...X", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "D": ["XXXX.", "X...X", "X...X", "X...X", "X...X", "X...X", "XXXX."],
    "A": [".XXX.", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    " ": ["....."] * 7,
}


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Text:
    """Block letters with their top-left corner at (x, y), `scale` px a cell."""

    def __init__(self, text, x, y, scale, gap):
        self.cells = set()
        cx = 0
        for ch in text:
            for row, line in enumerate(FONT[ch]):
                for col, c in enumerate(line):
                    if c == "X":
                        self.cells.add((cx + col, row))
            cx += 5 + gap
        self.x, self.y, self.scale = x, y, scale
        self.w = (cx - gap) * scale

    def hit(self, px, py):
        col = math.floor((px - self.x) / self.scale)
        row = math.floor((py - self.y) / self.scale)
        return (col, row) in self.cells


def rotate(px, py, cx, cy, angle):
    s, c = math.sin(angle), math.cos(angle)
    dx, dy = px - cx, py - cy
    return dx * c + dy * s, -dx * s + dy * c


def stars():
    seed = 20240607
    out = []
    for _ in range(40):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        x = seed % WIDTH
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        y = seed % 60
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x + 0.5, y + 0.5, 0.4 + (seed % 100) / 160))
    return out


STARS = stars()
TITLE = Text("KESTRIN", 0, 22, 4, 1)
TITLE.x = 180 - TITLE.w / 2
SUB = Text("GROUND STATION", 0, 58, 1.5, 1)
SUB.x = 180 - SUB.w / 2

DISH = (62.0, 60.0)  # centre of the dish's bowl
DISH_TILT = math.radians(35)  # the bowl looks up and to the right
SAT = (292.0, 30.0)


def ground_y(x):
    return 86 + 4 * math.sin(x / 37.0) + 2 * math.sin(x / 13.0 + 1)


def banner(px, py):
    """Colour of the banner at the point (px, py), in pixels."""
    # Night sky turning to dawn towards the horizon.
    t = py / HEIGHT
    colour = mix((8, 14, 48), (44, 96, 150), t * t)
    for sx, sy, b in STARS:
        d = math.hypot(px - sx, py - sy)
        if d < 0.9:
            colour = mix(colour, (255, 255, 235), b)

    # Radio waves from the satellite towards the dish.
    d = math.hypot(px - SAT[0], py - SAT[1])
    ang = math.atan2(py - SAT[1], px - SAT[0])
    if math.radians(120) < ang < math.radians(175) and 14 < d < 190:
        ring = (d - 14) % 18
        if ring < 1.6:
            fade = 1 - (d - 14) / 190
            colour = mix(colour, (255, 190, 80), 0.75 * fade)

    # The title and its subtitle.
    if TITLE.hit(px + 1.2, py - 1.2):
        colour = mix(colour, (0, 0, 0), 0.6)  # shadow
    if TITLE.hit(px, py):
        colour = mix((255, 214, 120), (240, 130, 40), (py - TITLE.y) / 28)
    if SUB.hit(px, py):
        colour = (200, 222, 245)

    # The satellite: a body, two solar wings and an antenna.
    rx, ry = rotate(px, py, SAT[0], SAT[1], math.radians(25))
    if abs(rx) < 5 and abs(ry) < 6:
        colour = (225, 200, 120) if ry < 0 else (190, 160, 90)
    elif 7 < abs(rx) < 27 and abs(ry) < 5:
        cell = ((abs(rx) - 7) % 5 < 0.7) or (abs(ry) < 0.45)
        colour = (150, 170, 200) if cell else (40, 70, 150)
    elif 5 <= abs(rx) <= 7 and abs(ry) < 0.8:
        colour = (170, 170, 170)
    elif abs(rx) < 0.7 and -12 < ry < -6:
        colour = (200, 200, 200)

    # The ground.
    if py > ground_y(px):
        colour = mix((28, 52, 38), (12, 24, 18), (py - 82) / 18)

    # The dish: pedestal, bowl, feed arm and feed.
    if 48 < px < 76 and py > 68 and abs(px - 62) < 5 + (py - 68) * 0.35 and py < 92:
        colour = (150, 156, 165)
    if abs(px - 62) < 2.2 and 60 < py <= 70:
        colour = (120, 126, 135)
    bx, by = rotate(px, py, DISH[0], DISH[1], DISH_TILT)
    # Bowl: a parabola opening along -by, its vertex at by = 6, its focus 10
    # pixels in front; lit on the side that faces the sky.
    if abs(bx) < 21:
        curve = 6 - bx * bx / 40
        if curve - 0.6 < by < curve + 2.2:
            shade = 0.45 + 0.55 * (by < curve + 0.8)
            colour = mix((110, 118, 132), (240, 244, 250), shade)
    if abs(bx) < 0.8 and -4 < by < 6:
        colour = (205, 210, 218)
    if abs(bx) < 2.3 and -7.5 < by < -3:
        colour = (240, 120, 40)
    return colour


def render(w, h, draw, scale=1.0):
    rows = []
    n = SUPER * SUPER
    for y in range(h):
        row = bytearray()
        for x in range(w):
            r = g = b = 0.0
            for j in range(SUPER):
                for i in range(SUPER):
                    c = draw((x + (i + 0.5) / SUPER) * scale, (y + (j + 0.5) / SUPER) * scale)
                    r += c[0]
                    g += c[1]
                    b += c[2]
            row += bytes((round(r / n), round(g / n), round(b / n)))
        rows.append(bytes(row))
    return rows


def write_picture():
    rows = render(WIDTH, HEIGHT, banner)
    ppm = b"P6\n%d %d\n255\n" % (WIDTH, HEIGHT) + b"".join(rows)
    jpeg = subprocess.run(
        ["cjpeg", "-quality", "90", "-sample", "2x2,1x1,1x1", "-dct", "int", "-baseline"],
        input=ppm, stdout=subprocess.PIPE, check=True).stdout
    with open(os.path.join(HERE, "picture.jpg"), "wb") as f:
        f.write(jpeg)
    return ppm


def icon_pixel(px, py):
    """The icon: a white dish under an orange feed, on a round blue field.
    Coordinates run from 0 to 32; returns (r, g, b, coverage)."""
    d = math.hypot(px - 16, py - 16)
    if d > 15.5:
        return (0, 0, 0, 0)
    colour = mix((30, 60, 140), (60, 120, 200), py / 32)
    bx, by = rotate(px, py, 14, 17, math.radians(35))
    if abs(bx) < 11:
        curve = 4 - bx * bx / 20
        if curve - 0.5 < by < curve + 2.5:
            colour = (240, 244, 250)
    if abs(bx) < 0.9 and -2 < by < 4:
        colour = (230, 230, 235)
    if abs(bx) < 2.2 and abs(by + 2.5) < 2:
        colour = (245, 130, 40)
    if abs(px - 14) < 2 + (py - 21) * 0.3 and 21 < py < 29:
        colour = (200, 205, 212)
    return colour + (1,)


def icon_image(size):
    """A 32-bit icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    scale = 32 / size
    pixels = []
    n = SUPER * SUPER
    for y in range(size):
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for j in range(SUPER):
                for i in range(SUPER):
                    c = icon_pixel((x + (i + 0.5) / SUPER) * scale, (y + (j + 0.5) / SUPER) * scale)
                    for k in range(3):
                        acc[k] += c[k] * c[3]
                    acc[3] += c[3]
            a = acc[3] / n
            if a == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append(tuple(round(acc[k] / acc[3]) for k in range(3)) + (round(a * 255),))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = pixels[y * size + x]
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(mask_stride)
        for x in range(size):
            if pixels[y * size + x][3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(xor) + bytes(mask)


def write_icon():
    images = [(32, icon_image(32)), (16, icon_image(16))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(os.path.join(HERE, "kestrin.ico"), "wb") as f:
        f.write(out)


def main():
    ppm = write_picture()
    if len(sys.argv) > 1:  # a path for the uncompressed drawing, to look at
        with open(sys.argv[1], "wb") as f:
            f.write(ppm)
    write_icon()


if __name__ == "__main__":
    main()
