#!/bin/sh
# Regenerates the bitmaps in this folder with two other programs, ImageMagick's convert and
# Python's PIL (Debian packages imagemagick and python3-pil). The tests check what these files
# decode to, so the files are kept as committed; rerun only to add new ones.
set -e
cd "$(dirname "$0")"

# "quad": 7x5, red, blue at (0,0), lime at (6,4), a white 2x2 square at (2,1)-(3,2).
quad="-size 7x5 xc:red -fill blue -draw 'point 0,0' -fill lime -draw 'point 6,4' -fill white -draw 'rectangle 2,1 3,2'"
eval convert $quad -type Palette -compress None BMP3:im_quad_4bit.bmp
eval convert $quad -type Palette -compress None BMP2:im_quad_core.bmp
eval convert $quad -type Palette -compress None BMP:im_quad_v5.bmp
eval convert $quad -type Palette -compress RLE BMP3:im_quad_rle8.bmp

# "grad": 6x4, 24 colours, pixel (x,y) = (40x, 60y, 200).
/usr/bin/python3 - <<'PY'
from PIL import Image
im = Image.new('RGB', (6, 4))
for y in range(4):
    for x in range(6):
        im.putpixel((x, y), (x * 40, y * 60, 200))
im.save('/tmp/pelfry_grad.ppm')
PY
convert /tmp/pelfry_grad.ppm -type Palette -compress None BMP3:im_grad_8bit.bmp
convert /tmp/pelfry_grad.ppm -type Palette -compress RLE BMP3:im_grad_rle8.bmp
rm -f /tmp/pelfry_grad.ppm

# "dots": 9x3 black, white at (0,0), (4,1) and (8,2); two colours, 1 bit per pixel.
convert -size 9x3 xc:black -fill white -draw 'point 0,0' -draw 'point 4,1' -draw 'point 8,2' -type Bilevel BMP3:im_dots_1bit.bmp

# Pictures without a palette, which must be refused.
convert -size 4x3 xc:red -type TrueColor BMP3:im_rgb24.bmp
convert -size 4x3 xc:red -type TrueColorAlpha BMP:im_rgba32_v5.bmp

/usr/bin/python3 - <<'PY'
from PIL import Image
# 5x3 paletted, index of (x,y) = x + 5y, palette entry i = (10i mod 256, (255 - 10i) mod 256, i).
p = Image.new('P', (5, 3))
pal = []
for i in range(256):
    pal += [i * 10 % 256, (255 - i * 10) % 256, i]
p.putpalette(pal)
for y in range(3):
    for x in range(5):
        p.putpixel((x, y), x + y * 5)
p.save('pil_p8.bmp')
# 10x2 two-level checker: (x,y) white when x+y is odd.
b = Image.new('1', (10, 2))
for y in range(2):
    for x in range(10):
        b.putpixel((x, y), 255 if (x + y) % 2 else 0)
b.save('pil_checker_1bit.bmp')
# 3x2 grey levels: (x,y) = 100x + 10y.
g = Image.new('L', (3, 2))
for y in range(2):
    for x in range(3):
        g.putpixel((x, y), x * 100 + y * 10)
g.save('pil_grey8.bmp')
Image.new('RGB', (2, 2), (1, 2, 3)).save('pil_rgb24.bmp')
PY
