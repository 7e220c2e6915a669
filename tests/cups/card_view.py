#!/usr/bin/env python3
"""Compares a card preview with the picture the card was printed from.

    card_view.py PREVIEW.png DESIGN.(png|ppm)

Both pictures are reduced to a coarse grid of cell means. The preview must
match the design (it shows the card the way the design shows it): close to
it on the whole, and nearer the design than the design seen a wrong way
round (turned half a turn, as the printer receives its panels, or mirrored)
in every cell where the two differ. Pixels in the preview's hatching colour
(uncoated card) are left out of its means.

Only the standard library is used, so the tests need no imaging packages.
"""
import struct
import sys
import zlib
from pathlib import Path

HATCH = (230, 0, 160)  # the preview's colour for uncoated card
COLUMNS, ROWS = 12, 8  # the coarse grid the pictures are compared on
# Mean difference (0-255 a channel) below which a preview matches its design
# once the design's colours are brought to the preview's (fitted): JPEG
# panels and the colour settings' curves leave less.
MATCH_LIMIT = 12
# A cell whose design and the design seen a wrong way round differ by more
# than this tells the two apart; a design needs a few such cells.
TELLING_DIFFERENCE = 40
MIN_TELLING = 6


class Failure(Exception):
    """A picture that cannot be read or a preview that does not match."""


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


def mirrored(picture, left_right, top_bottom):
    """The picture mirrored left to right and/or top to bottom; both is the
    picture turned half a turn."""
    width, height, rows = picture
    out = []
    for row in (reversed(rows) if top_bottom else rows):
        if left_right:
            flipped = bytearray(len(row))
            for x in range(width):
                flipped[3 * (width - 1 - x):3 * (width - x)] = row[3 * x:3 * x + 3]
            row = bytes(flipped)
        out.append(row)
    return width, height, out


# The ways round a preview must not show its design, by name.
WRONG_WAYS = {"turned half a turn": (True, True), "mirrored top to bottom": (False, True),
              "mirrored left to right": (True, False)}


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


def difference(a, b):
    """Mean absolute channel difference of two cell means."""
    return sum(abs(a[i] - b[i]) for i in range(3)) / 3


def fitted(reference, seen, shown):
    """The reference's cell means mapped, channel by channel, by the straight
    line that brings them nearest to the preview's: the filter's brightness,
    contrast and colour settings move all colours alike."""
    out = [list(cell) if cell else None for cell in reference]
    for c in range(3):
        xs, ys = [reference[i][c] for i in shown], [seen[i][c] for i in shown]
        mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
        var = sum((x - mx) ** 2 for x in xs)
        slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / var if var else 1.0
        for i in shown:
            out[i][c] = my + slope * (reference[i][c] - mx)
    return out


def compare(preview, design, label):
    """(mean difference from the design, fewest telling cells of a wrong
    way round) of two pictures; raises Failure when the preview does not
    show the design upright. label names the two in the message."""
    if preview[:2] != design[:2]:
        raise Failure("%s: the preview is %dx%d, the design %dx%d" % (
            (label,) + tuple(preview[:2]) + tuple(design[:2])))
    seen = cell_means(preview, skip_hatch=True)
    shown = [i for i, cell in enumerate(seen) if cell is not None]
    raw = cell_means(design)
    upright = fitted(raw, seen, shown)
    mean = sum(difference(seen[i], upright[i]) for i in shown) / len(shown)
    if mean > MATCH_LIMIT:
        raise Failure("%s: the preview does not match the design (mean difference %.1f)" % (label, mean))
    fewest = len(shown)
    for way, (left_right, top_bottom) in WRONG_WAYS.items():
        other_raw = cell_means(mirrored(design, left_right, top_bottom))
        other = fitted(other_raw, seen, shown)
        # The cells where the design and the design seen this wrong way
        # differ tell the two apart: each must be nearer the design.
        telling = [i for i in shown if difference(raw[i], other_raw[i]) > TELLING_DIFFERENCE]
        wrong = [i for i in telling if difference(seen[i], upright[i]) >= difference(seen[i], other[i])]
        if len(telling) < MIN_TELLING:
            raise Failure("%s: the design looks the same %s" % (label, way))
        if wrong:
            raise Failure("%s: the preview shows the design %s: %d of %d telling cells nearer that" % (
                label, way, len(wrong), len(telling)))
        fewest = min(fewest, len(telling))
    return mean, fewest


def main():
    """Compares the two pictures named on the command line."""
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2].strip())
        return 2
    try:
        label = "%s against %s" % (Path(sys.argv[1]).name, Path(sys.argv[2]).name)
        mean, telling = compare(pixels(sys.argv[1]), pixels(sys.argv[2]), label)
    except (Failure, OSError, ValueError, IndexError, struct.error, zlib.error) as failure:
        print("card_view: %s" % failure)
        return 1
    print("card_view: %s shows %s upright (mean difference %.1f; %d telling cells)" % (
        Path(sys.argv[1]).name, Path(sys.argv[2]).name, mean, telling))
    return 0


if __name__ == "__main__":
    sys.exit(main())
