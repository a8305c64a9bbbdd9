#!/usr/bin/env python3
"""Draws the program's bitmaps and icons into res/images.

Standard library only. Every picture is designed on a 16 x 16 unit grid
(pixel i covers [i, i+1)) from signed-distance shapes, rendered with 6 x 6
supersampling and composited with straight (non-premultiplied) alpha.
Every size is drawn from the same design on its own pixel grid (not
resampled from another size), so the pictures stay sharp at 125 % (20 px),
150 % (24 px) and 200 % (32 px) display scale.

Outputs (all 32-bit with alpha):
  commands.bmp          112 x 16 strip: help, exit, settings, disconnect,
                        log file, message, refresh
  commands_N.bmp        the same strip N px high (N = 20, 24, 32)
  sessions_designed.bmp 16 x 16 monitor; sessions_designed_N.bmp at N px
  frame_blue.ico        tray frame 0 (16, 20, 24, 32)
  frame_red.ico         tray frame 1 (16, 20, 24, 32)
  corvane.ico           program icon (16, 20, 24, 32, 48)

The bitmaps are bottom-up BGRA DIBs with a BITMAPV5HEADER (BI_BITFIELDS,
alpha mask 0xFF000000). Colour channels are zero wherever alpha is zero;
the image list premultiplies at draw time, so colours stay unpremultiplied.

Usage: make-images.py [output-directory]   (default: res/images)
"""

import math
import pathlib
import struct
import sys

UNITS = 16.0  # design grid


# --------------------------------------------------------------------------
# Signed-distance shapes (negative inside), in design units.

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def box(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2, (y1 - y0) / 2

    def f(x, y):
        qx = abs(x - cx) - hx + r
        qy = abs(y - cy) - hy + r
        return (math.hypot(max(qx, 0.0), max(qy, 0.0))
                + min(max(qx, qy), 0.0) - r)
    return f


def segment(ax, ay, bx, by, width):
    ex, ey = bx - ax, by - ay
    ll = ex * ex + ey * ey

    def f(x, y):
        wx, wy = x - ax, y - ay
        t = min(max((wx * ex + wy * ey) / ll, 0.0), 1.0)
        return math.hypot(wx - ex * t, wy - ey * t) - width / 2
    return f


def polygon(pts):
    n = len(pts)

    def f(x, y):
        d = (x - pts[0][0]) ** 2 + (y - pts[0][1]) ** 2
        s = 1.0
        j = n - 1
        for i in range(n):
            vx, vy = pts[i]
            ex, ey = pts[j][0] - vx, pts[j][1] - vy
            wx, wy = x - vx, y - vy
            t = min(max((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0), 1.0)
            bx, by = wx - ex * t, wy - ey * t
            d = min(d, bx * bx + by * by)
            c1 = y >= vy
            c2 = y < pts[j][1]
            c3 = ex * wy > ey * wx
            if (c1 and c2 and c3) or (not c1 and not c2 and not c3):
                s = -s
            j = i
        return s * math.sqrt(d)
    return f


def arc(cx, cy, radius, width, a0, a1):
    """Stroke along a circle from angle a0 to a1 (degrees, clockwise on
    screen because y grows downwards), with round ends."""
    r0, r1 = math.radians(a0), math.radians(a1)
    p0 = (cx + radius * math.cos(r0), cy + radius * math.sin(r0))
    p1 = (cx + radius * math.cos(r1), cy + radius * math.sin(r1))
    span = (r1 - r0) % (2 * math.pi)

    def f(x, y):
        a = (math.atan2(y - cy, x - cx) - r0) % (2 * math.pi)
        if a <= span:
            return abs(math.hypot(x - cx, y - cy) - radius) - width / 2
        return min(math.hypot(x - p0[0], y - p0[1]),
                   math.hypot(x - p1[0], y - p1[1])) - width / 2
    return f


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def intersect(a, b):
    return lambda x, y: max(a(x, y), b(x, y))


def grow(f, r):
    return lambda x, y: f(x, y) - r


def cells(rows, x0, y0):
    """Hand-drawn pixels: '#' marks a filled unit cell."""
    filled = {(x0 + i, y0 + j)
              for j, row in enumerate(rows)
              for i, ch in enumerate(row) if ch == '#'}

    def f(x, y):
        return -0.5 if (math.floor(x), math.floor(y)) in filled else 0.5
    return f


# --------------------------------------------------------------------------
# Paints: a colour (r, g, b[, a]) or a function of the design position.

def linear(x0, y0, c0, x1, y1, c1):
    dx, dy = x1 - x0, y1 - y0
    ll = dx * dx + dy * dy

    def p(x, y):
        t = min(max(((x - x0) * dx + (y - y0) * dy) / ll, 0.0), 1.0)
        return tuple(a + (b - a) * t for a, b in zip(c0, c1))
    return p


def radial(cx, cy, r, c0, c1):
    def p(x, y):
        t = min(math.hypot(x - cx, y - cy) / r, 1.0)
        return tuple(a + (b - a) * t for a, b in zip(c0, c1))
    return p


# --------------------------------------------------------------------------

class Canvas:
    SUB = 6

    def __init__(self, size):
        self.size = size
        self.scale = size / UNITS
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]

    def draw(self, shape, paint, opacity=1.0):
        n = self.SUB
        k = self.scale
        offs = [(i + 0.5) / n for i in range(n)]
        for py in range(self.size):
            row = self.px[py]
            for px in range(self.size):
                hit = 0
                for oy in offs:
                    y = (py + oy) / k
                    for ox in offs:
                        if shape((px + ox) / k, y) < 0:
                            hit += 1
                if not hit:
                    continue
                cx, cy = (px + 0.5) / k, (py + 0.5) / k
                col = paint(cx, cy) if callable(paint) else paint
                sa = opacity * hit / (n * n) * (col[3] / 255 if len(col) > 3 else 1.0)
                dr, dg, db, da = row[px]
                oa = sa + da * (1 - sa)
                if oa <= 0:
                    continue
                mix = [(col[c] * sa + d * da * (1 - sa)) / oa
                       for c, d in enumerate((dr, dg, db))]
                row[px] = (mix[0], mix[1], mix[2], oa)

    def bgra_rows(self):
        """Rows top to bottom as lists of (b, g, r, a) bytes."""
        out = []
        for row in self.px:
            line = []
            for r, g, b, a in row:
                ai = int(round(a * 255))
                if ai == 0:
                    line.append((0, 0, 0, 0))
                else:
                    line.append(tuple(min(255, max(0, int(round(v))))
                                      for v in (b, g, r)) + (ai,))
            out.append(line)
        return out


def hstrip(canvases):
    """Joins equally tall canvases side by side into rows of BGRA pixels."""
    parts = [c.bgra_rows() for c in canvases]
    return [sum((p[y] for p in parts), []) for y in range(len(parts[0]))]


# --------------------------------------------------------------------------
# File writers.

def bmp_bytes(rows):
    """32-bit bottom-up DIB with a BITMAPV5HEADER and an alpha mask."""
    height, width = len(rows), len(rows[0])
    pixels = bytearray()
    for row in reversed(rows):
        for p in row:
            pixels += bytes(p)
    header = struct.pack(
        '<IiiHHIIiiII' 'IIII' 'I' '36s' 'III' 'IIII',
        124, width, height, 1, 32, 3,          # BI_BITFIELDS
        len(pixels), 3780, 3780, 0, 0,         # 96 dpi
        0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000,
        0x73524742,                            # LCS_sRGB
        b'\0' * 36, 0, 0, 0,
        4, 0, 0, 0)                            # LCS_GM_IMAGES
    offset = 14 + len(header)
    filehdr = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return filehdr + header + bytes(pixels)


def ico_bytes(canvases):
    """Icon file with one 32-bit DIB image per canvas."""
    images = []
    for c in canvases:
        rows = c.bgra_rows()
        size = c.size
        xor = bytearray()
        for row in reversed(rows):
            for p in row:
                xor += bytes(p)
        stride = (size + 31) // 32 * 4
        mask = bytearray()
        for row in reversed(rows):
            bits = bytearray(stride)
            for x, p in enumerate(row):
                if p[3] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0,
                             len(xor) + len(mask), 0, 0, 0, 0)
        images.append((size, header + bytes(xor) + bytes(mask)))
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32,
                           len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


# --------------------------------------------------------------------------
# Pictures.

def paint_cells(c, rows, x0, y0, palette):
    """Hand-drawn pixels: each character of palette names one paint."""
    for ch, paint in palette.items():
        c.draw(cells([''.join('#' if k == ch else '.' for k in row) for row in rows],
                     x0, y0), paint)


def sheet(c, x0, y0, x1, y1, ear=4):
    """A white sheet of paper with a folded top-right corner."""
    rows = []
    for y in range(y0, y1):
        row = ''
        for x in range(x0, x1):
            ex, ey = x - (x1 - ear), y - y0
            if ex >= 0 and ey < ear:
                row += '.' if ex > ey else 'o' if ex == ey or ex == 0 or ey == ear - 1 else 'f'
            elif x in (x0, x1 - 1) or y in (y0, y1 - 1):
                row += 'o'
            else:
                row += 'w'
        rows.append(row)
    paint_cells(c, rows, x0, y0, {
        'o': (110, 116, 128),
        'w': linear(x0, y0, (255, 255, 255), x1, y1, (222, 228, 238)),
        'f': (214, 220, 230),
    })


def help_icon(c):
    c.draw(circle(8, 8, 7.6), (168, 110, 0))
    c.draw(circle(8, 8, 6.6), radial(5.5, 4.5, 10, (255, 246, 150), (242, 178, 0)))
    mark = cells([
        '.####.',
        '##..##',
        '....##',
        '...##.',
        '..##..',
        '..##..',
        '......',
        '..##..',
        '..##..',
    ], 5, 4)
    c.draw(mark, (70, 44, 0))


def exit_icon(c):
    # Door in its frame.
    c.draw(box(1, 0, 11, 16), (92, 58, 30))
    c.draw(box(2, 1, 10, 16), linear(2, 1, (214, 150, 84), 10, 16, (160, 98, 44)))
    c.draw(box(3, 8, 4, 10), (255, 214, 64))
    # Arrow leaving through the door.
    arrow = union(box(6, 7, 11, 10), polygon([(10, 3.5), (15, 8.5), (10, 13.5)]))
    c.draw(grow(arrow, 1), (20, 96, 20))
    c.draw(arrow, linear(0, 4, (120, 220, 90), 0, 13, (40, 160, 40)))


def wrench_icon(c):
    ux, uy = math.sqrt(0.5), -math.sqrt(0.5)   # along the handle, towards the head
    hx, hy = 10.8, 5.2                        # centre of the head
    head = circle(hx, hy, 4.4)
    handle = segment(3.2, 12.8, hx, hy, 4.0)
    jaw = segment(hx + ux * 0.6, hy + uy * 0.6, hx + ux * 6, hy + uy * 6, 3.0)
    shape = subtract(union(head, handle), jaw)
    c.draw(shape, (64, 70, 82))
    c.draw(grow(shape, -1), linear(5, 5, (238, 242, 248), 11, 11, (140, 148, 164)))


def cross_icon(c):
    arms = union(segment(4, 4, 12, 12, 3.4), segment(12, 4, 4, 12, 3.4))
    c.draw(grow(arms, 1), (140, 10, 10))
    c.draw(arms, linear(0, 2, (255, 110, 96), 0, 14, (206, 24, 20)))


def folder_icon(c):
    back = union(box(1, 2, 7, 5, 0.5), box(1, 3, 14, 15, 0.5))
    c.draw(back, (150, 104, 16))
    c.draw(grow(back, -1), linear(0, 2, (236, 190, 80), 0, 14, (212, 156, 40)))
    front = polygon([(4, 7), (16, 7), (13, 15), (1, 15)])
    c.draw(front, (150, 104, 16))
    c.draw(grow(front, -1), linear(0, 7, (255, 236, 150), 0, 14, (246, 200, 80)))


def message_icon(c):
    sheet(c, 2, 0, 14, 16, ear=4)
    ink = (88, 120, 180)
    for y, x1 in ((4, 9), (6, 12), (8, 12), (10, 12), (12, 10)):
        c.draw(box(4, y, x1, y + 1), ink)


def refresh_icon(c):
    sheet(c, 1, 0, 12, 14, ear=4)
    cx, cy, r, w = 10.0, 10.0, 4.4, 1.9       # circle the arrows run on
    hw, hl = 2.8, 3.0                         # arrowhead half width, length

    def arrow(a0, a1):
        t = math.radians(a1)
        px, py = cx + r * math.cos(t), cy + r * math.sin(t)
        nx, ny = math.cos(t), math.sin(t)          # outwards
        tx, ty = -math.sin(t), math.cos(t)         # direction of travel
        head = polygon([(px + nx * hw, py + ny * hw),
                        (px + tx * hl, py + ty * hl),
                        (px - nx * hw, py - ny * hw)])
        return union(arc(cx, cy, r, w, a0, a1), head)

    both = union(arrow(180, 280), arrow(0, 100))
    c.draw(grow(both, 0.6), (16, 100, 24))
    c.draw(both, linear(0, 5, (130, 230, 100), 0, 15, (40, 170, 50)))


def monitor_icon(c):
    c.draw(box(0.5, 1.5, 15.5, 12, 1), (70, 76, 88))
    c.draw(box(1.5, 2.5, 14.5, 11), (226, 230, 236))
    c.draw(box(2.5, 3.5, 13.5, 10), linear(2, 3, (120, 180, 250), 13, 10, (30, 90, 190)))
    c.draw(polygon([(2.5, 3.5), (9, 3.5), (2.5, 8)]), (255, 255, 255, 60))
    c.draw(box(6, 12, 10, 14), (110, 116, 128))
    c.draw(box(3.5, 14, 12.5, 15.5, 0.5), (70, 76, 88))


def glyph(c):
    """The program's mark: a shared folder hung on a network line."""
    white = (255, 255, 255)
    c.draw(union(box(3, 3, 7, 5, 0.5), box(3, 4, 13, 10, 0.5)), white, 0.7)
    c.draw(box(3, 6, 13, 10, 0.5), white)
    c.draw(box(7, 10, 9, 12), white)
    c.draw(box(2, 12, 14, 13, 0.5 / c.scale), white)


def tile(c, top, bottom, edge, radius):
    """A square with a one-pixel darker rim at every size."""
    inset = 1 / c.scale
    c.draw(box(0, 0, 16, 16, radius), edge)
    c.draw(box(inset, inset, 16 - inset, 16 - inset, max(radius - inset, 0)),
           linear(0, 1, top, 0, 15, bottom))




BLUE = ((84, 156, 240), (26, 88, 196), (16, 56, 140))
RED = ((244, 104, 92), (192, 30, 28), (130, 16, 16))


def frame(size, colours):
    c = Canvas(size)
    tile(c, colours[0], colours[1], colours[2], 1.5)
    glyph(c)
    return c


def program_icon(size):
    c = Canvas(size)
    tile(c, BLUE[0], BLUE[1], BLUE[2], 2.5)
    glyph(c)
    return c


# The small-image sides the program picks from by display scale.
SMALL_SIZES = (16, 20, 24, 32)

COMMANDS = [help_icon, exit_icon, wrench_icon, cross_icon,
            folder_icon, message_icon, refresh_icon]


def single(painter, size=16):
    c = Canvas(size)
    painter(c)
    return c


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else root / 'res' / 'images'
    out.mkdir(parents=True, exist_ok=True)
    files = {}
    for size in SMALL_SIZES:
        suffix = '' if size == 16 else f'_{size}'
        files[f'commands{suffix}.bmp'] = bmp_bytes(hstrip([single(p, size) for p in COMMANDS]))
        files[f'sessions_designed{suffix}.bmp'] = bmp_bytes(single(monitor_icon, size).bgra_rows())
    files['frame_blue.ico'] = ico_bytes([frame(s, BLUE) for s in SMALL_SIZES])
    files['frame_red.ico'] = ico_bytes([frame(s, RED) for s in SMALL_SIZES])
    files['corvane.ico'] = ico_bytes([program_icon(s) for s in SMALL_SIZES + (48,)])
    for name, data in files.items():
        (out / name).write_bytes(data)
        print(f'{out / name}: {len(data)} bytes')


if __name__ == '__main__':
    main()
