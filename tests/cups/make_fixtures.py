#!/usr/bin/env python3
"""Writes the pictures and documents the CUPS end-to-end test prints.

card.png       a portrait card picture (colour bands, a black bar, white)
one-page.pdf   one card-sized page
two-page.pdf   two card-sized pages: the front and the back of one card

Only the standard library is used, so the test needs no imaging packages.
"""
import struct
import sys
import zlib
from pathlib import Path

# A CR-80 card as the PPD describes it, in points.
CARD_W, CARD_H = 154.32, 243.12
# The same card in printer pixels at 300 dpi.
CARD_PX_W, CARD_PX_H = 643, 1013


def png_bytes(width, height, pixel):
    """An 8-bit RGB PNG whose pixel (x, y) is pixel(x, y)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter type None
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


def card_pixel(x, y):
    """Top third red-to-blue, a black bar, then a green band; white frame."""
    w, h = CARD_PX_W, CARD_PX_H
    if x < 12 or y < 12 or x >= w - 12 or y >= h - 12:
        return (255, 255, 255)
    if y < h // 3:
        t = x * 255 // w
        return (255 - t, 40, t)
    if y < h // 3 + 40 and x < w * 3 // 4:
        return (0, 0, 0)
    if y < 2 * h // 3:
        return (255, 255, 255)
    return (30, 170, 60)


def pdf_bytes(pages):
    """A PDF with one card-sized page per content stream in pages."""
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
                         % (tree, CARD_W, CARD_H, stream)).encode("ascii")))
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


def rect(r, g, b, x, y, w, h):
    return "%.3f %.3f %.3f rg %.2f %.2f %.2f %.2f re f\n" % (r, g, b, x, y, w, h)


FRONT = (rect(0.1, 0.3, 0.8, 0, 160, CARD_W, 83.12)       # blue band at the top
         + rect(0, 0, 0, 12, 120, 110, 14)                # black "name" bar
         + rect(0.9, 0.6, 0.1, 12, 12, 60, 80))           # orange photo box
BACK = (rect(0, 0, 0, 0, 200, CARD_W, 20)                  # black stripe
        + rect(0.8, 0.1, 0.2, 20, 40, 114, 60))            # red block


def main(folder):
    out = Path(folder)
    out.mkdir(parents=True, exist_ok=True)
    (out / "card.png").write_bytes(png_bytes(CARD_PX_W, CARD_PX_H, card_pixel))
    (out / "one-page.pdf").write_bytes(pdf_bytes([FRONT]))
    (out / "two-page.pdf").write_bytes(pdf_bytes([FRONT, BACK]))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
