#!/usr/bin/env python3
"""Draws Quorvel's icons and writes them as .ico files.

The icons are drawn from geometry rather than kept as hand-edited binaries, so
that a change to the logo is a reviewable change to this file. Every size is
drawn at its own resolution: the tray asks for 20, 24, 32 or 40 px on scaled
displays, and a 16 px image stretched up is a blur. Pixels on an edge are
supersampled, which gives the disc its smooth edge at every size; the error
badge's mark is fitted to whole pixels at each size so it stays sharp.

Images up to 64 px are uncompressed 32-bit BGRA bitmaps with an AND mask:
every Windows version and Wine's loader read those, and the tray needs real
alpha to sit cleanly on light and dark taskbars. The 256 px image of the
application icon is a PNG, as Windows has allowed since Vista; as a bitmap it
alone would weigh 270 KB.

The output is the same bytes on every run and every machine: nothing depends
on the clock, and the drawing uses only +, -, *, / and sqrt, which IEEE 754
rounds alike everywhere. The PNG's deflate stream comes from zlib at level 9;
a zlib that deflates differently (zlib-ng, for one) would make --check report
quorvel.ico as stale although its pixels match, and --check names the zlib.

Usage:
  icongen.py [--out DIR]          write quorvel.ico, tray_good.ico, tray_fault.ico
  icongen.py --check [--out DIR]  exit 1 if the files in DIR differ from what
                                  this script draws (stale committed files)
  icongen.py --png FILE [--out DIR]
                                  read the .ico files back from DIR and render
                                  them, enlarged, on light and dark backgrounds
Only the Python standard library is used.
"""

import argparse
import math
import os
import struct
import sys
import zlib

# Samples per pixel along each axis for pixels on an edge; 8x8 keeps the edge
# ramp smooth at 16 px. Pixels wholly inside one region take one sample.
SUPERSAMPLE = 8

# Logo colours: a blue that is lighter towards the top left, as if lit from there.
BLUE_LIGHT = (0x5B, 0xA9, 0xF4)
BLUE_DARK = (0x13, 0x52, 0xBA)
RIM = (0x0D, 0x3B, 0x8C)
WHITE = (0xFF, 0xFF, 0xFF)
BADGE_RED = (0xD9, 0x2B, 0x25)

# Geometry in units of the icon's edge length, origin at the top left.
DISC_RADIUS = 0.47
RIM_WIDTH = 0.04
RING_RADIUS = 0.195
STROKE = 0.06  # half the width of the white "Q" strokes
TAIL_FROM = (0.56, 0.56)
TAIL_TO = (0.70, 0.70)
BADGE_CENTER = (0.75, 0.75)
BADGE_RADIUS = 0.25
BADGE_GAP = 0.065  # transparent moat that lifts the badge off the disc

# The sizes Windows asks for: 16, 20, 24, 32 and 40 px are the small icon at
# 100 % to 250 % scaling, 32 to 64 px the large one; Explorer's biggest views
# take 256 px.
TRAY_SIZES = (64, 48, 40, 32, 24, 20, 16)

# (file name, sizes, with fault badge)
ICONS = [
    ("quorvel.ico", (256,) + TRAY_SIZES, False),
    ("tray_good.ico", TRAY_SIZES, False),
    ("tray_fault.ico", TRAY_SIZES, True),
]

# From this size on an image is stored as PNG.
PNG_FROM = 256


def _length(dx, dy):
    # Not math.hypot: its last bit has changed between Python releases.
    return math.sqrt(dx * dx + dy * dy)


def _lerp(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def _segment_distance(px, py, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return _length(px - (ax + t * dx), py - (ay + t * dy))


class Badge:
    """The error badge at one size, in pixels: a red disc with a white "!".

    The mark's bar and dot have whole-pixel edges, and the badge is centred on
    the mark, so both stay symmetric. Anything finer blurs into a pink smudge
    at 16 px, where the mark is a 2 px bar over three rows, one red row and a
    2x2 dot.
    """

    def __init__(self, size):
        width = max(2, size // 8)
        gap = max(1, width // 2)
        bar = max(3, size * 3 // 8 - gap - width)
        if (bar + gap) % 2:
            # A height and width of the same parity keep the mark's centre, and
            # so the badge's, on the icon's diagonal.
            bar += 1
        height = bar + gap + width
        left = math.floor(size * BADGE_CENTER[0] - width / 2)
        top = math.floor(size * BADGE_CENTER[1] - height / 2)
        self.cx = left + width / 2
        self.cy = top + height / 2
        self.radius = size * BADGE_RADIUS
        self.moat = size * BADGE_GAP
        self.marks = (
            (left, top, left + width, top + bar),
            (left, top + bar + gap, left + width, top + height),
        )

    def covers(self, x, y):
        """Whether the badge or its moat decides the point."""
        return _length(x - self.cx, y - self.cy) <= self.radius + self.moat

    def colour(self, x, y):
        """Colour of a covered point; None in the moat."""
        if _length(x - self.cx, y - self.cy) > self.radius:
            return None
        for x0, y0, x1, y1 in self.marks:
            if x0 <= x < x1 and y0 <= y < y1:
                return WHITE
        return BADGE_RED

    def near(self, x, y, margin):
        return _length(x - self.cx, y - self.cy) <= self.radius + self.moat + margin


def _logo_sample(u, v):
    """Straight-alpha RGB of the logo at a point, or None where it is empty."""
    d = _length(u - 0.5, v - 0.5)
    if d > DISC_RADIUS:
        return None
    # Diagonal gradient: 0 at the top-left edge of the disc, 1 at the bottom right.
    t = ((u - 0.5) + (v - 0.5)) / (2 * DISC_RADIUS * math.sqrt(0.5)) * 0.5 + 0.5
    colour = _lerp(BLUE_LIGHT, BLUE_DARK, max(0.0, min(1.0, t)))
    if d > DISC_RADIUS - RIM_WIDTH:
        colour = _lerp(colour, RIM, 0.6)
    if abs(d - RING_RADIUS) <= STROKE or _segment_distance(u, v, TAIL_FROM, TAIL_TO) <= STROKE:
        colour = WHITE
    return colour


def _logo_edge_near(u, v, margin):
    """Whether a logo edge passes within margin (icon units) of the point."""
    d = _length(u - 0.5, v - 0.5)
    return (
        abs(d - DISC_RADIUS) <= margin
        or abs(d - (DISC_RADIUS - RIM_WIDTH)) <= margin
        or abs(abs(d - RING_RADIUS) - STROKE) <= margin
        or abs(_segment_distance(u, v, TAIL_FROM, TAIL_TO) - STROKE) <= margin
    )


def render(size, fault):
    """Returns size*size (r, g, b, a) tuples, top row first, straight alpha."""
    badge = Badge(size) if fault else None

    def sample(x, y):  # pixel units
        if badge is not None and badge.covers(x, y):
            return badge.colour(x, y)
        return _logo_sample(x / size, y / size)

    # Beyond half a pixel's diagonal from every edge, a pixel lies in one region.
    margin = 0.75
    pixels = []
    for y in range(size):
        for x in range(size):
            cx, cy = x + 0.5, y + 0.5
            if _logo_edge_near(cx / size, cy / size, margin / size) or (
                badge is not None and badge.near(cx, cy, margin)
            ):
                n = SUPERSAMPLE
                points = [(x + (sx + 0.5) / n, y + (sy + 0.5) / n) for sy in range(n) for sx in range(n)]
            else:
                points = [(cx, cy)]
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for px, py in points:
                c = sample(px, py)
                if c is not None:
                    covered += 1
                    acc[0] += c[0]
                    acc[1] += c[1]
                    acc[2] += c[2]
            if covered == 0:
                # Fully transparent pixels carry black, which is also what the
                # AND mask expects underneath a set bit.
                pixels.append((0, 0, 0, 0))
            else:
                alpha = round(255 * covered / len(points))
                pixels.append(tuple(round(c / covered) for c in acc) + (alpha,))
    return pixels


def _bitmap_entry(size, pixels):
    """BITMAPINFOHEADER + bottom-up BGRA rows + bottom-up 1-bit AND mask."""
    mask_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row = pixels[y * size:(y + 1) * size]
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        size,  # biWidth
        size * 2,  # biHeight covers colour bitmap and mask together
        1,  # biPlanes
        32,  # biBitCount
        0,  # BI_RGB
        len(xor) + len(mask),
        0,
        0,
        0,
        0,
    )
    return header + bytes(xor) + bytes(mask)


def png_bytes(width, height, rgba_rows):
    """An RGBA PNG with no optional chunks (no time stamp), every row unfiltered."""
    raw = b"".join(b"\x00" + bytes(row) for row in rgba_rows)

    def chunk(tag, body):
        return (
            struct.pack(">I", len(body))
            + tag
            + body
            + struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF)
        )

    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )


def _png_entry(size, pixels):
    rows = ([c for p in pixels[y * size:(y + 1) * size] for c in p] for y in range(size))
    return png_bytes(size, size, rows)


def build_ico(sizes, fault):
    images = []
    for s in sizes:
        encode = _png_entry if s >= PNG_FROM else _bitmap_entry
        images.append((s, encode(s, render(s, fault))))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        # A width or height of 256 is stored as 0.
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def _read_png(data):
    """Pixels of a PNG as png_bytes writes it (RGBA, 8 bits, unfiltered rows)."""
    width, height, depth, colour, _, _, interlace = struct.unpack_from(">IIBBBBB", data, 16)
    if data[12:16] != b"IHDR" or (depth, colour, interlace) != (8, 6, 0):
        raise ValueError("not an 8-bit RGBA PNG")
    idat = bytearray()
    at = 8
    while at < len(data):
        (length,) = struct.unpack_from(">I", data, at)
        if data[at + 4:at + 8] == b"IDAT":
            idat += data[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(bytes(idat))
    stride = 1 + 4 * width
    pixels = []
    for y in range(height):
        row = raw[y * stride:(y + 1) * stride]
        if row[0] != 0:
            raise ValueError("filtered PNG rows are not read")
        pixels.extend(tuple(row[1 + 4 * x:5 + 4 * x]) for x in range(width))
    return width, height, pixels


def read_ico(data):
    """Parses a .ico written by build_ico (or any 32-bit BMP-in-ICO file).

    Returns [(size, pixels)] with pixels as top-row-first RGBA tuples; the AND
    mask is applied, so a masked pixel reads as fully transparent.
    """
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file")
    result = []
    for i in range(count):
        w, h, _, _, _, bpp, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w = w or 256
        h = h or 256
        if offset + length > len(data):
            raise ValueError("entry %d is truncated" % i)
        if data[offset:offset + 8] == b"\x89PNG\r\n\x1a\n":
            pw, ph, pixels = _read_png(data[offset:offset + length])
            if (pw, ph) != (w, h):
                raise ValueError("entry %d: PNG size disagrees with directory" % i)
            result.append((w, pixels))
            continue
        (bi_size, bi_w, bi_h, _, bi_bpp, compression) = struct.unpack_from(
            "<IiiHHI", data, offset
        )
        if bi_size != 40 or bi_bpp != 32 or compression != 0 or bpp != 32:
            raise ValueError("entry %d is not an uncompressed 32-bit bitmap" % i)
        if bi_w != w or bi_h != 2 * h:
            raise ValueError("entry %d: header size disagrees with directory" % i)
        xor_at = offset + bi_size
        mask_at = xor_at + w * h * 4
        mask_stride = ((w + 31) // 32) * 4
        if mask_at + mask_stride * h > offset + length:
            raise ValueError("entry %d is truncated" % i)
        pixels = []
        for y in range(h):
            row_index = h - 1 - y
            for x in range(w):
                b, g, r, a = data[xor_at + (row_index * w + x) * 4:][:4]
                masked = data[mask_at + row_index * mask_stride + x // 8] & (0x80 >> (x % 8))
                pixels.append((0, 0, 0, 0) if masked else (r, g, b, a))
        result.append((w, pixels))
    return result


def preview(out_dir, png_path):
    """Renders every image of every icon, 1:1 and enlarged, on a light and a dark band.

    One pair of bands per icon file; small images are enlarged more, up to 8x.
    """
    pad = 8
    backgrounds = [(0xF3, 0xF3, 0xF3), (0x20, 0x20, 0x20)]
    rows = []
    for name, _, _ in ICONS:
        with open(os.path.join(out_dir, name), "rb") as f:
            entries = read_ico(f.read())
        rows.append([(s, pixels, max(1, min(8, 256 // s))) for s, pixels in entries])
    cell = lambda s, scale: s + pad + s * scale + 2 * pad  # noqa: E731
    width = max(sum(cell(s, k) for s, _, k in row) for row in rows) + pad
    band_heights = [max(s * k for s, _, k in row) + 2 * pad for row in rows]
    canvas = []
    for band_h in band_heights:
        for bg in backgrounds:
            canvas.extend([list(bg) + [255] for _ in range(width)] for _ in range(band_h))

    def put(x, y, rgba):
        dst = canvas[y][x]
        a = rgba[3] / 255.0
        for k in range(3):
            dst[k] = round(rgba[k] * a + dst[k] * (1 - a))

    band_top = 0
    for row, band_h in zip(rows, band_heights):
        for band in range(2):
            top = band_top + band * band_h + pad
            x0 = pad
            for size, pixels, scale in row:
                for y in range(size):
                    for x in range(size):
                        p = pixels[y * size + x]
                        if p[3] == 0:
                            continue
                        put(x0 + x, top + y, p)  # actual size
                        for dy in range(scale):
                            for dx in range(scale):
                                put(x0 + size + pad + x * scale + dx, top + y * scale + dy, p)
                x0 += cell(size, scale)
        band_top += 2 * band_h
    with open(png_path, "wb") as f:
        f.write(png_bytes(width, len(canvas), ([c for px in line for c in px] for line in canvas)))


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.normpath(os.path.join(here, "..", "..", "resources"))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=default_out, help="folder of the .ico files")
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    parser.add_argument("--png", metavar="FILE", help="render a preview of the .ico files")
    args = parser.parse_args(argv)

    if args.png:
        preview(args.out, args.png)
        return 0

    stale = []
    for name, sizes, fault in ICONS:
        data = build_ico(sizes, fault)
        path = os.path.join(args.out, name)
        if args.check:
            try:
                with open(path, "rb") as f:
                    if f.read() != data:
                        stale.append(name)
            except FileNotFoundError:
                stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
    if stale:
        print(
            "out of date, run tools/icongen/icongen.py: %s (zlib %s)"
            % (", ".join(stale), zlib.ZLIB_RUNTIME_VERSION),
            file=sys.stderr,
        )
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
