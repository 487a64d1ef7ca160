#!/usr/bin/env python3
"""Draws the skin of LumoraRepair: every PNG under res/skin and the icon res/app.ico.

Pure Python (zlib only), deterministic: running it again gives the same files.
Shapes are drawn from signed distances with 4x4 supersampling at the edges.
Usage: tools/make_skin.py [OUTPUT_RES_FOLDER]
"""
import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------- files


def png_bytes(width, height, pixels, alpha):
    """pixels: rows of (r, g, b, a) floats 0..255."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((clamp8(r), clamp8(g), clamp8(b)))
            if alpha:
                raw.append(clamp8(a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def ico_bytes(images):
    """images: list of (size, bits, pixels); 24-bit ones get their transparency from the AND mask."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for size, bits, pixels in images:
        dib = bytearray(struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0))
        for row in reversed(pixels):
            line = bytearray()
            for r, g, b, a in row:
                line += bytes((clamp8(b), clamp8(g), clamp8(r)))
                if bits == 32:
                    line.append(clamp8(a))
            while len(line) % 4:
                line.append(0)
            dib += line
        mask_stride = ((size + 31) // 32) * 4
        for row in reversed(pixels):
            line = bytearray(mask_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a < 128:
                    line[x // 8] |= 0x80 >> (x % 8)
            dib += line
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(dib), offset))
        blobs.append(bytes(dib))
        offset += len(dib)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


def clamp8(v):
    return max(0, min(255, int(round(v))))


# ---------------------------------------------------------------- drawing


class Canvas:
    def __init__(self, width, height, color=(0, 0, 0, 0)):
        self.w, self.h = width, height
        self.px = [[list(color) for _ in range(width)] for _ in range(height)]

    def fill(self, shader):
        """shader(x, y) -> (r, g, b) for every pixel centre; opaque."""
        for y in range(self.h):
            for x in range(self.w):
                r, g, b = shader(x + 0.5, y + 0.5)
                self.px[y][x] = [r, g, b, 255.0]

    def blend(self, x, y, color, coverage):
        if coverage <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        r, g, b = color[:3]
        a = (color[3] / 255.0 if len(color) > 3 else 1.0) * min(coverage, 1.0)
        p = self.px[y][x]
        da = p[3] / 255.0
        oa = a + da * (1 - a)
        if oa <= 0:
            return
        for i, c in enumerate((r, g, b)):
            p[i] = (c * a + p[i] * da * (1 - a)) / oa
        p[3] = oa * 255.0

    def shape(self, distance, color, box=None, shader=None):
        """Paints where distance(x, y) < 0; anti-aliased by supersampling near the edge."""
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for y in range(max(0, int(y0)), min(self.h, int(math.ceil(y1)))):
            for x in range(max(0, int(x0)), min(self.w, int(math.ceil(x1)))):
                d = distance(x + 0.5, y + 0.5)
                if d > 1.0:
                    continue
                if d < -1.0:
                    cover = 1.0
                else:
                    cover = sum(distance(x + (i + 0.5) / 4, y + (j + 0.5) / 4) < 0
                                for i in range(4) for j in range(4)) / 16.0
                c = shader(x + 0.5, y + 0.5) if shader else color
                self.blend(x, y, c, cover)

    def rows(self):
        return self.px


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def rounded_rect(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0), max(qy, 0))
        return outside + min(max(qx, qy), 0) - radius
    return d


def segment(ax, ay, bx, by, width):
    def d(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
        return math.hypot(px - vx * t, py - vy * t) - width / 2
    return d


def ellipse(cx, cy, rx, ry, angle=0.0):
    ca, sa = math.cos(angle), math.sin(angle)

    def d(x, y):
        dx, dy = x - cx, y - cy
        u, v = dx * ca + dy * sa, -dx * sa + dy * ca
        k = math.hypot(u / rx, v / ry)
        return (k - 1.0) * min(rx, ry)
    return d


def polygon(points):
    def d(x, y):
        inside = False
        best = 1e9
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                inside = not inside
            best = min(best, segment(ax, ay, bx, by, 0)(x, y))
        return -best if inside else best
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def hash01(i, j, seed):
    n = (i * 374761393 + j * 668265263 + seed * 2246822519) & 0xFFFFFFFF
    n = ((n ^ (n >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((n ^ (n >> 16)) & 0xFFFF) / 65535.0


def noise1(x, seed):
    i = math.floor(x)
    f = x - i
    f = f * f * (3 - 2 * f)
    return hash01(i, 0, seed) * (1 - f) + hash01(i + 1, 0, seed) * f


def ridge(x, seed, scale):
    return sum(noise1(x / (scale / 2 ** k), seed + k) / 2 ** k for k in range(4)) / 1.875


# ---------------------------------------------------------------- the emblem


def draw_wings(c, cx, cy, span, color_light, color_dark, gem):
    """The game's winged emblem: a gem between two swept wings of five feathers."""
    for side in (-1, 1):
        for k in range(5):
            length = span * (0.50 - 0.07 * k)
            angle = math.radians(-18 + 13 * k)
            fx = cx + side * (span * 0.10 + length * 0.5 * math.cos(angle))
            fy = cy - span * 0.06 + length * 0.5 * math.sin(angle) + k * span * 0.015
            shade = mix(color_light, color_dark, k / 5.0)
            feather = ellipse(fx, fy, length * 0.5, span * (0.055 - 0.004 * k), side * angle)
            c.shape(feather, shade, box=(fx - length, fy - length, fx + length, fy + length))
    r = span * 0.11
    c.shape(polygon([(cx, cy - r * 1.5), (cx + r, cy), (cx, cy + r * 1.7), (cx - r, cy)]), (60, 40, 16),
            box=(cx - r * 2, cy - r * 2, cx + r * 2, cy + r * 2))
    r2 = r * 0.72
    c.shape(polygon([(cx, cy - r2 * 1.5), (cx + r2, cy), (cx, cy + r2 * 1.7), (cx - r2, cy)]), gem,
            box=(cx - r * 2, cy - r * 2, cx + r * 2, cy + r * 2),
            shader=lambda x, y: mix((250, 220, 140), gem, (y - cy + r2 * 1.5) / (r2 * 3.2)))


# ---------------------------------------------------------------- the images

DARK = (8, 10, 17)


def background():
    w, h = 548, 300
    c = Canvas(w, h)

    def sky(x, y):
        base = mix((40, 52, 74), (22, 29, 44), y / 130.0) if y < 130 else mix((22, 29, 44), DARK, (y - 130) / 70.0)
        glow = max(0.0, 1.0 - math.hypot((x - 274) / 210.0, (y - 58) / 95.0))
        return tuple(base[i] + (34, 44, 60)[i] * glow ** 2 for i in range(3))
    c.fill(sky)
    # stars in the upper sky
    for i in range(70):
        sx, sy = hash01(i, 1, 7) * w, hash01(i, 2, 7) * 120
        if abs(sx - 274) < 90 and sy < 100:
            continue
        c.blend(int(sx), int(sy), (200, 210, 230), 0.25 + 0.5 * hash01(i, 3, 7))
    # mountain ridges, farther ones lighter
    layers = [(118, 42, (34, 43, 62), 3, 140.0), (140, 40, (22, 28, 42), 5, 90.0), (165, 34, (13, 16, 26), 9, 60.0)]
    for top, amp, color, seed, scale in layers:
        for x in range(w):
            ridge_y = top + amp * (1 - ridge(x, seed, scale)) - (14 if abs(x - 274) > 200 else 0) * 0
            for y in range(max(0, int(ridge_y) - 1), h):
                cover = min(1.0, max(0.0, y + 1 - ridge_y))
                c.blend(x, y, color, cover)
    # everything below y 200, where the large buttons sit, fades to almost black
    for y in range(170, h):
        t = min(1.0, (y - 170) / 30.0)
        for x in range(w):
            c.blend(x, y, DARK, t)
    draw_wings(c, 274, 60, 150, (196, 208, 226), (92, 108, 134), (214, 166, 72))
    # a quiet band behind the title text at the top left
    for y in range(0, 40):
        for x in range(0, 200):
            c.blend(x, y, DARK, 0.35 * (1 - y / 40.0) * (1 - x / 200.0))
    return c, False


def dialog_background():
    w, h = 347, 209
    c = Canvas(w, h)
    c.fill(lambda x, y: mix((26, 33, 50), (10, 12, 20), y / h))
    for y in range(0, 44):
        for x in range(w):
            c.blend(x, y, (38, 50, 72), 0.6 * (1 - y / 44.0))
    c.shape(rounded_rect(12, 43, w - 12, 45, 1), (70, 96, 128, 160))
    draw_wings(c, w / 2, 24, 70, (80, 96, 122), (44, 54, 72), (120, 96, 50))
    border = lambda x, y: max(rounded_rect(0, 0, w, h, 0)(x, y), -rounded_rect(1, 1, w - 1, h - 1, 0)(x, y))
    c.shape(border, (70, 88, 116))
    return c, False


def large_button(base):
    w, h = 90, 47
    c = Canvas(w, h)
    top = tuple(min(255, v + 26) for v in base)
    bottom = tuple(max(0, v - 16) for v in base)
    c.shape(rounded_rect(0, 0, w, h, 7), None, shader=lambda x, y: mix(top, bottom, y / h))
    inner = lambda x, y: max(rounded_rect(2, 2, w - 2, h - 2, 5)(x, y), -rounded_rect(3, 3, w - 3, h - 3, 4)(x, y))
    c.shape(inner, (230, 245, 250, 120))
    c.shape(lambda x, y: max(rounded_rect(0, 0, w, h, 7)(x, y), -rounded_rect(1, 1, w - 1, h - 1, 6)(x, y)),
            tuple(max(0, v - 40) for v in base))
    return c, True


def small_button(grey):
    w, h = 62, 28
    c = Canvas(w, h)
    c.fill(lambda x, y: mix((grey + 8,) * 3, (max(0, grey - 4),) * 3, y / h))
    c.shape(lambda x, y: max(rounded_rect(0, 0, w, h, 0)(x, y), -rounded_rect(1, 1, w - 1, h - 1, 0)(x, y)),
            (grey + 46, grey + 52, grey + 62))
    return c, True


def cross_glyph(shade):
    c = Canvas(16, 16)
    g = (shade, shade, shade)
    c.shape(union(segment(3.5, 3.5, 12.5, 12.5, 1.8), segment(12.5, 3.5, 3.5, 12.5, 1.8)), g)
    return c, True


def bar_glyph(shade):
    c = Canvas(16, 16)
    for y in (11, 12):
        for x in range(2, 14):
            c.blend(x, y, (shade, shade, shade), 1.0)
    return c, True


def field(w, h, fill, edge):
    c = Canvas(w, h)
    c.fill(lambda x, y: mix(tuple(v + 3 for v in fill), fill, y / h))
    c.shape(lambda x, y: max(rounded_rect(0, 0, w, h, 0)(x, y), -rounded_rect(1, 1, w - 1, h - 1, 0)(x, y)), edge)
    return c, True


def progress_fill():
    c = Canvas(1, 12)
    c.fill(lambda x, y: mix((40, 196, 212), (0, 140, 156), y / 12.0) if y > 6 or y < 1 else mix((40, 196, 212), (0, 165, 181), y / 6.0))
    return c, False


def small_emblem():
    c = Canvas(16, 16)
    c.fill(lambda x, y: (14, 16, 24))
    draw_wings(c, 8, 9, 15, (236, 196, 104), (170, 124, 48), (250, 214, 120))
    return c, False


def icon(size):
    c = Canvas(size, size)
    s = size / 64.0
    c.shape(rounded_rect(2 * s, 2 * s, 62 * s, 62 * s, 12 * s), None,
            shader=lambda x, y: mix((20, 150, 172), (0, 84, 104), y / size))
    c.shape(lambda x, y: max(rounded_rect(2 * s, 2 * s, 62 * s, 62 * s, 12 * s)(x, y),
                             -rounded_rect(3.5 * s, 3.5 * s, 60.5 * s, 60.5 * s, 10.5 * s)(x, y)),
            (180, 240, 250, 110))
    draw_wings(c, 32 * s, 34 * s, 46 * s, (250, 252, 255), (170, 206, 222), (240, 188, 76))
    return c


SKIN = {
    130: background, 141: dialog_background,
    131: lambda: small_button(15), 132: lambda: small_button(10), 133: lambda: small_button(7),
    149: lambda: small_button(96),
    134: lambda: large_button((97, 97, 97)), 135: lambda: large_button((41, 132, 152)),
    136: lambda: large_button((0, 109, 133)), 137: lambda: large_button((0, 92, 112)),
    138: lambda: cross_glyph(255), 139: lambda: cross_glyph(220), 140: lambda: cross_glyph(72),
    146: lambda: bar_glyph(255), 147: lambda: bar_glyph(220), 148: lambda: bar_glyph(72),
    142: lambda: field(270, 28, (6, 8, 12), (48, 58, 76)),
    144: lambda: field(338, 14, (10, 12, 18), (36, 44, 58)),
    145: progress_fill, 150: small_emblem,
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "res")
    os.makedirs(os.path.join(out, "skin"), exist_ok=True)
    for rid, make in sorted(SKIN.items()):
        canvas, alpha = make()
        with open(os.path.join(out, "skin", "%d.png" % rid), "wb") as f:
            f.write(png_bytes(canvas.w, canvas.h, canvas.rows(), alpha))
    images = [(size, 24, icon(size).rows()) for size in (48, 32, 24, 16)]
    images.append((64, 32, icon(64).rows()))
    with open(os.path.join(out, "app.ico"), "wb") as f:
        f.write(ico_bytes(images))
    return 0


if __name__ == "__main__":
    sys.exit(main())
