#!/usr/bin/env python3
"""Checks what the vkrsim backend kept of one job: the print command the
printer received and the card previews it drew.

    check_cards.py OUT-FOLDER --job N [--sides 1|2] [--panels colour,black,overlay]
                   [--bare L:T:R:B] [--front-design PNG] [--back-design PNG]
                   [--same-as JOB] [--black-ribbon] [--self-test]

--panels     the panels every printed side must carry, and no others
--bare       the front's overlay leaves the card uncoated (hatched in the
             preview) in exactly this box of preview pixels, right and bottom
             excluded; without it, a side with an overlay panel must be
             coated all over
--front-design, --back-design
             the preview of that side shows this picture upright (card_view.py)
--same-as    the print command carries the same panels as that job's
--black-ribbon  the card is printed on the black ribbon (one monochrome panel)
--self-test  the job asked for the self-test print and printed no card
"""
import argparse
import struct
import sys
import zlib
from pathlib import Path

from card_view import HATCH, Failure, compare, pixels, png_pixels

ESC, CR = 0x1B, 0x0D
CARD_W, CARD_H = 1013, 643
KINDS = {0x00: "colour", 0x20: "colour", 0x0B: "black", 0x10: "overlay"}


def frames(stream):
    """(code, params) of every complete frame of a command stream."""
    out, pos = [], 0
    while True:
        pos = stream.find(bytes([ESC]), pos)
        if pos < 0 or pos + 9 > len(stream):
            return out
        code = stream[pos + 1:pos + 5].decode("latin-1")
        (length,) = struct.unpack(">I", stream[pos + 5:pos + 9])
        end = pos + 9 + length
        if end < len(stream) and stream[end] == CR:
            out.append((code, stream[pos + 9:end]))
            pos = end + 1
        else:
            pos += 1


def jpeg_size(data):
    """(width, height) from a JPEG file's frame header."""
    if data[:2] != b"\xff\xd8" or data[-2:] != b"\xff\xd9":
        raise Failure("a panel is not a whole JPEG file")
    pos = 2
    while pos + 4 <= len(data):
        if data[pos] != 0xFF:
            raise Failure("broken JPEG marker at %d" % pos)
        marker = data[pos + 1]
        (length,) = struct.unpack(">H", data[pos + 2:pos + 4])
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width = struct.unpack(">HH", data[pos + 5:pos + 9])
            return width, height
        pos += 2 + length
    raise Failure("JPEG without a frame header")


def print_command(params):
    """[(side, kind, jpeg)] of a "$PTS" command, after checking its layout."""
    if len(params) < 500:
        raise Failure("block area shorter than 500 bytes")
    for offset, code in ((0, b"P"), (4, b"R"), (12, b"F"), (18, b"C"), (22, b"O")):
        if params[offset] != ESC or params[offset + 1:offset + 2] != code:
            raise Failure("fixed block %r not at offset %d" % (code, offset + 9))
    blocks, pos = [], 31
    while pos < 500 and params[pos] == ESC:
        code = params[pos + 1:pos + 2]
        if code == b"O":
            pos += 9
            continue
        if code not in (b"T", b"B"):
            raise Failure("unknown block %r" % code)
        kind = KINDS.get(params[pos + 2] & 0x7F)
        if kind is None:
            raise Failure("unknown panel type %#x" % params[pos + 2])
        (size,) = struct.unpack(">I", params[pos + 10:pos + 14])
        blocks.append(("back" if code == b"B" else "front", kind, size, params[pos + 2]))
        pos += 14
    if any(params[pos:500]):
        raise Failure("block area not zero-filled after its blocks")
    panels, data = [], 500
    for side, kind, size, kind_code in blocks:
        panels.append((side, kind, params[data:data + size], kind_code))
        data += size
    if data != len(params):
        raise Failure("panel sizes add up to %d bytes, the command carries %d" % (data, len(params)))
    return panels, params[15]  # DataMode P2 (ESC F P1 P2 at 12): 1 one side, 3 two sides


def hatched_box(rows):
    """(left, top, right, bottom) around the preview's hatched pixels, right
    and bottom excluded; None when nothing is hatched."""
    mark, xs, ys = bytes(HATCH), [], []
    for y, row in enumerate(rows):
        pos = row.find(mark)
        while pos >= 0:
            if pos % 3 == 0:
                xs.append(pos // 3)
                ys.append(y)
                pos = row.find(mark, pos + 3)
            else:
                pos = row.find(mark, pos + 1)
    return (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if xs else None


def check(args):
    folder = Path(args.out) / ("job-%d" % args.job)
    stream_path = folder / "commands.bin"
    if not stream_path.is_file():
        raise Failure("the printer kept no command stream (%s)" % stream_path)
    stream = stream_path.read_bytes()
    commands = [params for code, params in frames(stream) if code == "$PTS"]

    if args.self_test:
        if commands:
            raise Failure("a self-test job printed %d card(s)" % len(commands))
        if ("!RSP", b"\x01") not in frames(stream):
            raise Failure("the printer never got the self-test command !RSP 01")
        return

    if len(commands) != 1:
        raise Failure("%d print commands for one card" % len(commands))
    panels, mode = print_command(commands[0])
    sides = sorted({panel[0] for panel in panels})
    want_sides = ["front"] if args.sides == 1 else ["back", "front"]
    if sides != want_sides or mode != (1 if args.sides == 1 else 3):
        raise Failure("printed sides %s with data mode %d, expected %d side(s)" % (sides, mode, args.sides))
    for side in want_sides:
        kinds = sorted(panel[1] for panel in panels if panel[0] == side)
        if kinds != sorted(args.panels):
            raise Failure("%s side carries %s, expected %s" % (side, kinds, sorted(args.panels)))
    for side, kind, jpeg, _ in panels:
        if jpeg_size(jpeg) != (CARD_W, CARD_H):
            raise Failure("%s %s panel is %dx%d" % ((side, kind) + jpeg_size(jpeg)))

    # A black ribbon prints the card's picture, reduced to black, as its
    # only panel: colour type 0x20 with the ribbon mode 4 in SPT.
    want_type = 0x20 if args.black_ribbon else 0x00
    colour_types = {panel[3] & 0x7F for panel in panels if panel[1] == "colour"}
    if colour_types - {want_type} or (commands[0][6] == 4) != args.black_ribbon:
        raise Failure("colour panel types %s with ribbon mode %d" % (sorted(colour_types), commands[0][6]))

    if args.same_as is not None:
        other = frames((Path(args.out) / ("job-%d" % args.same_as) / "commands.bin").read_bytes())
        other_panels, _ = print_command([p for c, p in other if c == "$PTS"][0])
        if other_panels != panels:
            raise Failure("the card differs from job %d's" % args.same_as)

    for side in want_sides:
        for kind in args.panels:
            kept = folder / ("card001_%s_%s.jpg" % (side, "color" if kind == "colour" else kind))
            if not kept.is_file():
                raise Failure("the printer kept no panel file %s" % kept.name)
        preview = folder / ("card001_%s_preview.png" % side)
        if not preview.is_file():
            raise Failure("no preview %s" % preview.name)
        width, height, rows = png_pixels(preview)
        if (width, height) != (CARD_W, CARD_H):
            raise Failure("preview %s is %dx%d" % (preview.name, width, height))
        if "overlay" in args.panels:
            bare = hatched_box(rows)
            want = args.bare if side == "front" else None
            if bare != want:
                raise Failure("preview %s shows the card uncoated in %s, expected %s" % (
                    preview.name, bare, want))
        design = args.front_design if side == "front" else args.back_design
        if design:
            compare((width, height, rows), pixels(design), "%s against %s" % (preview.name, Path(design).name))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--job", type=int, required=True)
    parser.add_argument("--sides", type=int, default=1)
    parser.add_argument("--panels", type=lambda s: s.split(","), default=["colour"])
    parser.add_argument("--bare", type=lambda s: tuple(int(v) for v in s.split(":")))
    parser.add_argument("--front-design")
    parser.add_argument("--back-design")
    parser.add_argument("--same-as", type=int)
    parser.add_argument("--black-ribbon", action="store_true")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    try:
        check(args)
    except (Failure, OSError, IndexError, struct.error, zlib.error) as failure:
        print("check_cards: job %d: %s" % (args.job, failure))
        return 1
    print("check_cards: job %d: as printed" % args.job)
    return 0


if __name__ == "__main__":
    sys.exit(main())
