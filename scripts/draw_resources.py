#!/usr/bin/env python3
"""Draws the programs' icons and logo as XPM files (text, 16 colours or fewer),
and the icons again as PNG files in the sizes a desktop asks for.

Run from the repository root; the XPM and PNG files it writes are committed.
"""
import struct
import zlib

FONT = {  # 5x7 capitals
    'V': ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
}


class Canvas:
    def __init__(self, w, h, fill=' '):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.set(x, y0, c)
            self.set(x, y1, c)
        for y in range(y0, y1 + 1):
            self.set(x0, y, c)
            self.set(x1, y, c)

    def arc(self, cx, cy, r, c, quadrant):
        import math
        for i in range(0, 90 * 4):
            a = math.radians(i / 4.0)
            dx, dy = round(r * math.cos(a)), round(r * math.sin(a))
            sx, sy = quadrant
            self.set(cx + sx * dx, cy + sy * dy, c)

    def text(self, x, y, s, c, scale=1):
        for ch in s:
            glyph = FONT[ch]
            for gy, row in enumerate(glyph):
                for gx, bit in enumerate(row):
                    if bit == '1':
                        self.rect(x + gx * scale, y + gy * scale, x + gx * scale + scale - 1, y + gy * scale + scale - 1, c)
            x += 6 * scale

    def xpm(self, name, palette):
        used = sorted({c for row in self.px for c in row})
        lines = [f'/* XPM */', f'static const char* const {name}[] = {{',
                 f'"{self.w} {self.h} {len(used)} 1",']
        for c in used:
            lines.append(f'"{c} c {palette[c]}",')
        for i, row in enumerate(self.px):
            lines.append('"' + ''.join(row) + '"' + (',' if i + 1 < self.h else ''))
        lines.append('};')
        return '\n'.join(lines) + '\n'


    def png(self, palette):
        """The canvas as an 8-bit RGBA PNG; 'None' is transparent."""
        def rgba(c):
            value = palette[c]
            return b'\0\0\0\0' if value == 'None' else bytes.fromhex(value[1:]) + b'\xff'
        raw = b''.join(b'\0' + b''.join(rgba(c) for c in row) for row in self.px)

        def chunk(kind, data):
            return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
        return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', self.w, self.h, 8, 6, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


ICON_SIZES = (16, 32, 48, 64, 128)

PALETTE = {
    ' ': 'None', 'k': '#000000', 'w': '#FFFFFF', 'g': '#008000', 'G': '#00C000', 'b': '#000080',
    'B': '#0000FF', 'y': '#C0C000', 'Y': '#FFFF00', 'r': '#800000', 'R': '#FF0000', 's': '#C0C0C0',
    'd': '#808080', 'c': '#00FFFF', 'C': '#008080',
}


def loader_icon(size):
    c = Canvas(size, size)
    s = size / 32.0

    def S(v):
        return int(round(v * s))
    # receiver board with a chip, pins and a gold antenna pad
    c.rect(S(3), S(14), S(28), S(29), 'g')
    c.frame(S(3), S(14), S(28), S(29), 'k')
    c.rect(S(8), S(18), S(19), S(26), 'k')
    c.rect(S(9), S(19), S(18), S(25), 'd')
    for x in range(S(9), S(19), max(1, S(2))):
        c.set(x, S(17), 'y')
        c.set(x, S(27), 'y')
    c.rect(S(22), S(18), S(26), S(22), 'Y')
    # signal arcs from the antenna
    for r in (4, 7, 10):
        c.arc(S(24), S(18), S(r), 'B', (1, -1))
    # download arrow
    c.rect(S(5), S(2), S(8), S(8), 'R')
    for i in range(S(4)):
        c.rect(S(6.5) - i, S(9) + i, S(6.5) + i, S(9) + i, 'R')
    return c


def logo():
    c = Canvas(85, 23, 'w')
    c.text(3, 5, "VELMOR", 'b', 2)
    # a satellite sending to the name
    c.rect(80, 2, 82, 4, 'R')
    c.set(79, 3, 'B')
    c.set(83, 3, 'B')
    for r in (3, 6, 9):
        c.arc(81, 3, r, 'B', (-1, 1))
    return c


def formatter_icon(size):
    c = Canvas(size, size)
    s = size / 32.0

    def S(v):
        return int(round(v * s))
    # a flash card with its contacts and a partition bar
    c.rect(S(6), S(3), S(25), S(29), 'b')
    c.frame(S(6), S(3), S(25), S(29), 'k')
    for x in range(S(9), S(24), max(2, S(3))):
        c.rect(x, S(4), x + max(0, S(1)), S(8), 'y')
    c.rect(S(9), S(14), S(22), S(24), 'w')
    c.rect(S(10), S(16), S(21), S(18), 'G')
    c.rect(S(10), S(20), S(16), S(22), 'G')
    c.rect(S(17), S(20), S(21), S(22), 's')
    return c


if __name__ == '__main__':
    with open('loader/resources/velmor_icon.xpm', 'w') as f:
        f.write(loader_icon(32).xpm('velmor_icon_32', PALETTE))
        f.write(loader_icon(16).xpm('velmor_icon_16', PALETTE))
    with open('loader/resources/velmor_logo.xpm', 'w') as f:
        f.write(logo().xpm('velmor_logo', PALETTE))
    with open('formatter/resources/quillon_icon.xpm', 'w') as f:
        f.write(formatter_icon(32).xpm('quillon_icon_32', PALETTE))
        f.write(formatter_icon(16).xpm('quillon_icon_16', PALETTE))
    for size in ICON_SIZES:
        for name, draw in (('velmor', loader_icon), ('quillon', formatter_icon)):
            with open(f'packaging/icons/{name}-{size}.png', 'wb') as f:
                f.write(draw(size).png(PALETTE))
