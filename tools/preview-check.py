#!/usr/bin/env python3
"""The picture of the editor's window run (tools/windows-scenario.sh), and the check that the
window shows it.

  preview-check.py make PICTURE.bmp       writes an 8-bit picture of coloured bands
  preview-check.py find SCREEN.ppm PICTURE.bmp
                                          finds the picture, pixel for pixel, in a binary PPM
                                          screenshot; prints where, exits 1 when it is not there

Palette index 0 is the background, which the preview leaves unpainted: those pixels are not
compared. Only the standard library is used.
"""
import struct
import sys

WIDTH, HEIGHT = 96, 64


def make(path):
    # Index 0 frames the picture; inside, diagonal bands of eight colours, none of them grey,
    # so that no control of the window can pass for the picture.
    colours = [(0, 0, 0), (220, 40, 40), (40, 180, 60), (40, 80, 220), (240, 200, 20),
               (200, 60, 200), (20, 200, 200), (250, 130, 30), (120, 60, 20)]
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    palette += bytes(4 * (256 - len(colours)))
    rows = []
    for y in range(HEIGHT):
        row = bytes(0 if x < 2 or y < 2 or x >= WIDTH - 2 or y >= HEIGHT - 2
                    else 1 + (x + 2 * y) // 12 % 8 for x in range(WIDTH))
        rows.append(row)
    pixels = b"".join(reversed(rows))  # bottom-up; 96 bytes a row need no padding
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


def read_bmp(path):
    """(width, height, {(x, y): (r, g, b)}) of an 8-bit bottom-up BMP's non-background pixels."""
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height = struct.unpack_from("<Iii", data, 14)
    palette_at = 14 + header_size
    stride = (width + 3) // 4 * 4
    pixels = {}
    for y in range(height):
        row = offset + (height - 1 - y) * stride
        for x in range(width):
            index = data[row + x]
            if index:
                b, g, r = data[palette_at + 4 * index:palette_at + 4 * index + 3]
                pixels[(x, y)] = (r, g, b)
    return width, height, pixels


def read_ppm(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:  # P6, width, height, maximum; comments are not written by convert
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit(f"{path}: not an 8-bit binary PPM")
    return int(fields[1]), int(fields[2]), data[at + 1:]


def find(screen_path, picture_path):
    width, height, pixels = read_bmp(picture_path)
    screen_width, screen_height, screen = read_ppm(screen_path)

    def at(x, y):
        i = 3 * (y * screen_width + x)
        return tuple(screen[i:i + 3])

    (first_x, first_y), first = next(iter(pixels.items()))
    for y in range(screen_height - height + 1):
        for x in range(screen_width - width + 1):
            if at(x + first_x, y + first_y) != first:
                continue
            if all(at(x + px, y + py) == colour for (px, py), colour in pixels.items()):
                print(f"{x} {y}")
                return 0
    print(f"{picture_path} ({width} x {height}) is not shown whole in {screen_path}",
          file=sys.stderr)
    return 1


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "find":
        sys.exit(find(sys.argv[2], sys.argv[3]))
    else:
        sys.exit(__doc__)
