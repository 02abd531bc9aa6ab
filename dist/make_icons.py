#!/usr/bin/python3
"""Draws the application icon in the hicolor sizes, in the family of resources/images/logo.png.

The same picture as the logo (two overlapping photographs over the orange "=" of a match on
the dark blue ground), fitted to a square. Sizes up to 24 pixels leave out the small details
so the icon stays readable in a menu. Run with Debian's python3 and python3-pil; the PNGs
it writes are committed, so building the package does not need Python.
"""
import os
from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
APP_ID = "org.zantrel.Fenwa"
SIZES = (16, 24, 32, 48, 64, 128, 256)
S = 8  # supersampling factor

NAVY = (24, 42, 74, 255)
INK = (10, 20, 40, 255)
PAPER_BACK = (210, 225, 240, 255)
PAPER_FRONT = (255, 255, 255, 255)
SKY = (120, 180, 235, 255)
SUN = (255, 200, 40, 255)
HILL_NEAR = (40, 150, 70, 255)
HILL_FAR = (30, 120, 60, 255)
ORANGE = (255, 140, 0, 255)


def photo(d, box, paper, k, detailed):
    """One photograph on a 256-unit grid: paper with a dark edge, sky, sun and hills."""
    x0, y0, x1, y1 = (v * k for v in box)
    edge = max(S, int(3 * k))
    d.rectangle((x0, y0, x1, y1), fill=paper, outline=INK, width=edge)
    m = (10 if detailed else 16) * k
    sx0, sy0, sx1, sy1 = x0 + m, y0 + m, x1 - m, y1 - m
    d.rectangle((sx0, sy0, sx1, sy1), fill=SKY)
    w, h = sx1 - sx0, sy1 - sy0
    if detailed:
        r = 0.12 * w
        cx, cy = sx1 - 0.22 * w, sy0 + 0.28 * h
        d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=SUN)
        d.polygon([(sx0, sy1), (sx0 + 0.38 * w, sy0 + 0.35 * h), (sx0 + 0.68 * w, sy1)], fill=HILL_NEAR)
    d.polygon([(sx0 + 0.40 * w, sy1), (sx0 + 0.72 * w, sy0 + 0.45 * h), (sx1, sy1)], fill=HILL_FAR)
    if not detailed:
        d.polygon([(sx0, sy1), (sx0 + 0.35 * w, sy0 + 0.30 * h), (sx0 + 0.70 * w, sy1)], fill=HILL_NEAR)


def icon(size):
    w = size * S
    k = w / 256
    detailed = size > 24
    img = Image.new("RGBA", (w, w), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((6 * k, 6 * k, w - 6 * k - 1, w - 6 * k - 1), radius=36 * k, fill=NAVY)
    if detailed:
        photo(d, (34, 32, 162, 132), PAPER_BACK, k, True)
        photo(d, (84, 68, 222, 172), PAPER_FRONT, k, True)
        bars = ((190, 202), (214, 226))
    else:
        # Fewer, bigger shapes: at 16 pixels each unit of the grid is 1/16 of a pixel.
        photo(d, (28, 28, 164, 136), PAPER_BACK, k, False)
        photo(d, (80, 64, 228, 172), PAPER_FRONT, k, False)
        # The two bars on whole pixel rows with one clear row between them.
        u = 256 / size
        bars = ((11 * u, 12 * u), (13 * u, 14 * u)) if size == 16 else ((17 * u, 19 * u), (20 * u, 22 * u))
    for top, bottom in bars:
        d.rounded_rectangle((40 * k, top * k, 216 * k, bottom * k), radius=min(6 * k, (bottom - top) * k / 2), fill=ORANGE)
    return img.resize((size, size), Image.LANCZOS)


if __name__ == "__main__":
    for size in SIZES:
        folder = os.path.join(HERE, "icons", "hicolor", f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        icon(size).save(os.path.join(folder, APP_ID + ".png"), optimize=True)
