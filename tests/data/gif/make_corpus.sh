#!/usr/bin/env bash
# Regenerates the GIF files of this folder that come from other encoders (Pillow and
# ImageMagick). The codec tests decode each one with our decoder and with giflib and
# demand the same palette and pixel indexes; nothing here is a stored answer.
set -euo pipefail
cd "$(dirname "$0")"

/usr/bin/python3 - <<'PY'  # Debian's python3-pil
import random
from PIL import Image

random.seed(7)

def noise(w, h, colours, seed):
    rnd = random.Random(seed)
    im = Image.new("P", (w, h))
    im.putdata([rnd.randrange(colours) for _ in range(w * h)])
    im.putpalette([rnd.randrange(256) for _ in range(colours * 3)])
    return im

# 256 colours of noise: many full tables and clear codes; Pillow interlaces from 16 rows.
noise(181, 97, 256, 1).save("pil_noise_256_interlaced.gif")
noise(181, 97, 256, 2).save("pil_noise_256.gif", interlace=False)
# Small palettes and odd widths.
noise(17, 3, 2, 3).save("pil_2_colours_17x3.gif")
noise(33, 21, 8, 4).save("pil_8_colours_33x21.gif", interlace=False)
noise(1, 1, 2, 5).save("pil_1x1.gif")
# Smooth content: long strings in the table.
grad = Image.linear_gradient("L").resize((255, 40)).convert("P")
grad.save("pil_gradient.gif", interlace=False)
# An animation: application extension, graphic control extensions, several images.
frames = [noise(40, 30, 16, 10 + i) for i in range(3)]
frames[0].save("pil_animation.gif", save_all=True, append_images=frames[1:],
               duration=[70, 0, 120], loop=0, comment=b"made for the codec tests")
PY

convert -size 61x45 plasma:fractal -seed 3 -colors 64 +dither im_plasma_64.gif
convert -size 61x45 plasma:fractal -seed 4 -colors 200 -interlace GIF im_plasma_interlaced.gif
convert -size 30x20 xc:white -fill red -draw "circle 15,10 15,3" -colors 4 \
    -set comment "a red circle" im_circle_4_colours.gif
convert -delay 20 -size 24x24 xc:blue -size 24x24 xc:yellow -loop 0 im_two_frames.gif
ls -l *.gif
