#!/usr/bin/env python3
"""Writes the pictures and documents the CUPS end-to-end test prints.

A card design as a person holds the card: landscape, 1013 x 643 pixels at
300 dpi, made of blocks that tell every way round apart (a red block at the
upper left, a blue bar along the right edge, a green block at the bottom, a
black text bar), and an asymmetric mark for the back of a card.

design.png     the design as a PNG picture (also the reference for the checks)
design.jpg     the same as a JPEG picture (drawn by Ghostscript from design.pdf)
design.pdf     the design as one landscape card-sized page
two-sided.pdf  two landscape pages: the design, then the back of the card
back.png       the back page as a picture (the reference for the checks)

Only the standard library (and Ghostscript for the JPEG) is used, so the
test needs no imaging packages.
"""
import struct
import subprocess
import sys
import zlib
from pathlib import Path

# The card in printer pixels at 300 dpi, landscape, and the points of one pixel.
CARD_PX_W, CARD_PX_H = 1013, 643
POINTS_PER_PX = 0.24
WHITE = (255, 255, 255)

# Blocks (left, top, right, bottom in pixels from the top-left corner, right
# and bottom excluded) and their colours; later blocks lie over earlier ones.
FRONT = [((0, 0, 400, 250), (220, 30, 40)),       # red, upper left
         ((520, 80, 760, 200), (240, 200, 20)),   # yellow, upper middle
         ((860, 0, 1013, 643), (20, 60, 200)),    # blue bar along the right edge
         ((60, 330, 500, 370), (0, 0, 0)),        # black text bar, left
         ((300, 450, 700, 643), (30, 160, 60))]   # green, bottom middle
BACK = [((0, 0, 300, 200), (240, 140, 20)),       # orange, upper left
        ((600, 500, 1000, 560), (0, 0, 0))]       # black bar, lower right


def colour_at(blocks, x, y):
    """The design's colour at pixel (x, y)."""
    colour = WHITE
    for (left, top, right, bottom), fill in blocks:
        if left <= x < right and top <= y < bottom:
            colour = fill
    return colour


def png_bytes(blocks):
    """The design as an 8-bit RGB PNG of 300 dpi."""
    rows = bytearray()
    for y in range(CARD_PX_H):
        rows.append(0)  # filter type None
        for x in range(CARD_PX_W):
            rows.extend(colour_at(blocks, x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", CARD_PX_W, CARD_PX_H, 8, 2, 0, 0, 0))
            + chunk(b"pHYs", struct.pack(">IIB", 11811, 11811, 1))  # 300 dpi in pixels a metre
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


def page_content(blocks):
    """PDF drawing operators for the blocks, on a white landscape page."""
    out = ""
    for (left, top, right, bottom), (r, g, b) in blocks:
        out += "%.4f %.4f %.4f rg %.2f %.2f %.2f %.2f re f\n" % (
            r / 255, g / 255, b / 255, left * POINTS_PER_PX, (CARD_PX_H - bottom) * POINTS_PER_PX,
            (right - left) * POINTS_PER_PX, (bottom - top) * POINTS_PER_PX)
    return out


def pdf_bytes(pages):
    """A PDF with one landscape card-sized page per content stream in pages."""
    objects = []

    def add(body):
        objects.append(body)
        return len(objects)

    catalog = add(None)
    tree = add(None)
    kids = []
    for content in pages:
        data = content.encode("ascii")
        stream = add(b"<< /Length %d >>\nstream\n" % len(data) + data + b"\nendstream")
        kids.append(add(("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %.2f %.2f] "
                         "/Resources << >> /Contents %d 0 R >>"
                         % (tree, CARD_PX_W * POINTS_PER_PX, CARD_PX_H * POINTS_PER_PX,
                            stream)).encode("ascii")))
    objects[catalog - 1] = b"<< /Type /Catalog /Pages %d 0 R >>" % tree
    objects[tree - 1] = ("<< /Type /Pages /Kids [%s] /Count %d >>"
                         % (" ".join("%d 0 R" % k for k in kids), len(kids))).encode("ascii")

    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, catalog, xref)
    return bytes(out)


def main(folder):
    out = Path(folder)
    out.mkdir(parents=True, exist_ok=True)
    (out / "design.png").write_bytes(png_bytes(FRONT))
    (out / "back.png").write_bytes(png_bytes(BACK))
    (out / "design.pdf").write_bytes(pdf_bytes([page_content(FRONT)]))
    (out / "two-sided.pdf").write_bytes(pdf_bytes([page_content(FRONT), page_content(BACK)]))
    subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=jpeg", "-r300",
                    "-dJPEGQ=95", "-sOutputFile=%s" % (out / "design.jpg"), str(out / "design.pdf")],
                   check=True)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
