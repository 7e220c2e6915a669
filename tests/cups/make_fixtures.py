#!/usr/bin/env python3
"""Writes the pictures and documents the end-to-end tests print into a folder.

A card design as a person holds the card (landscape, 1013 x 643 pixels at
300 dpi) made of blocks that tell every way round apart, and an asymmetric
back: design.png (the reference of the checks), design.pdf (one card-sized
page), design.jpg (drawn by Ghostscript from design.pdf), two-sided.pdf (the
design, then the back) and back.png. Only the standard library is used.
"""
import struct
import subprocess
import sys
import zlib
from pathlib import Path

W, H, POINTS_PER_PX = 1013, 643, 0.24
# Blocks (left, top, right, bottom in pixels, right and bottom excluded) and
# their colours; later blocks lie over earlier ones.
FRONT = [((0, 0, 400, 250), (220, 30, 40)),       # red, upper left
         ((520, 80, 760, 200), (240, 200, 20)),   # yellow, upper middle
         ((860, 0, 1013, 643), (20, 60, 200)),    # blue bar along the right edge
         ((60, 330, 500, 370), (0, 0, 0)),        # black text bar, left
         ((300, 450, 700, 643), (30, 160, 60))]   # green, bottom middle
BACK = [((0, 0, 300, 200), (240, 140, 20)),       # orange, upper left
        ((600, 500, 1000, 560), (0, 0, 0))]       # black bar, lower right

def png_bytes(blocks):
    """The blocks on white as an 8-bit RGB PNG of 300 dpi."""
    rows = [bytearray(b"\xff" * (3 * W)) for _ in range(H)]
    for (left, top, right, bottom), fill in blocks:
        for y in range(top, bottom):
            rows[y][3 * left:3 * right] = bytes(fill) * (right - left)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0))
            + chunk(b"pHYs", struct.pack(">IIB", 11811, 11811, 1))  # 300 dpi in pixels a metre
            + chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows), 9)) + chunk(b"IEND", b""))

def pdf_file(objects):
    """A PDF file of these objects (object 1 the catalogue), with its cross-reference table."""
    out, offsets = bytearray(b"%PDF-1.4\n"), []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    return bytes(out + b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref))

def pdf_bytes(pages):
    """A PDF with one landscape card-sized page of blocks per entry of pages."""
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None]
    for blocks in pages:
        content = "".join("%.4f %.4f %.4f rg %.2f %.2f %.2f %.2f re f\n" % (
            r / 255, g / 255, b / 255, left * POINTS_PER_PX, (H - bottom) * POINTS_PER_PX,
            (right - left) * POINTS_PER_PX, (bottom - top) * POINTS_PER_PX)
            for (left, top, right, bottom), (r, g, b) in blocks).encode("ascii")
        objects.append(b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content))
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.2f %.2f] /Resources << >> "
                       b"/Contents %d 0 R >>" % (W * POINTS_PER_PX, H * POINTS_PER_PX, len(objects)))
    kids = range(4, len(objects) + 1, 2)
    objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids))
    return pdf_file(objects)

def main(folder):
    """Writes every fixture into folder."""
    out = Path(folder)
    out.mkdir(parents=True, exist_ok=True)
    (out / "design.png").write_bytes(png_bytes(FRONT))
    (out / "back.png").write_bytes(png_bytes(BACK))
    (out / "design.pdf").write_bytes(pdf_bytes([FRONT]))
    (out / "two-sided.pdf").write_bytes(pdf_bytes([FRONT, BACK]))
    subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=jpeg", "-r300", "-dJPEGQ=95",
                    "-sOutputFile=%s" % (out / "design.jpg"), str(out / "design.pdf")], check=True)

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
