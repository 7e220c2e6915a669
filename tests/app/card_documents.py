#!/usr/bin/env python3
"""Card documents for the driverless tests, and the checks of their previews.

    card_documents.py FOLDER           writes id1.pdf (a design of the ID-1 size,
                                       85.6 x 54 mm, coloured to its edges) and
                                       gradient.png (white on the left to black on the right)
    card_documents.py --edges PREVIEW  the preview is printed to its four edges: no
                                       white pixel and no darker or lighter fringe there
    card_documents.py --bar SCREENSHOT LEVEL
                                       a browser's screenshot of the Supplies page draws the
                                       ribbon's bar (magenta) LEVEL percent of its track long
    card_documents.py --gradient PREVIEW
                                       the preview of the gradient printed on the black
                                       ribbon: the share of black dots follows the grey
Only the standard library is used.
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "cups"))
import check_cards  # noqa: E402
import make_fixtures  # noqa: E402

MM = 72 / 25.4
ID1 = (85.6 * MM, 54 * MM)
FILL = (0.2, 0.45, 0.75)  # a mid blue: white and a dark fringe both stand out on it
BANDS = 8                 # the gradient is checked in this many bands from left to right

def id1_pdf():
    """One ID-1 page, blue to its edges, with a yellow block at the upper left."""
    w, h = ID1
    content = ("%.3f %.3f %.3f rg 0 0 %.2f %.2f re f\n1 0.85 0 rg 10 %.2f 60 30 re f\n" % (
        FILL + (w, h, h - 40))).encode("ascii")
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
               b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content),
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.2f %.2f] /Resources << >> /Contents 3 0 R >>"
               % (w, h)]
    return make_fixtures.pdf_file(objects)

def gradient_png():
    """The landscape card, white on the left to black on the right in 64 steps."""
    steps, blocks = 64, []
    for i in range(steps):
        grey = 255 - i * 255 // (steps - 1)
        blocks.append(((i * make_fixtures.W // steps, 0, (i + 1) * make_fixtures.W // steps, make_fixtures.H),
                       (grey, grey, grey)))
    return make_fixtures.png_bytes(blocks)

def mean(pixels):
    """Mean (r, g, b) of a list of RGB byte triples given as a flat bytes object."""
    n = len(pixels) // 3
    return [sum(pixels[c::3]) / n for c in range(3)]

def check_edges(path):
    """Fails unless every edge line is printed and alike the card a few pixels in."""
    width, height, rows = check_cards.pixels(path)
    columns = [bytes(b for row in rows for b in row[3 * x:3 * x + 3]) for x in (0, 1, 2, 8, width - 9, width - 3, width - 2, width - 1)]
    lines = {"top": [rows[0], rows[1], rows[2], rows[8]], "bottom": [rows[-1], rows[-2], rows[-3], rows[-9]],
             "left": columns[:4], "right": columns[4:][::-1]}
    for edge, (outer, second, third, inside) in lines.items():
        for depth, line in enumerate((outer, second, third)):
            white = sum(1 for i in range(0, len(line), 3) if min(line[i:i + 3]) > 230)
            if white:
                raise check_cards.Failure("%d white pixel(s) on the %s edge, line %d" % (white, edge, depth))
            apart = max(abs(a - b) for a, b in zip(mean(line), mean(inside)))
            if apart > 24:
                raise check_cards.Failure("a fringe along the %s edge, line %d: mean %s against %s inside" % (
                    edge, depth, [round(v) for v in mean(line)], [round(v) for v in mean(inside)]))

def check_gradient(path):
    """Fails unless the share of black dots grows band by band from near none to near all."""
    width, height, rows = check_cards.pixels(path)
    shares = []
    for band in range(BANDS):
        x0, x1 = band * width // BANDS, (band + 1) * width // BANDS
        dark = total = 0
        for row in rows[::4]:
            part = row[3 * x0:3 * x1]
            dark += sum(1 for i in range(0, len(part), 3) if sum(part[i:i + 3]) < 384)
            total += len(part) // 3
        shares.append(dark / total)
    text = " ".join("%.2f" % s for s in shares)
    # The dots grow a little on the panel (its JPEG blurs their edges).
    if shares[0] > 0.25 or shares[-1] < 0.85 or any(b < a - 0.02 for a, b in zip(shares, shares[1:])):
        raise check_cards.Failure("the black share does not follow the gradient: %s" % text)
    if not all(0.1 < s < 0.9 for s in shares[1:-1]):
        raise check_cards.Failure("the middle greys are not dotted: %s" % text)
    print("card_documents: black share by band: %s" % text)

def check_bar(path, level):
    """Fails unless the screenshot has the bar, as long as the level against its track."""
    width, height, rows = check_cards.pixels(path)
    runs = []
    for y, row in enumerate(rows):
        xs = [x for x in range(width) if row[3 * x] > 200 and row[3 * x + 1] < 60 and row[3 * x + 2] > 200]
        if len(xs) > 5:
            runs.append((y, xs[0], xs[-1] + 1))
    if not runs:
        raise check_cards.Failure("no bar is drawn")
    y, start, end = runs[len(runs) // 2]
    # The track's end: the last tick mark drawn above the bar on its ruler.
    ticks = [x for row in rows[max(0, runs[0][0] - 30):runs[0][0]] for x in range(start, width)
             if max(row[3 * x:3 * x + 3]) < 100]
    if not ticks:
        raise check_cards.Failure("no ruler above the bar")
    share = (end - start) / (max(ticks) + 1 - start)
    if abs(share - level / 100) > 0.05:
        raise check_cards.Failure("the bar is %.0f%% of its track, the level %d%%" % (100 * share, level))
    print("card_documents: the bar is drawn %.0f%% of its track long" % (100 * share))

def main(args):
    """Writes the documents or runs one check."""
    try:
        if args[0] == "--edges":
            check_edges(args[1])
        elif args[0] == "--bar":
            check_bar(args[1], int(args[2]))
        elif args[0] == "--gradient":
            check_gradient(args[1])
        else:
            folder = Path(args[0])
            (folder / "id1.pdf").write_bytes(id1_pdf())
            (folder / "gradient.png").write_bytes(gradient_png())
    except (check_cards.Failure, OSError, IndexError, ValueError) as failure:
        print("card_documents: %s: %s" % (args[-1], failure))
        return 1
    return 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
