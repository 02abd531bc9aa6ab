#!/usr/bin/python3
"""Draws Fenwa's own artwork: the three row icons, the two hand cursors and the logo.

Run with Debian's python3 and python3-pil; the PNGs it writes are committed, so the
build does not need Python. Everything is drawn at 8x and scaled down for smooth edges.
"""
import os
from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "images")
S = 8  # supersampling factor


def finish(img, size, name):
    img.resize(size, Image.LANCZOS).save(os.path.join(OUT, name))


def light(name, body, rim, glow):
    w = 16 * S
    img = Image.new("RGBA", (w, w), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.ellipse((1 * S, 1 * S, 15 * S - 1, 15 * S - 1), fill=rim)
    d.ellipse((2 * S, 2 * S, 14 * S - 1, 14 * S - 1), fill=body)
    d.ellipse((4 * S, 3 * S, 9 * S, 7 * S), fill=glow)
    finish(img, (16, 16), name)


# A pointing hand, index finger up, on a 32-unit grid; scaled to the wanted size.
HAND_POINT = [(12, 2), (15, 2), (16, 3), (16, 12), (18, 11), (21, 11), (22, 12), (24, 12),
              (25, 13), (27, 13), (28, 14), (28, 22), (26, 27), (25, 30), (13, 30), (12, 27),
              (7, 21), (6, 18), (7, 17), (9, 17), (11, 19), (11, 3)]
HAND_OPEN = [(6, 14), (5, 11), (6, 10), (8, 10), (10, 14), (10, 5), (11, 4), (13, 4), (14, 5),
             (14, 12), (15, 3), (16, 2), (18, 2), (19, 3), (19, 12), (20, 4), (21, 3), (23, 3),
             (24, 4), (24, 13), (25, 7), (26, 6), (28, 6), (29, 7), (29, 20), (27, 26), (26, 30),
             (13, 30), (12, 26)]


def hand(points, size, name, scale_from=32):
    w = size * S
    k = w / scale_from
    img = Image.new("RGBA", (w, w), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    pts = [(x * k, y * k) for x, y in points]
    d.polygon(pts, fill=(255, 255, 255, 255))
    d.line(pts + [pts[0]], fill=(0, 0, 0, 255), width=max(S, int(1.6 * k)), joint="curve")
    finish(img, (size, size), name)


def logo():
    w, h = 115 * S, 148 * S
    img = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=10 * S, fill=(24, 42, 74, 255))
    # Two overlapping photographs: the original and its duplicate.
    for (x, y, fill, tilt) in ((16, 22, (210, 225, 240, 255), 0), (34, 40, (255, 255, 255, 255), 1)):
        x0, y0, x1, y1 = x * S, y * S, (x + 62) * S, (y + 50) * S
        d.rectangle((x0, y0, x1, y1), fill=fill, outline=(10, 20, 40, 255), width=S)
        # sky, sun and hills
        d.rectangle((x0 + 4 * S, y0 + 4 * S, x1 - 4 * S, y1 - 4 * S), fill=(120, 180, 235, 255))
        d.ellipse((x1 - 20 * S, y0 + 8 * S, x1 - 10 * S, y0 + 18 * S), fill=(255, 200, 40, 255))
        d.polygon([(x0 + 4 * S, y1 - 4 * S), (x0 + 24 * S, y0 + 22 * S), (x0 + 40 * S, y1 - 4 * S)],
                  fill=(40, 150, 70, 255))
        d.polygon([(x0 + 26 * S, y1 - 4 * S), (x0 + 44 * S, y0 + 28 * S), (x1 - 4 * S, y1 - 4 * S)],
                  fill=(30, 120, 60, 255))
    # The "=" of a match.
    d.rounded_rectangle((20 * S, 100 * S, 95 * S, 106 * S), radius=3 * S, fill=(255, 140, 0, 255))
    d.rounded_rectangle((20 * S, 112 * S, 95 * S, 118 * S), radius=3 * S, fill=(255, 140, 0, 255))
    try:
        font = ImageFont.truetype("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 17 * S)
        d.text((w // 2, 134 * S), "FENWA", font=font, fill=(255, 255, 255, 255), anchor="mm")
    except OSError:
        pass
    finish(img, (115, 148), "logo.png")


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    light("image_file.png", (40, 190, 60, 255), (10, 90, 20, 255), (190, 255, 190, 255))
    light("other_file.png", (220, 40, 40, 255), (110, 10, 10, 255), (255, 190, 190, 255))
    hand(HAND_POINT, 16, "current_group.png")
    hand(HAND_POINT, 32, "HandPoint.png")
    hand(HAND_OPEN, 32, "HandMove.png")
    logo()
