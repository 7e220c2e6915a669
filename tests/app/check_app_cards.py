#!/usr/bin/env python3
"""Checks the cards the simulated printer received through the Printer
Application: every "$PTS" command of its capture, in order, against the
expected cards, and the panels and previews it saved for them.

    check_app_cards.py CAPTURE PANELS-FOLDER CARD...

CARD is SIDES:PANELS[:black][:front=PICTURE][:back=PICTURE], e.g.
1:colour,overlay or 2:colour,overlay or 1:colour:black (printed on the black
ribbon) or 1:colour,overlay:front=design.png (the front's preview shows the
picture upright, card_view.py) or front-turned=design.png (turned half a
turn). Prints the number of print commands found;
exits 1 on the first card that is not as expected.
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "cups"))
from card_view import compare, mirrored, pixels  # noqa: E402
from check_cards import CARD_H, CARD_W, Failure, frames, jpeg_size, png_pixels, print_command  # noqa: E402


def check_card(number, params, spec, panels_folder):
    parts = spec.split(":")
    sides, kinds, black = int(parts[0]), sorted(parts[1].split(",")), "black" in parts[2:]
    designs = dict(part.split("=", 1) for part in parts[2:] if "=" in part)
    panels, mode = print_command(params)
    want_sides = ["front"] if sides == 1 else ["back", "front"]
    got_sides = sorted({p[0] for p in panels})
    if got_sides != want_sides or mode != (1 if sides == 1 else 3):
        raise Failure("card %d: sides %s with data mode %d, expected %d side(s)" % (number, got_sides, mode, sides))
    for side in want_sides:
        got = sorted(p[1] for p in panels if p[0] == side)
        if got != kinds:
            raise Failure("card %d: %s side carries %s, expected %s" % (number, side, got, kinds))
    for side, kind, jpeg, _ in panels:
        if jpeg_size(jpeg) != (CARD_W, CARD_H):
            raise Failure("card %d: %s %s panel is %dx%d" % ((number, side, kind) + jpeg_size(jpeg)))
    if (params[6] == 4) != black:
        raise Failure("card %d: ribbon mode %d" % (number, params[6]))
    for side in want_sides:
        preview = Path(panels_folder) / ("card%03d_%s_preview.png" % (number, side))
        width, height, rows = png_pixels(preview)
        if (width, height) != (CARD_W, CARD_H):
            raise Failure("card %d: preview %s is %dx%d" % (number, preview.name, width, height))
        if side in designs:
            compare((width, height, rows), pixels(designs[side]), "card %d %s" % (number, side))
        if side + "-turned" in designs:
            compare((width, height, rows), mirrored(pixels(designs[side + "-turned"]), True, True),
                    "card %d %s" % (number, side))


def main():
    capture, folder, specs = sys.argv[1], sys.argv[2], sys.argv[3:]
    commands = [p for code, p in frames(Path(capture).read_bytes()) if code == "$PTS"]
    try:
        if len(commands) != len(specs):
            raise Failure("%d print commands, expected %d" % (len(commands), len(specs)))
        for number, (params, spec) in enumerate(zip(commands, specs), start=1):
            check_card(number, params, spec, folder)
    except (Failure, OSError, IndexError, ValueError) as failure:
        print("check_app_cards: %s" % failure)
        return 1
    print("check_app_cards: %d cards as printed" % len(commands))
    return 0


if __name__ == "__main__":
    sys.exit(main())
