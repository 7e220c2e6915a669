#!/usr/bin/env python3
"""Compares a card preview with the picture the card was printed from.

    card_view.py PREVIEW.png DESIGN.(png|ppm)

Both pictures are reduced to a coarse grid of cell means. The preview must
match the design (it shows the card the way the design shows it) and must be
much further from the design turned half a turn (the way the printer
receives its panels) than from the design itself. Pixels in the preview's
hatching colour (uncoated card) are left out of its means.

Only the standard library is used, so the tests need no imaging packages.
"""
import struct
import sys
import zlib
from pathlib import Path

HATCH = (230, 0, 160)  # the preview's colour for uncoated card
COLUMNS, ROWS = 12, 8  # the coarse grid the pictures are compared on
# Mean difference (0-255 a channel) below which a preview matches its design:
# the filter's colour adjustments and JPEG panels move colours by less.
MATCH_LIMIT = 32
# The half-turned design must be at least this many times further away.
TURN_MARGIN = 2.0


class Failure(Exception):
    pass


def png_pixels(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB PNG."""
    data = Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise Failure("%s is not a PNG file" % Path(path).name)
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if (depth, colour, interlace) != (8, 2, 0):
        raise Failure("%s is not 8-bit RGB" % Path(path).name)
    raw, stride, rows, prev = zlib.decompress(idat), width * 3, [], bytearray(width * 3)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(3, stride):
                line[i] = (line[i] + line[i - 3]) & 0xFF
        elif kind == 2:
            line = bytearray((a + b) & 0xFF for a, b in zip(line, prev))
        elif kind == 3:
            for i in range(stride):
                left = line[i - 3] if i >= 3 else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                a = line[i - 3] if i >= 3 else 0
                b, c = prev[i], prev[i - 3] if i >= 3 else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def ppm_pixels(path):
    """(width, height, rows of RGB bytes) of a binary PPM with maxval 255."""
    data = Path(path).read_bytes()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise Failure("%s is not a binary PPM of 8 bits a sample" % Path(path).name)
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:]
    return width, height, [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]


def pixels(path):
    """A PNG or PPM picture as (width, height, rows)."""
    return ppm_pixels(path) if Path(path).suffix == ".ppm" else png_pixels(path)


def half_turned(picture):
    """The picture turned half a turn."""
    width, height, rows = picture
    turned = []
    for row in reversed(rows):
        flipped = bytearray(len(row))
        for x in range(width):
            flipped[3 * (width - 1 - x):3 * (width - x)] = row[3 * x:3 * x + 3]
        turned.append(bytes(flipped))
    return width, height, turned


def aligned_count(part, mark):
    """How many whole pixels of part are the colour mark."""
    count, pos = 0, part.find(mark)
    while pos >= 0:
        if pos % 3 == 0:
            count += 1
            pos = part.find(mark, pos + 3)
        else:
            pos = part.find(mark, pos + 1)
    return count


def cell_means(picture, skip_hatch=False):
    """Mean (r, g, b) of each grid cell, row by row; None for a cell that
    holds only hatching."""
    width, height, rows = picture
    mark = bytes(HATCH)
    sums = [[0, 0, 0, 0] for _ in range(COLUMNS * ROWS)]
    for y, row in enumerate(rows):
        cell_row = y * ROWS // height
        for column in range(COLUMNS):
            x0, x1 = column * width // COLUMNS, (column + 1) * width // COLUMNS
            part = row[3 * x0:3 * x1]
            total = sums[cell_row * COLUMNS + column]
            count = x1 - x0
            red, green, blue = sum(part[0::3]), sum(part[1::3]), sum(part[2::3])
            if skip_hatch:
                hatched = aligned_count(part, mark)
                red -= hatched * HATCH[0]
                green -= hatched * HATCH[1]
                blue -= hatched * HATCH[2]
                count -= hatched
            total[0] += red
            total[1] += green
            total[2] += blue
            total[3] += count
    return [(r / n, g / n, b / n) if n else None for r, g, b, n in sums]


def distance(means, reference):
    """Mean absolute channel difference over the cells both pictures show."""
    pairs = [(a, b) for a, b in zip(means, reference) if a is not None]
    return sum(abs(a[i] - b[i]) for a, b in pairs for i in range(3)) / (3 * len(pairs))


def compare(preview_path, design_path):
    """(distance to the design, distance to the design turned half a turn);
    raises Failure when the preview does not show the design upright."""
    preview, design = pixels(preview_path), pixels(design_path)
    if preview[:2] != design[:2]:
        raise Failure("preview %s is %dx%d, the design %dx%d" % (
            (Path(preview_path).name,) + tuple(preview[:2]) + tuple(design[:2])))
    seen = cell_means(preview, skip_hatch=True)
    upright = distance(seen, cell_means(design))
    turned = distance(seen, cell_means(half_turned(design)))
    if upright > MATCH_LIMIT or turned < TURN_MARGIN * upright:
        raise Failure("preview %s does not show %s upright: mean difference %.1f, "
                      "%.1f from the design turned half a turn" % (
                          Path(preview_path).name, Path(design_path).name, upright, turned))
    return upright, turned


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2].strip())
        return 2
    try:
        upright, turned = compare(sys.argv[1], sys.argv[2])
    except (Failure, OSError, ValueError, IndexError, struct.error, zlib.error) as failure:
        print("card_view: %s" % failure)
        return 1
    print("card_view: %s shows %s upright (difference %.1f; half turned %.1f)" % (
        Path(sys.argv[1]).name, Path(sys.argv[2]).name, upright, turned))
    return 0


if __name__ == "__main__":
    sys.exit(main())
