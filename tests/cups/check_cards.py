#!/usr/bin/env python3
"""Checks printed cards against the pictures they were printed from.

    check_cards.py CAPTURE FOLDER CARD...  every "$PTS" command a simulated printer
                                            captured, in order, and its previews in FOLDER
    check_cards.py view PREVIEW DESIGN      one preview against its design

CARD is SIDES:PANELS (e.g. 2:colour,overlay), then any of :black (the black
ribbon), :front=PNG or :back=PNG (that side's preview shows the picture
upright), :front-turned=PNG (turned half a turn), :bare=L,T,R,B (the front's
overlay leaves exactly this box of preview pixels uncoated; without it an
overlay coats all over) and :same=CAPTURE (the panels of that capture's
first card). A preview shows its design when, on a coarse grid of cell means
with the design's colours fitted to it, it is close to the design and, in
every cell that tells them apart, nearer it than to the design turned or
mirrored. Only the standard library is used.
"""
import re
import struct
import sys
import zlib
from pathlib import Path

ESC, CR, CARD = 0x1B, 0x0D, (1013, 643)
HATCH = bytes((230, 0, 160))  # the preview's colour for uncoated card
KINDS = {0x00: "colour", 0x20: "colour", 0x0B: "black", 0x10: "overlay"}
COLUMNS, ROWS = 12, 8  # the grid pictures are compared on
MATCH_LIMIT = 12  # mean difference (0-255) a JPEG panel and the colour curves leave
TELLING, MIN_TELLING = 40, 6  # a cell differing this much tells two ways round apart
WRONG_WAYS = {"turned half a turn": (True, True), "mirrored top to bottom": (False, True),
              "mirrored left to right": (True, False)}

class Failure(Exception):
    """A card or picture that is not as expected."""

def frames(stream):
    """(code, params) of every complete frame of a command stream."""
    out, pos = [], stream.find(ESC)
    while 0 <= pos and pos + 9 <= len(stream):
        end = pos + 9 + struct.unpack_from(">I", stream, pos + 5)[0]
        if end < len(stream) and stream[end] == CR:
            out.append((stream[pos + 1:pos + 5].decode("latin-1"), stream[pos + 9:end]))
            pos = end
        pos = stream.find(ESC, pos + 1)
    return out

def print_command(params):
    """([(side, kind, type byte, jpeg)], data mode) of a "$PTS" command (the printer
    refuses one of a wrong layout)."""
    panels, pos, data = [], 31, 500
    while pos < 500 and params[pos] == ESC:
        code, type_byte = params[pos + 1:pos + 2], params[pos + 2]
        if code in (b"T", b"B"):
            size = struct.unpack_from(">I", params, pos + 10)[0]
            panels.append(("back" if code == b"B" else "front", KINDS.get(type_byte & 0x7F, hex(type_byte)),
                           type_byte, params[data:data + size]))
            data += size
        pos += 9 if code == b"O" else 14
    return panels, params[15]  # DataMode (ESC F P1 P2 at 12): 1 one side, 3 two sides

def pixels(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB or RGBA PNG or a binary PPM."""
    data = Path(path).read_bytes()
    if Path(path).suffix == ".ppm":
        head = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)  # None: not a binary PPM of 8 bits
        width, height, at = int(head[1]), int(head[2]), head.end()
        return width, height, [data[at + y * width * 3:at + (y + 1) * width * 3] for y in range(height)]
    pos, idat, header = 8, b"", (0, 0, 0, 0, 0, 0, 1)
    while data[:8] == b"\x89PNG\r\n\x1a\n" and pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        if kind == b"IHDR":
            header = struct.unpack_from(">IIBBBBB", data, pos + 8)
        idat += data[pos + 8:pos + 8 + length] if kind == b"IDAT" else b""
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise Failure("%s is not an 8-bit RGB PNG" % Path(path).name)
    step = 3 if colour == 2 else 4  # RGB, or RGBA (screenshots): the alpha is dropped
    raw, stride, rows, prev = zlib.decompress(idat), width * step, [], bytearray(width * step)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 2:
            line = bytearray((a + b) & 0xFF for a, b in zip(line, prev))
        for i in range(stride) if kind in (1, 3, 4) else ():  # the left, average and Paeth filters
            a, b, c = (line[i - step], prev[i], prev[i - step]) if i >= step else (0, prev[i], 0)
            pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
            pred = a if kind == 1 else (a + b) >> 1 if kind == 3 else a if pa <= pb and pa <= pc else b if pb <= pc else c
            line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line) if step == 3 else bytes(b for i, b in enumerate(line) if i % 4 != 3))
        prev = line
    return width, height, rows

def mirrored(picture, left_right, top_bottom):
    """The picture mirrored left to right and/or top to bottom (both: turned half a turn)."""
    width, height, rows = picture
    out = []
    for row in (rows[::-1] if top_bottom else rows):
        if left_right:
            row = bytearray(row[::-1])
            row[0::3], row[2::3] = row[2::3], row[0::3]
        out.append(bytes(row))
    return width, height, out

def hatch_xs(row):
    """The x of every pixel of a row in the hatching colour."""
    xs, pos = [], row.find(HATCH)
    while pos >= 0:
        if pos % 3 == 0:
            xs.append(pos // 3)
        pos = row.find(HATCH, pos + (3 if pos % 3 == 0 else 1))
    return xs

def cell_means(picture, skip_hatch=False):
    """Mean (r, g, b) of each grid cell, row by row; None for a cell of hatching only."""
    width, height, rows = picture
    sums = [[0, 0, 0, 0] for _ in range(COLUMNS * ROWS)]
    for y, row in enumerate(rows):
        for column in range(COLUMNS):
            x0, x1 = column * width // COLUMNS, (column + 1) * width // COLUMNS
            part, total = row[3 * x0:3 * x1], sums[y * ROWS // height * COLUMNS + column]
            hatched = len(hatch_xs(part)) if skip_hatch else 0
            for c in range(3):
                total[c] += sum(part[c::3]) - hatched * HATCH[c]
            total[3] += x1 - x0 - hatched
    return [(r / n, g / n, b / n) if n else None for r, g, b, n in sums]

def difference(a, b):
    """Mean absolute channel difference of two cell means."""
    return sum(abs(x - y) for x, y in zip(a, b)) / 3

def fitted(reference, seen, shown):
    """The reference's cell means mapped, channel by channel, by the straight line that
    brings them nearest the preview's (the colour settings move all colours alike)."""
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
    """Raises Failure unless the preview shows the design upright; returns the mean difference."""
    if preview[:2] != design[:2]:
        raise Failure("%s: the preview is %dx%d, the design %dx%d" % ((label,) + preview[:2] + design[:2]))
    seen = cell_means(preview, skip_hatch=True)
    shown = [i for i, cell in enumerate(seen) if cell is not None]
    raw = cell_means(design)
    upright = fitted(raw, seen, shown)
    mean = sum(difference(seen[i], upright[i]) for i in shown) / len(shown)
    if mean > MATCH_LIMIT:
        raise Failure("%s: the preview does not match the design (mean difference %.1f)" % (label, mean))
    for way, flips in WRONG_WAYS.items():
        other_raw = cell_means(mirrored(design, *flips))
        other = fitted(other_raw, seen, shown)
        telling = [i for i in shown if difference(raw[i], other_raw[i]) > TELLING]
        wrong = [i for i in telling if difference(seen[i], upright[i]) >= difference(seen[i], other[i])]
        if len(telling) < MIN_TELLING:
            raise Failure("%s: the design looks the same %s" % (label, way))
        if wrong:
            raise Failure("%s: the preview shows the design %s: %d of %d telling cells nearer that" % (
                label, way, len(wrong), len(telling)))
    return mean

def print_commands(capture):
    """The parameters of every "$PTS" command a printer captured."""
    return [params for code, params in frames(Path(capture).read_bytes()) if code == "$PTS"]

def check_card(number, params, spec, folder):
    """Checks one print command and its previews against a CARD description."""
    parts = spec.split(":")
    sides, kinds, black = int(parts[0]), sorted(parts[1].split(",")), "black" in parts[2:]
    want = dict(part.split("=", 1) for part in parts[2:] if "=" in part)
    panels, mode = print_command(params)
    want_sides = ["front"] if sides == 1 else ["back", "front"]
    got = {side: sorted(p[1] for p in panels if p[0] == side) for side in {p[0] for p in panels}}
    if got != {side: kinds for side in want_sides} or mode != (1 if sides == 1 else 3):
        raise Failure("panels %s with data mode %d, expected %s on %d side(s)" % (got, mode, kinds, sides))
    # The black ribbon prints one monochrome panel (type 0x20) in ribbon mode 4.
    types = {p[2] & 0x7F for p in panels if p[1] == "colour"}
    if types - {0x20 if black else 0x00} or (params[6] == 4) != black:
        raise Failure("colour panel types %s with ribbon mode %d" % (sorted(types), params[6]))
    if "same" in want and print_command(print_commands(want["same"])[0])[0] != panels:
        raise Failure("the panels differ from those of %s" % want["same"])
    bare = tuple(int(v) for v in want["bare"].split(",")) if "bare" in want else None
    for side in want_sides:
        preview = pixels(Path(folder) / ("card%03d_%s_preview.png" % (number, side)))
        if preview[:2] != CARD:
            raise Failure("the %s preview is %dx%d" % ((side,) + preview[:2]))
        marks = [(x, y) for y, row in enumerate(preview[2]) for x in hatch_xs(row)]
        box = (min(marks)[0], marks[0][1], max(marks)[0] + 1, marks[-1][1] + 1) if marks else None
        if "overlay" in kinds and box != (bare if side == "front" else None):
            raise Failure("the %s preview shows the card uncoated in %s" % (side, box))
        if side in want or side + "-turned" in want:
            design = pixels(want.get(side) or want[side + "-turned"])
            compare(preview, design if side in want else mirrored(design, True, True), side)

def main(args):
    """Checks the cards or the one preview named by args."""
    try:
        if args[:1] == ["view"]:
            mean = compare(pixels(args[1]), pixels(args[2]), Path(args[1]).name)
            print("check_cards: %s shows %s upright (mean difference %.1f)" % (args[1], args[2], mean))
            return 0
        commands = print_commands(args[0])
        if len(commands) != len(args) - 2:
            raise Failure("%d print commands, expected %d" % (len(commands), len(args) - 2))
        for number, (params, spec) in enumerate(zip(commands, args[2:]), start=1):
            try:
                check_card(number, params, spec, args[1])
            except Failure as failure:
                raise Failure("card %d (%s): %s" % (number, spec, failure))
    except (Failure, OSError, IndexError, TypeError, ValueError, struct.error, zlib.error) as failure:
        print("check_cards: %s: %s" % (args[0] if args else "", failure))
        return 1
    print("check_cards: %s: %d card(s) as printed" % (args[0], len(commands)))
    return 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
