#!/usr/bin/env python3
"""Draws Quorvel's icons and writes them as classic .ico files.

The icons are drawn from geometry rather than kept as hand-edited binaries, so
that a change to the logo is a reviewable change to this file. Each pixel is
supersampled, which gives the disc its smooth edge at every size.

The .ico files hold uncompressed 32-bit BGRA bitmaps with an AND mask (no PNG
entries): every Windows version and Wine's loader read those, and the tray
needs real alpha to sit cleanly on light and dark taskbars.

Usage:
  icongen.py [--out DIR]          write quorvel.ico, tray_good.ico, tray_fault.ico
  icongen.py --check [--out DIR]  exit 1 if the files in DIR differ from what
                                  this script draws (stale generated files)
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

# Samples per pixel along each axis; 8x8 keeps the edge ramp smooth at 16 px.
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

# (file name, sizes, with fault badge)
ICONS = [
    ("quorvel.ico", (48, 32, 16), False),
    ("tray_good.ico", (16,), False),
    ("tray_fault.ico", (16,), True),
]


def _lerp(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def _segment_distance(p, a, b):
    ax, ay = a
    bx, by = b
    px, py = p
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def _logo_sample(u, v):
    """Straight-alpha RGBA of the logo at a point, or None where it is empty."""
    d = math.hypot(u - 0.5, v - 0.5)
    if d > DISC_RADIUS:
        return None
    # Diagonal gradient: 0 at the top-left edge of the disc, 1 at the bottom right.
    t = ((u - 0.5) + (v - 0.5)) / (2 * DISC_RADIUS * math.sqrt(0.5)) * 0.5 + 0.5
    colour = _lerp(BLUE_LIGHT, BLUE_DARK, max(0.0, min(1.0, t)))
    if d > DISC_RADIUS - RIM_WIDTH:
        colour = _lerp(colour, RIM, 0.6)
    if abs(d - RING_RADIUS) <= STROKE or _segment_distance((u, v), TAIL_FROM, TAIL_TO) <= STROKE:
        colour = WHITE
    return colour


def _badge_sample(u, v):
    """The error badge: a red disc holding a white exclamation mark."""
    cx, cy = BADGE_CENTER
    d = math.hypot(u - cx, v - cy)
    if d > BADGE_RADIUS:
        return None
    # The badge is only ever drawn at 16 px, so the mark sits on whole pixels
    # there (multiples of 1/16): a 2 px bar over three rows, one red row, a 2x2
    # dot. Anything finer blurs into a pink smudge.
    half = 1 / 16
    if abs(u - cx) <= half and cy - 3 / 16 <= v <= cy:
        return WHITE
    if abs(u - cx) <= half and cy + 1 / 16 <= v <= cy + 3 / 16:
        return WHITE
    return BADGE_RED


def _sample(u, v, fault):
    if fault:
        badge = _badge_sample(u, v)
        if badge is not None:
            return badge
        if math.hypot(u - BADGE_CENTER[0], v - BADGE_CENTER[1]) <= BADGE_RADIUS + BADGE_GAP:
            return None
    return _logo_sample(u, v)


def render(size, fault):
    """Returns size*size (r, g, b, a) tuples, top row first, straight alpha."""
    pixels = []
    n = SUPERSAMPLE
    for y in range(size):
        for x in range(size):
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(n):
                for sx in range(n):
                    u = (x + (sx + 0.5) / n) / size
                    v = (y + (sy + 0.5) / n) / size
                    c = _sample(u, v, fault)
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
                alpha = round(255 * covered / (n * n))
                pixels.append(tuple(round(c / covered) for c in acc) + (alpha,))
    return pixels


def _image_entry(size, pixels):
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


def build_ico(sizes, fault):
    images = [(s, _image_entry(s, render(s, fault))) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        # A width or height of 256 would be stored as 0; ours are all smaller.
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


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
        if mask_at + mask_stride * h > offset + length or offset + length > len(data):
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


def write_png(path, width, height, rgba_rows):
    raw = b"".join(b"\x00" + bytes(row) for row in rgba_rows)

    def chunk(tag, body):
        return (
            struct.pack(">I", len(body))
            + tag
            + body
            + struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF)
        )

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def preview(out_dir, png_path):
    """Renders every image of every icon, 1:1 and enlarged, on a light and a dark band."""
    scale = 8
    pad = 8
    entries = []
    for name, _, _ in ICONS:
        with open(os.path.join(out_dir, name), "rb") as f:
            entries.extend(read_ico(f.read()))
    cell_w = [s * scale + s + 3 * pad for s, _ in entries]
    width = sum(cell_w) + pad
    band_h = max(s * scale for s, _ in entries) + 2 * pad
    height = 2 * band_h
    backgrounds = [(0xF3, 0xF3, 0xF3), (0x20, 0x20, 0x20)]
    canvas = [[list(backgrounds[y // band_h]) + [255] for _ in range(width)] for y in range(height)]

    def put(x, y, rgba):
        dst = canvas[y][x]
        a = rgba[3] / 255.0
        for k in range(3):
            dst[k] = round(rgba[k] * a + dst[k] * (1 - a))

    for band in range(2):
        x0 = pad
        for (size, pixels), cw in zip(entries, cell_w):
            top = band * band_h + pad
            for y in range(size):
                for x in range(size):
                    p = pixels[y * size + x]
                    put(x0 + x, top + y, p)  # actual size
                    for dy in range(scale):
                        for dx in range(scale):
                            put(x0 + size + pad + x * scale + dx, top + y * scale + dy, p)
            x0 += cw
    write_png(png_path, width, height, ([c for px in row for c in px] for row in canvas))


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
        print("out of date, run tools/icongen/icongen.py: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
