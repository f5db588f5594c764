#!/usr/bin/env python3
"""Draws the ten kind glyph bitmaps (VEXBB*.bmp): 16 colours, up and disabled image side by side.

Every image is 18 x 18 pixels (VEXBBALL 18 x 19) on olive, the transparent colour. The disabled
image is the up image's dark pixels in grey with a white shadow one pixel down and right, which the
button recolours with its look style. Run from this folder to regenerate the files.
"""
import math
import struct

PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (128, 128, 128), (192, 192, 192), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, GRAY = range(8)
SILVER, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)


class Image:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[OLIVE] * w for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def dot(self, x, y, c, size):
        for dy in range(size):
            for dx in range(size):
                self.set(x + dx, y + dy, c)

    def line(self, x0, y0, x1, y1, c, size=2):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            self.dot(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps), c, size)

    def disc(self, cx, cy, r, c):
        for y in range(self.h):
            for x in range(self.w):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.set(x, y, c)

    def ring(self, cx, cy, r0, r1, c, skip=None):
        for y in range(self.h):
            for x in range(self.w):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                a = math.degrees(math.atan2(cy - (y + 0.5), x + 0.5 - cx)) % 360
                if r0 <= d <= r1 and not (skip and skip[0] <= a <= skip[1]):
                    self.set(x, y, c)

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def text(self, rows, x0, y0, c, scale=2):
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                if ch == '#':
                    self.dot(x0 + i * scale, y0 + j * scale, c, scale)


def check(img, dx=0, dy=0, c=GREEN, shade=LIME):
    img.line(2 + dx, 9 + dy, 6 + dx, 13 + dy, c, 3)
    img.line(6 + dx, 13 + dy, 14 + dx, 3 + dy, c, 3)
    img.line(3 + dx, 9 + dy, 6 + dx, 12 + dy, shade, 1)


def draw_ok(img):
    check(img)


def draw_cancel(img):
    img.line(3, 3, 13, 13, MAROON, 3)
    img.line(13, 3, 3, 13, MAROON, 3)
    img.line(3, 3, 13, 13, RED, 2)
    img.line(13, 3, 3, 13, RED, 2)


def draw_help(img):
    img.disc(9, 9, 8, NAVY)
    img.disc(9, 9, 7, BLUE)
    img.text([".###.", "#...#", "...#.", "..#..", ".....", "..#.."], 4, 3, WHITE, 2)


def draw_yes(img):
    img.disc(9, 9, 8, GREEN)
    img.line(4, 9, 7, 12, WHITE, 2)
    img.line(7, 12, 13, 5, WHITE, 2)


def draw_no(img):
    img.ring(9, 9, 5.5, 8, RED)
    img.line(4, 13, 13, 4, RED, 2)


def draw_close(img):
    img.rect(3, 1, 11, 16, MAROON)
    img.rect(4, 2, 10, 16, YELLOW)
    img.rect(8, 8, 9, 9, BLACK)
    img.line(9, 9, 15, 9, GREEN, 2)
    img.line(13, 6, 16, 9, GREEN, 1)
    img.line(13, 12, 16, 9, GREEN, 1)


def draw_abort(img):
    for y in range(18):
        for x in range(18):
            u, v = abs(x + 0.5 - 9), abs(y + 0.5 - 9)
            if max(u, v) <= 8 and u + v <= 11.5:
                img.set(x, y, MAROON if max(u, v) > 7 or u + v > 10.5 else RED)
    img.rect(4, 8, 13, 9, WHITE)


def draw_retry(img):
    img.ring(9, 9, 4.5, 7, TEAL, skip=(20, 80))
    img.line(12, 1, 15, 5, NAVY, 2)
    img.line(15, 5, 10, 6, NAVY, 2)


def draw_ignore(img):
    img.rect(8, 8, 9, 16, GRAY)
    img.ring(9, 12, 5, 7, BLUE, skip=(180, 360))
    img.line(14, 12, 16, 9, BLUE, 1)
    img.line(14, 12, 11, 10, BLUE, 1)


def draw_all(img):
    check(img, -1, -1)
    check(img, 2, 4, GREEN, LIME)


def disabled_of(up):
    img = Image(up.w, up.h)
    light = (OLIVE, WHITE, YELLOW, LIME, AQUA, SILVER)
    shape = [(x, y) for y in range(up.h) for x in range(up.w) if up.px[y][x] not in light]
    for x, y in shape:
        img.set(x + 1, y + 1, WHITE)
    for x, y in shape:
        img.set(x, y, GRAY)
    return img


def write_bmp(path, up, disabled):
    w, h = up.w * 2, up.h
    row_bytes = ((w + 1) // 2 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(h)):
        row = up.px[y] + disabled.px[y] + [0]
        data = bytearray(row[i] << 4 | row[i + 1] for i in range(0, w, 2))
        pixels += data + bytes(row_bytes - len(data))
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    with open(path, 'wb') as f:
        f.write(header + info + palette + pixels)


KINDS = [('OK', draw_ok), ('CANCEL', draw_cancel), ('HELP', draw_help), ('YES', draw_yes),
         ('NO', draw_no), ('CLOSE', draw_close), ('ABORT', draw_abort), ('RETRY', draw_retry),
         ('IGNORE', draw_ignore), ('ALL', draw_all)]

for name, draw in KINDS:
    up = Image(18, 19 if name == 'ALL' else 18)
    draw(up)
    up.set(0, up.h - 1, OLIVE)  # the transparent colour
    write_bmp(f'VEXBB{name}.bmp', up, disabled_of(up))
