# Makes walk.SPR.bmp and walk.SPR.spd (and the variants below), a sprite strip as a picture editor saves it: an 8-bit
# indexed bitmap whose background (index 0) is magenta, with three 10 x 8 frames.
# Run with the system python3, PIL and ImageMagick: /usr/bin/python3 make_walk.py
from PIL import Image

W, H, FRAMES = 10, 8, 3
img = Image.new("P", (W, H * FRAMES), 0)
palette = [255, 0, 255] + [0, 0, 0] * 255
for index, rgb in {3: (200, 10, 10), 7: (10, 200, 10), 12: (10, 10, 200)}.items():
    palette[3 * index:3 * index + 3] = rgb
img.putpalette(palette)
px = img.load()
# Frame 0: a 3 x 2 green block at (2, 1) and one blue pixel at (6, 5).
for y in (1, 2):
    for x in (2, 3, 4):
        px[x, y] = 7
px[6, 5] = 12
# Frame 1: a red diagonal from (0, 0) to (7, 7).
for i in range(8):
    px[i, H + i] = 3
# Frame 2: empty.
img.save("walk.SPR.bmp")
with open("walk.SPR.spd", "wb") as f:
    f.write(b"frames=3\r\nheight = 8\r\n  width =10\r\nframerate = $0F\r\nflags = 2\r\n")

# The same strip as ImageMagick writes it: 8-bit with RLE8 compression, indices kept.
import shutil
import subprocess
subprocess.run(["convert", "walk.SPR.bmp", "-type", "Palette", "-compress", "RLE", "BMP3:walkrle.SPR.bmp"], check=True)
shutil.copyfile("walk.SPR.spd", "walkrle.SPR.spd")

# The same strip saved as an RGBA PNG whose background is transparent, with a description
# whose lines end in LF alone, as Linux editors write them.
rgba = img.convert("RGBA")
rgba.putdata([(255, 0, 255, 0) if p[:3] == (255, 0, 255) else p for p in rgba.getdata()])
rgba.save("walkrgba.SPR.png")
with open("walkrgba.SPR.spd", "wb") as f:
    f.write(b"frames=3\nheight = 8\n  width =10\nframerate = $0F\nflags = 2\n")
