#!/bin/sh
# Regenerates the pictures in this folder with two other programs, Python's PIL and
# ImageMagick's convert (Debian packages python3-pil and imagemagick). Each picture X_*.png or
# X_*.bmp has a reference X.bmp: an 8-bit palette bitmap of the same picture whose index 0 is
# black and is the background. The tests check that every variant converts exactly like its
# reference. The files are kept as committed; rerun only to add new ones.
set -e
cd "$(dirname "$0")"

/usr/bin/python3 - <<'PY'
from PIL import Image

def paletted(w, h, colours, index):
    """A palette picture; colours maps index -> (r, g, b), every other entry black."""
    p = Image.new('P', (w, h))
    pal = [0] * 768
    for i, c in colours.items():
        pal[3 * i:3 * i + 3] = list(c)
    p.putpalette(pal)
    for y in range(h):
        for x in range(w):
            p.putpixel((x, y), index(x, y))
    return p

# "scene": 8x6, background index 0 (black), six colours at scattered indices.
scene_colours = {0: (0, 0, 0), 200: (220, 40, 40), 3: (40, 220, 40), 77: (40, 40, 220),
                 5: (250, 250, 250), 130: (128, 128, 0), 9: (0, 128, 128)}
order = [0, 200, 3, 77, 0, 5, 130, 9]
scene = paletted(8, 6, scene_colours, lambda x, y: order[(3 * x + 5 * y) % 8])
scene.save('scene.bmp')
scene.save('pil_scene_p8.png')
rgb = scene.convert('RGB')
rgb.save('pil_scene_rgb.png')
rgb.save('pil_scene_rgb24.bmp')
rgb.convert('RGBA').save('pil_scene_rgbx32.bmp')  # 32 bits, no alpha mask: black is background
# RGBA: the background fully transparent (its colour is magenta, which must not count), the
# colours at two alpha levels, which must not tell them apart.
rgba = Image.new('RGBA', (8, 6))
for y in range(6):
    for x in range(8):
        r, g, b = rgb.getpixel((x, y))
        rgba.putpixel((x, y), (255, 0, 255, 0) if (r, g, b) == (0, 0, 0) else (r, g, b, 255 if x % 2 else 128))
rgba.save('pil_scene_rgba.png')

# "grey": 8x6 grey levels, background 0 (two of the eight places).
levels = [0, 30, 90, 0, 150, 210, 255, 60]
grey_colours = {i: (v, v, v) for i, v in enumerate(levels)}
grey_index = lambda x, y: (x + 2 * y) % 8
paletted(8, 6, grey_colours, lambda x, y: grey_index(x, y) if levels[grey_index(x, y)] else 0).save('grey.bmp')
g = Image.new('L', (8, 6))
la = Image.new('LA', (8, 6))
g16 = Image.new('I;16', (8, 6))
for y in range(6):
    for x in range(8):
        v = levels[grey_index(x, y)]
        g.putpixel((x, y), v)
        la.putpixel((x, y), (77, 0) if v == 0 else (v, 200))
        g16.putpixel((x, y), v * 256 + 0xC0)  # the low byte never counts
g.save('pil_grey_l8.png')
la.save('pil_grey_la.png')
g16.save('pil_grey_16.png')

# Palette PNGs of 1, 2 and 4 bits (PIL picks the depth from the palette's length).
for bits in (1, 2, 4):
    n = 1 << bits
    colours = {i: (0, 0, 0) if i == 0 else ((37 * i) % 256, (90 + 53 * i) % 256, 255 - 11 * i) for i in range(n)}
    p = paletted(9, 5, colours, lambda x, y: (x * 7 + y * 3) % n)
    p.putpalette(sum((list(colours[i]) for i in range(n)), []))
    p.save('p%d.bmp' % bits)
    p.save('pil_p%d_%dbit.png' % (bits, bits))

# A palette picture whose index 0 is a colour of the drawing (magenta), used by 5 pixels.
mag = paletted(5, 3, {0: (255, 0, 255), 1: (10, 20, 30), 2: (200, 100, 0)}, lambda x, y: [0, 1, 2][(x + y) % 3])
mag.putpalette([255, 0, 255, 10, 20, 30, 200, 100, 0])
mag.save('pil_magenta0_p2bit.png')

# The first-appearance rule, pixel by pixel.
r = Image.new('RGB', (4, 2))
for i, c in enumerate([(0, 0, 0), (255, 0, 0), (0, 0, 0), (0, 255, 0), (255, 0, 0), (0, 0, 255), (0, 0, 1), (0, 0, 0)]):
    r.putpixel((i % 4, i // 4), c)
r.save('pil_rule_rgb.png')
r.save('pil_rule_rgb_trns.png', transparency=(255, 0, 0))  # a tRNS chunk: red is transparent
a = Image.new('RGBA', (4, 2))
for i, c in enumerate([(0, 0, 0, 255), (255, 0, 0, 0), (255, 0, 0, 128), (0, 0, 0, 0),
                       (0, 255, 0, 255), (255, 0, 0, 255), (0, 0, 0, 255), (9, 9, 9, 0)]):
    a.putpixel((i % 4, i // 4), c)
a.save('pil_rule_rgba.png')
PY

# ImageMagick: 16 bits a channel, Adam7 interlacing, 2-bit grey, and true-colour bitmaps.
convert pil_scene_rgb.png -depth 16 PNG48:im_scene_rgb16.png
convert pil_scene_rgba.png -depth 16 PNG64:im_scene_rgba16.png
convert pil_scene_rgb.png -interlace PNG PNG24:im_scene_rgb_interlaced.png
convert pil_scene_rgba.png -interlace PNG PNG32:im_scene_rgba_interlaced.png
convert pil_scene_rgb.png -type TrueColor BMP3:im_scene_rgb24.bmp
convert pil_scene_rgba.png -type TrueColorAlpha BMP:im_scene_rgba32.bmp
/usr/bin/python3 - <<'PY'
from PIL import Image
g = Image.new('L', (6, 2))
for x in range(6):
    for y in range(2):
        g.putpixel((x, y), [0, 85, 170, 255][(x + y) % 4])
g.save('/tmp/pelfry_grey2.png')
p = Image.new('P', (6, 2))
p.putpalette([0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255])
for x in range(6):
    for y in range(2):
        p.putpixel((x, y), (x + y) % 4)
p.save('grey2.bmp')
PY
convert /tmp/pelfry_grey2.png -depth 2 -type Grayscale PNG:im_grey2_2bit.png
convert /tmp/pelfry_grey2.png -depth 2 -type Grayscale -interlace PNG PNG:im_grey2_2bit_interlaced.png
rm -f /tmp/pelfry_grey2.png
