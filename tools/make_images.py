#!/usr/bin/env python3
"""Draw the TeskManager artwork and write the resource files.

Run from the project root:

    python3 tools/make_images.py

Everything under resources/ that this script writes comes from one design,
defined once below in unit coordinates (0..1 on both axes):

  * a rounded square filled with a vertical teal-to-blue gradient,
  * a faint white square wave along the top (a serial bit stream),
  * a white prompt chevron and an underscore cursor below it.

Files written:

  resources/Velmarin.ico            32x32, 8 bpp palette + 1-bit mask
  resources/velmarintesk_logo.png   451x60 RGBA logo with the product name
  resources/icons/hicolor/<n>x<n>/apps/teskmanager.png   n = 32, 48, 128, 256
  resources/icons/hicolor/scalable/apps/teskmanager.svg
  resources/teskmanager.desktop
  resources/teskmanager.rc
  resources/resources.qrc

Only the standard library is used; the output is byte-for-byte reproducible.
"""

import math
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(ROOT, "resources")

# ---------------------------------------------------------------------------
# The design (unit coordinates, y grows downwards)
# ---------------------------------------------------------------------------

TILE_INSET = 1.0 / 32.0          # margin around the rounded square
TILE_RADIUS = 0.19               # corner radius
GRAD_TOP = (0x1C, 0xA8, 0xB4)    # teal
GRAD_BOTTOM = (0x0B, 0x5A, 0x8E)  # blue
WHITE = (0xFF, 0xFF, 0xFF)

WAVE_POINTS = [
    (0.21, 0.36), (0.31, 0.36), (0.31, 0.24), (0.43, 0.24), (0.43, 0.36),
    (0.53, 0.36), (0.53, 0.24), (0.67, 0.24), (0.67, 0.36), (0.79, 0.36),
]
WAVE_WIDTH = 0.05
WAVE_ALPHA = 0.62

CHEVRON_POINTS = [(0.25, 0.50), (0.45, 0.645), (0.25, 0.79)]
CHEVRON_WIDTH = 0.10

CURSOR_BOX = (0.53, 0.745, 0.79, 0.835)  # x0, y0, x1, y1
CURSOR_RADIUS = 0.015

# Fixed modification time written into the PNG tIME chunks.
PNG_TIME = (2026, 12, 7, 0, 0, 0)


# ---------------------------------------------------------------------------
# Signed distance shapes (negative inside), in pixel coordinates
# ---------------------------------------------------------------------------

class Shape(object):
    """Base: a signed distance function with a bounding box."""

    bbox = (-1e9, -1e9, 1e9, 1e9)

    def sdf(self, x, y):
        raise NotImplementedError


class RoundRect(Shape):
    def __init__(self, x0, y0, x1, y1, r):
        self.cx = (x0 + x1) / 2.0
        self.cy = (y0 + y1) / 2.0
        self.hx = (x1 - x0) / 2.0 - r
        self.hy = (y1 - y0) / 2.0 - r
        self.r = r
        self.bbox = (x0, y0, x1, y1)

    def sdf(self, x, y):
        qx = abs(x - self.cx) - self.hx
        qy = abs(y - self.cy) - self.hy
        ox = qx if qx > 0.0 else 0.0
        oy = qy if qy > 0.0 else 0.0
        inner = max(qx, qy)
        if inner > 0.0:
            inner = 0.0
        return math.sqrt(ox * ox + oy * oy) + inner - self.r


def _seg_dist2(px, py, ax, ay, bx, by):
    dx = bx - ax
    dy = by - ay
    l2 = dx * dx + dy * dy
    if l2 > 0.0:
        t = ((px - ax) * dx + (py - ay) * dy) / l2
        if t < 0.0:
            t = 0.0
        elif t > 1.0:
            t = 1.0
    else:
        t = 0.0
    ex = px - (ax + t * dx)
    ey = py - (ay + t * dy)
    return ex * ex + ey * ey


class Strokes(Shape):
    """Union of round-capped, round-joined polylines of one width."""

    def __init__(self, polylines, width):
        self.half = width / 2.0
        self.segs = []
        xs = []
        ys = []
        for line in polylines:
            if len(line) == 1:
                line = [line[0], line[0]]
            for i in range(len(line) - 1):
                (ax, ay), (bx, by) = line[i], line[i + 1]
                self.segs.append((ax, ay, bx, by,
                                  min(ax, bx) - self.half,
                                  min(ay, by) - self.half,
                                  max(ax, bx) + self.half,
                                  max(ay, by) + self.half))
            xs.extend(p[0] for p in line)
            ys.extend(p[1] for p in line)
        self.bbox = (min(xs) - self.half, min(ys) - self.half,
                     max(xs) + self.half, max(ys) + self.half)

    def sdf(self, x, y):
        best = 1e18
        for ax, ay, bx, by, _, _, _, _ in self.segs:
            d = _seg_dist2(x, y, ax, ay, bx, by)
            if d < best:
                best = d
        return math.sqrt(best) - self.half

    def near(self, x0, y0, x1, y1):
        """Shape made of the segments whose box meets the given box."""
        sub = Strokes.__new__(Strokes)
        sub.half = self.half
        sub.segs = [s for s in self.segs
                    if s[4] <= x1 and s[6] >= x0 and s[5] <= y1 and s[7] >= y0]
        sub.bbox = self.bbox
        return sub


# ---------------------------------------------------------------------------
# Rasteriser: per-layer coverage by supersampling near edges, "over" blend
# ---------------------------------------------------------------------------

class Layer(object):
    def __init__(self, shape, colour, alpha=1.0):
        self.shape = shape
        self.colour = colour   # (r, g, b) or function (x, y) -> (r, g, b)
        self.alpha = alpha


def render(width, height, layers, ss=4):
    """Return a list of rows of (r, g, b, a) floats, premultiplied 0..1."""
    img = [[[0.0, 0.0, 0.0, 0.0] for _ in range(width)] for _ in range(height)]
    offs = [(i + 0.5) / ss - 0.5 for i in range(ss)]
    reach = 0.75  # a little more than half the pixel diagonal
    for layer in layers:
        shape = layer.shape
        bx0, by0, bx1, by1 = shape.bbox
        px0 = max(0, int(math.floor(bx0)) - 1)
        py0 = max(0, int(math.floor(by0)) - 1)
        px1 = min(width, int(math.ceil(bx1)) + 1)
        py1 = min(height, int(math.ceil(by1)) + 1)
        for py in range(py0, py1):
            row = img[py]
            cy = py + 0.5
            local = shape
            if isinstance(shape, Strokes):
                local = shape.near(px0 - 1, cy - 1, px1 + 1, cy + 1)
                if not local.segs:
                    continue
            for px in range(px0, px1):
                cx = px + 0.5
                if isinstance(local, Strokes):
                    nearer = local.near(cx - 1, cy - 1, cx + 1, cy + 1)
                    if not nearer.segs:
                        continue
                else:
                    nearer = local
                d = nearer.sdf(cx, cy)
                if d >= reach:
                    continue
                if d <= -reach:
                    cov = 1.0
                else:
                    hits = 0
                    for oy in offs:
                        for ox in offs:
                            if nearer.sdf(cx + ox, cy + oy) < 0.0:
                                hits += 1
                    if hits == 0:
                        continue
                    cov = hits / float(ss * ss)
                a = cov * layer.alpha
                col = layer.colour
                if callable(col):
                    col = col(cx, cy)
                p = row[px]
                k = 1.0 - a
                p[0] = col[0] / 255.0 * a + p[0] * k
                p[1] = col[1] / 255.0 * a + p[1] * k
                p[2] = col[2] / 255.0 * a + p[2] * k
                p[3] = a + p[3] * k
    return img


def to_rgba8(img):
    """Premultiplied floats -> rows of straight-alpha (r, g, b, a) bytes."""
    out = []
    for row in img:
        orow = []
        for r, g, b, a in row:
            if a <= 0.0:
                orow.append((0, 0, 0, 0))
                continue
            a8 = int(round(min(a, 1.0) * 255.0))
            if a8 == 0:
                orow.append((0, 0, 0, 0))
                continue
            orow.append((
                min(255, int(round(r / a * 255.0))),
                min(255, int(round(g / a * 255.0))),
                min(255, int(round(b / a * 255.0))),
                a8,
            ))
        out.append(orow)
    return out


# ---------------------------------------------------------------------------
# The emblem at any size and position
# ---------------------------------------------------------------------------

def emblem_layers(size, ox=0.0, oy=0.0):
    s = float(size)

    def P(pt):
        return (ox + pt[0] * s, oy + pt[1] * s)

    t0 = oy + TILE_INSET * s
    t1 = oy + (1.0 - TILE_INSET) * s

    def gradient(x, y):
        f = (y - t0) / (t1 - t0)
        f = 0.0 if f < 0.0 else (1.0 if f > 1.0 else f)
        return tuple(GRAD_TOP[i] + (GRAD_BOTTOM[i] - GRAD_TOP[i]) * f
                     for i in range(3))

    tile = RoundRect(ox + TILE_INSET * s, t0, ox + (1.0 - TILE_INSET) * s, t1,
                     TILE_RADIUS * s)
    wave = Strokes([[P(p) for p in WAVE_POINTS]], WAVE_WIDTH * s)
    chevron = Strokes([[P(p) for p in CHEVRON_POINTS]], CHEVRON_WIDTH * s)
    x0, y0, x1, y1 = CURSOR_BOX
    cursor = RoundRect(ox + x0 * s, oy + y0 * s, ox + x1 * s, oy + y1 * s,
                       CURSOR_RADIUS * s)
    return [
        Layer(tile, gradient),
        Layer(wave, WHITE, WAVE_ALPHA),
        Layer(chevron, WHITE),
        Layer(cursor, WHITE),
    ]


def emblem_svg():
    n = 256.0

    def num(v):
        text = "%.2f" % (v * n)
        text = text.rstrip("0").rstrip(".")
        return text

    def pts(points):
        return " ".join("%s,%s" % (num(x), num(y)) for x, y in points)

    i0 = TILE_INSET
    cx0, cy0, cx1, cy1 = CURSOR_BOX
    hexcol = lambda c: "#%02x%02x%02x" % c
    return "\n".join([
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" '
        'viewBox="0 0 256 256">',
        '  <title>TeskManager</title>',
        '  <defs>',
        '    <linearGradient id="tile" x1="0" y1="%s" x2="0" y2="%s" '
        'gradientUnits="userSpaceOnUse">' % (num(i0), num(1.0 - i0)),
        '      <stop offset="0" stop-color="%s"/>' % hexcol(GRAD_TOP),
        '      <stop offset="1" stop-color="%s"/>' % hexcol(GRAD_BOTTOM),
        '    </linearGradient>',
        '  </defs>',
        '  <rect x="%s" y="%s" width="%s" height="%s" rx="%s" ry="%s" '
        'fill="url(#tile)"/>' % (num(i0), num(i0), num(1 - 2 * i0),
                                 num(1 - 2 * i0), num(TILE_RADIUS),
                                 num(TILE_RADIUS)),
        '  <g fill="none" stroke="#ffffff" stroke-linecap="round" '
        'stroke-linejoin="round">',
        '    <polyline points="%s" stroke-width="%s" stroke-opacity="%s"/>'
        % (pts(WAVE_POINTS), num(WAVE_WIDTH), "%.2f" % WAVE_ALPHA),
        '    <polyline points="%s" stroke-width="%s"/>'
        % (pts(CHEVRON_POINTS), num(CHEVRON_WIDTH)),
        '  </g>',
        '  <rect x="%s" y="%s" width="%s" height="%s" rx="%s" ry="%s" '
        'fill="#ffffff"/>' % (num(cx0), num(cy0), num(cx1 - cx0),
                              num(cy1 - cy0), num(CURSOR_RADIUS),
                              num(CURSOR_RADIUS)),
        '</svg>',
        '',
    ])


# ---------------------------------------------------------------------------
# A small monoline glyph set (only the letters the logo needs)
# Glyph units: baseline y = 0, cap height 1, y grows upwards.
# ---------------------------------------------------------------------------

XH = 0.70      # x-height
DESC = -0.27   # descender depth


def arc(cx, cy, rx, ry, a0, a1, steps=None):
    """Points along an elliptical arc from angle a0 to a1 (degrees, CCW)."""
    if steps is None:
        steps = max(4, int(abs(a1 - a0) / 7.5))
    pts = []
    for i in range(steps + 1):
        a = math.radians(a0 + (a1 - a0) * i / float(steps))
        pts.append((cx + rx * math.cos(a), cy + ry * math.sin(a)))
    return pts


def catmull_rom(points, steps=8):
    pts = [points[0]] + list(points) + [points[-1]]
    out = [points[0]]
    for i in range(1, len(pts) - 2):
        p0, p1, p2, p3 = pts[i - 1], pts[i], pts[i + 1], pts[i + 2]
        for k in range(1, steps + 1):
            t = k / float(steps)
            t2 = t * t
            t3 = t2 * t
            out.append(tuple(
                0.5 * (2 * p1[j] + (-p0[j] + p2[j]) * t
                       + (2 * p0[j] - 5 * p1[j] + 4 * p2[j] - p3[j]) * t2
                       + (-p0[j] + 3 * p1[j] - 3 * p2[j] + p3[j]) * t3)
                for j in range(2)))
    return out


def glyph(ch, w):
    """Return (advance width, list of polylines) for one character.

    w is the stroke width; the outlines (centre line +/- w/2) sit on the
    baseline, the x-height and the cap height.
    """
    t = w / 2.0
    X = XH
    H = 1.0
    if ch == " ":
        return 0.30, []
    if ch == "T":
        wd = 0.64
        return wd, [[(t, H - t), (wd - t, H - t)], [(wd / 2, H - t), (wd / 2, t)]]
    if ch == "M":
        wd = 0.86
        return wd, [[(t, t), (t, H - t), (wd / 2, 0.24), (wd - t, H - t),
                     (wd - t, t)]]
    if ch == "S":
        wd = 0.58
        return wd, _s_shape(wd, H, t)
    if ch == "C":
        wd = 0.74
        return wd, [arc(wd / 2, H / 2, wd / 2 - t, H / 2 - t, 48, 312)]
    if ch == "P":
        wd = 0.60
        low = 0.42
        r = (H - t - low) / 2.0
        bx = wd - t - r
        return wd, [[(t, t), (t, H - t), (bx, H - t)]
                    + arc(bx, low + r, r, r, 90, -90)
                    + [(t, low)]]
    if ch == "&":
        wd = 0.72
        pts = [(0.70, 0.03), (0.47, 0.30), (0.26, 0.55), (0.21, 0.76),
               (0.33, 0.93), (0.46, 0.81), (0.40, 0.63), (0.17, 0.44),
               (0.11, 0.22), (0.25, 0.06), (0.45, 0.09), (0.61, 0.30),
               (0.66, 0.42)]
        # keep the outline inside the box for any stroke width
        sx = (wd - 2 * t) / wd
        sy = (H - 2 * t) / H
        pts = [(t + x * sx, t + y * sy) for x, y in pts]
        return wd, [catmull_rom(pts)]
    if ch in "eca":
        wd = 0.60
        cx, cy, rx, ry = wd / 2, X / 2, wd / 2 - t, X / 2 - t
        if ch == "e":
            return wd, [[(cx - rx, cy), (cx + rx, cy)] + arc(cx, cy, rx, ry, 0, 318)]
        if ch == "c":
            return wd, [arc(cx, cy, rx, ry, 42, 318)]
        return wd, [arc(cx, cy, rx, ry, 0, 360, 48), [(cx + rx, X - t), (cx + rx, t)]]
    if ch == "g":
        wd = 0.60
        cx, cy, rx, ry = wd / 2, X / 2, wd / 2 - t, X / 2 - t
        hook = 0.15
        return wd, [arc(cx, cy, rx, ry, 0, 360, 48),
                    [(cx + rx, X - t), (cx + rx, DESC + t + hook)]
                    + arc(cx, DESC + t + hook, rx, hook, 0, -155)]
    if ch == "b":
        wd = 0.60
        rx = (wd - 2 * t) / 2.0
        cx = t + rx
        return wd, [[(t, H - t), (t, t)], arc(cx, X / 2, rx, X / 2 - t, 0, 360, 48)]
    if ch == "s":
        wd = 0.50
        return wd, _s_shape(wd, X, t)
    if ch in "nh":
        wd = 0.58
        rx = (wd - 2 * t) / 2.0
        ry = 0.22
        cy = X - t - ry
        top = H - t if ch == "h" else X - t
        return wd, [[(t, top), (t, t)],
                    [(t, cy)] + arc(t + rx, cy, rx, ry, 180, 0) + [(wd - t, t)]]
    if ch == "r":
        wd = 0.40
        r = 0.22
        cy = X - t - r
        return wd, [[(t, X - t), (t, t)],
                    [(t, cy)] + arc(t + r, cy, r, r, 180, 62)]
    if ch == "k":
        wd = 0.54
        return wd, [[(t, H - t), (t, t)],
                    [(wd - t, X - t), (t, 0.26)],
                    [(t + 0.14, 0.36), (wd - t, t)]]
    if ch == "i":
        return w, [[(t, X - t), (t, t)], [(t, H - t)]]
    if ch == "l":
        return w, [[(t, H - t), (t, t)]]
    if ch == "t":
        wd = 0.40
        sx = 0.16
        r = 0.13
        return wd, [[(sx, 0.94 - t), (sx, t + r)]
                    + arc(sx + r, t + r, r, r, 180, 270) + [(wd - t, t)],
                    [(t * 0.5, X - t), (wd - t, X - t)]]
    raise KeyError("no glyph for %r" % ch)


def _s_shape(wd, height, t):
    rx = wd / 2.0 - t
    r = (height - 2.0 * t) / 4.0
    cx = wd / 2.0
    upper = arc(cx, height - t - r, rx, r, 28, 270)
    lower = arc(cx, t + r, rx, r, 90, -152)
    return [upper + lower[1:]]


KERNING = {("T", "e"): -0.09, ("T", "C"): -0.02, ("T", " "): -0.04}


def text_strokes(text, size, x, baseline, stroke, tracking):
    """Polylines (pixel coordinates) for a text line; returns (lines, end x)."""
    lines = []
    pen = 0.0
    prev = None
    for ch in text:
        if prev is not None:
            pen += KERNING.get((prev, ch), 0.0)
        adv, polys = glyph(ch, stroke)
        for poly in polys:
            lines.append([(x + (pen + gx) * size, baseline - gy * size)
                          for gx, gy in poly])
        pen += adv + tracking
        prev = ch
    return lines, x + (pen - tracking) * size


# ---------------------------------------------------------------------------
# Writers
# ---------------------------------------------------------------------------

def _chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png_bytes(rows):
    """Encode straight-alpha RGBA rows as a PNG (colour type 6)."""
    height = len(rows)
    width = len(rows[0])
    raw = bytearray()
    prev = bytes(width * 4)
    for row in rows:
        cur = bytes(v for px in row for v in px)
        raw += _best_filter(cur, prev)
        prev = cur
    out = b"\x89PNG\r\n\x1a\n"
    out += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    out += _chunk(b"sRGB", b"\x00")
    out += _chunk(b"bKGD", struct.pack(">HHH", 255, 255, 255))
    out += _chunk(b"pHYs", struct.pack(">IIB", 2835, 2835, 1))
    out += _chunk(b"tIME", struct.pack(">HBBBBB", *PNG_TIME))
    out += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += _chunk(b"IEND", b"")
    return out


def _paeth(a, b, c):
    p = a + b - c
    pa = abs(p - a)
    pb = abs(p - b)
    pc = abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    if pb <= pc:
        return b
    return c


def _best_filter(cur, prev, bpp=4):
    n = len(cur)
    cands = []
    cands.append(b"\x00" + cur)
    cands.append(b"\x01" + bytes((cur[i] - (cur[i - bpp] if i >= bpp else 0)) & 255
                                 for i in range(n)))
    cands.append(b"\x02" + bytes((cur[i] - prev[i]) & 255 for i in range(n)))
    cands.append(b"\x03" + bytes(
        (cur[i] - (((cur[i - bpp] if i >= bpp else 0) + prev[i]) >> 1)) & 255
        for i in range(n)))
    cands.append(b"\x04" + bytes(
        (cur[i] - _paeth(cur[i - bpp] if i >= bpp else 0, prev[i],
                         prev[i - bpp] if i >= bpp else 0)) & 255
        for i in range(n)))

    def cost(line):
        return sum(v if v < 128 else 256 - v for v in line[1:])

    best = cands[0]
    best_cost = cost(best)
    for c in cands[1:]:
        k = cost(c)
        if k < best_cost:
            best, best_cost = c, k
    return best


def median_cut(colours, count):
    """Deterministic median-cut palette of at most `count` colours.

    colours: dict (r, g, b) -> weight.
    """
    boxes = [sorted(colours.items())]
    while len(boxes) < count:
        best_i = -1
        best_range = 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            rng = max(max(c[0][ch] for c in box) - min(c[0][ch] for c in box)
                      for ch in range(3))
            if rng > best_range:
                best_i, best_range = i, rng
        if best_i < 0:
            break
        box = boxes[best_i]
        ranges = [max(c[0][ch] for c in box) - min(c[0][ch] for c in box)
                  for ch in range(3)]
        ch = ranges.index(max(ranges))
        box = sorted(box, key=lambda c: (c[0][ch], c[0]))
        total = sum(c[1] for c in box)
        acc = 0
        cut = 1
        for j, c in enumerate(box):
            acc += c[1]
            if acc * 2 >= total:
                cut = j + 1
                break
        cut = max(1, min(len(box) - 1, cut))
        boxes[best_i:best_i + 1] = [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = float(sum(c[1] for c in box))
        palette.append(tuple(int(round(sum(c[0][ch] * c[1] for c in box) / total))
                             for ch in range(3)))
    return palette


def ico_bytes(rows):
    """One 32x32 image, 8 bpp with a 256-entry palette and a 1-bit mask."""
    size = len(rows)
    assert size == 32 and len(rows[0]) == 32
    opaque = [[px[3] >= 128 for px in row] for row in rows]
    weights = {}
    for y in range(size):
        for x in range(size):
            if opaque[y][x]:
                rgb = rows[y][x][:3]
                weights[rgb] = weights.get(rgb, 0) + 1
    # index 0 stays black: it is the colour under the transparent mask bits
    palette = [(0, 0, 0)] + median_cut(weights, 255)
    lookup = {}

    def index_of(rgb):
        if rgb not in lookup:
            best = None
            for i, p in enumerate(palette[1:], 1):
                d = ((p[0] - rgb[0]) ** 2 * 3 + (p[1] - rgb[1]) ** 2 * 4
                     + (p[2] - rgb[2]) ** 2 * 2)
                if best is None or d < best[0]:
                    best = (d, i)
            lookup[rgb] = best[1]
        return lookup[rgb]

    palette += [(0, 0, 0)] * (256 - len(palette))
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    pixels = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):   # bottom-up
        bits = 0
        for x in range(size):
            if opaque[y][x]:
                pixels.append(index_of(rows[y][x][:3]))
            else:
                pixels.append(0)
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0,
                         len(pixels) + len(mask), 0, 0, 256, 0)
    image = header + pal + bytes(pixels) + bytes(mask)
    assert len(image) == 2216
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(image), 22)
    return icondir + entry + image


def write(path, data):
    full = os.path.join(RES, path)
    d = os.path.dirname(full)
    if not os.path.isdir(d):
        os.makedirs(d)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(full, "wb") as f:
        f.write(data)
    print("wrote resources/%s (%d bytes)" % (path, len(data)))


# ---------------------------------------------------------------------------
# Artwork
# ---------------------------------------------------------------------------

def emblem_png(size):
    ss = 8 if size <= 48 else 4
    return to_rgba8(render(size, size, emblem_layers(size), ss))


LOGO_W, LOGO_H = 451, 60
TITLE_DARK = (0x16, 0x33, 0x4D)
TITLE_TEAL = (0x0F, 0x7E, 0x90)
SUBTITLE = (0x55, 0x66, 0x74)


def logo_png():
    layers = emblem_layers(54, 3, 3)
    x = 70.0
    cap = 33.0
    stroke = 0.17
    track = 0.07
    base = 37.5
    dark, x = text_strokes("Tesk", cap, x, base, stroke, track)
    teal, x_end = text_strokes("Manager", cap, x + track * cap, base, stroke, track)
    layers.append(Layer(Strokes(dark, stroke * cap), TITLE_DARK))
    layers.append(Layer(Strokes(teal, stroke * cap), TITLE_TEAL))
    sub_cap = 10.5
    sub_stroke = 0.12
    sub, _ = text_strokes("Serial & TCP test bench", sub_cap, 71.0, 56.5,
                          sub_stroke, 0.20)
    layers.append(Layer(Strokes(sub, sub_stroke * sub_cap), SUBTITLE))
    return to_rgba8(render(LOGO_W, LOGO_H, layers, 6))


DESKTOP = """[Desktop Entry]
Type=Application
Name=TeskManager
GenericName=Serial and TCP Test Tool
Comment=Send and watch traffic on a serial port and TCP connections
Exec=teskmanager
Icon=teskmanager
Terminal=false
Categories=Development;Electronics;
"""

RC = 'IDI_ICON1 ICON "Velmarin.ico"\n'

QRC = """<!DOCTYPE RCC>
<RCC version="1.0">
    <qresource prefix="/">
        <file compression-algorithm="none">Velmarin.ico</file>
        <file compression-algorithm="none">velmarintesk_logo.png</file>
    </qresource>
</RCC>
"""


def main():
    write("Velmarin.ico", ico_bytes(emblem_png(32)))
    write("velmarintesk_logo.png", png_bytes(logo_png()))
    for n in (32, 48, 128, 256):
        write("icons/hicolor/%dx%d/apps/teskmanager.png" % (n, n),
              png_bytes(emblem_png(n)))
    write("icons/hicolor/scalable/apps/teskmanager.svg", emblem_svg())
    write("teskmanager.desktop", DESKTOP)
    write("teskmanager.rc", RC)
    write("resources.qrc", QRC)


if __name__ == "__main__":
    main()
